// SPDX-License-Identifier: GPL-3.0-or-later

#include "FFmpegCheck.h"
#include "FakeTools.h"
#include "MainWindow.h"
#include "Processes.h"
#include "TestMain.h"
#include "viewmodel/ContentViewModel.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>

using namespace Qt::StringLiterals;

using Kind = FFmpegCheck::Finding::Kind;

// The launch check against stand-ins for ffmpeg: the window is in use while
// the check runs, and only a tool that answers in time passes.
class FFmpegCheckTest : public QObject {
    Q_OBJECT

private slots:
    void windowStaysInUseAndHearsTheAnswer_data() {
        QTest::addColumn<QString>("script");
        QTest::addColumn<Kind>("kind");
        // A script that waits at the gate lets the test act while the check runs.
        const QString gated = u"touch 'STARTED'\nwhile [ ! -e 'GATE' ]; do sleep 0.02; done\n"_s;
        QTest::newRow("real") << gated + u"exec /usr/bin/ffmpeg \"$@\""_s << Kind::usable;
        QTest::newRow("fails") << gated + u"exit 3"_s << Kind::failed;
        QTest::newRow("no answer") << u"touch 'STARTED'\nexec sleep 30"_s << Kind::noAnswer;
        QTest::newRow("cannot start") << u"#!/nonexistent/interpreter\n"_s << Kind::cannotStart;
        QTest::newRow("missing") << QString() << Kind::missing;
    }

    void windowStaysInUseAndHearsTheAnswer() {
        QFETCH(QString, script);
        QFETCH(Kind, kind);
        FakeTools tools;
        const QString gate = tools.path(u"gate"_s);
        const QString started = tools.path(u"started"_s);
        script.replace(u"STARTED"_s, started).replace(u"GATE"_s, gate);
        if (script.isEmpty())
            FakeTools::hideEveryFFmpeg();
        else
            tools.script(u"ffmpeg"_s, script);
        if (script.startsWith(u"#!")) // no /bin/sh line before it
            TestFiles::writeFile(tools.path(u"ffmpeg"_s), script.toUtf8());
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const qint64 loggedBefore = window.viewModel().loggedLineCount();

        std::optional<FFmpegCheck::Finding> finding;
        QPointer<QMessageBox> alert;
        // Only the tool that never answers meets the limit.
        const std::chrono::milliseconds limit(kind == Kind::noAnswer ? 300 : 60000);
        FFmpegCheck::start(window, limit,
                           [&](const FFmpegCheck::Finding& found, QMessageBox* opened) {
                               finding = found;
                               alert = opened;
                           });
        QVERIFY(!finding);
        if (script.contains(gate)) {
            // The tool runs and the window answers a click meanwhile.
            QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(started), 10000);
            QTest::mouseClick(window.findChild<QPushButton*>(u"infoButton"_s), Qt::LeftButton);
            QVERIFY(window.viewModel().showDebug());
            window.viewModel().setShowDebug(false);
            QVERIFY(!finding);
            TestFiles::writeFile(gate, {});
        }
        QTRY_VERIFY_WITH_TIMEOUT(finding, 30000);
        QCOMPARE(finding->kind, kind);
        QTRY_VERIFY(TestSupport::liveChildren().isEmpty());
        if (kind == Kind::usable) {
            QVERIFY(!alert);
            QCOMPARE(window.viewModel().loggedLineCount(), loggedBefore);
            return;
        }
        // Why the tool cannot be used is in the log; the warning leaves the
        // window usable.
        QCOMPARE(window.viewModel().loggedLineCount(), loggedBefore + 1);
        QVERIFY(!finding->reason.isEmpty());
        QVERIFY(window.viewModel().debugLog().last().endsWith(finding->reason));
        QVERIFY(alert && alert->isVisible());
        QCOMPARE(alert->text(), u"ffmpeg not found"_s);
        QTest::mouseClick(alert->buttons().first(), Qt::LeftButton);
        QTRY_VERIFY(!alert);
        QTest::mouseClick(window.findChild<QPushButton*>(u"infoButton"_s), Qt::LeftButton);
        QVERIFY(window.viewModel().showDebug());
    }
};

CHANFUSE_TEST_MAIN_WITH(QApplication, FFmpegCheckTest)
#include "tst_ffmpegcheck.moc"
