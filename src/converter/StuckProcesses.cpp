// SPDX-License-Identifier: GPL-3.0-or-later

#include "converter/StuckProcesses.h"

#include "exec/ChildProcess.h"
#include "exec/TimeLimits.h"

#include <QList>

#include <chrono>
#include <csignal>
#include <mutex>
#include <set>
#include <thread>

namespace {

std::mutex pidLock;
std::set<pid_t> trackedPIDs;

bool anyStillOurs(const QList<pid_t>& pids) {
    for (pid_t pid : pids)
        if (isOwnChild(pid))
            return true;
    return false;
}

} // namespace

void trackStuckPID(pid_t pid) {
    const std::lock_guard guard(pidLock);
    trackedPIDs.insert(pid);
}

void killStuckPIDs() {
    QList<pid_t> pids;
    {
        const std::lock_guard guard(pidLock);
        pids = QList<pid_t>(trackedPIDs.begin(), trackedPIDs.end());
        trackedPIDs.clear();
    }
    if (pids.isEmpty())
        return;
    // A tracked process reaped since is no longer ours, and its number may
    // belong to somebody else by now.
    for (pid_t pid : pids)
        signalOwnChild(pid, SIGKILL);
    const auto deadline = detail::deadlineAfter(killGraceSeconds);
    while (std::chrono::steady_clock::now() < deadline && anyStillOurs(pids))
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
}
