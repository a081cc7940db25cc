// SPDX-License-Identifier: GPL-3.0-or-later

#include "scanner/WholeFileComparison.h"

#include "exec/ChildProcess.h"
#include "exec/FFmpegLocator.h"
#include "exec/TimeLimits.h"
#include "scanner/AnalysisEngine.h"
#include "scanner/ChannelComparison.h"
#include "scanner/PcmDecode.h"
#include "scanner/ScannerError.h"

#include <cstring>

WholeFileComparer::WholeFileComparer(PcmJudgement judgement)
    : judgement(judgement), frameSize(frameBytes(judgement.samples)) {}

bool WholeFileComparer::feed(QByteArrayView chunk) {
    // An empty chunk may come without even a pointer to copy from.
    if (chunk.isEmpty())
        return !difference;
    const auto* bytes = reinterpret_cast<const uchar*>(chunk.data());
    qint64 remaining = chunk.size();
    if (carried > 0) {
        const qint64 needed = qMin<qint64>(frameSize - carried, remaining);
        std::memcpy(carry + carried, bytes, std::size_t(needed));
        carried += needed;
        bytes += needed;
        remaining -= needed;
        if (carried < frameSize)
            return true;
        carried = 0;
        if (!compare(carry, 1))
            return false;
    }
    const qint64 frames = remaining / frameSize;
    if (!compare(bytes, frames))
        return false;
    carried = remaining - frames * frameSize;
    std::memcpy(carry, bytes + frames * frameSize, std::size_t(carried));
    return true;
}

WholeFileVerdict WholeFileComparer::verdict() {
    if (judgement.method == ComparisonMethod::statistical && !difference)
        judgeSecond();
    WholeFileVerdict verdict;
    verdict.framesCompared = framesSeen;
    verdict.framesPerSecond = judgement.framesPerSecond;
    verdict.firstDifferingFrame = difference;
    verdict.channelsMatch = framesSeen > 0 && !difference;
    return verdict;
}

bool WholeFileComparer::compare(const uchar* frames, qint64 count) {
    if (judgement.method == ComparisonMethod::statistical)
        return compareSeconds(frames, count);
    const qint64 differing = firstDifferingFrame(frames, count, judgement.samples);
    if (differing < count) {
        difference = framesSeen + differing;
        framesSeen += differing + 1;
        return false;
    }
    framesSeen += count;
    return true;
}

// Over a whole file, a few seconds of real stereo vanish in the average of
// many fake ones; each second must therefore pass on its own.
bool WholeFileComparer::compareSeconds(const uchar* frames, qint64 count) {
    while (count > 0) {
        const qint64 taken = qMin(count, judgement.framesPerSecond - second.frames());
        second.add(frames, taken, judgement.samples);
        framesSeen += taken;
        frames += taken * frameSize;
        count -= taken;
        if (second.frames() == judgement.framesPerSecond && !judgeSecond())
            return false;
    }
    return true;
}

bool WholeFileComparer::judgeSecond() {
    const qint64 start = framesSeen - second.frames();
    // A quiet second is judged by its own level: real stereo far below the
    // loud passages is still real stereo.
    const bool passes = second.frames() == 0 || second.channelsMatch();
    second = ChannelEnergies();
    if (!passes)
        difference = start;
    return passes;
}

namespace {

WholeFileVerdict streamDecode(const QString& ffmpeg, const QString& file, PcmJudgement judgement,
                              std::stop_token stop) {
    ChildProcess decoder;
    if (decoder.start(ffmpeg, pcmDecodeArguments(file, std::nullopt), ChildProcess::Output::pipe(),
                      ChildProcess::Output::nullDevice()))
        throw ScannerError();
    WholeFileComparer stream(judgement);
    bool stoppedEarly = false;
    decoder.readPipes(
        [&](QByteArrayView chunk) {
            stoppedEarly = !stream.feed(chunk);
            return !stoppedEarly;
        },
        nullptr, stop);
    if (stop.stop_requested())
        throw TimeoutError();
    if (stoppedEarly) {
        // The verdict is in; the rest of the file would only cost time. The
        // child is not waited for: one stuck in the kernel on a dying disk
        // would hold this scan queue, so it is left to the reaper.
        decoder.kill();
        return stream.verdict();
    }
    if (decoder.waitForExit() != 0)
        throw ScannerError();
    return stream.verdict();
}

// The same through one of the analyser's workers, which stops decoding where
// the verdict is in.
WholeFileVerdict workerDecode(const QString& program, const QString& file, PcmJudgement judgement,
                              double limitSeconds, std::stop_token stop) {
    WholeFileComparer stream(judgement);
    const AnalysisWorker::Reply reply = AnalysisEngine::ask(
        program, {file, false, true, std::nullopt, limitSeconds},
        [&stream](QByteArrayView chunk) { return stream.feed(chunk); }, stop);
    switch (reply.status) {
    case AnalysisWorker::Reply::Status::answered:
        return stream.verdict();
    case AnalysisWorker::Reply::Status::timedOut:
        throw TimeoutError();
    case AnalysisWorker::Reply::Status::stopped:
        throw CancellationError();
    case AnalysisWorker::Reply::Status::refused:
    case AnalysisWorker::Reply::Status::workerLost:
        break;
    }
    throw ScannerError();
}

} // namespace

WholeFileVerdict compareWholeFile(const QUrl& url, PcmJudgement judgement, double limitSeconds,
                                  std::stop_token stop) {
    const std::optional<QString> ffmpeg = FFmpegLocator::ffmpegPath();
    if (!ffmpeg)
        throw ScannerError();
    if (const std::optional<QString> program = AnalysisEngine::workerProgram(*ffmpeg))
        return workerDecode(*program, url.toLocalFile(), judgement, limitSeconds, stop);
    return withToolTimeout(
        scanQueue(), limitSeconds,
        [ffmpeg = *ffmpeg, file = url.toLocalFile(), judgement](std::stop_token toolStop) {
            return streamDecode(ffmpeg, file, judgement, toolStop);
        },
        stop);
}

double wholeFileLimitSeconds(const Settings& settings) {
    return double(settings.convertTimeoutSeconds()) + 10;
}

QString minutesAndSeconds(qint64 frames, qint64 framesPerSecond) {
    const qint64 seconds = frames / qMax<qint64>(1, framesPerSecond);
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QChar(u'0'));
}
