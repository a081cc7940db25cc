// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "converter/OriginalWhereabouts.h"
#include "model/Statuses.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

// What a commit is about to do, written before its first change to the
// folder, so a run killed halfway can be put right at the next start.
struct CommitIntent {
    // The run's key: every file converted by one press of Convert shares it.
    QString run;
    QString original;
    qint64 originalSize = 0;
    qint64 originalModifiedNs = 0;
    ConvertBehavior behavior = ConvertBehavior::trash;
    QString suffix; // empty when the output replaces the original
    QString temporary;
    QString finalPath;
    QString staging;
    // The verified output, measured under its temporary name.
    qint64 monoSize = 0;
    QByteArray monoSha256;
};

struct JournalFile {
    qint64 id = 0;
    CommitIntent intent;
    std::optional<OriginalWhereabouts> completion;
    bool undone = false;
    // When its run began: nothing the commit wrote is older.
    QDateTime runStarted;

    // Committed, not undone yet, and not overwritten without a copy.
    bool canBeUndone() const;
    // Never reported back: the process ended during the commit, or is still
    // in it.
    bool interrupted() const { return !completion; }
};

struct JournalRun {
    qint64 number = 0;
    QDateTime started;
    QList<JournalFile> files;

    qint64 spaceSaved() const;
};

// The journal of conversion runs: an SQLite database in the user's state
// folder ($XDG_STATE_HOME/Chanfuse/history.sqlite). Every call runs on one
// thread of its own under a time limit, so any worker may record and none
// waits on a stuck disk for long. The journal serves the user; a journal that
// cannot be opened or written is logged and never stops a conversion.
namespace RunJournal {

QString location();

// The intent's row, or nothing when the journal could not record it.
std::optional<qint64> recordIntent(const CommitIntent& intent);
void recordCompletion(qint64 id, const OriginalWhereabouts& completion);
// The commit was put back: the folder is as it was, nothing to remember.
void forget(qint64 id);
void recordUndone(qint64 id);

// Runs with at least one file, newest first, each with its files by path,
// interrupted ones included.
QList<JournalRun> runs();
std::optional<JournalRun> run(qint64 number);
// The newest run with a file that can still be undone or put back.
std::optional<JournalRun> lastUndoable();

} // namespace RunJournal
