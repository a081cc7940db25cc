#pragma once

#include <QtGlobal>

#include <chrono>
#include <condition_variable>
#include <mutex>

// Counts worker threads still running, so a thread that started them can
// wait for the last one to end.
class RunningWorkers {
public:
    void started() {
        const std::lock_guard guard(mutex);
        ++running;
    }

    void finished() {
        {
            const std::lock_guard guard(mutex);
            --running;
        }
        allFinished.notify_all();
    }

    void waitForAll() {
        std::unique_lock guard(mutex);
        allFinished.wait(guard, [this] { return running == 0; });
    }

    // Returns whether they all ended within the limit.
    bool waitForAll(std::chrono::milliseconds limit) {
        std::unique_lock guard(mutex);
        return allFinished.wait_for(guard, limit, [this] { return running == 0; });
    }

private:
    std::mutex mutex;
    std::condition_variable allFinished;
    qint64 running = 0;
};
