#pragma once

#include "model/FileItem.h"
#include "viewmodel/TableView.h"

#include <QList>

// Where a status sorts in ascending order: fake stereo first, errors last.
int statusRank(DetectionStatus status);

// The items the filter lets through, in list order.
QList<FileItemPtr> filteredItems(const QList<FileItemPtr>& items, ShowFilter filter);

// A stable sort by one column. Descending is the exact reverse of ascending,
// so items with equal keys also appear in reverse list order.
QList<FileItemPtr> sortedByColumn(QList<FileItemPtr> items, SortColumn column, SortOrder order);
