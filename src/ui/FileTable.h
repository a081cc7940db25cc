// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "model/FileItem.h"

#include <QTableView>
#include <QUuid>

#include <optional>

class ContentViewModel;
class FileTableModel;
class QMenu;

// The list of files: a checkbox, name, folder, size, channels, coloured
// status and a "Convert" button per row, under sortable headers; the check
// column's header ticks or unticks every listed row. A click highlights a row
// (Ctrl and Shift add to the highlight), a double click on a name shows the
// file in the file manager, a right click or the Menu key opens the rows'
// menu. The arrow keys move the highlight (Shift extends it), Space ticks or
// unticks every highlighted row, and Tab leaves the table.
class FileTable : public QTableView {
    Q_OBJECT

public:
    explicit FileTable(ContentViewModel& viewModel, QWidget* parent = nullptr);

    FileTableModel& rows() const { return *tableModel; }

    // Re-reads the view model's sorted rows. Cheap when nothing but item
    // fields changed.
    void refresh();
    void clearHighlight();
    // The menu for the highlighted rows, as a right click opens it.
    QMenu* makeRowMenu();

signals:
    // A row's Convert, from its button or its menu; the window may ask first.
    void convertRequested(const QList<FileItemPtr>& items);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void onClicked(const QModelIndex& index);
    void onDoubleClicked(const QModelIndex& index);
    void highlightRow(int row, Qt::KeyboardModifiers modifiers);
    void toggleListedSelection();
    void tickHighlighted();

    std::optional<QUuid> anchor;
    ContentViewModel& viewModel;
    FileTableModel* const tableModel;
};
