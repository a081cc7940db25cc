#pragma once

#include "history/RunJournal.h"

#include <QString>

enum class UndoResult { undone, wouldUndo, refused };

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
// file undone. Blocks the calling worker; every step is bounded.
UndoOutcome undoConversion(const JournalFile& file, bool dryRun = false);
