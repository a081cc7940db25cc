// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "converter/ConversionLog.h"
#include "model/Settings.h"
#include "scanner/WholeFileComparison.h"

#include <QHash>
#include <QList>
#include <QString>

#include <stop_token>
#include <sys/types.h>
#include <utility>

// What one ffmpeg run gave: on failure a short text for the user, empty when
// the channels were found to differ; what its decode of the whole original
// said of the channels; and the original's tags.
struct FFmpegOutcome {
    FFmpegOutcome(bool ok, QString text) : ok(ok), text(std::move(text)) {}

    bool ok;
    QString text;
    WholeFileVerdict verdict;
    QHash<QString, QString> originalTags;
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

// A short text for the user from ffmpeg's diagnostics: the last three
// distinct lines naming an error-like keyword, or else the last three lines,
// leaving out the descriptions of the files, their tags and progress lines;
// joined with "; " and at most 300 characters long.
QString extractError(const QString& text);

// ffmpeg processes still alive 3 s after SIGKILL (typically stuck in the
// kernel on a dying disk). The set is process-wide and drained before every
// launch, so a stuck process gets one more SIGKILL and is then forgotten.
void trackStuckPID(pid_t pid);

// Sends SIGKILL to every tracked process that is still our own unreaped
// child, forgets them all and waits up to 3 s for them to be reaped. Blocks
// the calling worker; writes no log line.
void killStuckPIDs();

// The identifiers tracked right now.
QList<pid_t> stuckPIDs();
