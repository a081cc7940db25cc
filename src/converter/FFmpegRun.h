#pragma once

#include "converter/ConversionLog.h"
#include "model/Settings.h"

#include <QString>

#include <stop_token>

// What one ffmpeg run gave: on success the whole diagnostic text, otherwise a
// message (to be shortened with extractError for the user).
struct FFmpegOutcome {
    bool ok = false;
    QString text;
};

// Converts `input` to a one-channel file at `output` with ffmpeg, in the
// encoder its probed format calls for (planConversion), supervised
// on the calling worker thread: polled every 0.1 s against the setting
// convertTimeoutSeconds and against `stop`, then terminated, killed, and if
// it still will not die, tracked as stuck. Never throws.
FFmpegOutcome runFFmpeg(const QString& input, const QString& output, const ConversionLog& log,
                        const Settings& settings, std::stop_token stop = {});
