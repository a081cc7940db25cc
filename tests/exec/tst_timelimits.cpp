#include "TestMain.h"

#include "exec/TimeLimits.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QThread>

#include <atomic>
#include <stdexcept>
#include <thread>

using namespace Qt::StringLiterals;

using namespace std::chrono_literals;

namespace {

// Runs until it is asked to stop, then notes that it ended.
void untilStopped(std::stop_token stop, std::atomic_bool& ended) {
    std::mutex lock;
    std::condition_variable_any never;
    std::unique_lock guard(lock);
    never.wait(guard, stop, [] { return false; });
    ended = true;
}

enum class Limit { hard, tool, throwing };
enum class Outcome { value, failure, timeout, cancelled };

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

class TimeLimitsTest : public QObject {
    Q_OBJECT

private slots:
    // The first of the operation, the limit and the caller's stop decides.
    // A hard limit abandons the operation and a tool limit stops it, both
    // returning at once; a throwing one stops it and awaits its end.
    void theFirstOutcomeDecides_data() {
        QTest::addColumn<Limit>("limit");
        QTest::addColumn<double>("seconds");
        QTest::addColumn<int>("runsMs"); // -1: until stopped
        QTest::addColumn<bool>("fails");
        QTest::addColumn<int>("stopAtMs"); // -1: never; 0: before the call
        QTest::addColumn<Outcome>("outcome");
        QTest::addColumn<int>("fromMs");
        QTest::addColumn<int>("toMs");
        const char* names[] = {"hard", "tool", "throwing"};
        for (Limit limit : {Limit::hard, Limit::tool, Limit::throwing}) {
            const char* kind = names[int(limit)];
            QTest::addRow("%s: value before the limit", kind)
                << limit << 10.0 << 300 << false << -1 << Outcome::value << 300 << 3000;
            QTest::addRow("%s: failure passes through", kind)
                << limit << 10.0 << 0 << true << -1 << Outcome::failure << 0 << 3000;
            QTest::addRow("%s: overrun", kind)
                << limit << 0.3 << -1 << false << -1 << Outcome::timeout << 300 << 3000;
            QTest::addRow("%s: zero limit", kind)
                << limit << 0.0 << -1 << false << -1 << Outcome::timeout << 0 << 3000;
            QTest::addRow("%s: caller stops", kind)
                << limit << 30.0 << -1 << false << 200 << Outcome::cancelled << 200 << 3000;
            QTest::addRow("%s: caller stopped already", kind)
                << limit << 30.0 << -1 << false << 0 << Outcome::cancelled << 0 << 3000;
            const bool awaits = limit == Limit::throwing;
            QTest::addRow("%s: overrun ignoring its stop", kind)
                << limit << 0.1 << 800 << false << -1 << Outcome::timeout << (awaits ? 800 : 100)
                << (awaits ? 5000 : 700);
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
        QFETCH(int, toMs);
        auto ended = std::make_shared<std::atomic_bool>(false);
        const auto operation = [=](std::stop_token stop) {
            if (runsMs < 0)
                untilStopped(stop, *ended);
            std::this_thread::sleep_for(std::chrono::milliseconds(qMax(runsMs, 0)));
            *ended = true;
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
            if (limit == Limit::throwing)
                return withThrowingTimeout(seconds, operation, stop);
            // Abandoned, it runs on until the test ends it.
            const auto untilTestEnd = [=, end = testEnd.get_token()] { return operation(end); };
            return withHardTimeout(scanOpQueue(0), seconds, untilTestEnd, stop);
        });
        QCOMPARE(got, outcome);
        QVERIFY2(waited >= fromMs && waited < toMs, qPrintable(QString::number(waited)));
        if (limit == Limit::throwing)
            QVERIFY2(ended->load(), "returned while the operation was still running");
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
        QVERIFY(clock.elapsed() < 1400);
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

    // Scans take the scan queues in turn, so one hung file holds up only a share.
    void scanQueuesTakeTurns() {
        const int first = scanQueue().label().back().digitValue();
        for (int i = 1; i <= 8; ++i)
            QCOMPARE(scanQueue().label(), u"sonfold.scanop.%1"_s.arg((first + i) % 4));
    }

    void quittingDoesNotWaitForAbandonedWork() {
        QProcess process;
        QElapsedTimer clock;
        clock.start();
        process.start(QStringLiteral(ABANDON_AND_QUIT));
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitCode(), 0);
        QCOMPARE(process.readAllStandardOutput().trimmed(), QByteArray("Operation timed out"));
        QVERIFY2(clock.elapsed() < 5000, "quitting waited for the abandoned operation");
    }
};

CHANFUSE_TEST_MAIN(TimeLimitsTest)
#include "tst_timelimits.moc"
