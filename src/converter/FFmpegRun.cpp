#include "converter/FFmpegRun.h"

#include "converter/BoundedFileQueries.h"
#include "converter/ErrorText.h"
#include "converter/ExitWatch.h"
#include "converter/FFmpegArguments.h"
#include "converter/StuckProcesses.h"
#include "exec/ChildProcess.h"
#include "exec/FFmpegLocator.h"
#include "exec/HardTimeout.h"
#include "exec/ThrowingTimeout.h"
#include "exec/ToolOutput.h"
#include "scanner/WholeFileComparison.h"

#include <QDir>
#include <QFile>
#include <QUuid>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <thread>
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

enum class Ending { exited, refused, cancelled, timedOut };

// SIGKILL, then give up on a process that will not die. Reading cut short
// has killed the whole process group already.
FFmpegOutcome stop(ChildProcess& child, const ExitWatch& exitWatch, const QString& logFile,
                   const QString& output, Ending ending, double limitSeconds,
                   Clock::time_point start, const ConversionLog& log) {
    const QString pid = QString::number(child.pid());
    if (ending == Ending::timedOut)
        log(QStringLiteral("ffmpeg TIMEOUT after %1s, terminating...")
                .arg(qint64(secondsSince(start))));
    else if (ending == Ending::cancelled)
        log(QStringLiteral("Task cancelled, killing ffmpeg PID ") + pid);
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

    const QString text = takeDiagnostics(logFile);
    if (ending == Ending::refused)
        return {false, {}};
    if (ending == Ending::cancelled)
        return {false, QStringLiteral("Cancelled")};
    QString message = QStringLiteral("Conversion timed out after %1s").arg(qint64(limitSeconds));
    if (!text.trimmed().isEmpty())
        message += QStringLiteral("; ") + extractError(text);
    return {false, message};
}

// Requests `halt` at `deadline` unless stopped first.
std::jthread deadlineWatch(Clock::time_point deadline, std::stop_source halt,
                           std::atomic_bool& reached) {
    return std::jthread([deadline, halt, &reached](std::stop_token finished) mutable {
        std::mutex lock;
        std::condition_variable_any wake;
        std::unique_lock guard(lock);
        wake.wait_until(guard, finished, deadline, [] { return false; });
        if (!finished.stop_requested()) {
            reached = true;
            halt.request_stop();
        }
    });
}

} // namespace

double conversionLimitSeconds(const Settings& settings) {
    // One run now does the work of the whole-file decode and of the
    // conversion, which had these two limits one after the other; their sum
    // never cuts short a file that passed both before.
    return wholeFileLimitSeconds(settings) + double(settings.convertTimeoutSeconds());
}

FFmpegOutcome runFFmpeg(const QString& input, const QString& output, const ConversionLog& log,
                        const Settings& settings, const PcmConsumer& onPcm,
                        std::stop_token stopToken) {
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
    // file replaced since the scan by one that is no longer stereo.
    const ConversionPlan planned = planConversion(*ffmpeg, input, output, stopToken);
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

    // Diagnostics go to a file, so the only pipe is the PCM, read without pause.
    ChildProcess child;
    const std::optional<QString> launchFailure = child.start(
        *ffmpeg, arguments, ChildProcess::Output::pipe(), ChildProcess::Output::file(logFd));
    ::close(logFd);
    if (launchFailure) {
        removeLogAfterFailedLaunch(logFile);
        log(QStringLiteral("ffmpeg launch FAILED: ") + *launchFailure);
        return {false, *launchFailure};
    }
    log(QStringLiteral("ffmpeg launched, PID: %1").arg(child.pid()));

    const double limitSeconds = conversionLimitSeconds(settings);
    const auto start = Clock::now();
    const auto deadline = start + std::chrono::duration_cast<Clock::duration>(
                                      std::chrono::duration<double>(limitSeconds));
    // A stop request, the time limit and a refusal of the PCM all cut the
    // reading short, which kills ffmpeg's process group at once.
    std::stop_source halt;
    CancellationFlag cancelled;
    const std::stop_callback onStop(stopToken, [&cancelled, &halt] {
        cancelled.set();
        halt.request_stop();
    });
    std::atomic_bool timedOut = false;
    bool refused = false;
    {
        const std::jthread watch = deadlineWatch(deadline, halt, timedOut);
        child.readPipes(
            [&](QByteArrayView pcm) {
                if (onPcm(pcm))
                    return true;
                refused = true;
                halt.request_stop();
                return false;
            },
            nullptr, halt.get_token());
    }
    const ExitWatch exitWatch(child.pid());

    Ending ending = refused             ? Ending::refused
                    : cancelled.isSet() ? Ending::cancelled
                    : timedOut          ? Ending::timedOut
                                        : Ending::exited;
    // The PCM ended; ffmpeg is finishing its file.
    while (ending == Ending::exited && child.isRunning()) {
        if (cancelled.isSet())
            ending = Ending::cancelled;
        else if (Clock::now() >= deadline)
            ending = Ending::timedOut;
        else
            exitWatch.waitUpTo(pollInterval);
    }
    if (ending == Ending::exited)
        return finishNormally(child, logFile, log);
    return stop(child, exitWatch, logFile, output, ending, limitSeconds, start, log);
}
