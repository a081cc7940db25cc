// SPDX-License-Identifier: GPL-3.0-or-later

#include "converter/FFmpegRun.h"

#include "converter/BoundedFileQueries.h"
#include "converter/FFmpegArguments.h"
#include "converter/FFmpegErrorText.h"
#include "converter/StuckProcesses.h"
#include "exec/ChildProcess.h"
#include "exec/Deadline.h"
#include "exec/FFmpegLocator.h"
#include "exec/TimeLimits.h"
#include "exec/ToolOutput.h"
#include "model/OwnFileNames.h"
#include "scanner/WholeFileComparison.h"

#include <QDir>
#include <QFile>
#include <QUuid>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

namespace {

using Kind = ConversionOutcome::Kind;

FFmpegOutcome failedWith(Kind kind, QString text) {
    return {ConversionOutcome::notConverted(kind, std::move(text))};
}

// Waits for a child to end without reaping it, so the supervisor's polls
// return as soon as ffmpeg exits instead of at the next 0.1 s tick. Where the
// kernel offers no process file descriptor, a wait simply sleeps its limit.
class ExitWatch {
public:
    explicit ExitWatch(pid_t pid);
    ExitWatch(const ExitWatch&) = delete;
    ExitWatch& operator=(const ExitWatch&) = delete;
    ~ExitWatch();

    // Returns after `limit`, or earlier when the child has ended.
    void waitUpTo(std::chrono::milliseconds limit) const;

private:
    int processFd = -1;
};

ExitWatch::ExitWatch(pid_t pid) {
#ifdef SYS_pidfd_open
    processFd = int(::syscall(SYS_pidfd_open, pid, 0));
#else
    (void)pid;
#endif
}

ExitWatch::~ExitWatch() {
    if (processFd >= 0)
        ::close(processFd);
}

void ExitWatch::waitUpTo(std::chrono::milliseconds limit) const {
    if (processFd < 0) {
        std::this_thread::sleep_for(limit);
        return;
    }
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return;
        pollfd watched{processFd, POLLIN, 0};
        const int ready = ::poll(&watched, 1, int(left.count()));
        if (ready > 0)
            return;
        if (ready < 0 && errno != EINTR) {
            std::this_thread::sleep_for(left);
            return;
        }
    }
}

using Clock = std::chrono::steady_clock;
constexpr auto pollInterval = std::chrono::milliseconds(100);

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

QString newLogFilePath() {
    return QDir::tempPath() + u'/' + diagnosticsFilePrefix +
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
        return {};
    return failedWith(Kind::failed, extractError(text));
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
            QStringLiteral(" still alive after SIGKILL \u2014 in uninterruptible sleep "
                           "(a disk that stopped answering), tracking"));
        trackStuckPID(child.pid());
        log(QStringLiteral("ffmpeg PID ") + pid + QStringLiteral(" may still write ") + output);
    } else {
        log(QStringLiteral("ffmpeg PID %1 died after %2s")
                .arg(pid)
                .arg(qint64(secondsSince(killTime))));
    }

    const QString text = takeDiagnostics(logFile);
    if (ending == Ending::refused)
        return failedWith(Kind::channelsDiffer, {});
    if (ending == Ending::cancelled)
        return failedWith(Kind::cancelled, QStringLiteral("Cancelled"));
    QString message = QStringLiteral("Conversion timed out after %1s").arg(qint64(limitSeconds));
    if (!text.trimmed().isEmpty())
        message += QStringLiteral("; ") + extractError(text);
    return failedWith(Kind::timedOut, message);
}

} // namespace

double conversionLimitSeconds(const Settings& settings) {
    // One run now does the work of the whole-file decode and of the
    // conversion, which had these two limits one after the other; their sum
    // never cuts short a file that passed both before.
    return wholeFileLimitSeconds(settings) + double(settings.convertTimeoutSeconds());
}

FFmpegOutcome runFFmpeg(const QString& input, const QString& output, const ConversionLog& log,
                        const Settings& settings, std::stop_token stopToken) {
    const std::optional<QString> ffmpeg = FFmpegLocator::ffmpegPath();
    if (!ffmpeg)
        return failedWith(Kind::failed, QStringLiteral("ffmpeg not found"));
    if (!fileExistsWithin(fileQueryLimitSeconds, input).value_or(false))
        return failedWith(Kind::failed, QStringLiteral("Input file not found: ") + input);
    if (fileSizeWithin(fileQueryLimitSeconds, input).value_or(0) <= 0)
        return failedWith(Kind::failed, QStringLiteral("Input file is empty: ") + input);
    if (stopToken.stop_requested())
        return failedWith(Kind::cancelled, QStringLiteral("Cancelled"));
    // The encoder follows the input's own format, and the same probe notices a
    // file replaced since the scan by one that is no longer stereo.
    const OrFailure<ConversionPlan> planned =
        planConversion(*ffmpeg, input, output, settings.comparisonMethod(), stopToken);
    // A stop while the plan's tools ran leaves it without an answer.
    if (stopToken.stop_requested())
        return failedWith(Kind::cancelled, QStringLiteral("Cancelled"));
    if (auto refusal = planned.failure())
        return {std::move(refusal)};
    log(planned->choice);

    log(QStringLiteral("ffmpeg binary: ") + *ffmpeg);
    killStuckPIDs();

    const QStringList& arguments = planned->arguments;

    const QString logFile = newLogFilePath();
    const int logFd = ::open(QFile::encodeName(logFile).constData(),
                             O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    log(QStringLiteral("Launching ffmpeg: ") + *ffmpeg + u' ' + arguments.join(u' '));
    if (logFd < 0) {
        // Without its diagnostics a failure could not be explained: refuse.
        const QString message = QStringLiteral("Could not create %1: %2")
                                    .arg(logFile, QString::fromLocal8Bit(std::strerror(errno)));
        log(QStringLiteral("ffmpeg launch FAILED: ") + message);
        return failedWith(Kind::failed, message);
    }

    // Diagnostics go to a file, so the only pipe is the PCM, read without pause.
    ChildProcess child;
    const std::optional<QString> launchFailure = child.start(
        *ffmpeg, arguments, ChildProcess::Output::pipe(), ChildProcess::Output::file(logFd));
    ::close(logFd);
    if (launchFailure) {
        removeLogAfterFailedLaunch(logFile);
        log(QStringLiteral("ffmpeg launch FAILED: ") + *launchFailure);
        return failedWith(Kind::failed, *launchFailure);
    }
    log(QStringLiteral("ffmpeg launched, PID: %1").arg(child.pid()));

    const double limitSeconds = conversionLimitSeconds(settings);
    const auto start = Clock::now();
    // A stop request, the time limit and a refusal of the PCM all cut the
    // reading short, which kills ffmpeg's process group at once.
    Deadline deadline(limitSeconds, stopToken);
    WholeFileComparer check(planned->judgement);
    child.readPipes(
        [&](QByteArrayView pcm) {
            if (check.feed(pcm))
                return true;
            deadline.cutShort();
            return false;
        },
        nullptr, deadline.token());
    const ExitWatch exitWatch(child.pid());

    const auto ending = [&deadline] {
        switch (deadline.reason()) {
        case Deadline::Reason::none:
            return Ending::exited;
        case Deadline::Reason::passed:
            return Ending::timedOut;
        case Deadline::Reason::callerStopped:
            return Ending::cancelled;
        case Deadline::Reason::cutShort:
            break;
        }
        return Ending::refused;
    };
    // The PCM ended; ffmpeg is finishing its file. Once it has, a limit or a
    // stop that comes later changes nothing.
    Ending ended = ending();
    while (ended == Ending::exited && child.isRunning()) {
        exitWatch.waitUpTo(pollInterval);
        if (child.isRunning())
            ended = ending();
    }
    FFmpegOutcome outcome = ended == Ending::exited ? finishNormally(child, logFile, log)
                                                    : stop(child, exitWatch, logFile, output, ended,
                                                           limitSeconds, start, log);
    outcome.verdict = check.verdict();
    outcome.originalTags = planned->tags;
    return outcome;
}
