// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "converter/ConversionLog.h"
#include "model/FileItem.h"
#include "model/Settings.h"

#include <QString>

#include <optional>
#include <stop_token>

// Converts one fake-stereo file to one channel and disposes of the original as
// the settings say. Blocks the calling worker thread (never the GUI thread).
class AudioConverter {
public:
    explicit AudioConverter(Settings& settings) : settings(settings) {}

    // Nothing on success (the item's sizes are then written on the GUI
    // thread), otherwise a short text for the user. A stop request ends a
    // running ffmpeg and gives "Cancelled". Without a callback, each log line
    // goes to standard output prefixed with "[DEBUG] ". `runKey` is the key the
    // history groups one run's files under; without one, the file is a run
    // of its own.
    std::optional<QString> convertToMono(const FileItemPtr& item, const LogCallback& log = {},
                                         std::stop_token stop = {},
                                         const QString& runKey = {}) const;

private:
    Settings& settings;
};
