// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "history/RunJournal.h"

#include <QString>

enum class UndoResult { undone, wouldUndo, refused, putBack, finished };

// What became of one file's undo; `text` says why when it was refused.
struct UndoOutcome {
    UndoResult result = UndoResult::refused;
    QString text;
};

// Takes one committed conversion back, all or nothing, with the care of a
// conversion: the converted file is locked and proven to be the one the run
// wrote (its SHA-256), the original proven to be where the run put it, and
// the swap checked and turned back if anything else got in the way.
//  - moved to the trash: the original comes back to its path (its .trashinfo
//    goes); the converted file goes to the trash;
//  - backed up: the copy in _backup moves back (or, when the original stayed
//    beside the converted file, the copy goes); the converted file goes to
//    the trash; an emptied _backup folder is removed;
//  - kept beside a suffixed copy: the copy goes to the trash;
//  - overwritten without a copy: refused, there is nothing to go back to.
// `dryRun` makes every check and changes nothing. The journal learns of each
// file undone. A commit that never finished is put back instead, as
// putBackInterrupted() does. Blocks the calling worker; every step is bounded.
UndoOutcome undoConversion(const JournalFile& file, bool dryRun = false);

// Puts right a commit its process did not live to finish, from its intent
// and what is on the disk: the original back under its path (from the name
// the commit had moved it to, or from the trash), the converted output and
// the original's hidden second name removed when provably ours (SHA-256,
// size and modification time). An overwrite that had only its last step
// left, the original gone, is recorded as finished instead. Refused while a
// conversion still holds the original, when another file holds its path, or
// when the original is nowhere. A backup copy the commit may have made stays
// in _backup. The journal learns the outcome.
UndoOutcome putBackInterrupted(const JournalFile& file, bool dryRun = false);
