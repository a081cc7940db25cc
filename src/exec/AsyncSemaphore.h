// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QtGlobal>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <stop_token>

// A counting semaphore for worker threads with first-in-first-out waiters. A
// waiter whose stop is requested leaves the queue at once and gets no permit,
// so stopping a scan drains its queued analyses quickly. "Async" though it
// blocks: what std::counting_semaphore lacks is that withdrawal on a stop,
// and the first-come order.
class AsyncSemaphore {
public:
    explicit AsyncSemaphore(qint64 count);

    // Blocks the calling worker until it holds a permit (true; it must call
    // signal() later) or `stop` is requested (false; it holds nothing).
    bool waitWithCancellation(std::stop_token stop);

    // Releases a permit, handing it straight to the oldest waiter if any.
    void signal();

private:
    // One parked caller; it lives on that caller's stack while it waits.
    struct Waiter {
        quint64 id = 0;
        bool resumed = false;
        bool granted = false; // resumed with a permit, not by its stop
        std::condition_variable wake;
    };

    // Both expect the mutex to be held.
    void releaseLocked();
    static void resumeLocked(Waiter* waiter, bool granted);

    void withdraw(quint64 id);

    const qint64 count;
    qint64 current = 0;
    std::deque<Waiter*> waiters;
    quint64 nextWaiterID = 0;
    std::mutex mutex;
};
