#include "converter/FFmpegRun.h"

#include "converter/BoundedFileQueries.h"
#include "converter/ErrorText.h"
#include "converter/ExitWatch.h"
#include "converter/FFmpegArguments.h"
#include "converter/StuckProcesses.h"
#include "converter/WholeFileVerification.h"
#include "exec/ChildProcess.h"
#include "exec/FFmpegLocator.h"
#include "exec/TimeLimits.h"
#include "exec/ToolOutput.h"

#include <QDir>
#include <QFile>
#include <QUuid>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <future>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto pollInterval = std::chrono::milliseconds(100);
constexpr auto terminateGrace = std::chrono::milliseconds(300);
constexpr double killGraceSeconds = 3.0;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

QString newLogFilePath() {
    return QDir::tempPath() + QStringLiteral("/sonfold_ffmpeg_") +
           QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() + QStringLiteral(".log");
}

// The diagnostics as text (empty when unreadable or not UTF-8); the file is
// removed either way.
QString takeDiagnostics(const QString& logFile) {
    QString text;
    QFile file(logFile);
    if (file.open(QIODevice::ReadOnly))
        text = strictUtf8(file.readAll()).value_or(QString());
    file.close();
    QFile::remove(logFile);
    return text;
}

void removeLogAfterFailedLaunch(const QString& logFile) {
    try {
        withHardTimeout(logRemovalLimitSeconds, [logFile] { QFile::remove(logFile); });
    } catch (const TimeoutError&) {
    }
}

FFmpegOutcome finishNormally(ChildProcess& child, const QString& logFile,
                             const ConversionLog& log) {
    const int status = child.waitForExit();
    log(QStringLiteral("ffmpeg exited with status %1").arg(status));
    const QString text = takeDiagnostics(logFile);
    if (!text.isEmpty()) {
        const QStringList pieces = splitAtLineBreaks(text);
        log(QStringLiteral("ffmpeg stderr (last 5 lines): ") +
            pieces.mid(qMax(qsizetype(0), pieces.size() - 5)).join(u'\n'));
    }
    if (status == 0)
        return {true, {}};
    return {false, extractError(text)};
}

// Terminate, then SIGKILL, then give up on a process that will not die.
FFmpegOutcome stop(ChildProcess& child, const ExitWatch& exitWatch, const QString& logFile,
                   const QString& output, const CancellationFlag& cancelled, double limitSeconds,
                   Clock::time_point start, const ConversionLog& log) {
    const QString pid = QString::number(child.pid());
    if (!cancelled.isSet())
        log(QStringLiteral("ffmpeg TIMEOUT after %1s, terminating...")
                .arg(qint64(secondsSince(start))));
    child.terminate();
    exitWatch.waitUpTo(terminateGrace);

    if (child.isRunning()) {
        child.kill();
        log(QStringLiteral("Sent SIGKILL to ffmpeg PID ") + pid +
            QStringLiteral(", waiting up to 3s..."));
        const auto killTime = Clock::now();
        while (child.isRunning() && secondsSince(killTime) <= killGraceSeconds)
            exitWatch.waitUpTo(pollInterval);
        if (child.isRunning()) {
            log(QStringLiteral("ffmpeg PID ") + pid +
                QStringLiteral(" still alive after SIGKILL \u2014 D state on HDD, tracking"));
            trackStuckPID(child.pid());
            log(QStringLiteral("ffmpeg PID ") + pid + QStringLiteral(" may still write ") + output);
        } else {
            log(QStringLiteral("ffmpeg PID %1 died after %2s")
                    .arg(pid)
                    .arg(qint64(secondsSince(killTime))));
        }
    }

    const QString text = takeDiagnostics(logFile);
    if (cancelled.isSet())
        return {false, QStringLiteral("Cancelled")};
    QString message = QStringLiteral("Conversion timed out after %1s").arg(qint64(limitSeconds));
    if (!text.trimmed().isEmpty())
        message += QStringLiteral("; ") + extractError(text);
    return {false, message};
}

} // namespace

FFmpegOutcome runFFmpeg(const QString& input, const QString& output, const ConversionLog& log,
                        const Settings& settings, std::stop_token stopToken) {
    const std::optional<QString> ffmpeg = FFmpegLocator::ffmpegPath();
    if (!ffmpeg)
        return {false, QStringLiteral("ffmpeg not found")};
    if (!fileExistsWithin(fileQueryLimitSeconds, input).value_or(false))
        return {false, QStringLiteral("Input file not found: ") + input};
    if (fileSizeWithin(fileQueryLimitSeconds, input).value_or(0) <= 0)
        return {false, QStringLiteral("Input file is empty: ") + input};
    if (stopToken.stop_requested())
        return {false, QStringLiteral("Cancelled")};
    // The encoder follows the input's own format, and the same probe notices a
    // file replaced since the scan by one that is no longer stereo; neither
    // depends on the whole-file check, so it runs alongside it.
    std::future<ConversionPlan> plan =
        std::async(std::launch::async, [ffmpeg = *ffmpeg, input, output, stopToken] {
            return planConversion(ffmpeg, input, output, stopToken);
        });
    // Nothing is written for a file the whole of which is not fake stereo.
    const WholeFileCheck check = verifyWholeFile(input, settings, log, stopToken);
    if (check.refusal)
        return {false, *check.refusal};
    if (stopToken.stop_requested())
        return {false, QStringLiteral("Cancelled")};
    const ConversionPlan planned = plan.get();
    // A stop while the plan's tools ran leaves it without an answer.
    if (stopToken.stop_requested())
        return {false, QStringLiteral("Cancelled")};
    if (planned.refusal)
        return {false, *planned.refusal};
    log(planned.choice);

    log(QStringLiteral("ffmpeg binary: ") + *ffmpeg);
    killStuckPIDs();

    const QStringList& arguments = planned.arguments;

    const QString logFile = newLogFilePath();
    const int logFd = ::open(QFile::encodeName(logFile).constData(),
                             O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    log(QStringLiteral("Launching ffmpeg: ") + *ffmpeg + u' ' + arguments.join(u' '));
    if (logFd < 0) {
        // Without its diagnostics a failure could not be explained: refuse.
        const QString message = QStringLiteral("Could not create %1: %2")
                                    .arg(logFile, QString::fromLocal8Bit(std::strerror(errno)));
        log(QStringLiteral("ffmpeg launch FAILED: ") + message);
        return {false, message};
    }

    ChildProcess child;
    const std::optional<QString> launchFailure = child.start(
        *ffmpeg, arguments, ChildProcess::Output::nullDevice(), ChildProcess::Output::file(logFd));
    ::close(logFd);
    if (launchFailure) {
        removeLogAfterFailedLaunch(logFile);
        log(QStringLiteral("ffmpeg launch FAILED: ") + *launchFailure);
        return {false, *launchFailure};
    }
    log(QStringLiteral("ffmpeg launched, PID: %1").arg(child.pid()));

    const double limitSeconds = double(settings.convertTimeoutSeconds());
    CancellationFlag cancelled;
    const std::stop_callback onStop(stopToken, [&cancelled] { cancelled.set(); });
    const ExitWatch exitWatch(child.pid());

    enum class Ending { exited, cancelled, timedOut };
    Ending ending = Ending::exited;
    const auto start = Clock::now();
    while (child.isRunning()) {
        if (cancelled.isSet()) {
            ending = Ending::cancelled;
            break;
        }
        if (secondsSince(start) >= limitSeconds) {
            ending = Ending::timedOut;
            break;
        }
        exitWatch.waitUpTo(pollInterval);
    }
    if (ending == Ending::exited) {
        FFmpegOutcome outcome = finishNormally(child, logFile, log);
        outcome.framesVerified = check.framesCompared;
        return outcome;
    }
    if (ending == Ending::cancelled) {
        log(QStringLiteral("Task cancelled, killing ffmpeg PID %1").arg(child.pid()));
        child.kill();
    }
    return stop(child, exitWatch, logFile, output, cancelled, limitSeconds, start, log);
}
