// SPDX-License-Identifier: GPL-3.0-or-later

#include "exec/AsyncSemaphore.h"

#include <algorithm>

AsyncSemaphore::AsyncSemaphore(qint64 count) : count(count) {}

bool AsyncSemaphore::waitWithCancellation(std::stop_token stop) {
    if (stop.stop_requested())
        return false;

    Waiter waiter;
    {
        const std::lock_guard lock(mutex);
        if (current < count) {
            ++current;
            return true;
        }
        waiter.id = nextWaiterID++;
        waiters.push_back(&waiter);
    }

    {
        // Registered after the append, so a stop that came in between runs the
        // withdrawal right here and still finds the entry. The callback takes
        // the mutex, so it is made and destroyed only while we do not hold it.
        const std::stop_callback onStop(stop, [this, id = waiter.id] { withdraw(id); });
        std::unique_lock lock(mutex);
        waiter.wake.wait(lock, [&waiter] { return waiter.resumed; });
    }

    if (!waiter.granted)
        return false;
    if (!stop.stop_requested())
        return true;
    // The permit arrived together with the stop. The caller will not use it,
    // and keeping it would starve everybody still queued, so pass it on.
    const std::lock_guard lock(mutex);
    releaseLocked();
    return false;
}

void AsyncSemaphore::signal() {
    const std::lock_guard lock(mutex);
    releaseLocked();
}

void AsyncSemaphore::releaseLocked() {
    if (waiters.empty()) {
        --current;
        return;
    }
    Waiter* oldest = waiters.front();
    waiters.pop_front();
    resumeLocked(oldest, true);
}

void AsyncSemaphore::resumeLocked(Waiter* waiter, bool granted) {
    waiter->granted = granted;
    waiter->resumed = true;
    // Notified under the mutex: once it sees `resumed` the waiter may return
    // and its entry, condition variable included, is gone.
    waiter->wake.notify_one();
}

void AsyncSemaphore::withdraw(quint64 id) {
    const std::lock_guard lock(mutex);
    const auto entry = std::find_if(waiters.begin(), waiters.end(),
                                    [id](const Waiter* waiter) { return waiter->id == id; });
    if (entry == waiters.end())
        return;
    Waiter* withdrawn = *entry;
    waiters.erase(entry);
    resumeLocked(withdrawn, false);
}
