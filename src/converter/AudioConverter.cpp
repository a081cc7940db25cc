// SPDX-License-Identifier: GPL-3.0-or-later

#include "converter/AudioConverter.h"

#include "converter/AudioFormatProbe.h"
#include "converter/BoundedFileQueries.h"
#include "converter/Disposal.h"
#include "converter/FFmpegRun.h"
#include "converter/OriginalLock.h"
#include "exec/FFmpegLocator.h"
#include "exec/TimeLimits.h"
#include "history/JournaledCommit.h"
#include "scanner/WholeFileComparison.h"

#include <QFile>
#include <QSet>
#include <QUuid>

namespace {

constexpr double shortestDurationSlackSeconds = 0.1;
constexpr double durationSlackShare = 0.005;

// On the file-operation queue, so a removal that overran its limit still
// happens, after anything queued before it for this file.
void removeOutput(const QString& path) {
    try {
        withHardTimeout(fileQueryLimitSeconds, [path] { QFile::remove(path); });
    } catch (const TimeoutError&) {
    }
}

// Tags that describe the encoding itself, which the mono file has anew.
bool describesTheEncoding(const QString& tag) {
    static const QSet<QString> encoding{
        QStringLiteral("encoder"), QStringLiteral("major_brand"), QStringLiteral("minor_version"),
        QStringLiteral("compatible_brands"), QStringLiteral("itunsmpb")};
    return encoding.contains(tag);
}

using Kind = ConversionOutcome::Kind;

// Trusts ffmpeg's exit status with nothing: a disk that fills up while the
// file is finished still gives status 0 and a truncated file, and a muxer
// drops the tags it cannot write (an M4A's freeform iTunes tags) without a
// word.
std::optional<ConversionOutcome> checkOutput(const QString& output, const FFmpegOutcome& run,
                                             const ConversionLog& log, std::stop_token stop) {
    const auto failed = [](const QString& text) {
        return ConversionOutcome::notConverted(Kind::failed, text);
    };
    const WholeFileVerdict& compared = run.verdict;
    if (!fileExistsWithin(fileQueryLimitSeconds, output).value_or(false)) {
        log(QStringLiteral("Output file missing after ffmpeg reported success: ") + output);
        return failed(QStringLiteral("Output file not created despite ffmpeg success"));
    }
    if (fileSizeWithin(fileQueryLimitSeconds, output).value_or(0) <= 0) {
        log(QStringLiteral("Output file is empty: ") + output);
        return failed(QStringLiteral("Output file is empty"));
    }
    const std::optional<QString> ffmpeg = FFmpegLocator::ffmpegPath();
    const std::optional<AudioFormat> written =
        ffmpeg ? probeAudioFormat(*ffmpeg, output, stop) : std::nullopt;
    if (stop.stop_requested())
        return ConversionOutcome::notConverted(Kind::cancelled, QStringLiteral("Cancelled"));
    if (!written)
        return failed(QStringLiteral("Output could not be read back"));
    if (written->channels != 1)
        return failed(QStringLiteral("Output has %1 channels instead of 1").arg(written->channels));
    const double expected = double(compared.framesCompared) / double(compared.framesPerSecond);
    const double slack = qMax(shortestDurationSlackSeconds, expected * durationSlackShare);
    if (written->duration <= 0 || qAbs(written->duration - expected) > slack)
        return failed(QStringLiteral("Output lasts %1 s instead of %2 s")
                          .arg(qMax(0.0, written->duration), 0, 'f', 2)
                          .arg(expected, 0, 'f', 2));
    QStringList lost;
    for (auto tag = run.originalTags.cbegin(); tag != run.originalTags.cend(); ++tag)
        if (!describesTheEncoding(tag.key()) && written->tags.value(tag.key()) != tag.value())
            lost.append(tag.key());
    if (!lost.isEmpty()) {
        lost.sort();
        return ConversionOutcome::notConverted(
            Kind::refused,
            QStringLiteral("Not converted: its tags would be lost: ") + lost.join(u", "));
    }
    log(QStringLiteral("Output verified: one channel, %1 s").arg(written->duration, 0, 'f', 2));
    return std::nullopt;
}

// Why a run with this verdict must not be committed, if it must not.
std::optional<ConversionOutcome> refusalOf(const FFmpegOutcome& run,
                                           const WholeFileVerdict& verdict, std::stop_token stop) {
    if (verdict.firstDifferingFrame)
        return ConversionOutcome::notConverted(
            Kind::channelsDiffer,
            QStringLiteral("Not converted: channels differ at ") +
                minutesAndSeconds(*verdict.firstDifferingFrame, verdict.framesPerSecond));
    if (run.failure)
        return *run.failure;
    if (stop.stop_requested())
        return ConversionOutcome::notConverted(Kind::cancelled, QStringLiteral("Cancelled"));
    if (verdict.framesCompared == 0)
        return ConversionOutcome::notConverted(
            Kind::refused, QStringLiteral("Not converted: could not verify the whole file"));
    return std::nullopt;
}

} // namespace

ConversionOutcome AudioConverter::convertToMono(const FileItemPtr& item,
                                                const LogCallback& callback, std::stop_token stop,
                                                const QString& runKey) const {
    const ConversionLog log(callback);
    const QString input = item->path();
    log(QStringLiteral("ffmpeg input: ") + input);
    if (settings.suffixEnabled()) {
        if (const auto refusal = Settings::suffixRefusal(settings.suffix()))
            return ConversionOutcome::notConverted(Kind::refused,
                                                   QStringLiteral("Not converted: ") + *refusal);
    }

    const OutputPath output = buildOutputPath(*item, settings);
    log(QStringLiteral("ffmpeg output: ") + output.path + QStringLiteral(" (final: ") +
        output.finalPath + u')');

    // Held until the original has been disposed of.
    auto acquired = OriginalLock::acquire(*item);
    if (auto refusal = acquired.failure()) {
        log(refusal->text + QStringLiteral(": ") + input);
        return *std::move(refusal);
    }
    auto lock = std::make_shared<const OriginalLock>(*std::move(acquired));
    // Replacing one name of a file that has others saves no space and splits
    // one file into two different ones.
    const qint64 otherLinks = qint64(lock->whenLocked().st_nlink) - 1;
    if (output.finalPath == input && otherLinks > 0) {
        const QString refusal = QStringLiteral("Not converted: it has %1 other hard link%2")
                                    .arg(otherLinks)
                                    .arg(otherLinks == 1 ? "" : "s");
        log(refusal + QStringLiteral(": ") + input);
        return ConversionOutcome::notConverted(Kind::refused, refusal);
    }

    // Measured before anything changes on disk; a time-out records a saving of 0.
    const qint64 originalSize = fileSizeWithin(fileQueryLimitSeconds, input).value_or(0);

    // The scan looked only at the first seconds, and converting real stereo
    // destroys its image: the run's own decode is judged whole, as it comes,
    // and nothing is committed unless every frame passed.
    const FFmpegOutcome run = runFFmpeg(input, output.path, log, settings, stop);
    const WholeFileVerdict& verdict = run.verdict;
    if (std::optional<ConversionOutcome> refusal = refusalOf(run, verdict, stop)) {
        removeOutput(output.path);
        return *refusal;
    }
    log(QStringLiteral("Verified: channels identical over ") +
        minutesAndSeconds(verdict.framesCompared, verdict.framesPerSecond));
    if (std::optional<ConversionOutcome> failure = checkOutput(output.path, run, log, stop)) {
        removeOutput(output.path);
        return *failure;
    }
    const qint64 convertedSize = fileSizeWithin(fileQueryLimitSeconds, output.path).value_or(0);

    if (auto failure = commitConversion(
            *item, std::move(lock), output, settings,
            runKey.isEmpty() ? QUuid::createUuid().toString(QUuid::WithoutBraces) : runKey, log,
            stop))
        return *failure;
    return {
        Kind::converted, {}, originalSize, convertedSize, QUrl::fromLocalFile(output.finalPath)};
}
