#pragma once

#include "ConfettiBurst.h"

#include <QElapsedTimer>
#include <QPropertyAnimation>
#include <QTimer>
#include <QWidget>

// The celebration drawn over the whole window. It never takes a click: the
// widgets beneath get every mouse event.
class ConfettiOverlay : public QWidget {
    Q_OBJECT
    Q_PROPERTY(qreal layerOpacity READ layerOpacity WRITE setLayerOpacity)

public:
    static constexpr int durationMs = 4000;

    explicit ConfettiOverlay(QWidget* parent = nullptr);

    // A new batch sized to the overlay, the first tick at once, the fade in
    // the last second.
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
    qreal opacity = 1.0;
    QElapsedTimer clock;
    QTimer ticker;
    QTimer fadeStart;
    QPropertyAnimation fade;
};
