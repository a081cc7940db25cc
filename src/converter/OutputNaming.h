#pragma once

#include "model/FileItem.h"
#include "model/Settings.h"

#include <QString>

// Where one conversion writes and where its result ends up. ffmpeg always
// writes a fresh name of our own beside the original, so a failed or stopped
// run can be cleared away without touching anything the user owns, and a file
// already at the final name is never overwritten by the tool.
struct OutputPath {
    // Where ffmpeg writes: always a fresh "sonfold_out_<UUID>.<ext>".
    QString path;
    // The suffixed name, or the original's own path when the output replaces it.
    QString finalPath;
    // True when finalPath is the original's path (in-place replacement).
    bool isTemp = false;
};

// The suffix is used as stored (callers refuse unusable ones with
// Settings::suffixRefusal first) and the dot is always written, also before
// an empty extension. Touches no file.
OutputPath buildOutputPath(const FileItem& item, const Settings& settings);
