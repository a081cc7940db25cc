#include "converter/AudioShape.h"

#include "exec/ChildProcess.h"
#include "exec/FFmpegLocator.h"
#include "exec/HardTimeout.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

constexpr double probeLimitSeconds = 10;

std::optional<AudioShape> runShapeProbe(const QString& ffprobe, const QString& file) {
    ChildProcess process;
    if (process.start(ffprobe,
                      {QStringLiteral("-v"), QStringLiteral("error"),
                       QStringLiteral("-select_streams"), QStringLiteral("a:0"),
                       QStringLiteral("-show_entries"),
                       QStringLiteral("stream=channels:format=duration"), QStringLiteral("-of"),
                       QStringLiteral("json"), file},
                      ChildProcess::Output::pipe(), ChildProcess::Output::nullDevice()))
        return std::nullopt;
    const QByteArray output = process.readAllStandardOutput();
    if (process.waitForExit() != 0)
        return std::nullopt;
    const QJsonDocument answer = QJsonDocument::fromJson(output);
    if (!answer.isObject())
        return std::nullopt;
    AudioShape shape;
    const QJsonArray streams = answer.object().value(QStringLiteral("streams")).toArray();
    if (!streams.isEmpty())
        shape.channels = streams.first().toObject().value(QStringLiteral("channels")).toInt();
    // ffprobe writes the duration as a decimal text.
    bool isNumber = false;
    const double seconds = answer.object()
                               .value(QStringLiteral("format"))
                               .toObject()
                               .value(QStringLiteral("duration"))
                               .toString()
                               .toDouble(&isNumber);
    if (isNumber)
        shape.seconds = seconds;
    return shape;
}

} // namespace

std::optional<AudioShape> probeAudioShape(const QString& ffmpegPath, const QString& file) {
    const QString ffprobe = FFmpegLocator::ffprobePath(ffmpegPath);
    try {
        return withHardTimeout(scanQueue(), probeLimitSeconds,
                               [ffprobe, file] { return runShapeProbe(ffprobe, file); });
    } catch (const TimeoutError&) {
        return std::nullopt;
    }
}
