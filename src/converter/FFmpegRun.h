#pragma once

#include "converter/ConversionLog.h"
#include "model/Settings.h"

#include <QByteArrayView>
#include <QString>

#include <functional>
#include <stop_token>

// What one ffmpeg run gave: on failure a short text for the user, empty when
// the PCM consumer ended the run.
struct FFmpegOutcome {
    bool ok = false;
    QString text;
};

// Receives the run's 16-bit stereo PCM as it arrives; false ends the run.
using PcmConsumer = std::function<bool(QByteArrayView)>;

// The time one conversion run may take, from ffmpeg's start.
double conversionLimitSeconds(const Settings& settings);

// Converts `input` to a one-channel file at `output` with ffmpeg, in the
// encoder its probed format calls for (planConversion). The same run decodes
// the input once more to PCM for `onPcm`, read as it comes so ffmpeg never
// waits on a full pipe. Supervised on the calling worker thread against
// conversionLimitSeconds and `stop`: the consumer's refusal, a stop request
// and the time limit kill ffmpeg at once; one that will not die is tracked
// as stuck. Never throws.
FFmpegOutcome runFFmpeg(const QString& input, const QString& output, const ConversionLog& log,
                        const Settings& settings, const PcmConsumer& onPcm,
                        std::stop_token stop = {});
