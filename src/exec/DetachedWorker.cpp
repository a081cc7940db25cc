#include "exec/DetachedWorker.h"

#include "exec/ChildProcess.h"

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace {

std::mutex countLock;
std::condition_variable allEnded;
int runningWorkers = 0;

} // namespace

void startDetachedWorker(std::function<void()> work) {
    {
        const std::lock_guard guard(countLock);
        ++runningWorkers;
    }
    std::thread([work = std::move(work)]() mutable {
        work();
        // What the work captured goes before the count says it has ended.
        work = nullptr;
        {
            const std::lock_guard guard(countLock);
            --runningWorkers;
        }
        allEnded.notify_all();
    }).detach();
}

bool waitForDetachedWorkers(std::chrono::milliseconds limit) {
    std::unique_lock guard(countLock);
    return allEnded.wait_for(guard, limit, [] { return runningWorkers == 0; });
}

void exitLeavingWorkers(int exitCode) {
    killLiveChildren();
    std::fflush(nullptr);
    std::_Exit(exitCode);
}
