// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QCoreApplication>
#include <QTest>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

namespace TestSupport {

// Runs blocking engine code on a worker thread, as the application does,
// while this (GUI) thread keeps handling the writes the worker posts to it.
// Returns false if the work has not finished within the deadline; posted
// writes are all applied before it returns true.
inline bool finishOnWorker(std::function<void()> work, int timeoutMs) {
    auto done = std::make_shared<std::atomic_bool>(false);
    std::thread([work = std::move(work), done] {
        work();
        *done = true;
    }).detach();
    if (!QTest::qWaitFor([&done] { return done->load(); }, timeoutMs))
        return false;
    QCoreApplication::sendPostedEvents();
    return true;
}

} // namespace TestSupport
