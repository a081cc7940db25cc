#pragma once

#include "model/FileItem.h"
#include "model/Settings.h"

#include <QString>

// Where ffmpeg writes the one-channel file: the final suffixed name beside the
// original, or a temporary name in the same folder that later takes the
// original's place.
struct OutputPath {
    QString path;
    bool isTemp = false;
};

// Plain concatenation, no validation: the suffix is used as stored and the dot
// is always written, also before an empty extension. Touches no file.
OutputPath buildOutputPath(const FileItem& item, const Settings& settings);
