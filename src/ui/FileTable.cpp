// SPDX-License-Identifier: GPL-3.0-or-later

#include "FileTable.h"

#include "DarkTheme.h"
#include "FileTableModel.h"
#include "viewmodel/ContentViewModel.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPersistentModelIndex>
#include <QStyledItemDelegate>

#include <functional>

namespace {

QStyle* styleOf(const QStyleOptionViewItem& option) {
    return option.widget ? option.widget->style() : QApplication::style();
}

// A label-less checkbox centred in its cell; a click anywhere in the cell
// flips it through the model's CheckStateRole.
class CheckBoxDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;
};

// The per-row "Convert" push button, drawn rather than built as a widget so
// ten thousand rows cost nothing. Enabled where the model's convertible role
// says so; a press and release on the same enabled button calls `clicked`.
class ConvertButtonDelegate : public QStyledItemDelegate {
public:
    ConvertButtonDelegate(std::function<void(const QModelIndex&)> clicked, QObject* parent)
        : QStyledItemDelegate(parent), clicked(std::move(clicked)) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;

private:
    static QRect buttonRect(const QRect& cell);

    const std::function<void(const QModelIndex&)> clicked;
    QPersistentModelIndex pressed;
};

void CheckBoxDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                             const QModelIndex& index) const {
    QStyleOptionViewItem cell = option;
    initStyleOption(&cell, index);
    QStyle* style = styleOf(option);
    style->drawPrimitive(QStyle::PE_PanelItemViewItem, &cell, painter, option.widget);

    QStyleOptionButton box;
    box.palette = checkBoxPalette(option.palette);
    box.state =
        QStyle::State_Enabled |
        (index.data(Qt::CheckStateRole).value<Qt::CheckState>() == Qt::Checked ? QStyle::State_On
                                                                               : QStyle::State_Off);
    const int side = style->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, option.widget);
    box.rect =
        QStyle::alignedRect(option.direction, Qt::AlignCenter, QSize(side, side), option.rect);
    style->drawPrimitive(QStyle::PE_IndicatorCheckBox, &box, painter, option.widget);
}

bool CheckBoxDelegate::editorEvent(QEvent* event, QAbstractItemModel* model,
                                   const QStyleOptionViewItem& option, const QModelIndex& index) {
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        // Swallowed, so a quick second click flips the box again instead of
        // counting as a double click on the row.
        return static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton;
    case QEvent::MouseButtonRelease: {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() != Qt::LeftButton || !option.rect.contains(mouse->position().toPoint()))
            return false;
        const bool checked = index.data(Qt::CheckStateRole).value<Qt::CheckState>() == Qt::Checked;
        return model->setData(index, checked ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
    }
    default:
        return false;
    }
}

QRect ConvertButtonDelegate::buttonRect(const QRect& cell) {
    return cell.adjusted(4, 2, -4, -2);
}

void ConvertButtonDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                  const QModelIndex& index) const {
    QStyleOptionViewItem cell = option;
    initStyleOption(&cell, index);
    QStyle* style = styleOf(option);
    style->drawPrimitive(QStyle::PE_PanelItemViewItem, &cell, painter, option.widget);

    QStyleOptionButton button;
    button.rect = buttonRect(option.rect);
    button.text = index.data(Qt::DisplayRole).toString();
    button.state = QStyle::State_Raised;
    if (index.data(FileTableModel::convertibleRole).toBool())
        button.state |= QStyle::State_Enabled;
    if (pressed == index)
        button.state |= QStyle::State_Sunken;
    button.palette = option.palette;
    if (!(button.state & QStyle::State_Enabled))
        button.palette.setCurrentColorGroup(QPalette::Disabled);
    style->drawControl(QStyle::CE_PushButton, &button, painter, option.widget);
}

bool ConvertButtonDelegate::editorEvent(QEvent* event, QAbstractItemModel*,
                                        const QStyleOptionViewItem& option,
                                        const QModelIndex& index) {
    const QEvent::Type type = event->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseButtonDblClick &&
        type != QEvent::MouseButtonRelease)
        return false;
    const auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() != Qt::LeftButton)
        return false;
    const bool onButton = buttonRect(option.rect).contains(mouse->position().toPoint()) &&
                          index.data(FileTableModel::convertibleRole).toBool();

    if (type == QEvent::MouseButtonRelease) {
        const bool wasPressed = pressed.isValid() && pressed == index;
        pressed = QPersistentModelIndex();
        if (wasPressed && onButton)
            clicked(index);
        return wasPressed;
    }
    if (!onButton)
        return false;
    pressed = QPersistentModelIndex(index);
    return true;
}

} // namespace

FileTable::FileTable(ContentViewModel& viewModel, QWidget* parent)
    : QTableView(parent), viewModel(viewModel), tableModel(new FileTableModel(viewModel, this)) {
    setModel(tableModel);
    setItemDelegateForColumn(FileTableModel::checkColumn, new CheckBoxDelegate(this));
    setItemDelegateForColumn(FileTableModel::actionColumn,
                             new ConvertButtonDelegate(
                                 [this](const QModelIndex& index) {
                                     if (const FileItemPtr item = tableModel->itemAt(index.row()))
                                         emit convertRequested({item});
                                 },
                                 this));

    setAccessibleName(QStringLiteral("Files"));
    setAccessibleDescription(QStringLiteral(
        "Space ticks the highlighted files; the Menu key opens their menu, with Convert"));
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
    header->setSectionResizeMode(FileTableModel::folderColumn, QHeaderView::Interactive);
    header->resizeSection(FileTableModel::folderColumn, 140);
    connect(header, &QHeaderView::sectionClicked, this, [this](int section) {
        if (section == FileTableModel::checkColumn)
            toggleListedSelection();
        else if (const std::optional<SortColumn> column = FileTableModel::sortColumnOf(section))
            this->viewModel.toggleSort(*column);
    });

    connect(this, &QTableView::clicked, this, &FileTable::onClicked);
    connect(this, &QTableView::doubleClicked, this, &FileTable::onDoubleClicked);
}

void FileTable::refresh() {
    tableModel->refresh();
}

void FileTable::clearHighlight() {
    tableModel->setHighlightedIds({});
    anchor.reset();
}

void FileTable::onClicked(const QModelIndex& index) {
    // The checkbox and the button act on their own; a click elsewhere on the
    // row only highlights it.
    if (index.column() == FileTableModel::checkColumn ||
        index.column() == FileTableModel::actionColumn)
        return;
    highlightRow(index.row(), QApplication::keyboardModifiers());
}

// Plain: this row alone. Ctrl: this row added or taken out. Shift: every row
// from the last one chosen to this one.
void FileTable::highlightRow(int row, Qt::KeyboardModifiers modifiers) {
    const FileItemPtr item = tableModel->itemAt(row);
    if (!item)
        return;
    QSet<QUuid> ids = tableModel->highlightedIds();
    int anchorRow = -1;
    for (int index = 0; anchor && index < tableModel->rowCount(); ++index) {
        if (tableModel->itemAt(index)->id == *anchor)
            anchorRow = index;
    }
    if (modifiers & Qt::ShiftModifier && anchorRow >= 0) {
        ids.clear();
        for (int index = std::min(row, anchorRow); index <= std::max(row, anchorRow); ++index)
            ids.insert(tableModel->itemAt(index)->id);
        tableModel->setHighlightedIds(ids);
        return;
    }
    if (modifiers & Qt::ControlModifier) {
        if (!ids.remove(item->id))
            ids.insert(item->id);
    } else {
        ids = {item->id};
    }
    anchor = item->id;
    tableModel->setHighlightedIds(ids);
}

void FileTable::toggleListedSelection() {
    QList<FileItemPtr> listed;
    for (int row = 0; row < tableModel->rowCount(); ++row)
        listed.append(tableModel->itemAt(row));
    viewModel.setSelected(listed, tableModel->listedSelection() != Qt::Checked);
}

// Ticks every highlighted row, or unticks them when all are ticked already.
void FileTable::tickHighlighted() {
    const QList<FileItemPtr> items = tableModel->highlightedItems();
    const bool allTicked = std::all_of(items.cbegin(), items.cend(),
                                       [](const FileItemPtr& item) { return item->isSelected; });
    if (!items.isEmpty())
        viewModel.setSelected(items, !allTicked);
}

QMenu* FileTable::makeRowMenu() {
    const QList<FileItemPtr> items = tableModel->highlightedItems();
    auto* menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("rowMenu"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    if (items.isEmpty())
        return menu;
    const FileItemPtr first = items.first();
    menu->addAction(QStringLiteral("Reveal in File Manager"), this,
                    [this, first] { viewModel.showInFileManager(first); });
    menu->addAction(QStringLiteral("Open"), this,
                    [first] { QDesktopServices::openUrl(first->currentUrl()); });
    menu->addAction(items.size() == 1 ? QStringLiteral("Copy Path") : QStringLiteral("Copy Paths"),
                    this, [items] {
                        QStringList paths;
                        for (const FileItemPtr& item : items)
                            paths.append(item->currentUrl().toLocalFile());
                        QGuiApplication::clipboard()->setText(paths.join(u'\n'));
                    });
    menu->addSeparator();
    QList<FileItemPtr> convertible;
    for (const FileItemPtr& item : items) {
        if (item->detectionStatus == DetectionStatus::fakeStereo &&
            !viewModel.isHeldForConversion(item))
            convertible.append(item);
    }
    QAction* convert = menu->addAction(QStringLiteral("Convert"), this,
                                       [this, convertible] { emit convertRequested(convertible); });
    convert->setEnabled(!convertible.isEmpty());
    const bool allTicked = std::all_of(items.cbegin(), items.cend(),
                                       [](const FileItemPtr& item) { return item->isSelected; });
    menu->addAction(allTicked ? QStringLiteral("Untick") : QStringLiteral("Tick"), this,
                    [this] { tickHighlighted(); });
    return menu;
}

void FileTable::contextMenuEvent(QContextMenuEvent* event) {
    QPoint at = event->pos();
    if (event->reason() == QContextMenuEvent::Mouse) {
        const QModelIndex index = indexAt(viewport()->mapFrom(this, at));
        const FileItemPtr item = tableModel->itemAt(index.row());
        if (!item)
            return;
        if (!tableModel->highlightedIds().contains(item->id))
            highlightRow(index.row(), Qt::NoModifier);
    } else {
        at = viewport()->mapTo(this, visualRect(currentIndex()).center());
    }
    makeRowMenu()->popup(mapToGlobal(at));
}

void FileTable::onDoubleClicked(const QModelIndex& index) {
    if (index.column() != FileTableModel::nameColumn)
        return;
    if (const FileItemPtr item = tableModel->itemAt(index.row()))
        viewModel.showInFileManager(item);
}

void FileTable::keyPressEvent(QKeyEvent* event) {
    if (event->key() != Qt::Key_Space || event->modifiers() != Qt::NoModifier) {
        // The highlight follows the keyboard's current row.
        const QModelIndex before = currentIndex();
        QTableView::keyPressEvent(event);
        if (currentIndex().isValid() && currentIndex() != before)
            highlightRow(currentIndex().row(), event->modifiers() & Qt::ShiftModifier);
        return;
    }
    event->accept();
    tickHighlighted();
}
