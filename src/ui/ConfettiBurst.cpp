#include "ConfettiBurst.h"

#include <QRandomGenerator>

#include <limits>

namespace {

// Uniform over the closed range: both ends can come up.
double uniform(QRandomGenerator& random, double low, double high) {
    const double unit = double(random.generate()) / double(std::numeric_limits<quint32>::max());
    return low + (high - low) * unit;
}

} // namespace

namespace ConfettiBurst {

const QList<QColor>& palette() {
    static const QList<QColor> colors{
        QColor(255, 59, 48), QColor(255, 149, 0),  QColor(255, 204, 0), QColor(52, 199, 89),
        QColor(0, 122, 255), QColor(175, 82, 222), QColor(255, 45, 85), QColor(50, 173, 230),
    };
    return colors;
}

QList<ConfettiParticle> spawn(const QSizeF& size, QRandomGenerator& random) {
    const double width = size.width();
    const double height = size.height();
    QList<ConfettiParticle> particles;
    particles.reserve(particleCount);
    for (int id = 0; id < particleCount; ++id) {
        ConfettiParticle particle;
        particle.id = id;
        particle.x = uniform(random, 0, width);
        particle.y = uniform(random, -0.3 * height, 0.1 * height);
        particle.size = uniform(random, 4, 10);
        particle.color = palette().at(int(random.bounded(quint32(palette().size()))));
        particle.rotation = uniform(random, 0, 360);
        particle.opacity = 1.0;
        particle.velocityX = uniform(random, -2, 2);
        particle.velocityY = uniform(random, 2, 6);
        particle.rotationSpeed = uniform(random, -360, 360);
        particles.append(particle);
    }
    return particles;
}

void tick(QList<ConfettiParticle>& particles) {
    for (ConfettiParticle& particle : particles) {
        particle.x += particle.velocityX;
        particle.y += particle.velocityY;
        particle.velocityY += gravity;
        particle.rotation += particle.rotationSpeed / ticksPerSecond;
    }
}

} // namespace ConfettiBurst
