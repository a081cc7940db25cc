#include "scanner/AudioScanner.h"

#include "exec/ChildProcess.h"
#include "exec/FFmpegLocator.h"
#include "exec/HardTimeout.h"
#include "scanner/PcmDecode.h"
#include "scanner/ScannerError.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

constexpr double probeLimitSeconds = 10;
constexpr double decodeGraceSeconds = 10;

// Reads the channels field of every audio stream from ffprobe's JSON. The
// field comes from the stream's own parameters: no tag or file name can
// reach it, unlike the stream descriptions in ffmpeg's diagnostics.
std::optional<AudioLayout> parseLayout(const QByteArray& json) {
    const QJsonArray streams = QJsonDocument::fromJson(json).object().value(u"streams").toArray();
    if (streams.isEmpty())
        return std::nullopt;
    const qint64 firstChannels = streams.first().toObject().value(u"channels").toInteger();
    if (firstChannels < 1)
        return std::nullopt;
    return AudioLayout{firstChannels, streams.size()};
}

// Reads a started tool's output to its end. At its time limit the tool has
// been killed and its output is of no use; leaving at once frees the queue.
QByteArray readToEnd(ChildProcess& process, std::stop_token stop) {
    QByteArray output = process.readAllStandardOutput(nullptr, stop);
    if (stop.stop_requested())
        throw TimeoutError();
    return output;
}

std::optional<AudioLayout> runProbe(const QString& ffprobe, const QString& file,
                                    std::stop_token stop) {
    ChildProcess process;
    if (process.start(ffprobe,
                      {QStringLiteral("-v"), QStringLiteral("error"),
                       QStringLiteral("-select_streams"), QStringLiteral("a"),
                       QStringLiteral("-show_entries"), QStringLiteral("stream=channels"),
                       QStringLiteral("-of"), QStringLiteral("json"), file},
                      ChildProcess::Output::pipe(), ChildProcess::Output::nullDevice()))
        return std::nullopt;
    const QByteArray output = readToEnd(process, stop);
    process.waitForExit();
    return parseLayout(output);
}

QByteArray runDecode(const QString& ffmpeg, const QString& file, qint64 seconds,
                     std::stop_token stop) {
    ChildProcess process;
    if (process.start(ffmpeg, pcmDecodeArguments(file, seconds), ChildProcess::Output::pipe(),
                      ChildProcess::Output::nullDevice()))
        throw ScannerError();
    QByteArray pcm = readToEnd(process, stop);
    if (process.waitForExit() != 0)
        throw ScannerError();
    return pcm;
}

} // namespace

std::optional<AudioLayout> AudioScanner::ffprobeAudioLayout(const QUrl& url) const {
    const std::optional<QString> ffmpeg = FFmpegLocator::ffmpegPath();
    if (!ffmpeg)
        return std::nullopt;
    const QString ffprobe = FFmpegLocator::ffprobePath(*ffmpeg);
    const QString file = url.toLocalFile();
    try {
        return withToolTimeout(
            scanQueue(), probeLimitSeconds,
            [ffprobe, file](std::stop_token stop) { return runProbe(ffprobe, file, stop); });
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

QByteArray AudioScanner::decodeToRawPCM(const QUrl& url, qint64 seconds) const {
    const std::optional<QString> ffmpeg = FFmpegLocator::ffmpegPath();
    if (!ffmpeg)
        throw ScannerError();
    const QString file = url.toLocalFile();
    try {
        return withToolTimeout(scanQueue(), double(seconds) + decodeGraceSeconds,
                               [path = *ffmpeg, file, seconds](std::stop_token stop) {
                                   return runDecode(path, file, seconds, stop);
                               });
    } catch (const std::exception&) {
        throw ScannerError();
    }
}
