#pragma once

#include "model/FileItem.h"
#include "model/Settings.h"

#include <QString>

// Where ffmpeg writes the one-channel file (always a fresh temporary name
// beside the original) and where it ends once verified: the suffixed name, or
// the original's own path when it replaces the original.
struct OutputPath {
    QString path;
    QString finalPath;
    bool isTemp = false;
};

// Plain concatenation, no validation: the suffix is used as stored and the dot
// is always written, also before an empty extension. Touches no file.
OutputPath buildOutputPath(const FileItem& item, const Settings& settings);
