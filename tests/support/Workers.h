#pragma once

#include <functional>

namespace TestSupport {

// Runs blocking engine code on a worker thread, as the application does,
// while this (GUI) thread keeps handling the writes the worker posts to it.
// Returns false if the work has not finished within the deadline; posted
// writes are all applied before it returns true.
bool finishOnWorker(std::function<void()> work, int timeoutMs);

} // namespace TestSupport
