// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "model/FileItem.h"
#include "model/Statuses.h"

#include <QList>

// How the file table is ordered and filtered. SortColumn and ShowFilter carry
// their header and segment titles as raw values.
enum class SortColumn { filename, folder, fileSize, channels, status };

enum class SortOrder { ascending, descending };

enum class ShowFilter { all, fakeStereoOnly, failures };

template <> struct RawValues<SortColumn> {
    static constexpr bool listable = true;
    static constexpr std::array<std::pair<SortColumn, std::string_view>, 5> table{{
        {SortColumn::filename, "Filename"},
        {SortColumn::folder, "Folder"},
        {SortColumn::fileSize, "Size"},
        {SortColumn::channels, "Channels"},
        {SortColumn::status, "Status"},
    }};
};

template <> struct RawValues<ShowFilter> {
    static constexpr bool listable = true;
    static constexpr std::array<std::pair<ShowFilter, std::string_view>, 3> table{{
        {ShowFilter::all, "All"},
        {ShowFilter::fakeStereoOnly, "Fake Stereo"},
        {ShowFilter::failures, "Failures"},
    }};
};

// Where a status sorts in ascending order: fake stereo first, errors last.
int statusRank(DetectionStatus status);

// Failed, timed-out and refused items (those with an error message).
bool needsAttention(const FileItem& item);

// The items the filter lets through, in list order: with fakeStereoOnly, the
// fake stereo items and those that need attention; with failures, only those.
QList<FileItemPtr> filteredItems(const QList<FileItemPtr>& items, ShowFilter filter);

// The name a row shows: the file name with its extension.
QString displayName(const FileItem& item);

// A stable sort by one column, items with equal keys in the order of their
// paths, so a re-sort or a rescan never shuffles them. Descending is the exact
// reverse of ascending. The folder column orders by path.
QList<FileItemPtr> sortedByColumn(QList<FileItemPtr> items, SortColumn column, SortOrder order);
