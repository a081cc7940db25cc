#pragma once

#include <QStyledItemDelegate>

// A label-less checkbox centred in its cell; a click anywhere in the cell
// flips it through the model's CheckStateRole.
class CheckBoxDelegate : public QStyledItemDelegate {
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;
};
