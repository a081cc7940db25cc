#include "TestMain.h"

#include "Processes.h"
#include "exec/ChildProcess.h"

#include <QTemporaryFile>

#include <csignal>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

namespace {

QString sh() {
    return QStringLiteral("/bin/sh");
}

} // namespace

class ChildProcessTest : public QObject {
    Q_OBJECT

private slots:
    // Standard input is the null device, and arguments reach the program
    // untouched by any shell.
    void runsTheProgramItself_data() {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("output");
        const QString tricky = QStringLiteral("it's \"quoted\" $HOME; rm -rf / *.wav — Ça");
        QTest::newRow("null input") << "/bin/cat" << QStringList() << QString();
        QTest::newRow("no shell") << "/usr/bin/printf" << QStringList{"%s", tricky} << tricky;
    }

    void runsTheProgramItself() {
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);
        QFETCH(QString, output);
        ChildProcess child;
        QVERIFY(!child.start(program, arguments, ChildProcess::Output::pipe(),
                             ChildProcess::Output::nullDevice()));
        QCOMPARE(QString::fromUtf8(child.readAllStandardOutput()), output);
        QCOMPARE(child.waitForExit(), 0);
    }

    void bothPipesAreDrainedAtOnce() {
        // 4 MB on each stream: reading one to its end first would deadlock.
        ChildProcess chatty;
        QVERIFY(
            !chatty.start(sh(),
                          {QStringLiteral("-c"), QStringLiteral("head -c 4000000 /dev/zero >&2 & "
                                                                "head -c 4000000 /dev/zero; wait")},
                          ChildProcess::Output::pipe(), ChildProcess::Output::pipe()));
        QByteArray errors;
        const QByteArray output = chatty.readAllStandardOutput(&errors);
        QCOMPARE(output.size(), 4000000);
        QCOMPARE(errors.size(), 4000000);
        QCOMPARE(chatty.waitForExit(), 0);
    }

    void onlyTheThreeStandardStreamsAreInherited() {
        // A descriptor opened without close-on-exec, as foreign code may do.
        const int stray = ::open("/dev/null", O_RDONLY);
        QVERIFY(stray > 2);
        ChildProcess lister;
        QVERIFY(!lister.start(QStringLiteral("/bin/ls"), {QStringLiteral("/proc/self/fd")},
                              ChildProcess::Output::pipe(), ChildProcess::Output::nullDevice()));
        const QList<QByteArray> open = lister.readAllStandardOutput().trimmed().split('\n');
        lister.waitForExit();
        ::close(stray);
        // 0, 1, 2 and the descriptor ls itself uses to read the folder.
        QVERIFY2(!open.contains(QByteArray::number(stray)), open.join(' ').constData());
        QVERIFY(open.size() <= 4);
    }

    void stderrCanGoToAFile() {
        QTemporaryFile log;
        QVERIFY(log.open());
        ChildProcess child;
        QVERIFY(!child.start(sh(), {QStringLiteral("-c"), QStringLiteral("echo oops >&2; exit 3")},
                             ChildProcess::Output::nullDevice(),
                             ChildProcess::Output::file(log.handle())));
        QCOMPARE(child.waitForExit(), 3);
        // The child shared our file offset; read from the start.
        QVERIFY(log.seek(0));
        QCOMPARE(log.readAll(), QByteArray("oops\n"));
    }

    void startFailureIsReportedWithAMessage() {
        ChildProcess missing;
        const std::optional<QString> failure =
            missing.start(QStringLiteral("/nonexistent/ffmpeg"), {}, ChildProcess::Output::pipe(),
                          ChildProcess::Output::pipe());
        QVERIFY(failure);
        QVERIFY2(failure->contains(QStringLiteral("/nonexistent/ffmpeg")), qPrintable(*failure));
        QVERIFY(!missing.isRunning());
    }

    void signalsEndTheChildWithANonZeroStatus() {
        ChildProcess sleeper;
        QVERIFY(!sleeper.start(QStringLiteral("/bin/sleep"), {QStringLiteral("30")},
                               ChildProcess::Output::nullDevice(),
                               ChildProcess::Output::nullDevice()));
        QVERIFY(sleeper.isRunning());
        QVERIFY(processExists(sleeper.pid()));
        sleeper.terminate();
        QCOMPARE(sleeper.waitForExit(), SIGTERM);
        QVERIFY(!sleeper.isRunning());
    }

    void aChildOutlivesTheThreadThatAskedForIt() {
        // A child dies with its parent; the worker thread that starts it may
        // end long before the child does, and must not take it along.
        ChildProcess child;
        std::optional<QString> failure;
        std::thread([&] {
            failure =
                child.start(sh(), {QStringLiteral("-c"), QStringLiteral("sleep 0.3; exit 7")},
                            ChildProcess::Output::nullDevice(), ChildProcess::Output::nullDevice());
        }).join();
        QCOMPARE(failure, std::nullopt);
        QCOMPARE(child.waitForExit(), 7);
    }

    void destroyingARunningChildNeverBlocksAndStillReapsIt() {
        pid_t pid = -1;
        {
            ChildProcess stubborn;
            QVERIFY(!stubborn.start(
                sh(), {QStringLiteral("-c"), QStringLiteral("trap '' TERM; while :; do :; done")},
                ChildProcess::Output::nullDevice(), ChildProcess::Output::nullDevice()));
            pid = stubborn.pid();
            stubborn.terminate();
        }
        QVERIFY(processExists(pid));
        ::kill(pid, SIGKILL);
        // Reaped by the destructor's helper once it dies: no zombie remains.
        QTRY_VERIFY_WITH_TIMEOUT(!processExists(pid), 5000);
        QVERIFY(TestSupport::liveChildren().isEmpty());
    }
};

CHANFUSE_TEST_MAIN(ChildProcessTest)
#include "tst_childprocess.moc"
