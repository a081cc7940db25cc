// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "history/RunJournal.h"

#include <QList>
#include <QPointer>

#include <functional>
#include <optional>
#include <stop_token>

// Takes back the files of one run of the history, file by file, on a worker
// of its own; a stop ends it between two files, never within one. What
// happens reaches the receiver as calls posted to the GUI thread, and only
// while it lives.
struct UndoRun {
    struct Events {
        QPointer<QObject> receiver;
        std::function<void(const QString& line)> logged;
        // The share of the files handled so far, before each one.
        std::function<void(double share)> progressed;
        // The original at this path is back as it was before the run.
        std::function<void(const QString& original)> undone;
        // The history as read after the undo.
        std::function<void(const QList<JournalRun>& runs)> historyRead;
        std::function<void()> finished;
    };

    // Run `number`, or the newest one the history can still undo; only the
    // files `fileIds` names, or all of them when it is empty.
    static void start(std::optional<qint64> number, QList<qint64> fileIds, std::stop_token stop,
                      Events events);
};
