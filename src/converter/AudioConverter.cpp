#include "converter/AudioConverter.h"

#include "converter/AudioShape.h"
#include "converter/BoundedFileQueries.h"
#include "converter/Disposal.h"
#include "converter/FFmpegRun.h"
#include "converter/OriginalLock.h"
#include "converter/OutputNaming.h"
#include "exec/FFmpegLocator.h"
#include "exec/GuiThread.h"
#include "scanner/PcmDecode.h"

#include <QFile>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr double shortestDurationSlackSeconds = 0.1;
constexpr double durationSlackShare = 0.005;

void removeOutput(const QString& path) {
    succeedsWithin(fileQueryLimitSeconds, [path] { return QFile::remove(path); });
}

// Trusts ffmpeg's exit status with nothing: a disk that fills up while the
// file is finished still gives status 0 and a truncated file.
std::optional<QString> checkOutput(const QString& output, qint64 originalFrames,
                                   const ConversionLog& log) {
    if (!fileExistsWithin(fileQueryLimitSeconds, output).value_or(false)) {
        log(QStringLiteral("Output file missing after ffmpeg reported success: ") + output);
        return QStringLiteral("Output file not created despite ffmpeg success");
    }
    if (fileSizeWithin(fileQueryLimitSeconds, output).value_or(0) <= 0) {
        log(QStringLiteral("Output file is empty: ") + output);
        return QStringLiteral("Output file is empty");
    }
    const std::optional<QString> ffmpeg = FFmpegLocator::ffmpegPath();
    const std::optional<AudioShape> shape =
        ffmpeg ? probeAudioShape(*ffmpeg, output) : std::nullopt;
    if (!shape)
        return QStringLiteral("Output could not be read back");
    if (shape->channels != 1)
        return QStringLiteral("Output has %1 channels instead of 1").arg(shape->channels);
    const double expected = double(originalFrames) / double(pcmFramesPerSecond);
    const double slack = qMax(shortestDurationSlackSeconds, expected * durationSlackShare);
    if (shape->seconds < 0 || qAbs(shape->seconds - expected) > slack)
        return QStringLiteral("Output lasts %1 s instead of %2 s")
            .arg(qMax(0.0, shape->seconds), 0, 'f', 2)
            .arg(expected, 0, 'f', 2);
    log(QStringLiteral("Output verified: one channel, %1 s").arg(shape->seconds, 0, 'f', 2));
    return std::nullopt;
}

// Moves the verified output to its suffixed name, never over a file that is
// already there.
bool moveToFreeName(const QString& from, const QString& to) {
    const QByteArray source = QFile::encodeName(from);
    const QByteArray target = QFile::encodeName(to);
    if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) ==
        0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // A file system without the flag: a hard link fails on a taken name too.
    return ::link(source.constData(), target.constData()) == 0 && ::unlink(source.constData()) == 0;
}

} // namespace

std::optional<QString> AudioConverter::convertToMono(const FileItemPtr& item,
                                                     const LogCallback& callback,
                                                     std::stop_token stop) const {
    const ConversionLog log(callback);
    const QString input = item->path();
    log(QStringLiteral("ffmpeg input: ") + input);
    if (settings.suffixEnabled()) {
        if (const auto refusal = Settings::suffixRefusal(settings.suffix()))
            return QStringLiteral("Not converted: ") + *refusal;
    }

    const OutputPath output = buildOutputPath(*item, settings);
    log(QStringLiteral("ffmpeg output: ") + output.path + QStringLiteral(" (final: ") +
        output.finalPath + u')');

    // Held until the original has been disposed of.
    const auto lock = OriginalLock::acquire(*item);
    if (const auto* refusal = std::get_if<QString>(&lock)) {
        log(*refusal + QStringLiteral(": ") + input);
        return *refusal;
    }

    // Measured before anything changes on disk; a time-out records a saving of 0.
    const qint64 originalSize = fileSizeWithin(fileQueryLimitSeconds, input).value_or(0);

    const FFmpegOutcome run =
        runFFmpeg(input, output.path, item->fileExtension, log, settings, stop);
    if (!run.ok) {
        removeOutput(output.path);
        return run.text;
    }
    if (stop.stop_requested()) {
        removeOutput(output.path);
        return QStringLiteral("Cancelled");
    }
    if (auto failure = checkOutput(output.path, run.framesVerified, log)) {
        removeOutput(output.path);
        return failure;
    }
    const qint64 convertedSize = fileSizeWithin(fileQueryLimitSeconds, output.path).value_or(0);

    OutputPath disposed = output;
    if (!output.isTemp) {
        if (!succeedsWithin(fileQueryLimitSeconds,
                            [output] { return moveToFreeName(output.path, output.finalPath); })) {
            removeOutput(output.path);
            return QStringLiteral("Not converted: ") + output.finalPath +
                   QStringLiteral(" already exists");
        }
        disposed.path = output.finalPath;
    }
    if (auto failure = disposeOfOriginal(*item, disposed, settings, log, stop))
        return failure;

    postToGuiThread([item, originalSize, convertedSize] {
        item->originalSize = originalSize;
        item->convertedSize = convertedSize;
    });
    return std::nullopt;
}
