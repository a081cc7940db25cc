// SPDX-License-Identifier: GPL-3.0-or-later

#include "viewmodel/SortAndFilter.h"

#include <QCollator>

#include <algorithm>
#include <functional>

int statusRank(DetectionStatus status) {
    switch (status) {
    case DetectionStatus::fakeStereo:
        return 0;
    case DetectionStatus::pending:
        return 1;
    case DetectionStatus::realStereo:
        return 2;
    case DetectionStatus::mono:
        return 3;
    case DetectionStatus::multichannel:
        return 4;
    case DetectionStatus::converted:
        return 6;
    case DetectionStatus::timedOut:
        return 7;
    case DetectionStatus::error:
        return 8;
    }
    return 8;
}

// A conversion that failed, timed out or was refused leaves a row the user
// has to look at; hiding it would make the failure look like a success.
bool needsAttention(const FileItem& item) {
    return item.detectionStatus == DetectionStatus::error ||
           item.detectionStatus == DetectionStatus::timedOut || item.errorMessage.has_value();
}

QList<FileItemPtr> filteredItems(const QList<FileItemPtr>& items, ShowFilter filter) {
    if (filter == ShowFilter::all)
        return items;
    QList<FileItemPtr> kept;
    for (const FileItemPtr& item : items) {
        const bool fake = filter == ShowFilter::fakeStereoOnly &&
                          item->detectionStatus == DetectionStatus::fakeStereo;
        if (fake || needsAttention(*item))
            kept.append(item);
    }
    return kept;
}

QString displayName(const FileItem& item) {
    return item.fileExtension.isEmpty() ? item.fileName : item.fileName + u'.' + item.fileExtension;
}

QList<FileItemPtr> sortedByColumn(QList<FileItemPtr> items, SortColumn column, SortOrder order) {
    QCollator names;
    names.setCaseSensitivity(Qt::CaseInsensitive);
    names.setNumericMode(true);

    std::function<int(const FileItemPtr&, const FileItemPtr&)> compare;
    switch (column) {
    case SortColumn::filename:
        compare = [&names](const FileItemPtr& a, const FileItemPtr& b) {
            return names.compare(a->fileName, b->fileName);
        };
        break;
    case SortColumn::folder:
        compare = [](const FileItemPtr&, const FileItemPtr&) { return 0; };
        break;
    case SortColumn::fileSize:
        compare = [](const FileItemPtr& a, const FileItemPtr& b) {
            return a->fileSize < b->fileSize ? -1 : a->fileSize > b->fileSize ? 1 : 0;
        };
        break;
    case SortColumn::channels:
        compare = [](const FileItemPtr& a, const FileItemPtr& b) {
            return a->channelLabel().compare(b->channelLabel());
        };
        break;
    case SortColumn::status:
        compare = [](const FileItemPtr& a, const FileItemPtr& b) {
            return statusRank(a->detectionStatus) - statusRank(b->detectionStatus);
        };
        break;
    }
    const auto before = [&](const FileItemPtr& a, const FileItemPtr& b) {
        const int byKey = compare(a, b);
        return byKey != 0 ? byKey < 0 : names.compare(a->path(), b->path()) < 0;
    };
    std::stable_sort(items.begin(), items.end(), before);
    if (order == SortOrder::descending)
        std::reverse(items.begin(), items.end());
    return items;
}
