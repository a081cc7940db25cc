#pragma once

#include "model/FileItem.h"
#include "model/Settings.h"

#include <QString>

// Where one conversion writes and where its result ends up. ffmpeg always
// writes a fresh name of our own beside the original, so a failed or stopped
// run can be cleared away without touching anything the user owns, and a file
// already at the final name is never overwritten by the tool.
struct OutputPath {
    QString
        path; // where ffmpeg writes: always a fresh "sonfold_out_<UUID>.<ext>" beside the original
    QString finalPath; // the suffixed name, or the original's own path when the output replaces it
    bool isTemp = false; // true when finalPath is the original's path (in-place replacement)
};

// The suffix is used as stored (callers refuse unusable ones with
// Settings::suffixRefusal first) and the dot is always written, also before
// an empty extension. Touches no file.
OutputPath buildOutputPath(const FileItem& item, const Settings& settings);
