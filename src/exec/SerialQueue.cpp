// SPDX-License-Identifier: GPL-3.0-or-later

#include "exec/SerialQueue.h"

#include <QThread>

#include <array>

SerialQueue::SerialQueue(const QString& label) : queueLabel(label) {
    thread = QThread::create([this] { run(); });
    thread->setObjectName(label);
    thread->start();
}

void SerialQueue::submit(std::function<void()> work) {
    {
        const std::lock_guard lock(mutex);
        pending.push_back(std::move(work));
    }
    workArrived.notify_one();
}

void SerialQueue::run() {
    for (;;) {
        std::function<void()> work;
        {
            std::unique_lock lock(mutex);
            workArrived.wait(lock, [this] { return !pending.empty(); });
            work = std::move(pending.front());
            pending.pop_front();
        }
        work();
    }
}

SerialQueue& fileOpQueue() {
    static SerialQueue* const queue = new SerialQueue(QStringLiteral("chanfuse.fileop"));
    return *queue;
}

SerialQueue& scanOpQueue(int index) {
    static const std::array<SerialQueue*, scanOpQueueCount> queues = [] {
        std::array<SerialQueue*, scanOpQueueCount> made{};
        for (int i = 0; i < scanOpQueueCount; ++i)
            made[std::size_t(i)] = new SerialQueue(QStringLiteral("chanfuse.scanop.%1").arg(i));
        return made;
    }();
    return *queues.at(std::size_t(index));
}

SerialQueue& scanQueue() {
    static std::mutex scanQueueIndexLock;
    static qint64 scanQueueIndex = 0;
    int index = 0;
    {
        const std::lock_guard lock(scanQueueIndexLock);
        index = int(scanQueueIndex % scanOpQueueCount);
        ++scanQueueIndex;
    }
    return scanOpQueue(index);
}
