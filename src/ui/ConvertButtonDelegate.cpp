#include "ConvertButtonDelegate.h"

#include "FileTableModel.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>

QRect ConvertButtonDelegate::buttonRect(const QRect& cell) {
    return cell.adjusted(4, 2, -4, -2);
}

void ConvertButtonDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                  const QModelIndex& index) const {
    QStyleOptionViewItem cell = option;
    initStyleOption(&cell, index);
    QStyle* style = option.widget ? option.widget->style() : QApplication::style();
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
            emit clicked(index);
        return wasPressed;
    }
    if (!onButton)
        return false;
    pressed = QPersistentModelIndex(index);
    return true;
}
