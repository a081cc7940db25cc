// SPDX-License-Identifier: GPL-3.0-or-later

#include "FFmpegCheck.h"
#include "FakeTools.h"
#include "MainWindow.h"
#include "TestMain.h"
#include "viewmodel/ContentViewModel.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>

using namespace Qt::StringLiterals;

// Kept apart from the window's tests: one case leaves a tool hanging.
class FFmpegCheckTest : public QObject {
    Q_OBJECT

private slots:
    void missingToolOpensTheAlert() {
        FakeTools tools;
        FakeTools::hideEveryFFmpeg();
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        QPointer<QMessageBox> alert = FFmpegCheck::check(&window);
        QVERIFY(alert && alert->isVisible());
        QCOMPARE(alert->text(), u"ffmpeg not found"_s);

        QTest::mouseClick(alert->buttons().first(), Qt::LeftButton);
        QTRY_VERIFY(!alert);
        QTest::mouseClick(window.findChild<QPushButton*>(u"infoButton"_s), Qt::LeftButton);
        QVERIFY(window.viewModel().showDebug());
    }

    // Only a tool that cannot be started is missing; one that fails or hangs is
    // there, and its version run is bounded.
    void versionRun_data() {
        QTest::addColumn<QString>("script");
        QTest::addColumn<int>("outcome");
        QTest::newRow("fails") << "exit 3" << int(FFmpegCheck::VersionRun::exited);
        QTest::newRow("hangs") << "exec sleep 30" << int(FFmpegCheck::VersionRun::stoppedAtLimit);
        QTest::newRow("missing") << QString() << int(FFmpegCheck::VersionRun::failedToStart);
    }

    void versionRun() {
        QFETCH(QString, script);
        QFETCH(int, outcome);
        FakeTools tools;
        if (!script.isEmpty())
            tools.script(u"ffmpeg"_s, script);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(
            int(FFmpegCheck::runVersion(tools.path(u"ffmpeg"_s), std::chrono::milliseconds(300))),
            outcome);
        QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
        if (outcome == int(FFmpegCheck::VersionRun::exited)) {
            QWidget window;
            window.show();
            QCOMPARE(FFmpegCheck::check(&window), nullptr);
        }
    }
};

CHANFUSE_TEST_MAIN_WITH(QApplication, FFmpegCheckTest)
#include "tst_ffmpegcheck.moc"
