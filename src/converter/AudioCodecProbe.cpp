#include "converter/AudioCodecProbe.h"

#include "exec/ChildProcess.h"
#include "exec/FFmpegLocator.h"
#include "exec/HardTimeout.h"
#include "exec/ToolOutput.h"

#include <QRegularExpression>

namespace {

constexpr double probeLimitSeconds = 10;

std::optional<QString> runCodecProbe(const QString& ffprobe, const QString& input,
                                     std::stop_token stop) {
    ChildProcess process;
    if (process.start(ffprobe,
                      {QStringLiteral("-v"), QStringLiteral("error"),
                       QStringLiteral("-select_streams"), QStringLiteral("a:0"),
                       QStringLiteral("-show_entries"), QStringLiteral("stream=codec_name"),
                       QStringLiteral("-of"), QStringLiteral("csv=p=0"), input},
                      ChildProcess::Output::pipe(), ChildProcess::Output::nullDevice()))
        return std::nullopt;
    const QByteArray output = process.readAllStandardOutput(nullptr, stop);
    if (stop.stop_requested())
        return std::nullopt;
    if (process.waitForExit() != 0)
        return std::nullopt;
    static const QRegularExpression codecName(QStringLiteral("^[a-z0-9_]+$"));
    const QString name = strictUtf8(output).value_or(QString()).trimmed();
    if (!codecName.match(name).hasMatch())
        return std::nullopt;
    return name;
}

} // namespace

std::optional<QString> probeFirstAudioCodec(const QString& ffmpegPath, const QString& input) {
    const QString ffprobe = FFmpegLocator::ffprobePath(ffmpegPath);
    try {
        return withToolTimeout(
            scanQueue(), probeLimitSeconds,
            [ffprobe, input](std::stop_token stop) { return runCodecProbe(ffprobe, input, stop); });
    } catch (const TimeoutError&) {
        return std::nullopt;
    }
}
