#include "FileTable.h"

#include "DarkTheme.h"
#include "FileTableModel.h"
#include "viewmodel/ContentViewModel.h"

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
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
                                         this->viewModel.convertItem(item);
                                 },
                                 this));

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
