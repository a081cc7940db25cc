#include "Workers.h"

#include <QCoreApplication>
#include <QTest>

#include <atomic>
#include <memory>
#include <thread>

bool TestSupport::finishOnWorker(std::function<void()> work, int timeoutMs) {
    auto done = std::make_shared<std::atomic_bool>(false);
    std::thread([work = std::move(work), done] {
        work();
        done->store(true);
    }).detach();
    if (!QTest::qWaitFor([&done] { return done->load(); }, timeoutMs))
        return false;
    QCoreApplication::sendPostedEvents();
    return true;
}
