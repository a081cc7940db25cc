// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QtGlobal>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

// Worker threads: the blocking work runs on them, and what they find reaches
// the GUI thread as posted writes.

// Starts `work` on a thread of its own that nobody joins, so neither the GUI
// thread nor quitting ever waits for it. Scans, conversions and drops run on
// these.
void startDetachedWorker(std::function<void()> work);

// Blocks until every detached worker has ended, or the limit has passed;
// returns whether they all ended. For a harness that must not tear Qt down
// under a worker still finishing; never for the GUI thread.
bool waitForDetachedWorkers(std::chrono::milliseconds limit);

// Ends the process with `exitCode` without running any teardown: detached
// workers, and those abandoned at a time limit, may still be running and
// must not meet Qt's global state being destroyed. Our child processes are
// killed first, since nobody would be left to supervise them.
[[noreturn]] void exitLeavingWorkers(int exitCode);

// Queues `work` to run on the GUI thread (the application object's thread),
// after everything posted before it. Workers use it for every write to
// view-model state or to a FileItem; they never wait for it to run.
void postToGuiThread(std::function<void()> work);

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
