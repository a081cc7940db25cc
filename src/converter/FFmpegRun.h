// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "converter/ConversionLog.h"
#include "converter/ConversionOutcome.h"
#include "model/Settings.h"
#include "scanner/WholeFileComparison.h"

#include <QHash>
#include <QString>

#include <optional>
#include <stop_token>

// What one ffmpeg run gave: on failure the outcome that ends the conversion;
// what its decode of the whole original said of the channels; and the
// original's tags.
struct FFmpegOutcome {
    std::optional<ConversionOutcome> failure;
    WholeFileVerdict verdict = {};
    QHash<QString, QString> originalTags = {};
};

// The time one conversion run may take, from ffmpeg's start.
double conversionLimitSeconds(const Settings& settings);

// Converts `input` to a one-channel file at `output` with ffmpeg, in the
// encoder its probed format calls for (planConversion). The same run decodes
// the whole input once more and compares its channels as they come, read so
// ffmpeg never waits on a full pipe. Supervised on the calling worker thread
// against conversionLimitSeconds and `stop`: a difference, a stop request
// and the time limit kill ffmpeg at once; one that will not die is tracked
// as stuck. Never throws.
FFmpegOutcome runFFmpeg(const QString& input, const QString& output, const ConversionLog& log,
                        const Settings& settings, std::stop_token stop = {});
