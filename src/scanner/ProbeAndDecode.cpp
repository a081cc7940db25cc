#include "scanner/AudioScanner.h"

#include "exec/ChildProcess.h"
#include "exec/FFmpegLocator.h"
#include "exec/HardTimeout.h"
#include "exec/ToolOutput.h"
#include "scanner/PcmDecode.h"
#include "scanner/ScannerError.h"

#include <QFileInfo>
#include <QRegularExpression>

namespace {

constexpr double probeLimitSeconds = 10;
constexpr double decodeGraceSeconds = 10;

std::optional<qint64> parseWholeNumber(const QString& text) {
    static const QRegularExpression wholeNumber(QStringLiteral("^[+-]?[0-9]+$"));
    if (!wholeNumber.match(text).hasMatch())
        return std::nullopt;
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    return ok ? std::optional(value) : std::nullopt;
}

std::optional<qint64> runProbe(const QString& ffprobe, const QString& file) {
    ChildProcess process;
    if (const auto failure =
            process.start(ffprobe,
                          {QStringLiteral("-v"), QStringLiteral("error"),
                           QStringLiteral("-select_streams"), QStringLiteral("a:0"),
                           QStringLiteral("-show_entries"), QStringLiteral("stream=channels"),
                           QStringLiteral("-of"), QStringLiteral("csv=p=0"), file},
                          ChildProcess::Output::pipe(), ChildProcess::Output::nullDevice()))
        throw std::runtime_error(failure->toStdString());
    const QByteArray output = process.readAllStandardOutput();
    process.waitForExit();
    return parseWholeNumber(strictUtf8(output).value_or(QString()).trimmed());
}

DecodedAudio runDecode(const QString& ffmpeg, const QString& file, qint64 seconds) {
    ChildProcess process;
    if (process.start(ffmpeg, pcmDecodeArguments(file, seconds), ChildProcess::Output::pipe(),
                      ChildProcess::Output::pipe()))
        throw ScannerError();
    QByteArray diagnostics;
    DecodedAudio decoded;
    decoded.pcm = process.readAllStandardOutput(&diagnostics);
    if (process.waitForExit() != 0)
        throw ScannerError();
    decoded.channelCount =
        AudioScanner::parseChannelCount(strictUtf8(diagnostics).value_or(QString()));
    return decoded;
}

} // namespace

std::optional<qint64> AudioScanner::ffprobeChannelCount(const QUrl& url) const {
    const std::optional<QString> ffmpeg = FFmpegLocator::ffmpegPath();
    if (!ffmpeg)
        return std::nullopt;
    const QString ffprobe = FFmpegLocator::ffprobePath(*ffmpeg);
    const QString file = url.toLocalFile();
    try {
        if (!withHardTimeout(scanQueue(), probeLimitSeconds,
                             [ffprobe] { return QFileInfo::exists(ffprobe); }))
            return std::nullopt;
        return withHardTimeout(scanQueue(), probeLimitSeconds,
                               [ffprobe, file] { return runProbe(ffprobe, file); });
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

DecodedAudio AudioScanner::decodeToRawPCM(const QUrl& url, qint64 seconds) const {
    const std::optional<QString> ffmpeg = FFmpegLocator::ffmpegPath();
    if (!ffmpeg)
        throw ScannerError();
    const QString file = url.toLocalFile();
    try {
        return withHardTimeout(
            scanQueue(), double(seconds) + decodeGraceSeconds,
            [path = *ffmpeg, file, seconds] { return runDecode(path, file, seconds); });
    } catch (const std::exception&) {
        throw ScannerError();
    }
}

int AudioScanner::parseChannelCount(const QString& diagnostics) {
    for (const QString& line : splitAtLineBreaks(diagnostics)) {
        if (!line.contains(QStringLiteral("Audio:")))
            continue;
        if (line.contains(QStringLiteral("stereo")))
            return 2;
        if (line.contains(QStringLiteral("mono")))
            return 1;
    }
    return 2;
}
