#pragma once

#include <QColor>
#include <QList>
#include <QSizeF>

class QRandomGenerator;

// One dot of the celebration. Velocities are in pixels per tick, the
// rotation speed in degrees per second.
struct ConfettiParticle {
    int id = 0;
    double x = 0;
    double y = 0;
    double size = 0;
    QColor color;
    double rotation = 0;
    double opacity = 1.0;
    double velocityX = 0;
    double velocityY = 0;
    double rotationSpeed = 0;
};

// The physics of the celebration, apart from any timer or painting.
namespace ConfettiBurst {

constexpr int particleCount = 80;
constexpr int ticksPerSecond = 30;
constexpr double gravity = 0.15;

// The eight colours, each equally likely.
const QList<QColor>& palette();

// A fresh batch for an area of `size`: most dots start above the top edge.
QList<ConfettiParticle> spawn(const QSizeF& size, QRandomGenerator& random);

// One animation step: move, fall faster, turn.
void tick(QList<ConfettiParticle>& particles);

} // namespace ConfettiBurst
