#include "GuiTestMain.h"
#include "TestAudio.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

// The two executables as a user starts them, each a child process.
class LaunchTest : public QObject {
    Q_OBJECT

private slots:
    void textNeedsNoDisplay_data();
    void textNeedsNoDisplay();
    void folderArgumentsAreScanned();
    void refusesWhatItCannotOpen_data();
    void refusesWhatItCannotOpen();
};

namespace {

struct Finished {
    int exitCode = -1;
    QString out;
    QString err;
};

Finished runToEnd(const QString& program, const QStringList& arguments,
                  const QProcessEnvironment& environment) {
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    if (!process.waitForFinished(60000))
        qFatal("%s did not finish", qPrintable(program));
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

} // namespace

void LaunchTest::textNeedsNoDisplay_data() {
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("argument");
    QTest::addColumn<QString>("expectedStart");
    const QString window = QStringLiteral(CHANFUSE_GUI);
    const QString cli = QStringLiteral(CHANFUSE_CLI);
    const QString version = QStringLiteral(CHANFUSE_VERSION);
    QTest::newRow("chanfuse --version")
        << window << "--version" << QStringLiteral("Chanfuse ") + version + u'\n';
    QTest::newRow("chanfuse --help") << window << "--help" << window + " [options] [FOLDER...]";
    QTest::newRow("chanfuse --help-all")
        << window << "--help-all" << window + " [options] [FOLDER...]";
    QTest::newRow("chanfuse-cli --version")
        << cli << "--version" << QStringLiteral("chanfuse-cli ") + version + u'\n';
    QTest::newRow("chanfuse-cli --help") << cli << "--help" << cli + " [options] command FOLDER...";
    QTest::newRow("chanfuse-cli --help-all")
        << cli << "--help-all" << cli + " [options] command FOLDER...";
}

void LaunchTest::textNeedsNoDisplay() {
    QFETCH(QString, program);
    QFETCH(QString, argument);
    QFETCH(QString, expectedStart);
    QProcessEnvironment noDisplay = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        noDisplay.remove(QString::fromLatin1(name));

    const Finished finished = runToEnd(program, {argument}, noDisplay);
    QCOMPARE(finished.exitCode, 0);
    if (argument == u"--version")
        QCOMPARE(finished.out, expectedStart);
    else
        QVERIFY2(finished.out.startsWith(QStringLiteral("Usage: ") + expectedStart),
                 qPrintable(finished.out));
}

void LaunchTest::folderArgumentsAreScanned() {
    QTemporaryDir first;
    QTemporaryDir second;
    TestAudio::fakeStereo(first.filePath(QStringLiteral("a.wav")));
    TestAudio::mono(second.filePath(QStringLiteral("b.flac")));

    QProcess window;
    window.setProcessEnvironment(QProcessEnvironment::systemEnvironment());
    window.start(
        QStringLiteral(CHANFUSE_GUI),
        {QStringLiteral("-platform"), QStringLiteral("offscreen"), first.path(), second.path()});
    QString out;
    QTRY_VERIFY_WITH_TIMEOUT(
        (out += QString::fromUtf8(window.readAllStandardOutput()))
            .contains(QStringLiteral("[DEBUG] Scan complete: 2 files processed")),
        60000);
    QVERIFY(out.contains(QStringLiteral("[DEBUG] Starting scan of 2 folder(s)")));
    QVERIFY(out.contains(QStringLiteral(": a.wav -> ⚠ Fake Stereo")));
    QVERIFY(out.contains(QStringLiteral(": b.flac -> ✓ Mono")));
    window.kill();
    window.waitForFinished();
}

void LaunchTest::refusesWhatItCannotOpen_data() {
    QTest::addColumn<QString>("argument");
    QTest::addColumn<QString>("message");
    QTest::newRow("missing") << "/nonexistent/music"
                             << "folder does not exist: /nonexistent/music";
    QTest::newRow("file") << QStringLiteral(CHANFUSE_GUI) << "not a folder: ";
    QTest::newRow("unknown option") << "--frobnicate"
                                    << "Unknown option 'frobnicate'.";
}

void LaunchTest::refusesWhatItCannotOpen() {
    QFETCH(QString, argument);
    QFETCH(QString, message);
    const Finished finished = runToEnd(QStringLiteral(CHANFUSE_GUI), {argument},
                                       QProcessEnvironment::systemEnvironment());
    QCOMPARE(finished.exitCode, 2);
    QVERIFY2(finished.err.contains(QStringLiteral("chanfuse: ") + message),
             qPrintable(finished.err));
    QVERIFY(finished.out.isEmpty());
}

CHANFUSE_GUI_TEST_MAIN(LaunchTest)
#include "tst_launch.moc"
