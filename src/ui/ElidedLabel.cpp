#include "ElidedLabel.h"

#include <QPainter>

#include <cmath>

ElidedLabel::ElidedLabel(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void ElidedLabel::setText(const QString& text) {
    if (text == fullText)
        return;
    fullText = text;
    updateGeometry();
    refreshToolTip();
    update();
}

void ElidedLabel::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    refreshToolTip();
}

void ElidedLabel::refreshToolTip() {
    const bool elided = fontMetrics().elidedText(fullText, Qt::ElideMiddle, width()) != fullText;
    setToolTip(elided ? fullText : QString());
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
    return {fontMetrics().horizontalAdvance(QStringLiteral("W…W")), fontMetrics().height()};
}

void ElidedLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::WindowText));
    const QString shown = fontMetrics().elidedText(fullText, Qt::ElideMiddle, width());
    painter.drawText(rect(), Qt::AlignVCenter | Qt::AlignLeft, shown);
}
