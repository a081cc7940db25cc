#pragma once

#include <QtGlobal>

#include <condition_variable>
#include <mutex>
#include <stop_token>

// One folder scan. The stop source is requested from the GUI thread and read
// by the scan's workers; `finished` is touched on the GUI thread only.
struct ScanRun {
    std::stop_source stop;
    qint64 finished = 0;
    qint64 total = 0;
};

// One conversion run of the selected items.
struct ConversionRun {
    std::stop_source stop;
};

// Counts worker threads still running, so the thread that started them can
// wait for the last one before its own finishing steps.
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

private:
    std::mutex mutex;
    std::condition_variable allFinished;
    qint64 running = 0;
};
