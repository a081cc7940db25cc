#pragma once

#include <QTableView>

class ContentViewModel;
class FileTableModel;

// The list of files: a checkbox, name, size, channels, coloured status and a
// "Convert" button per row, under sortable headers. A click highlights a row,
// a double click on a name shows the file in the file manager. The arrow keys
// move the highlight, Space ticks or unticks the highlighted row, and Tab
// leaves the table for the next control.
class FileTable : public QTableView {
    Q_OBJECT

public:
    explicit FileTable(ContentViewModel& viewModel, QWidget* parent = nullptr);

    FileTableModel& rows() const { return *tableModel; }

    // Re-reads the view model's sorted rows. Cheap when nothing but item
    // fields changed.
    void refresh();
    void clearHighlight();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void onClicked(const QModelIndex& index);
    void onDoubleClicked(const QModelIndex& index);

    ContentViewModel& viewModel;
    FileTableModel* const tableModel;
};
