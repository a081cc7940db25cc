// SPDX-License-Identifier: GPL-3.0-or-later

#include "ElidedLabel.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

ElidedLabel::ElidedLabel(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void ElidedLabel::setText(const QString& text) {
    setText(text, 0, -1);
}

void ElidedLabel::setText(const QString& text, qsizetype start, qsizetype length) {
    if (text == fullText && start == elidableStart && length == elidableLength)
        return;
    fullText = text;
    elidableStart = start;
    elidableLength = length;
    updateGeometry();
    refreshToolTip();
    update();
}

void ElidedLabel::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    refreshToolTip();
}

void ElidedLabel::refreshToolTip() {
    setToolTip(shownText() != fullText ? fullText : QString());
}

void ElidedLabel::setTextColor(const QColor& color) {
    QPalette palette = this->palette();
    palette.setColor(QPalette::WindowText, color);
    setPalette(palette);
}

// Advances are fractional; rounding down would elide a text that fits.
QSize ElidedLabel::sizeHint() const {
    const int width = int(std::ceil(QFontMetricsF(font()).horizontalAdvance(fullText))) + 1;
    return {width, fontMetrics().height()};
}

QSize ElidedLabel::minimumSizeHint() const {
    if (elidableLength < 0)
        return {fontMetrics().horizontalAdvance(QStringLiteral("W…W")), fontMetrics().height()};
    const QString kept =
        fullText.left(elidableStart) + fullText.mid(elidableStart + elidableLength);
    const QString shortest = elidableLength > 0 ? QStringLiteral("W…") : QString();
    return {int(std::ceil(QFontMetricsF(font()).horizontalAdvance(kept + shortest))) + 1,
            fontMetrics().height()};
}

QString ElidedLabel::shownText() const {
    const QFontMetrics metrics = fontMetrics();
    if (elidableLength < 0)
        return metrics.elidedText(fullText, Qt::ElideMiddle, width());
    if (metrics.horizontalAdvance(fullText) <= width())
        return fullText;
    const QString head = fullText.left(elidableStart);
    const QString tail = fullText.mid(elidableStart + elidableLength);
    const int room = width() - metrics.horizontalAdvance(head + tail);
    return head +
           metrics.elidedText(fullText.mid(elidableStart, elidableLength), Qt::ElideMiddle,
                              std::max(room, 0)) +
           tail;
}

void ElidedLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(rect(), Qt::AlignVCenter | Qt::AlignLeft, shownText());
}
