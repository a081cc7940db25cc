#include "TestMain.h"
#include "exec/ThrowingTimeout.h"

#include <QElapsedTimer>
#include <QTest>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

using namespace std::chrono_literals;

namespace {

// An operation that runs until it is asked to stop, and says when it ended.
struct StoppableWork {
    std::atomic_bool* ended;
    void operator()(std::stop_token stop) const {
        std::mutex lock;
        std::condition_variable_any never;
        std::unique_lock guard(lock);
        never.wait(guard, stop, [] { return false; });
        ended->store(true);
    }
};

} // namespace

class ThrowingTimeoutTest : public QObject {
    Q_OBJECT

private slots:
    void valueBeforeTheLimitReturnsWithoutWaitingForTheTimer() {
        QElapsedTimer clock;
        clock.start();
        const int value = withThrowingTimeout(5.0, [](std::stop_token) {
            std::this_thread::sleep_for(50ms);
            return 42;
        });
        QCOMPARE(value, 42);
        QVERIFY2(clock.elapsed() < 4000, "the timer was awaited to its end");
    }

    void operationErrorPassesThroughUnchanged() {
        QVERIFY_THROWS_EXCEPTION(std::invalid_argument,
                                 withThrowingTimeout(5.0, [](std::stop_token) -> int {
                                     throw std::invalid_argument("E");
                                 }));
    }

    void timeoutStopsTheOperationAndAwaitsIt() {
        std::atomic_bool ended = false;
        QVERIFY_THROWS_EXCEPTION(TimeoutError, withThrowingTimeout(0.2, StoppableWork{&ended}));
        QVERIFY2(ended.load(), "returned while the operation was still running");
    }

    void operationIgnoringTheStopHoldsTheCallerUntilItEnds() {
        std::atomic_bool ended = false;
        QElapsedTimer clock;
        clock.start();
        QVERIFY_THROWS_EXCEPTION(TimeoutError, withThrowingTimeout(0.1, [&ended](std::stop_token) {
                                     std::this_thread::sleep_for(800ms);
                                     ended.store(true);
                                 }));
        QVERIFY(ended.load());
        QVERIFY(clock.elapsed() >= 800);
    }

    void zeroLimitTimesOutUnlessTheOperationIsDone() {
        std::atomic_bool ended = false;
        QVERIFY_THROWS_EXCEPTION(TimeoutError, withThrowingTimeout(0.0, StoppableWork{&ended}));
        QVERIFY(ended.load());
    }

    void callerStopEndsTheRaceWithCancellation() {
        std::stop_source caller;
        std::atomic_bool ended = false;
        std::jthread stopper([&caller] {
            std::this_thread::sleep_for(100ms);
            caller.request_stop();
        });
        QElapsedTimer clock;
        clock.start();
        QVERIFY_THROWS_EXCEPTION(CancellationError, withThrowingTimeout(30.0, StoppableWork{&ended},
                                                                        caller.get_token()));
        QVERIFY(ended.load());
        QVERIFY2(clock.elapsed() < 10000, "the stop did not end the wait");
    }

    void callerAlreadyStoppedGetsCancellationAtOnce() {
        std::stop_source caller;
        caller.request_stop();
        std::atomic_bool ended = false;
        QVERIFY_THROWS_EXCEPTION(CancellationError, withThrowingTimeout(30.0, StoppableWork{&ended},
                                                                        caller.get_token()));
        QVERIFY(ended.load());
    }

    void cancellationFlagCarriesAStopAcrossThreads() {
        CancellationFlag flag;
        std::stop_source source;
        const std::stop_callback onStop(source.get_token(), [&flag] { flag.set(); });
        QVERIFY(!flag.isSet());
        std::jthread([&source] { source.request_stop(); }).join();
        QVERIFY(flag.isSet());
        QVERIFY(flag.isSet());
    }
};

CHANFUSE_TEST_MAIN(ThrowingTimeoutTest)
#include "tst_throwingtimeout.moc"
