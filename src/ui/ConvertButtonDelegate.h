#pragma once

#include <QPersistentModelIndex>
#include <QStyledItemDelegate>

// The per-row "Convert" push button, drawn rather than built as a widget so
// ten thousand rows cost nothing. Enabled where the model's convertible role
// says so; a press and release on the same enabled button emits clicked.
class ConvertButtonDelegate : public QStyledItemDelegate {
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;

    static QRect buttonRect(const QRect& cell);

signals:
    void clicked(const QModelIndex& index);

private:
    QPersistentModelIndex pressed;
};
