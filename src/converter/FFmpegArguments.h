// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "converter/AudioFormatProbe.h"
#include "converter/ContainerChunks.h"
#include "converter/OrFailure.h"
#include "scanner/ChannelComparison.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>
#include <stop_token>

// How one file becomes its one-channel copy: the original minus one channel,
// in the same codec, sample format and sample rate, with its tags and cover,
// at the quality it had per channel.
struct ConversionPlan {
    QStringList arguments;        // the ffmpeg command line after the program name:
                                  // the PCM of pcmStreamArguments to standard output,
                                  // and `output`
    QString choice;               // one log line: the codec and rate chosen and why
    PcmJudgement judgement;       // how that PCM is to be judged
    QHash<QString, QString> tags; // the original's, which the mono file must have too
};

// The plan for writing `output` (same extension as `input`) from `input`,
// described by `format`, with the ffmpeg whose encoders are `encoders`
// (nothing: unknown, assumed present, so a missing one fails the run), for
// channels to be compared by `method`. Channels judged byte for byte give
// the left one as it is; channels judged alike within a lossy codec's noise
// give their mean, at the level of either. Other tracks are copied where the
// container holds them; a file with a track or chunk the mono file could not
// keep is refused: the failure is why the plan cannot be made.
OrFailure<ConversionPlan> planConversion(const QString& input, const QString& output,
                                         const AudioFormat& format,
                                         const std::optional<QSet<QString>>& encoders,
                                         ComparisonMethod method, const ContainerChunks& container);

// The same after probing `input`, reading its chunks and listing the
// encoders of `ffmpegPath`; also refuses a file that no longer has two
// channels. A stop request ends both tool runs at once.
OrFailure<ConversionPlan> planConversion(const QString& ffmpegPath, const QString& input,
                                         const QString& output, ComparisonMethod method,
                                         std::stop_token stop = {});

// The audio encoders a listing of `ffmpeg -encoders` names, leaving out the
// ones marked experimental.
QSet<QString> audioEncoders(const QString& listing);

// The names of the audio encoders the ffmpeg at `ffmpegPath` offers and does
// not mark experimental ("flac", "libmp3lame"), asked once per ffmpeg build
// and kept in the user's cache folder; the cache and the asking run on a scan
// queue under the probe's 10 s limit. Nothing when the list could not be read
// or the asking was stopped; it is asked again next time then.
std::optional<QSet<QString>> ffmpegEncoders(const QString& ffmpegPath, std::stop_token stop = {});
