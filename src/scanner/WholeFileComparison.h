// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "model/Settings.h"
#include "scanner/ChannelComparison.h"

#include <QByteArrayView>
#include <QString>
#include <QUrl>

#include <optional>
#include <stop_token>

// What the whole of a file says about its two channels. The first seconds can
// mislead (silence, a mono intro), and converting real stereo loses its image
// for good, so both a silent scan window and every conversion ask this.
struct WholeFileVerdict {
    bool channelsMatch = false;
    qint64 framesCompared = 0;
    qint64 framesPerSecond = 0;
    // Where the channels first differ (the decode stops there): the frame
    // itself, or with the statistical method the start of the first second
    // that fails.
    std::optional<qint64> firstDifferingFrame;
};

// Judges decoded PCM as it arrives, in chunks of any size (a frame split
// between two chunks is carried over), never holding it in memory. The scan
// and the conversion run both judge through one, so both judge alike.
class WholeFileComparer {
public:
    explicit WholeFileComparer(PcmJudgement judgement);

    // False once the verdict can no longer change (a difference was found).
    bool feed(QByteArrayView chunk);

    // At the end of the stream: a last, shorter second is judged too.
    WholeFileVerdict verdict();

private:
    bool compare(const uchar* frames, qint64 count);
    bool compareSeconds(const uchar* frames, qint64 count);
    bool judgeSecond();

    const PcmJudgement judgement;
    const qint64 frameSize;
    uchar carry[largestFrameBytes] = {};
    qint64 carried = 0;
    qint64 framesSeen = 0;
    std::optional<qint64> difference;
    ChannelEnergies second;
};

// Streams the whole decode through the comparison, never holding it in memory.
// Decoded by one of the analyser's workers where they serve (the limit counts
// from the request), else on a scan queue with a limit of `limitSeconds` from
// the decoder's start;
// throws TimeoutError when that passes (the decoder is killed then) and
// ScannerError when the decode fails. A stop request kills the decode and
// throws CancellationError at once. Blocks the calling worker. The
// statistical method judges each second on its own.
WholeFileVerdict compareWholeFile(const QUrl& url, PcmJudgement judgement, double limitSeconds,
                                  std::stop_token stop = {});

// The time a whole-file comparison may take: a whole decode costs about what a
// conversion does, plus the start-up grace of a scan decode.
double wholeFileLimitSeconds(const Settings& settings);

// A position in decoded PCM as minutes and seconds ("0:07", "12:05").
QString minutesAndSeconds(qint64 frames, qint64 framesPerSecond);
