#pragma once

#include "converter/ConversionLog.h"
#include "model/Settings.h"

#include <QString>

#include <stop_token>

// What one ffmpeg run gave: on failure a short text for the user; on success
// the number of 44.1 kHz frames the whole-file check compared before it, the
// original's length.
struct FFmpegOutcome {
    bool ok = false;
    QString text;
    qint64 framesVerified = 0;
};

// Converts `input` to a one-channel file at `output` with ffmpeg, in the
// encoder its probed format calls for (planConversion), supervised on the
// calling worker thread: polled every 0.1 s against the setting
// convertTimeoutSeconds and against `stop`, then terminated, killed, and if
// it still will not die, tracked as stuck. The whole-file check comes first;
// a stop request ends it at once, and nothing is launched after one. Never
// throws.
FFmpegOutcome runFFmpeg(const QString& input, const QString& output, const ConversionLog& log,
                        const Settings& settings, std::stop_token stop = {});
