// SPDX-License-Identifier: GPL-3.0-or-later

// The process-level building blocks: the semaphore that bounds parallel
// scans, child processes, the search for ffmpeg, and the time limits (last,
// as they leave their queues busy).
#include "TestMain.h"

#include "Processes.h"
#include "TestFiles.h"
#include "exec/AsyncSemaphore.h"
#include "exec/ChildProcess.h"
#include "exec/Deadline.h"
#include "exec/FFmpegLocator.h"
#include "exec/TimeLimits.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTemporaryFile>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <memory>
#include <stdexcept>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using Output = ChildProcess::Output;

namespace {

constexpr int deadlineMs = 5000;

// One caller of waitWithCancellation() on a thread of its own, whose stop
// token it waits with: destroying it stops the wait, so a failed test never
// leaves a thread parked for ever.
struct Caller {
    explicit Caller(AsyncSemaphore& semaphore)
        : thread([this, &semaphore](std::stop_token stop) {
              threadID = ::gettid();
              outcome = semaphore.waitWithCancellation(stop) ? 'P' : 'N';
          }) {}

    bool waiting() const { return outcome == 'W'; }

    // Asleep in the kernel while its wait has not returned: it is in the queue.
    bool parked() const {
        return waiting() && threadID != 0 &&
               TestSupport::stateAndParent(threadID).value(0) == "S" && waiting();
    }

    std::atomic<pid_t> threadID = 0;
    std::atomic_char outcome = 'W'; // Permit, Nothing, or still Waiting
    std::jthread thread;            // last: it starts after the rest and ends first
};

// Parks or returns, whichever comes first.
std::unique_ptr<Caller> settledCaller(AsyncSemaphore& semaphore) {
    auto caller = std::make_unique<Caller>(semaphore);
    if (!QTest::qWaitFor([&caller] { return !caller->waiting() || caller->parked(); }, deadlineMs))
        qFatal("a caller neither parked nor returned");
    return caller;
}

bool returns(const Caller& caller) {
    return QTest::qWaitFor([&caller] { return !caller.waiting(); }, deadlineMs);
}

std::optional<QString> startShell(ChildProcess& child, const QString& script) {
    return child.start(u"/bin/sh"_s, {u"-c"_s, script}, Output::nullDevice(), Output::nullDevice());
}

// Runs until it is asked to stop, then notes that it ended.
void untilStopped(std::stop_token stop, std::atomic_bool& ended) {
    std::mutex lock;
    std::condition_variable_any never;
    std::unique_lock guard(lock);
    never.wait(guard, stop, [] { return false; });
    ended = true;
}

enum class Limit { hard, tool, deadline };
enum class Outcome { value, failure, timeout, cancelled };
// Whether the operation had ended when the caller got its outcome.
enum class Ended { yes, no, either };

// What a limit ended with, as an Outcome, and how long the caller waited.
template <class Call> std::pair<Outcome, qint64> outcomeOf(Call call) {
    QElapsedTimer clock;
    clock.start();
    Outcome outcome;
    try {
        outcome = call() == 42 ? Outcome::value : Outcome::failure;
    } catch (const TimeoutError&) {
        outcome = Outcome::timeout;
    } catch (const CancellationError&) {
        outcome = Outcome::cancelled;
    } catch (const std::runtime_error&) {
        outcome = Outcome::failure;
    }
    return {outcome, clock.elapsed()};
}

} // namespace

class ExecTest : public QObject {
    Q_OBJECT

    QTemporaryDir folder;

    QString executable(const QString& name, bool runnable = true) {
        const QString path = folder.filePath(name);
        QDir().mkpath(QFileInfo(path).path());
        TestFiles::writeFile(path, "#!/bin/sh\n");
        QFile::setPermissions(path, QFile::ReadOwner |
                                        (runnable ? QFile::ExeOwner : QFileDevice::Permissions()));
        return path;
    }

private slots:
    // Steps: "c" a new caller, which gets a permit or queues; "s" a release,
    // which wakes the oldest waiter if any; "xN" stops caller N; "t" a call
    // with its stop already requested. Then each caller's state: Permit,
    // Nothing, or still Waiting.
    void permitsGoFirstComeFirstServed_data() {
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("states");
        QTest::newRow("up to the count, then hand-over") << 2 << "c c c s c"
                                                         << "PPPW";
        QTest::newRow("arrival order") << 1 << "c c c c c s s"
                                       << "PPPWW";
        QTest::newRow("a stop withdraws just that waiter") << 1 << "c c c c x2 s s s c"
                                                           << "PPNPP";
        QTest::newRow("a stop before waiting takes and queues nothing") << 1 << "t c t s c"
                                                                        << "PP";
        QTest::newRow("count zero parks everybody") << 0 << "c c x0 x1"
                                                    << "NN";
    }

    void permitsGoFirstComeFirstServed() {
        QFETCH(int, count);
        QFETCH(QString, steps);
        QFETCH(QString, states);
        AsyncSemaphore semaphore(count);
        std::vector<std::unique_ptr<Caller>> callers;
        const auto waiting = [&callers] {
            return std::count_if(callers.begin(), callers.end(),
                                 [](const auto& caller) { return caller->waiting(); });
        };
        for (const QString& step : steps.split(u' ')) {
            if (step == u"c") {
                callers.push_back(settledCaller(semaphore));
            } else if (step == u"s") {
                const auto before = waiting();
                semaphore.signal();
                QVERIFY(QTest::qWaitFor([&] { return waiting() == qMax(before - 1, 0L); }));
            } else if (step == u"t") {
                std::stop_source stopped;
                stopped.request_stop();
                QVERIFY(!semaphore.waitWithCancellation(stopped.get_token()));
            } else {
                Caller& stopped = *callers.at(std::size_t(step.mid(1).toInt()));
                stopped.thread.request_stop();
                QVERIFY(returns(stopped));
            }
        }
        QString got;
        for (const auto& caller : callers)
            got += caller->outcome.load();
        QCOMPARE(got, states);
    }

    // A stop racing a release: whether the waiter ends with the permit or
    // without it, the permit must never get lost.
    void permitSurvivesStopRacingRelease() {
        AsyncSemaphore semaphore(1);
        for (int round = 0; round < 60; ++round) {
            QVERIFY(semaphore.waitWithCancellation({}));
            auto waiter = settledCaller(semaphore);
            QVERIFY(waiter->waiting());
            std::atomic_bool go = false;
            std::thread stopper([&] {
                while (!go) {
                }
                waiter->thread.request_stop();
            });
            go = true;
            semaphore.signal();
            stopper.join();
            QVERIFY(returns(*waiter));
            if (waiter->outcome == 'P')
                semaphore.signal();
            // The permit is free: a fresh caller gets it without anybody signalling.
            Caller fresh(semaphore);
            QVERIFY2(returns(fresh) && fresh.outcome == 'P', qPrintable(QString::number(round)));
            semaphore.signal();
        }
    }

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

    void destroyingARunningChildNeverBlocksAndStillReapsIt() {
        pid_t pid = -1;
        {
            ChildProcess stubborn;
            QVERIFY(!startShell(stubborn, u"trap '' TERM; while :; do :; done"_s));
            pid = stubborn.pid();
        }
        QVERIFY(TestSupport::isLive(pid));
        ::kill(pid, SIGKILL);
        // Reaped by the destructor's helper once it dies: no zombie remains.
        QTRY_VERIFY_WITH_TIMEOUT(!TestSupport::exists(pid), 5000);
    }

    void cleanup() { FFmpegLocator::restoreFixedCandidates(); }

    // The first executable fixed location wins.
    void firstExecutableCandidateWins() {
        const QString plain = executable(u"a/ffmpeg"_s, false);
        const QString first = executable(u"b/ffmpeg"_s);
        const QString second = executable(u"c/ffmpeg"_s);
        FFmpegLocator::setFixedCandidates(
            {plain, folder.filePath(u"nothing/ffmpeg"_s), first, second});
        QCOMPARE(FFmpegLocator::ffmpegPath(), first);
    }

    void lookupFollowsPath() {
        const QByteArray savedPath = qgetenv("PATH");
        const QString custom = executable(u"custom bin/ffmpeg"_s);
        FFmpegLocator::setFixedCandidates({});

        qputenv("PATH", QFile::encodeName(QFileInfo(custom).path()) + ":/usr/bin:/bin");
        QCOMPARE(FFmpegLocator::ffmpegPath(), custom);
        QCOMPARE(FFmpegLocator::ffprobePath(custom), folder.filePath(u"custom bin/ffprobe"_s));

        qputenv("PATH", "/nonexistent");
        QCOMPARE(FFmpegLocator::ffmpegPath(), std::nullopt);
        qputenv("PATH", savedPath);
    }

    // The first of the operation, the limit and the caller's stop decides.
    // A hard limit abandons the operation and a tool limit stops it, both
    // returning at once; a deadline stops it and the caller awaits its end.
    // Checked by order of events, not by time, so a loaded machine passes:
    // never before the earliest moment the outcome can come, always before
    // a limit that did not decide, and before or after the operation's end.
    void theFirstOutcomeDecides_data() {
        QTest::addColumn<Limit>("limit");
        QTest::addColumn<double>("seconds");
        QTest::addColumn<int>("runsMs"); // -1: until stopped
        QTest::addColumn<bool>("fails");
        QTest::addColumn<int>("stopAtMs"); // -1: never; 0: before the call
        QTest::addColumn<Outcome>("outcome");
        QTest::addColumn<int>("fromMs");
        QTest::addColumn<Ended>("ended");
        const char* names[] = {"hard", "tool", "deadline"};
        for (Limit limit : {Limit::hard, Limit::tool, Limit::deadline}) {
            const char* kind = names[int(limit)];
            const Ended stopped = limit == Limit::hard   ? Ended::no
                                  : limit == Limit::tool ? Ended::either
                                                         : Ended::yes;
            const Ended ignoring = limit == Limit::deadline ? Ended::yes : Ended::no;
            QTest::addRow("%s: value before the limit", kind)
                << limit << 10.0 << 300 << false << -1 << Outcome::value << 300 << Ended::yes;
            QTest::addRow("%s: failure passes through", kind)
                << limit << 10.0 << 0 << true << -1 << Outcome::failure << 0 << Ended::yes;
            QTest::addRow("%s: overrun", kind)
                << limit << 0.3 << -1 << false << -1 << Outcome::timeout << 300 << stopped;
            QTest::addRow("%s: zero limit", kind)
                << limit << 0.0 << -1 << false << -1 << Outcome::timeout << 0 << stopped;
            QTest::addRow("%s: caller stops", kind)
                << limit << 30.0 << -1 << false << 200 << Outcome::cancelled << 200 << stopped;
            QTest::addRow("%s: caller stopped already", kind)
                << limit << 30.0 << -1 << false << 0 << Outcome::cancelled << 0 << stopped;
            QTest::addRow("%s: overrun ignoring its stop", kind)
                << limit << 0.1 << 800 << false << -1 << Outcome::timeout
                << (limit == Limit::deadline ? 800 : 100) << ignoring;
        }
    }

    void theFirstOutcomeDecides() {
        QFETCH(Limit, limit);
        QFETCH(double, seconds);
        QFETCH(int, runsMs);
        QFETCH(bool, fails);
        QFETCH(int, stopAtMs);
        QFETCH(Outcome, outcome);
        QFETCH(int, fromMs);
        QFETCH(Ended, ended);
        auto hasEnded = std::make_shared<std::atomic_bool>(false);
        const auto operation = [=](std::stop_token stop) {
            if (runsMs < 0)
                untilStopped(stop, *hasEnded);
            std::this_thread::sleep_for(std::chrono::milliseconds(qMax(runsMs, 0)));
            *hasEnded = true;
            if (fails)
                throw std::runtime_error("disk gone");
            return 42;
        };
        std::stop_source caller, testEnd;
        if (stopAtMs == 0)
            caller.request_stop();
        std::jthread stopper([&caller, stopAtMs] {
            if (stopAtMs > 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(stopAtMs));
                caller.request_stop();
            }
        });
        const std::stop_token stop = caller.get_token();
        const auto [got, waited] = outcomeOf([&] {
            if (limit == Limit::tool)
                return withToolTimeout(scanOpQueue(0), seconds, operation, stop);
            if (limit == Limit::deadline) {
                const Deadline deadline(seconds, stop);
                const int value = operation(deadline.token());
                if (deadline.reason() == Deadline::Reason::passed)
                    throw TimeoutError();
                if (deadline.reason() == Deadline::Reason::callerStopped)
                    throw CancellationError();
                return value;
            }
            // Abandoned, it runs on until the test ends it.
            const auto untilTestEnd = [=, end = testEnd.get_token()] { return operation(end); };
            return withHardTimeout(scanOpQueue(0), seconds, untilTestEnd, stop);
        });
        const bool endedFirst = hasEnded->load();
        QCOMPARE(got, outcome);
        QVERIFY2(waited >= fromMs, qPrintable(QString::number(waited)));
        if (outcome != Outcome::timeout)
            QVERIFY2(waited < seconds * 1000, "the limit passed first");
        if (ended != Ended::either)
            QCOMPARE(endedFirst, ended == Ended::yes);
        testEnd.request_stop();
        withHardTimeout(scanOpQueue(0), 5, [] {});
    }

    // An abandoned file operation keeps its queue busy: what comes next runs
    // after it, and waiting behind it counts against the next limit.
    void anAbandonedOperationKeepsItsQueue() {
        QElapsedTimer clock;
        clock.start();
        auto firstEnded = std::make_shared<std::atomic<qint64>>(-1);
        QVERIFY_THROWS_EXCEPTION(TimeoutError, withHardTimeout(scanOpQueue(1), 0.3, [=] {
                                     std::this_thread::sleep_for(1500ms);
                                     firstEnded->store(clock.elapsed());
                                 }));
        QVERIFY_THROWS_EXCEPTION(TimeoutError,
                                 withHardTimeout(scanOpQueue(1), 0.3, [] { return 0; }));
        QCOMPARE(firstEnded->load(), -1);
        const qint64 secondStarted =
            withHardTimeout(scanOpQueue(1), 10, [clock] { return clock.elapsed(); });
        QVERIFY(secondStarted >= firstEnded->load() && firstEnded->load() >= 1500);
    }

    // A tool's limit counts from its start, not from the wait for its queue.
    void aToolLimitCountsFromItsStart() {
        auto blockerRunning = std::make_shared<std::atomic_bool>(false);
        std::thread blocker([blockerRunning] {
            withHardTimeout(scanOpQueue(2), 10, [blockerRunning] {
                *blockerRunning = true;
                std::this_thread::sleep_for(1000ms);
            });
        });
        QVERIFY(QTest::qWaitFor([&] { return blockerRunning->load(); }, 5000));
        QCOMPARE(withToolTimeout(scanOpQueue(2), 0.5, [](std::stop_token) { return 7; }), 7);
        blocker.join();
    }

    void quittingDoesNotWaitForAbandonedWork() {
        // The abandoned operation would sleep for an hour.
        QProcess process;
        process.start(QStringLiteral(ABANDON_AND_QUIT));
        QVERIFY2(process.waitForFinished(10000), "quitting waited for the abandoned operation");
        QCOMPARE(process.exitCode(), 0);
        QCOMPARE(process.readAllStandardOutput().trimmed(), QByteArray("Operation timed out"));
    }
};

CHANFUSE_TEST_MAIN(ExecTest)
#include "tst_exec.moc"
