#include "converter/FFmpegEncoders.h"

#include "exec/ChildProcess.h"
#include "exec/TimeLimits.h"
#include "exec/ToolOutput.h"

#include <QHash>
#include <QRegularExpression>

#include <mutex>

namespace {

constexpr double listLimitSeconds = 10;

// After the legend, one line per encoder: " A..X.. name   description", the
// flags being type, frame threads, slice threads, experimental, draw band,
// direct rendering.
QSet<QString> audioEncoders(const QString& listing) {
    static const QRegularExpression encoderLine(
        QStringLiteral("^ A[.F][.S]([.X])[.B][.D] ([^ =]+) "));
    QSet<QString> names;
    for (const QString& line : splitAtLineBreaks(listing)) {
        const QRegularExpressionMatch match = encoderLine.match(line);
        if (match.hasMatch() && match.captured(1) == QLatin1String("."))
            names.insert(match.captured(2));
    }
    return names;
}

std::optional<QSet<QString>> listEncoders(const QString& ffmpegPath, std::stop_token stop) {
    ChildProcess process;
    if (process.start(ffmpegPath, {QStringLiteral("-hide_banner"), QStringLiteral("-encoders")},
                      ChildProcess::Output::pipe(), ChildProcess::Output::nullDevice()))
        return std::nullopt;
    const QByteArray output = process.readAllStandardOutput(nullptr, stop);
    if (stop.stop_requested() || process.waitForExit() != 0)
        return std::nullopt;
    QSet<QString> names = audioEncoders(strictUtf8(output).value_or(QString()));
    if (names.isEmpty())
        return std::nullopt;
    return names;
}

} // namespace

std::optional<QSet<QString>> ffmpegEncoders(const QString& ffmpegPath, std::stop_token stop) {
    static std::mutex lock;
    static QHash<QString, QSet<QString>> known;
    {
        const std::lock_guard guard(lock);
        if (const auto found = known.constFind(ffmpegPath); found != known.cend())
            return *found;
    }
    std::optional<QSet<QString>> names;
    try {
        names = withToolTimeout(
            scanQueue(), listLimitSeconds,
            [ffmpegPath](std::stop_token toolStop) { return listEncoders(ffmpegPath, toolStop); },
            stop);
    } catch (const TimeoutError&) {
    } catch (const CancellationError&) {
    }
    if (names) {
        const std::lock_guard guard(lock);
        known.insert(ffmpegPath, *names);
    }
    return names;
}
