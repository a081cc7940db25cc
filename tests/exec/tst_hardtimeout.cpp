#include "TestMain.h"

#include "exec/HardTimeout.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QThread>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>

using namespace std::chrono_literals;

namespace {

// Milliseconds on one clock shared by the operations and the test.
qint64 now(const QElapsedTimer& clock) {
    return clock.elapsed();
}

} // namespace

class HardTimeoutTest : public QObject {
    Q_OBJECT

private slots:
    void valueArrivesAsSoonAsTheOperationReturns() {
        QElapsedTimer clock;
        clock.start();
        const int value = withHardTimeout(scanOpQueue(0), 10, [] {
            std::this_thread::sleep_for(300ms);
            return 42;
        });
        QCOMPARE(value, 42);
        QVERIFY(now(clock) >= 300);
        QVERIFY2(now(clock) < 2000, "the caller waited for the timer, not the operation");
    }

    void overrunIsAbandonedAndKeepsItsQueueBusy() {
        QElapsedTimer clock;
        clock.start();
        auto firstEnded = std::make_shared<std::atomic<qint64>>(-1);
        auto secondStarted = std::make_shared<std::atomic<qint64>>(-1);
        auto lateValueSeen = std::make_shared<std::atomic_bool>(false);

        QVERIFY_THROWS_EXCEPTION(TimeoutError, withHardTimeout(scanOpQueue(1), 0.5, [=] {
                                     std::this_thread::sleep_for(2s);
                                     firstEnded->store(clock.elapsed());
                                     return 1;
                                 }));
        const qint64 timedOutAt = now(clock);
        QVERIFY2(timedOutAt >= 500 && timedOutAt < 1500, qPrintable(QString::number(timedOutAt)));

        const int second = withHardTimeout(scanOpQueue(1), 10, [=] {
            secondStarted->store(clock.elapsed());
            lateValueSeen->store(firstEnded->load() < 0);
            return 2;
        });
        QCOMPARE(second, 2);
        QVERIFY2(secondStarted->load() >= firstEnded->load() && firstEnded->load() >= 2000,
                 "the queue ran something else while the abandoned work was still going");
        QVERIFY(!lateValueSeen->load());
    }

    void waitingBehindOtherWorkCountsAgainstTheLimit() {
        QElapsedTimer clock;
        clock.start();
        auto blockerRunning = std::make_shared<std::atomic_bool>(false);
        std::thread blocker([blockerRunning] {
            withHardTimeout(scanOpQueue(2), 10, [blockerRunning] {
                blockerRunning->store(true);
                std::this_thread::sleep_for(1500ms);
            });
        });
        QVERIFY(QTest::qWaitFor([&] { return blockerRunning->load(); }, 5000));
        QVERIFY_THROWS_EXCEPTION(TimeoutError,
                                 withHardTimeout(scanOpQueue(2), 0.3, [] { return 0; }));
        QVERIFY(now(clock) < 1400);
        blocker.join();
    }

    // A tool's limit starts with the tool, and when it passes the tool is
    // stopped, so its queue is free for the next one straight away.
    void aToolLimitCountsFromTheStartAndStopsTheTool() {
        auto blockerRunning = std::make_shared<std::atomic_bool>(false);
        std::thread blocker([blockerRunning] {
            withToolTimeout(scanOpQueue(3), 10, [blockerRunning](std::stop_token) {
                blockerRunning->store(true);
                std::this_thread::sleep_for(1000ms);
            });
        });
        QVERIFY(QTest::qWaitFor([&] { return blockerRunning->load(); }, 5000));
        QCOMPARE(withToolTimeout(scanOpQueue(3), 0.5, [](std::stop_token) { return 7; }), 7);
        blocker.join();

        QElapsedTimer clock;
        clock.start();
        auto stoppedAt = std::make_shared<std::atomic<qint64>>(-1);
        QVERIFY_THROWS_EXCEPTION(TimeoutError,
                                 withToolTimeout(scanOpQueue(3), 0.3, [=](std::stop_token stop) {
                                     std::mutex lock;
                                     std::condition_variable_any never;
                                     std::unique_lock guard(lock);
                                     never.wait(guard, stop, [] { return false; });
                                     stoppedAt->store(clock.elapsed());
                                 }));
        withHardTimeout(scanOpQueue(3), 0.5, [] {});
        QVERIFY2(stoppedAt->load() >= 300 && now(clock) < 1000,
                 qPrintable(QString::number(now(clock))));
    }

    void operationErrorsPassThrough() {
        try {
            withHardTimeout(1, []() -> int { throw std::runtime_error("disk gone"); });
            QFAIL("no error");
        } catch (const TimeoutError&) {
            QFAIL("a failure was reported as a time-out");
        } catch (const std::runtime_error& error) {
            QCOMPARE(QString::fromUtf8(error.what()), QStringLiteral("disk gone"));
        }
        QCOMPARE(QString::fromUtf8(TimeoutError().what()), QStringLiteral("Operation timed out"));
    }

    void queuesRunOnThreadsNamedAfterThemAndRotate() {
        QCOMPARE(withHardTimeout(5, [] { return QThread::currentThread()->objectName(); }),
                 QStringLiteral("sonfold.fileop"));

        QStringList labels;
        for (int i = 0; i < 12; ++i)
            labels << scanQueue().label();
        const int first = labels.first().back().digitValue();
        for (int i = 0; i < 12; ++i)
            QCOMPARE(labels[i], QStringLiteral("sonfold.scanop.%1").arg((first + i) % 4));

        for (int i = 0; i < scanOpQueueCount; ++i) {
            const QString name = withHardTimeout(
                scanOpQueue(i), 5, [] { return QThread::currentThread()->objectName(); });
            QCOMPARE(name, scanOpQueue(i).label());
        }
    }

    void fileOperationsNeverOverlap() {
        auto running = std::make_shared<std::atomic_int>(0);
        auto overlapped = std::make_shared<std::atomic_bool>(false);
        auto operation = [running, overlapped] {
            if (running->fetch_add(1) != 0)
                overlapped->store(true);
            std::this_thread::sleep_for(20ms);
            running->fetch_sub(1);
        };
        std::vector<std::thread> callers;
        for (int i = 0; i < 8; ++i)
            callers.emplace_back([operation] { withHardTimeout(10, operation); });
        for (std::thread& caller : callers)
            caller.join();
        QVERIFY(!overlapped->load());
    }

    void quittingDoesNotWaitForAbandonedWork() {
        QProcess process;
        QElapsedTimer clock;
        clock.start();
        process.start(QStringLiteral(ABANDON_AND_QUIT));
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);
        QCOMPARE(process.readAllStandardOutput().trimmed(), QByteArray("Operation timed out"));
        QVERIFY2(clock.elapsed() < 5000, "quitting waited for the abandoned operation");
    }
};

CHANFUSE_TEST_MAIN(HardTimeoutTest)
#include "tst_hardtimeout.moc"
