#pragma once

#include <QtGlobal>

#include <stop_token>

// A counting semaphore for worker threads with first-in-first-out waiters. A
// waiter whose stop is requested leaves the queue at once and gets no permit,
// so stopping a scan drains its queued analyses quickly.
class AsyncSemaphore {
public:
    explicit AsyncSemaphore(qint64 count);

    // Blocks the calling worker until it holds a permit (true; it must call
    // signal() later) or `stop` is requested (false; it holds nothing).
    bool waitWithCancellation(std::stop_token stop);

    // Releases a permit, handing it straight to the oldest waiter if any.
    void signal();
};
