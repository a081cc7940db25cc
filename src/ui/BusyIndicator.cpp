// SPDX-License-Identifier: GPL-3.0-or-later

#include "BusyIndicator.h"

#include <QPainter>

namespace {

constexpr int frameIntervalMs = 33;
constexpr int degreesPerFrame = 12;
constexpr int arcSpanDegrees = 100;

} // namespace

BusyIndicator::BusyIndicator(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    frames.setInterval(frameIntervalMs);
    connect(&frames, &QTimer::timeout, this, [this] {
        startAngle = (startAngle - degreesPerFrame + 360) % 360;
        update();
    });
}

QSize BusyIndicator::sizeHint() const {
    const int side = fontMetrics().height();
    return {side, side};
}

void BusyIndicator::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal penWidth = qMax(2.0, width() / 8.0);
    const QRectF circle = QRectF(rect()).adjusted(penWidth, penWidth, -penWidth, -penWidth);
    QColor track = palette().color(QPalette::WindowText);
    track.setAlpha(40);
    painter.setPen(QPen(track, penWidth));
    painter.drawEllipse(circle);
    painter.setPen(
        QPen(palette().color(QPalette::WindowText), penWidth, Qt::SolidLine, Qt::RoundCap));
    painter.drawArc(circle, startAngle * 16, arcSpanDegrees * 16);
}

void BusyIndicator::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    frames.start();
}

void BusyIndicator::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    frames.stop();
}
