#pragma once

#include <chrono>
#include <functional>

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
