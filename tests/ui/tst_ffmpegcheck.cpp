#include "FFmpegCheck.h"
#include "FakeTools.h"
#include "GuiTestMain.h"
#include "MainWindow.h"
#include "viewmodel/ContentViewModel.h"

#include <QAbstractButton>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>

class FFmpegCheckTest : public QObject {
    Q_OBJECT

private slots:
    void missingToolOpensTheAlert();
    void failingToolIsNotReported();
    void versionRunIsBounded();
};

namespace {

QList<QMessageBox*> openAlerts() {
    QList<QMessageBox*> alerts;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible())
            alerts.append(box);
    }
    return alerts;
}

} // namespace

void FFmpegCheckTest::missingToolOpensTheAlert() {
    FakeTools tools;
    FakeTools::hideEveryFFmpeg();
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    QPointer<QMessageBox> alert = FFmpegCheck::check(&window);
    QVERIFY(alert);
    QVERIFY(alert->isVisible());
    QCOMPARE(openAlerts().size(), 1);
    QCOMPARE(alert->windowModality(), Qt::WindowModal);
    QCOMPARE(alert->icon(), QMessageBox::Warning);
    QCOMPARE(alert->text(), QStringLiteral("ffmpeg not found"));
    QCOMPARE(alert->informativeText(),
             QStringLiteral("Chanfuse requires ffmpeg to be installed.\n\n"
                            "Install with apt:\nsudo apt install ffmpeg"));
    const QList<QAbstractButton*> buttons = alert->buttons();
    QCOMPARE(buttons.size(), 1);
    QCOMPARE(buttons.first()->text(), QStringLiteral("OK"));

    QTest::mouseClick(buttons.first(), Qt::LeftButton);
    QTRY_VERIFY(!alert);
    QVERIFY(window.isVisible());
    auto* info = window.findChild<QPushButton*>(QStringLiteral("infoButton"));
    QTest::mouseClick(info, Qt::LeftButton);
    QVERIFY(window.viewModel().showDebug());
}

void FFmpegCheckTest::failingToolIsNotReported() {
    FakeTools tools;
    tools.script(QStringLiteral("ffmpeg"), QStringLiteral("exit 3"));
    QWidget window;
    window.show();
    QCOMPARE(FFmpegCheck::runVersion(tools.path(QStringLiteral("ffmpeg")), std::chrono::seconds(5)),
             FFmpegCheck::VersionRun::exited);
    QCOMPARE(FFmpegCheck::check(&window), nullptr);
    QVERIFY(openAlerts().isEmpty());
}

void FFmpegCheckTest::versionRunIsBounded() {
    FakeTools tools;
    tools.script(QStringLiteral("ffmpeg"), QStringLiteral("exec sleep 30"));
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(FFmpegCheck::runVersion(tools.path(QStringLiteral("ffmpeg")),
                                     std::chrono::milliseconds(300)),
             FFmpegCheck::VersionRun::stoppedAtLimit);
    QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));

    QCOMPARE(
        FFmpegCheck::runVersion(tools.path(QStringLiteral("missing")), std::chrono::seconds(5)),
        FFmpegCheck::VersionRun::failedToStart);
    QCOMPARE(FFmpegCheck::runVersion(QStringLiteral("/usr/bin/ffmpeg"), std::chrono::seconds(5)),
             FFmpegCheck::VersionRun::exited);
}

CHANFUSE_GUI_TEST_MAIN(FFmpegCheckTest)
#include "tst_ffmpegcheck.moc"
