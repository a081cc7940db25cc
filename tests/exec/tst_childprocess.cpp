#include "TestMain.h"

#include "Processes.h"
#include "exec/ChildProcess.h"

#include <QTemporaryFile>

#include <csignal>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

using namespace Qt::StringLiterals;
using Output = ChildProcess::Output;

namespace {

std::optional<QString> startShell(ChildProcess& child, const QString& script) {
    return child.start(u"/bin/sh"_s, {u"-c"_s, script}, Output::nullDevice(), Output::nullDevice());
}

} // namespace

class ChildProcessTest : public QObject {
    Q_OBJECT

private slots:
    // Standard input is the null device, arguments reach the program
    // untouched by any shell, and errors can go to a file. Each starts on a
    // thread that ends at once: a child dies with its parent, and must not
    // die with the thread that asked for it.
    void runsTheProgramItself_data() {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("output");
        QTest::addColumn<QByteArray>("errors");
        QTest::addColumn<int>("status");
        const QString tricky = u"it's \"quoted\" $HOME; rm -rf / *.wav — Ça"_s;
        QTest::newRow("null input")
            << "/bin/cat" << QStringList() << QString() << QByteArray() << 0;
        QTest::newRow("no shell") << "/usr/bin/printf" << QStringList{"%s", tricky} << tricky
                                  << QByteArray() << 0;
        QTest::newRow("outlives its thread")
            << "/bin/sh" << QStringList{"-c", "sleep 0.3; echo oops >&2; exit 3"} << QString()
            << QByteArray("oops\n") << 3;
        QTest::newRow("killed by a signal") << "/bin/sh" << QStringList{"-c", "kill -TERM $$"}
                                            << QString() << QByteArray() << int(SIGTERM);
    }

    void runsTheProgramItself() {
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);
        QFETCH(QString, output);
        QFETCH(QByteArray, errors);
        QFETCH(int, status);
        QTemporaryFile log;
        QVERIFY(log.open());
        ChildProcess child;
        std::optional<QString> failure;
        std::thread([&] {
            failure = child.start(program, arguments, Output::pipe(), Output::file(log.handle()));
        }).join();
        QCOMPARE(failure, std::nullopt);
        QCOMPARE(QString::fromUtf8(child.readAllStandardOutput()), output);
        QCOMPARE(child.waitForExit(), status);
        QVERIFY(log.seek(0)); // the child shared our file offset
        QCOMPARE(log.readAll(), errors);
    }

    void bothPipesAreDrainedAtOnce() {
        // 4 MB on each stream: reading one to its end first would deadlock.
        ChildProcess chatty;
        QVERIFY(!chatty.start(
            u"/bin/sh"_s,
            {u"-c"_s, u"head -c 4000000 /dev/zero >&2 & head -c 4000000 /dev/zero; wait"_s},
            Output::pipe(), Output::pipe()));
        QByteArray errors;
        QCOMPARE(chatty.readAllStandardOutput(&errors).size(), 4000000);
        QCOMPARE(errors.size(), 4000000);
        QCOMPARE(chatty.waitForExit(), 0);
    }

    void onlyTheThreeStandardStreamsAreInherited() {
        // A descriptor opened without close-on-exec, as foreign code may do.
        const int stray = ::open("/dev/null", O_RDONLY);
        QVERIFY(stray > 2);
        ChildProcess lister;
        QVERIFY(!lister.start(u"/bin/ls"_s, {u"/proc/self/fd"_s}, Output::pipe(),
                              Output::nullDevice()));
        const QList<QByteArray> open = lister.readAllStandardOutput().trimmed().split('\n');
        lister.waitForExit();
        ::close(stray);
        // 0, 1, 2 and the descriptor ls itself uses to read the folder.
        QVERIFY2(!open.contains(QByteArray::number(stray)), open.join(' ').constData());
        QVERIFY(open.size() <= 4);
    }

    void startFailureIsReportedWithAMessage() {
        ChildProcess missing;
        const std::optional<QString> failure =
            missing.start(u"/nonexistent/ffmpeg"_s, {}, Output::pipe(), Output::pipe());
        QVERIFY2(failure && failure->contains(u"/nonexistent/ffmpeg"_s),
                 qPrintable(failure.value_or("")));
        QVERIFY(!missing.isRunning());
    }

    void destroyingARunningChildNeverBlocksAndStillReapsIt() {
        pid_t pid = -1;
        {
            ChildProcess stubborn;
            QVERIFY(!startShell(stubborn, u"trap '' TERM; while :; do :; done"_s));
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
