#include "FileTable.h"

#include "CheckBoxDelegate.h"
#include "ConvertButtonDelegate.h"
#include "FileTableModel.h"
#include "viewmodel/ContentViewModel.h"

#include <QHeaderView>
#include <QKeyEvent>

FileTable::FileTable(ContentViewModel& viewModel, QWidget* parent)
    : QTableView(parent), viewModel(viewModel), tableModel(new FileTableModel(viewModel, this)) {
    setModel(tableModel);
    setItemDelegateForColumn(FileTableModel::checkColumn, new CheckBoxDelegate(this));
    auto* convertButtons = new ConvertButtonDelegate(this);
    setItemDelegateForColumn(FileTableModel::actionColumn, convertButtons);
    connect(convertButtons, &ConvertButtonDelegate::clicked, this,
            [this](const QModelIndex& index) {
                if (const FileItemPtr item = tableModel->itemAt(index.row()))
                    this->viewModel.convertItem(item);
            });

    setSelectionMode(QAbstractItemView::NoSelection);
    setTabKeyNavigation(false);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setAlternatingRowColors(true);
    setShowGrid(false);
    setWordWrap(false);
    setTextElideMode(Qt::ElideMiddle);
    setFrameShape(QFrame::NoFrame);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);

    QHeaderView* rowsHeader = verticalHeader();
    rowsHeader->hide();
    rowsHeader->setSectionResizeMode(QHeaderView::Fixed);
    rowsHeader->setDefaultSectionSize(fontMetrics().height() + 14);

    QHeaderView* header = horizontalHeader();
    header->setSectionsClickable(true);
    header->setHighlightSections(false);
    header->setMinimumSectionSize(20);
    header->setSectionResizeMode(QHeaderView::Fixed);
    header->setSectionResizeMode(FileTableModel::nameColumn, QHeaderView::Stretch);
    header->resizeSection(FileTableModel::checkColumn, 24);
    header->resizeSection(FileTableModel::sizeColumn, 80);
    header->resizeSection(FileTableModel::channelsColumn, 80);
    header->resizeSection(FileTableModel::statusColumn, 140);
    header->resizeSection(FileTableModel::actionColumn, 80);
    connect(header, &QHeaderView::sectionClicked, this, [this](int section) {
        if (const std::optional<SortColumn> column = FileTableModel::sortColumnOf(section))
            this->viewModel.toggleSort(*column);
    });

    connect(this, &QTableView::clicked, this, &FileTable::onClicked);
    connect(this, &QTableView::doubleClicked, this, &FileTable::onDoubleClicked);
}

void FileTable::refresh() {
    tableModel->refresh();
}

void FileTable::clearHighlight() {
    tableModel->setHighlightedId(std::nullopt);
}

void FileTable::onClicked(const QModelIndex& index) {
    // The checkbox and the button act on their own; a click elsewhere on the
    // row only highlights it.
    if (index.column() == FileTableModel::checkColumn ||
        index.column() == FileTableModel::actionColumn)
        return;
    if (const FileItemPtr item = tableModel->itemAt(index.row()))
        tableModel->setHighlightedId(item->id);
}

void FileTable::onDoubleClicked(const QModelIndex& index) {
    if (index.column() != FileTableModel::nameColumn)
        return;
    if (const FileItemPtr item = tableModel->itemAt(index.row()))
        viewModel.revealInFinder(item);
}

void FileTable::keyPressEvent(QKeyEvent* event) {
    if (event->key() != Qt::Key_Space || event->modifiers() != Qt::NoModifier) {
        // The highlight follows the keyboard's current row.
        const QModelIndex before = currentIndex();
        QTableView::keyPressEvent(event);
        const FileItemPtr item = tableModel->itemAt(currentIndex().row());
        if (item && currentIndex() != before)
            tableModel->setHighlightedId(item->id);
        return;
    }
    event->accept();
    const std::optional<QUuid> highlighted = tableModel->highlightedId();
    for (int row = 0; highlighted && row < tableModel->rowCount(); ++row) {
        const FileItemPtr item = tableModel->itemAt(row);
        if (item->id == *highlighted) {
            viewModel.toggleSelection(item);
            return;
        }
    }
}
