// SPDX-License-Identifier: GPL-3.0-or-later

#include "exec/WorkerThreads.h"

#include "exec/ChildProcess.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <cstdio>
#include <cstdlib>
#include <thread>

#ifdef CHANFUSE_COVERAGE
// _Exit skips the exit handler that writes an instrumented build's counters.
extern "C" void __gcov_dump();
#endif

namespace {

RunningWorkers detachedWorkers;

} // namespace

void startDetachedWorker(std::function<void()> work) {
    detachedWorkers.started();
    std::thread([work = std::move(work)]() mutable {
        work();
        // What the work captured goes before the count says it has ended.
        work = nullptr;
        detachedWorkers.finished();
    }).detach();
}

bool waitForDetachedWorkers(std::chrono::milliseconds limit) {
    return detachedWorkers.waitForAll(limit);
}

void exitLeavingWorkers(int exitCode) {
    killLiveChildren();
    std::fflush(nullptr);
#ifdef CHANFUSE_COVERAGE
    __gcov_dump();
#endif
    std::_Exit(exitCode);
}

void postToGuiThread(std::function<void()> work) {
    QCoreApplication* application = QCoreApplication::instance();
    if (!application)
        return;
    QMetaObject::invokeMethod(application, std::move(work), Qt::QueuedConnection);
}
