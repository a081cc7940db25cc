#include "CliOptions.h"
#include "CliSession.h"
#include "ConsoleStreams.h"
#include "InterruptSignal.h"

#include "exec/FFmpegLocator.h"
#include "exec/WorkerThreads.h"

#include <QCoreApplication>

#include <variant>

namespace {

constexpr int usageErrorExitCode = 2;

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
    if (!FFmpegLocator::ffmpegPath()) {
        writeLine(stderr, QStringLiteral("chanfuse-cli: ffmpeg was not found; install it, or name "
                                         "it with CHANFUSE_FFMPEG"));
        return 1;
    }

    std::FILE* const results = divertCoreConsoleOutput(options.verbose);
    InterruptSignal interruptSignal;
    CliSession session(options, results);
    QObject::connect(&interruptSignal, &InterruptSignal::interrupted, &session,
                     &CliSession::interrupt);
    QObject::connect(&session, &CliSession::finished, &app,
                     [](int exitCode) { QCoreApplication::exit(exitCode); });
    QMetaObject::invokeMethod(&session, &CliSession::start, Qt::QueuedConnection);
    // After an interrupt, or a tool abandoned at its time limit, workers may
    // still be running; they are left behind, not waited for.
    exitLeavingWorkers(app.exec());
}
