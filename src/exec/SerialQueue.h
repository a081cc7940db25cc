// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QString>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

class QThread;

// A labelled queue that runs its work items one at a time, in submission
// order, on a thread of its own named after the label. Queues live until the
// process ends: a work item that never returns keeps its queue busy, and
// quitting must not wait for it, so the thread is never joined.
class SerialQueue {
public:
    explicit SerialQueue(const QString& label);
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    const QString& label() const { return queueLabel; }
    void submit(std::function<void()> work);

private:
    void run();

    const QString queueLabel;
    std::mutex mutex;
    std::condition_variable workArrived;
    std::deque<std::function<void()>> pending;
    QThread* thread = nullptr;
};

// The one queue for every bounded file-system call ("chanfuse.fileop").
SerialQueue& fileOpQueue();

// The four queues for probe and decode runs ("chanfuse.scanop.0" to ".3").
SerialQueue& scanOpQueue(int index);
constexpr int scanOpQueueCount = 4;

// The next scan queue in rotation: 0, 1, 2, 3, 0, ... across all threads.
SerialQueue& scanQueue();
