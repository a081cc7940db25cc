#include "ConfettiOverlay.h"

#include <QPainter>
#include <QRandomGenerator>

ConfettiOverlay::ConfettiOverlay(QWidget* parent) : QWidget(parent), fade(this, "layerOpacity") {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    ticker.setInterval(1000 / ConfettiBurst::ticksPerSecond);
    ticker.setTimerType(Qt::PreciseTimer);
    connect(&ticker, &QTimer::timeout, this, &ConfettiOverlay::step);
    fadeStart.setSingleShot(true);
    fadeStart.setInterval(durationMs - 1000);
    connect(&fadeStart, &QTimer::timeout, this, [this] {
        fade.setStartValue(opacity);
        fade.setEndValue(0.0);
        fade.start();
    });
    fade.setDuration(1000);
    fade.setEasingCurve(QEasingCurve::OutQuad);
}

void ConfettiOverlay::start() {
    stop();
    setLayerOpacity(1.0);
    dots = ConfettiBurst::spawn(size(), *QRandomGenerator::global());
    clock.start();
    ticker.start();
    fadeStart.start();
    step();
}

void ConfettiOverlay::stop() {
    ticker.stop();
    fadeStart.stop();
    fade.stop();
}

void ConfettiOverlay::setLayerOpacity(qreal value) {
    opacity = value;
    update();
}

void ConfettiOverlay::step() {
    if (clock.elapsed() >= durationMs) {
        ticker.stop();
        return;
    }
    ConfettiBurst::tick(dots);
    update();
}

void ConfettiOverlay::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const QPointF centre = QRectF(rect()).center();
    for (const ConfettiParticle& dot : std::as_const(dots)) {
        painter.setOpacity(opacity * dot.opacity);
        painter.setBrush(dot.color);
        // Turned about the middle of the window, not about the dot, so the
        // dots swirl around the centre as they fall.
        painter.save();
        painter.translate(centre);
        painter.rotate(dot.rotation);
        painter.translate(-centre);
        painter.drawEllipse(QPointF(dot.x, dot.y), dot.size / 2, dot.size / 2);
        painter.restore();
    }
}
