#pragma once

#include "model/FileItem.h"
#include "viewmodel/TableView.h"

#include <QList>

// Where a status sorts in ascending order: fake stereo first, errors last.
int statusRank(DetectionStatus status);

// Failed, timed-out and refused items (those with an error message).
bool needsAttention(const FileItem& item);

// The items the filter lets through, in list order: with fakeStereoOnly, the
// fake stereo items and those that need attention.
QList<FileItemPtr> filteredItems(const QList<FileItemPtr>& items, ShowFilter filter);

// A stable sort by one column. Descending is the exact reverse of ascending,
// so items with equal keys also appear in reverse list order.
QList<FileItemPtr> sortedByColumn(QList<FileItemPtr> items, SortColumn column, SortOrder order);
