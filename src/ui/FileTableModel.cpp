// SPDX-License-Identifier: GPL-3.0-or-later

#include "FileTableModel.h"

#include "DarkTheme.h"
#include "viewmodel/ContentViewModel.h"

#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <algorithm>

namespace {

std::optional<QColor> statusColor(DetectionStatus status) {
    switch (status) {
    case DetectionStatus::fakeStereo:
        return QColor(255, 159, 10);
    case DetectionStatus::realStereo:
    case DetectionStatus::mono:
    case DetectionStatus::multichannel:
    case DetectionStatus::converted:
        return QColor(48, 209, 88);
    case DetectionStatus::error:
        return ThemeColors::destructive();
    case DetectionStatus::timedOut:
        return ThemeColors::attention();
    case DetectionStatus::pending:
        break;
    }
    return std::nullopt;
}

QFont captionFont() {
    QFont font = QGuiApplication::font();
    font.setPointSizeF(font.pointSizeF() * 0.85);
    return font;
}

} // namespace

FileTableModel::FileTableModel(ContentViewModel& viewModel, QObject* parent)
    : QAbstractTableModel(parent), viewModel(viewModel) {}

void FileTableModel::refresh() {
    QList<FileItemPtr> next = viewModel.sortedItems();
    if (next == rows) {
        // Same rows in the same order: only their fields may have changed,
        // and the view repaints just the rows on screen.
        if (!rows.isEmpty())
            emit dataChanged(index(0, 0), index(int(rows.size()) - 1, columns - 1));
    } else {
        beginResetModel();
        rows = std::move(next);
        endResetModel();
    }
    emit headerDataChanged(Qt::Horizontal, 0, columns - 1);
}

std::optional<SortColumn> FileTableModel::sortColumnOf(int column) {
    switch (column) {
    case nameColumn:
        return SortColumn::filename;
    case folderColumn:
        return SortColumn::folder;
    case sizeColumn:
        return SortColumn::fileSize;
    case channelsColumn:
        return SortColumn::channels;
    case statusColumn:
        return SortColumn::status;
    default:
        return std::nullopt;
    }
}

void FileTableModel::setHighlightedIds(const QSet<QUuid>& ids) {
    if (ids == highlighted)
        return;
    highlighted = ids;
    if (!rows.isEmpty())
        emit dataChanged(index(0, 0), index(int(rows.size()) - 1, columns - 1),
                         {Qt::BackgroundRole});
}

QList<FileItemPtr> FileTableModel::highlightedItems() const {
    QList<FileItemPtr> items;
    for (const FileItemPtr& item : rows) {
        if (highlighted.contains(item->id))
            items.append(item);
    }
    return items;
}

Qt::CheckState FileTableModel::listedSelection() const {
    const auto ticked = std::count_if(rows.cbegin(), rows.cend(),
                                      [](const FileItemPtr& item) { return item->isSelected; });
    if (ticked == 0)
        return Qt::Unchecked;
    return ticked == rows.size() ? Qt::Checked : Qt::PartiallyChecked;
}

int FileTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(rows.size());
}

int FileTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : columns;
}

QVariant FileTableModel::cellText(const FileItem& item, int column) const {
    switch (column) {
    case nameColumn:
        return displayName(item);
    case folderColumn:
        return viewModel.folderOf(item);
    case sizeColumn:
        return item.formattedFileSize();
    case channelsColumn:
        return item.channelLabel();
    case statusColumn:
        return rawValue(item.detectionStatus);
    case actionColumn:
        return QStringLiteral("Convert");
    default:
        return {};
    }
}

QVariant FileTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rows.size())
        return {};
    const FileItem& item = *rows[index.row()];
    const int column = index.column();
    switch (role) {
    case Qt::DisplayRole:
        return cellText(item, column);
    case Qt::CheckStateRole:
        if (column == checkColumn)
            return item.isSelected ? Qt::Checked : Qt::Unchecked;
        return {};
    case Qt::TextAlignmentRole:
        if (column == nameColumn || column == folderColumn)
            return QVariant(Qt::AlignLeft | Qt::AlignVCenter);
        return QVariant(Qt::AlignCenter);
    case Qt::ForegroundRole:
        if (column == sizeColumn || column == folderColumn)
            return ThemeColors::secondaryText();
        if (column == statusColumn) {
            if (const std::optional<QColor> color = statusColor(item.detectionStatus))
                return *color;
        }
        return {};
    case Qt::FontRole:
        if (column == sizeColumn)
            return captionFont();
        return {};
    case Qt::ToolTipRole:
        // Rows of files with the same name in different folders differ here.
        if (column == nameColumn)
            return QDir::toNativeSeparators(item.currentUrl().toLocalFile());
        if (column == statusColumn && item.errorMessage && !item.errorMessage->isEmpty())
            return *item.errorMessage;
        return {};
    case Qt::BackgroundRole:
        if (highlighted.contains(item.id))
            return ThemeColors::rowHighlight();
        return {};
    case convertibleRole:
        return item.detectionStatus == DetectionStatus::fakeStereo;
    default:
        return {};
    }
}

bool FileTableModel::setData(const QModelIndex& index, const QVariant&, int role) {
    if (!index.isValid() || index.column() != checkColumn || role != Qt::CheckStateRole)
        return false;
    // The view model flips the shared item and announces the change, which
    // the window's controls follow at once.
    viewModel.toggleSelection(rows[index.row()]);
    emit dataChanged(index, index, {Qt::CheckStateRole});
    return true;
}

QVariant FileTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal)
        return {};
    if (role == Qt::DisplayRole) {
        if (const std::optional<SortColumn> sort = sortColumnOf(section))
            return rawValue(*sort) + viewModel.sortIndicator(*sort);
        if (section == checkColumn)
            return QString(listedSelection() == Qt::Checked     ? u'\u2611'
                           : listedSelection() == Qt::Unchecked ? u'\u2610'
                                                                : u'\u229F');
        return QStringLiteral("Action");
    }
    if (role == Qt::ToolTipRole && section == checkColumn)
        return QStringLiteral("Tick or untick every listed file");
    if (role == Qt::TextAlignmentRole)
        return QVariant(section == nameColumn || section == folderColumn
                            ? Qt::AlignLeft | Qt::AlignVCenter
                            : Qt::AlignCenter);
    if (role == Qt::FontRole)
        return captionFont();
    if (role == Qt::ForegroundRole)
        return ThemeColors::secondaryText();
    return {};
}

Qt::ItemFlags FileTableModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    if (index.column() == checkColumn)
        return Qt::ItemIsEnabled | Qt::ItemIsUserCheckable;
    return Qt::ItemIsEnabled;
}
