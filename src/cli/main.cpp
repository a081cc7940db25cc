// SPDX-License-Identifier: GPL-3.0-or-later

#include "CliOptions.h"
#include "CliSession.h"
#include "ConsoleStreams.h"
#include "HistoryCommands.h"

#include "exec/FFmpegLocator.h"
#include "exec/WorkerThreads.h"
#include "viewmodel/LogFile.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <variant>

#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int usageErrorExitCode = 2;

int interruptPipe[2] = {-1, -1};

void onInterruption(int) {
    const int savedErrno = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = write(interruptPipe[1], &byte, 1);
    errno = savedErrno;
}

// A terminal's Ctrl-C, a kill or timeout(1), a closed terminal: each gets the
// same careful stop, since dying mid-step could leave an original half
// replaced. The handler only writes a byte into a pipe, whose reading end the
// event loop watches; every signal received reaches the session once.
void forwardInterruptions(CliSession& session) {
    if (pipe2(interruptPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    auto* notifier = new QSocketNotifier(interruptPipe[0], QSocketNotifier::Read, &session);
    QObject::connect(notifier, &QSocketNotifier::activated, &session, [&session] {
        char bytes[16];
        ssize_t count;
        while ((count = read(interruptPipe[0], bytes, sizeof bytes)) > 0) {
            for (ssize_t index = 0; index < count; ++index)
                session.interrupt();
        }
    });
    struct sigaction action {};
    action.sa_handler = onInterruption;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int interruption : {SIGINT, SIGTERM, SIGHUP})
        sigaction(interruption, &action, nullptr);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("chanfuse-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(CHANFUSE_VERSION));

    const auto parsed = parseCommandLine(QCoreApplication::arguments());
    if (const auto* error = std::get_if<UsageError>(&parsed)) {
        writeLine(stderr, QStringLiteral("chanfuse-cli: ") + error->message);
        writeLine(stderr, QStringLiteral("Try 'chanfuse-cli --help' for more information."));
        return usageErrorExitCode;
    }
    const CliOptions& options = std::get<CliOptions>(parsed);
    applyForThisRun(options);
    if (options.command == CliCommand::history || options.command == CliCommand::undo)
        exitLeavingWorkers(runHistoryCommand(options, divertCoreConsoleOutput(options.verbose)));
    if (!FFmpegLocator::ffmpegPath()) {
        writeLine(stderr, QStringLiteral("chanfuse-cli: ffmpeg was not found; install it, or name "
                                         "it with CHANFUSE_FFMPEG"));
        return 1;
    }

    std::FILE* const results = divertCoreConsoleOutput(options.verbose);
    tellOfInterruptedRuns();
    CliSession session(options, results);
    forwardInterruptions(session);
    QObject::connect(&session, &CliSession::finished, &app,
                     [](int exitCode) { QCoreApplication::exit(exitCode); });
    QMetaObject::invokeMethod(&session, &CliSession::start, Qt::QueuedConnection);
    const int exitCode = app.exec();
    flushLogFile();
    // After an interrupt, or a tool abandoned at its time limit, workers may
    // still be running; they are left behind, not waited for.
    exitLeavingWorkers(exitCode);
}
