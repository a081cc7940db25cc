// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "converter/ConversionLog.h"
#include "converter/ConversionOutcome.h"
#include "model/FileItem.h"
#include "model/Settings.h"

#include <QString>

#include <stop_token>

// Converts one fake-stereo file to one channel and disposes of the original as
// the settings say. Blocks the calling worker thread (never the GUI thread).
class AudioConverter {
public:
    explicit AudioConverter(Settings& settings) : settings(settings) {}

    // How the conversion ended; the item is only read (the caller applies
    // the outcome on the GUI thread). A stop request ends a running ffmpeg
    // and gives a cancelled outcome. Without a callback, each log line goes
    // to standard output prefixed with "[DEBUG] ". `runKey` is the key the
    // history groups one run's files under; without one, the file is a run
    // of its own.
    ConversionOutcome convertToMono(const FileItemPtr& item, const LogCallback& log = {},
                                    std::stop_token stop = {}, const QString& runKey = {}) const;

private:
    Settings& settings;
};
