#include "exec/AsyncSemaphore.h"

#include "TestMain.h"

#include <QFile>

#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int deadlineMs = 5000;

// One caller of waitWithCancellation() on a thread of its own, with its own
// stop source. Destroying it stops the wait, so a failed test never leaves a
// thread parked for ever.
class Caller {
public:
    explicit Caller(AsyncSemaphore& semaphore) {
        thread = std::thread([this, &semaphore] {
            threadID = ::gettid();
            outcome = semaphore.waitWithCancellation(stop.get_token()) ? 1 : 0;
        });
    }
    ~Caller() {
        stop.request_stop();
        thread.join();
    }

    bool waiting() const { return outcome == -1; }
    bool gotPermit() const { return outcome == 1; }
    bool gotNothing() const { return outcome == 0; }

    // Asleep in the kernel while its wait has not returned: it is in the queue.
    bool parked() const {
        if (!waiting() || threadID == 0)
            return false;
        QFile stat(QStringLiteral("/proc/self/task/%1/stat").arg(threadID.load()));
        if (!stat.open(QIODevice::ReadOnly))
            return false;
        const QByteArray line = stat.readAll();
        return line.mid(line.lastIndexOf(')') + 2).startsWith('S') && waiting();
    }

    std::stop_source stop;

private:
    std::atomic<pid_t> threadID = 0;
    std::atomic_int outcome = -1;
    std::thread thread;
};

using Callers = std::vector<std::unique_ptr<Caller>>;

std::unique_ptr<Caller> parkedCaller(AsyncSemaphore& semaphore) {
    auto caller = std::make_unique<Caller>(semaphore);
    if (!QTest::qWaitFor([&caller] { return caller->parked(); }, deadlineMs))
        qFatal("a caller that should wait did not park");
    return caller;
}

bool returns(const Caller& caller) {
    return QTest::qWaitFor([&caller] { return !caller.waiting(); }, deadlineMs);
}

// True when a fresh caller gets a permit without anybody signalling.
bool permitFree(AsyncSemaphore& semaphore) {
    Caller caller(semaphore);
    return returns(caller) && caller.gotPermit();
}

} // namespace

class AsyncSemaphoreTest : public QObject {
    Q_OBJECT

private slots:
    void permitsUpToCountThenHandsOver() {
        AsyncSemaphore semaphore(2);
        Caller first(semaphore), second(semaphore);
        QVERIFY(returns(first) && returns(second));
        QVERIFY(first.gotPermit() && second.gotPermit());

        auto third = parkedCaller(semaphore);
        semaphore.signal();
        QVERIFY(returns(*third));
        QVERIFY(third->gotPermit());
        // The released permit went to the third caller, so all are held again.
        auto fourth = parkedCaller(semaphore);
        QVERIFY(fourth->waiting());
    }

    void servesWaitersInArrivalOrder() {
        AsyncSemaphore semaphore(1);
        QVERIFY(semaphore.waitWithCancellation({}));
        Callers queue;
        for (int i = 0; i < 8; ++i)
            queue.push_back(parkedCaller(semaphore));

        for (std::size_t served = 0; served < queue.size(); ++served) {
            semaphore.signal();
            QVERIFY2(returns(*queue[served]), qPrintable(QString::number(served)));
            QVERIFY(queue[served]->gotPermit());
            for (std::size_t later = served + 1; later < queue.size(); ++later)
                QVERIFY(queue[later]->waiting());
        }
    }

    void stopWithdrawsExactlyThatWaiter() {
        AsyncSemaphore semaphore(1);
        QVERIFY(semaphore.waitWithCancellation({}));
        auto a = parkedCaller(semaphore);
        auto b = parkedCaller(semaphore);
        auto c = parkedCaller(semaphore);

        b->stop.request_stop();
        QVERIFY(returns(*b));
        QVERIFY(b->gotNothing());
        QVERIFY(a->waiting() && c->waiting());

        semaphore.signal();
        QVERIFY(returns(*a));
        QVERIFY(a->gotPermit());
        QVERIFY(c->waiting());
        semaphore.signal();
        QVERIFY(returns(*c));
        QVERIFY(c->gotPermit());

        // Nobody left in the queue: this release frees the permit.
        semaphore.signal();
        QVERIFY(permitFree(semaphore));
    }

    void stopBeforeWaitingTouchesNothing() {
        AsyncSemaphore semaphore(1);
        std::stop_source stopped;
        stopped.request_stop();

        QVERIFY(!semaphore.waitWithCancellation(stopped.get_token()));
        // No permit was taken...
        QVERIFY(semaphore.waitWithCancellation({}));
        // ...and none is queued for: the next release frees the permit.
        QVERIFY(!semaphore.waitWithCancellation(stopped.get_token()));
        semaphore.signal();
        QVERIFY(permitFree(semaphore));
    }

    void countZeroParksEveryCallerUntilStopped() {
        AsyncSemaphore semaphore(0);
        Callers callers;
        for (int i = 0; i < 3; ++i)
            callers.push_back(parkedCaller(semaphore));
        for (auto& caller : callers) {
            QVERIFY(caller->waiting());
            caller->stop.request_stop();
            QVERIFY(returns(*caller));
            QVERIFY(caller->gotNothing());
        }
    }

    void neverMoreHoldersThanCount_data() {
        QTest::addColumn<int>("count");
        QTest::newRow("one") << 1;
        QTest::newRow("three") << 3;
    }

    void neverMoreHoldersThanCount() {
        QFETCH(int, count);
        constexpr int threads = 16;
        constexpr int rounds = 300;
        AsyncSemaphore semaphore(count);
        std::atomic_int holders = 0, most = 0, acquired = 0;
        {
            std::vector<std::jthread> workers;
            for (int t = 0; t < threads; ++t) {
                workers.emplace_back([&] {
                    for (int round = 0; round < rounds; ++round) {
                        if (!semaphore.waitWithCancellation({}))
                            return;
                        const int now = ++holders;
                        int seen = most;
                        while (now > seen && !most.compare_exchange_weak(seen, now)) {
                        }
                        ++acquired;
                        std::this_thread::yield();
                        --holders;
                        semaphore.signal();
                    }
                });
            }
        }
        QCOMPARE(acquired.load(), threads * rounds);
        QVERIFY2(most <= count, qPrintable(QString::number(most)));
        QVERIFY(permitFree(semaphore));
    }

    // A stop racing a release: whether the waiter ends with the permit or
    // without it, the permit must never get lost.
    void permitSurvivesStopRacingRelease() {
        AsyncSemaphore semaphore(1);
        for (int round = 0; round < 60; ++round) {
            QVERIFY(semaphore.waitWithCancellation({}));
            auto waiter = parkedCaller(semaphore);
            std::atomic_bool go = false;
            std::thread stopper([&] {
                while (!go) {
                }
                waiter->stop.request_stop();
            });
            go = true;
            semaphore.signal();
            stopper.join();
            QVERIFY(returns(*waiter));
            if (waiter->gotPermit())
                semaphore.signal();
            QVERIFY2(permitFree(semaphore), qPrintable(QString::number(round)));
            semaphore.signal();
        }
    }
};

CHANFUSE_TEST_MAIN(AsyncSemaphoreTest)
#include "tst_asyncsemaphore.moc"
