#pragma once

#include "model/FileItem.h"
#include "viewmodel/TableView.h"

#include <QAbstractTableModel>
#include <QList>
#include <QUuid>

#include <optional>

class ContentViewModel;

// The view model's sorted rows as a table. Rows are the shared items
// themselves, so a status written into an item shows at the next repaint;
// refresh() only resets the model when the row list itself changed.
class FileTableModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column { checkColumn, nameColumn, sizeColumn, channelsColumn, statusColumn, actionColumn };
    static constexpr int columns = 6;
    static constexpr int convertibleRole = Qt::UserRole;

    explicit FileTableModel(ContentViewModel& viewModel, QObject* parent = nullptr);

    void refresh();
    FileItemPtr itemAt(int row) const { return rows.value(row); }
    static std::optional<SortColumn> sortColumnOf(int column);

    // The highlighted row is kept by item id, so it survives sorting and
    // filtering; at most one row is highlighted.
    std::optional<QUuid> highlightedId() const { return highlighted; }
    void setHighlightedId(std::optional<QUuid> id);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    QVariant cellText(const FileItem& item, int column) const;
    void updateRowOf(const QUuid& id);

    ContentViewModel& viewModel;
    QList<FileItemPtr> rows;
    std::optional<QUuid> highlighted;
};
