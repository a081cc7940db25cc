// SPDX-License-Identifier: GPL-3.0-or-later

#include "ConfettiOverlay.h"

#include <QPainter>
#include <QRandomGenerator>

#include <limits>

namespace {

constexpr int particleCount = 80;
constexpr int ticksPerSecond = 30;
constexpr double gravity = 0.15;

// Uniform over the closed range: both ends can come up.
double uniform(QRandomGenerator& random, double low, double high) {
    const double unit = double(random.generate()) / double(std::numeric_limits<quint32>::max());
    return low + (high - low) * unit;
}

// The eight colours, each equally likely.
const QList<QColor>& palette() {
    static const QList<QColor> colors{
        QColor(255, 59, 48), QColor(255, 149, 0),  QColor(255, 204, 0), QColor(52, 199, 89),
        QColor(0, 122, 255), QColor(175, 82, 222), QColor(255, 45, 85), QColor(50, 173, 230),
    };
    return colors;
}

// A fresh batch for an area of `size`: most dots start above the top edge.
QList<ConfettiParticle> spawn(const QSizeF& size, QRandomGenerator& random) {
    const double width = size.width();
    const double height = size.height();
    QList<ConfettiParticle> particles;
    particles.reserve(particleCount);
    for (int index = 0; index < particleCount; ++index) {
        ConfettiParticle particle;
        particle.x = uniform(random, 0, width);
        particle.y = uniform(random, -0.3 * height, 0.1 * height);
        particle.size = uniform(random, 4, 10);
        particle.color = palette().at(int(random.bounded(quint32(palette().size()))));
        particle.rotation = uniform(random, 0, 360);
        particle.velocityX = uniform(random, -2, 2);
        particle.velocityY = uniform(random, 2, 6);
        particle.rotationSpeed = uniform(random, -360, 360);
        particles.append(particle);
    }
    return particles;
}

// One animation step: move, fall faster, turn.
void tick(QList<ConfettiParticle>& particles) {
    for (ConfettiParticle& particle : particles) {
        particle.x += particle.velocityX;
        particle.y += particle.velocityY;
        particle.velocityY += gravity;
        particle.rotation += particle.rotationSpeed / ticksPerSecond;
    }
}

} // namespace

ConfettiOverlay::ConfettiOverlay(QWidget* parent) : QWidget(parent), fade(this, "layerOpacity") {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    ticker.setInterval(1000 / ticksPerSecond);
    ticker.setTimerType(Qt::PreciseTimer);
    connect(&ticker, &QTimer::timeout, this, &ConfettiOverlay::step);
    fadeStart.setSingleShot(true);
    connect(&fadeStart, &QTimer::timeout, this, [this] {
        fade.setStartValue(opacity);
        fade.setEndValue(0.0);
        fade.start();
    });
    fade.setEasingCurve(QEasingCurve::OutQuad);
    setDuration(standardDuration);
}

void ConfettiOverlay::setDuration(std::chrono::milliseconds value) {
    duration = value;
    const auto fadeLength = value / 4;
    fadeStart.setInterval(value - fadeLength);
    fade.setDuration(int(fadeLength.count()));
}

void ConfettiOverlay::start() {
    stop();
    setLayerOpacity(1.0);
    dots = spawn(size(), *QRandomGenerator::global());
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
    if (std::chrono::milliseconds(clock.elapsed()) >= duration) {
        ticker.stop();
        return;
    }
    tick(dots);
    update();
}

void ConfettiOverlay::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setOpacity(opacity);
    const QPointF centre = QRectF(rect()).center();
    for (const ConfettiParticle& dot : std::as_const(dots)) {
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
