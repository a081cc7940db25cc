#include "exec/AsyncSemaphore.h"

#include "Processes.h"
#include "TestMain.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>
#include <unistd.h>
#include <vector>

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

} // namespace

class AsyncSemaphoreTest : public QObject {
    Q_OBJECT

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
};

CHANFUSE_TEST_MAIN(AsyncSemaphoreTest)
#include "tst_asyncsemaphore.moc"
