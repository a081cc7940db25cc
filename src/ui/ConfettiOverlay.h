// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QColor>
#include <QElapsedTimer>
#include <QList>
#include <QPropertyAnimation>
#include <QTimer>
#include <QWidget>

#include <chrono>

// One dot of the celebration. Velocities are in pixels per tick, the
// rotation speed in degrees per second.
struct ConfettiParticle {
    double x = 0;
    double y = 0;
    double size = 0;
    QColor color;
    double rotation = 0;
    double velocityX = 0;
    double velocityY = 0;
    double rotationSpeed = 0;
};

// The celebration drawn over the whole window. It never takes a click: the
// widgets beneath get every mouse event.
class ConfettiOverlay : public QWidget {
    Q_OBJECT
    Q_PROPERTY(qreal layerOpacity READ layerOpacity WRITE setLayerOpacity)

public:
    static constexpr std::chrono::milliseconds standardDuration{4000};

    explicit ConfettiOverlay(QWidget* parent = nullptr);

    // How long the next celebrations last.
    void setDuration(std::chrono::milliseconds value);

    // A new batch sized to the overlay, the first tick at once, the fade in
    // the last quarter of the duration (the last second of the standard four).
    void start();
    void stop();

    bool isRunning() const { return ticker.isActive(); }
    const QList<ConfettiParticle>& particles() const { return dots; }
    qreal layerOpacity() const { return opacity; }
    void setLayerOpacity(qreal value);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void step();

    QList<ConfettiParticle> dots;
    std::chrono::milliseconds duration = standardDuration;
    qreal opacity = 1.0;
    QElapsedTimer clock;
    QTimer ticker;
    QTimer fadeStart;
    QPropertyAnimation fade;
};
