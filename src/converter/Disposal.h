// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "converter/ConversionLog.h"
#include "converter/ConversionOutcome.h"
#include "converter/OriginalLock.h"
#include "converter/OriginalWhereabouts.h"
#include "model/FileItem.h"
#include "model/Settings.h"

#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <stop_token>

// Where one conversion writes and where its result ends up. ffmpeg always
// writes a fresh name of our own beside the original, so a failed or stopped
// run can be cleared away without touching anything the user owns, and a file
// already at the final name is never overwritten by the tool.
struct OutputPath {
    // Where ffmpeg writes: always a fresh "sonfold_out_<UUID>.<ext>".
    QString path;
    // The suffixed name, or the original's own path when the output replaces it.
    QString finalPath;
    // Where a replaced original waits, hidden, until it is disposed of:
    // ".sonfold_orig_<UUID>.<ext>" beside it.
    QString staging;
};

// The suffix is used as stored (callers refuse unusable ones with
// Settings::suffixRefusal first) and the dot is always written, also before
// an empty extension. Touches no file.
OutputPath buildOutputPath(const FileItem& item, const Settings& settings);

// Commits a verified output: puts it under its final name and deals with the
// original as convertBehavior says (trash it, back it up, or let the output
// replace it). All or nothing: on any failure the folder is put back as it was
// (the original at its path, nothing this conversion wrote left) and the outcome
// that ends the conversion is returned. The original's path is never empty:
// the output takes it with one rename. Every step is bounded; a stop request
// is honoured only before the first change.
// The original must be the file `lock` holds, unchanged: one saved over it or
// written to meanwhile is left as it is, with "Skipped: the file changed
// during the conversion". The lock is kept until every step has ended. On
// success, `whereabouts` (when given) learns where the original went.
std::optional<ConversionOutcome>
disposeOfOriginal(const FileItem& item, std::shared_ptr<const OriginalLock> lock,
                  const OutputPath& output, const Settings& settings, const ConversionLog& log,
                  std::stop_token stop = {}, OriginalWhereabouts* whereabouts = nullptr);

// Called right after each change a commit makes to the folder, on whichever
// thread made it. A seam for tests that end the process at every point of a
// commit; the applications never set it.
void setFolderChangeObserver(std::function<void()> observer);
