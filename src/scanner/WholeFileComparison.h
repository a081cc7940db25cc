#pragma once

#include "model/Settings.h"
#include "model/Statuses.h"

#include <QString>
#include <QUrl>

#include <cmath>
#include <optional>
#include <stop_token>

// What the whole of a file says about its two channels. The first seconds can
// mislead (silence, a mono intro), and converting real stereo loses its image
// for good, so both a silent scan window and every conversion ask this.
struct WholeFileVerdict {
    bool channelsMatch = false;
    qint64 framesCompared = 0;
    // Byte-exact: where the channels first differ (the decode stops there).
    std::optional<qint64> firstDifferingFrame;
    // Statistical: Pearson's r over the whole file (NaN without variance).
    double correlation = std::nan("");
};

// Streams the whole decode through the comparison, never holding it in memory.
// Runs on a scan queue with a limit of `limitSeconds`; throws TimeoutError when
// that passes and ScannerError when the decode fails. A stop request kills
// the decode and throws CancellationError at once. Blocks the calling worker.
WholeFileVerdict compareWholeFile(const QUrl& url, ComparisonMethod method, double limitSeconds,
                                  std::stop_token stop = {});

// The time a whole-file comparison may take: a whole decode costs about what a
// conversion does, plus the start-up grace of a scan decode.
double wholeFileLimitSeconds(const Settings& settings);

// A position in decoded PCM as minutes and seconds ("0:07", "12:05").
QString minutesAndSeconds(qint64 frames);
