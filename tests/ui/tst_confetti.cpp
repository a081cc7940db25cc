#include "ConfettiBurst.h"
#include "ConfettiOverlay.h"
#include "GuiTestMain.h"
#include "WindowProbe.h"
#include "viewmodel/ContentViewModel.h"

#include <QPushButton>
#include <QRandomGenerator>

#include <set>

using WindowProbe::part;

class ConfettiTest : public QObject {
    Q_OBJECT

private slots:
    void spawnStaysInItsRanges();
    void ticksFollowGravityAndTurn();
    void runsFourSecondsAndFades();
    void clicksPassThrough();
};

void ConfettiTest::spawnStaysInItsRanges() {
    QRandomGenerator random(7);
    std::set<QRgb> colours;
    for (const QSizeF size : {QSizeF(800, 600), QSizeF(1920, 1080), QSizeF(1, 1)}) {
        for (int batch = 0; batch < 50; ++batch) {
            const QList<ConfettiParticle> particles = ConfettiBurst::spawn(size, random);
            QCOMPARE(particles.size(), 80);
            for (int index = 0; index < particles.size(); ++index) {
                const ConfettiParticle& dot = particles[index];
                QCOMPARE(dot.id, index);
                QVERIFY(dot.x >= 0 && dot.x <= size.width());
                QVERIFY(dot.y >= -0.3 * size.height() && dot.y <= 0.1 * size.height());
                QVERIFY(dot.size >= 4 && dot.size <= 10);
                QVERIFY(dot.rotation >= 0 && dot.rotation <= 360);
                QVERIFY(dot.velocityX >= -2 && dot.velocityX <= 2);
                QVERIFY(dot.velocityY >= 2 && dot.velocityY <= 6);
                QVERIFY(dot.rotationSpeed >= -360 && dot.rotationSpeed <= 360);
                QCOMPARE(dot.opacity, 1.0);
                QVERIFY(ConfettiBurst::palette().contains(dot.color));
                colours.insert(dot.color.rgb());
            }
        }
    }
    QCOMPARE(colours.size(), std::size_t(8));
}

void ConfettiTest::ticksFollowGravityAndTurn() {
    ConfettiParticle dot;
    dot.x = 10;
    dot.y = 0;
    dot.velocityX = -1.5;
    dot.velocityY = 2;
    dot.rotation = 350;
    dot.rotationSpeed = 360;
    QList<ConfettiParticle> particles{dot};

    ConfettiBurst::tick(particles);
    QCOMPARE(particles[0].y, 2.0);
    QCOMPARE(particles[0].velocityY, 2.15);
    QCOMPARE(particles[0].x, 8.5);
    QCOMPARE(particles[0].rotation, 362.0);
    ConfettiBurst::tick(particles);
    QCOMPARE(particles[0].y, 4.15);
    QCOMPARE(particles[0].velocityY, 2.3);
    QCOMPARE(particles[0].x, 7.0);
    QCOMPARE(particles[0].rotation, 374.0);
}

void ConfettiTest::runsFourSecondsAndFades() {
    ConfettiOverlay overlay;
    overlay.resize(800, 600);
    overlay.show();
    overlay.start();
    // The first tick runs at once.
    QVERIFY(overlay.isRunning());
    QVERIFY(overlay.particles()[0].velocityY != 0);
    const QList<ConfettiParticle> spawned = overlay.particles();
    QTRY_VERIFY(overlay.particles()[0].y != spawned[0].y);
    QCOMPARE(overlay.layerOpacity(), 1.0);

    QTRY_VERIFY_WITH_TIMEOUT(overlay.layerOpacity() < 1.0, 3500);
    QTRY_VERIFY_WITH_TIMEOUT(!overlay.isRunning(), 3000);
    QTRY_COMPARE_WITH_TIMEOUT(overlay.layerOpacity(), 0.0, 1000);
    const double resting = overlay.particles()[0].y;
    QTest::qWait(100);
    QCOMPARE(overlay.particles()[0].y, resting);
}

void ConfettiTest::clicksPassThrough() {
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto* overlay = window.findChild<ConfettiOverlay*>();
    overlay->setGeometry(window.rect());
    overlay->show();
    overlay->raise();
    overlay->start();
    auto* info = part<QPushButton>(window, "infoButton");
    const QPoint onInfo = info->mapTo(&window, info->rect().center());
    QVERIFY(overlay->geometry().contains(onInfo));
    QCOMPARE(window.childAt(onInfo), info);

    // Through the window system's route, as a real click arrives.
    QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {}, onInfo);
    QTRY_VERIFY(window.viewModel().showDebug());
}

CHANFUSE_GUI_TEST_MAIN(ConfettiTest)
#include "tst_confetti.moc"
