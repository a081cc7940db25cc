// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "model/FileItem.h"
#include "viewmodel/SortAndFilter.h"

#include <QAbstractTableModel>
#include <QList>
#include <QSet>
#include <QUuid>

#include <optional>

class ContentViewModel;

// The view model's sorted rows as a table. Rows are the shared items
// themselves, so a status written into an item shows at the next repaint;
// refresh() only resets the model when the row list itself changed.
class FileTableModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column {
        checkColumn,
        nameColumn,
        folderColumn,
        sizeColumn,
        channelsColumn,
        statusColumn,
        actionColumn
    };
    static constexpr int columns = 7;
    static constexpr int convertibleRole = Qt::UserRole;

    explicit FileTableModel(ContentViewModel& viewModel, QObject* parent = nullptr);

    void refresh();
    FileItemPtr itemAt(int row) const { return rows.value(row); }
    static std::optional<SortColumn> sortColumnOf(int column);

    // Highlighted rows are kept by item id, so they survive sorting,
    // filtering and the rows being re-read.
    const QSet<QUuid>& highlightedIds() const { return highlighted; }
    void setHighlightedIds(const QSet<QUuid>& ids);
    QList<FileItemPtr> highlightedItems() const;
    // The header checkbox: every listed row ticked, none, or some.
    Qt::CheckState listedSelection() const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    QVariant cellText(const FileItem& item, int column) const;

    ContentViewModel& viewModel;
    QList<FileItemPtr> rows;
    QSet<QUuid> highlighted;
};
