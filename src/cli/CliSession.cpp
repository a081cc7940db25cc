// SPDX-License-Identifier: GPL-3.0-or-later

#include "CliSession.h"

#include "ConsoleStreams.h"
#include "ExitCodes.h"
#include "ItemReport.h"

namespace {

// Converted, failed, skipped, or refused because the whole file proved to be
// real stereo: every file the run took leaves fake stereo once it is handled.
bool isOutcome(DetectionStatus status) {
    return status != DetectionStatus::fakeStereo;
}

void tellUser(const QString& line) {
    writeLine(stderr, line);
}

} // namespace

CliSession::CliSession(CliOptions options, std::FILE* results, QObject* parent)
    : QObject(parent), options(std::move(options)), results(results),
      progress(!this->options.verbose) {
    connect(&viewModel, &ContentViewModel::changed, this, &CliSession::viewModelChanged);
    // Not the state flags: a stop drops them at once, while the work still
    // winds down.
    connect(&viewModel, &ContentViewModel::scanFinished, this, &CliSession::scanEnded);
    connect(&viewModel, &ContentViewModel::conversionFinished, this, &CliSession::conversionEnded);
}

void CliSession::start() {
    viewModel.startScanFolders(options.folders);
}

void CliSession::interrupt() {
    if (phase == Phase::ended)
        return;
    if (interrupted) {
        if (phase == Phase::scanning)
            end(interruptedExitCode);
        return;
    }
    interrupted = true;
    progress.clear();
    if (phase == Phase::scanning) {
        tellUser(QStringLiteral("Interrupted: stopping the scan (Ctrl-C again to quit now)"));
        viewModel.stopScan();
    } else {
        tellUser(QStringLiteral("Interrupted: cancelling the file in hand, then stopping"));
        viewModel.stopConvert();
    }
}

void CliSession::viewModelChanged() {
    if (phase == Phase::ended)
        return;
    showProgress();
    if (phase == Phase::converting)
        reportNewOutcomes();
}

void CliSession::showProgress() {
    if (interrupted)
        return;
    if (phase == Phase::scanning) {
        const qint64 total = viewModel.totalCount();
        if (total == 0)
            progress.show(-1, QStringLiteral("Looking for audio files..."));
        else
            progress.show(
                double(viewModel.scannedCount()) / double(total),
                QStringLiteral("Scanning %1/%2").arg(viewModel.scannedCount()).arg(total));
    } else {
        const double done = viewModel.convertProgress();
        progress.show(done, QStringLiteral("Converting %1/%2")
                                .arg(qRound(done * double(toConvert.size())))
                                .arg(toConvert.size()));
    }
}

void CliSession::reportNewOutcomes() {
    for (const FileItemPtr& item : std::as_const(toConvert)) {
        if (!isOutcome(item->detectionStatus) || reported.contains(item.get()))
            continue;
        reported.insert(item.get());
        if (options.json)
            continue;
        progress.clear();
        writeLine(results, outcomeLine(*item));
    }
}

void CliSession::scanEnded() {
    if (phase != Phase::scanning)
        return;
    progress.clear();
    const QList<FileItemPtr> scanned = sortedByPath(viewModel.items());
    tellUser(scanSummary(scanned));

    if (options.command == CliCommand::scan) {
        if (options.json)
            std::fputs(itemsAsJson(scanned).constData(), results);
        else {
            for (const FileItemPtr& item : scanned)
                writeLine(results, scanLine(*item));
        }
        return end(interrupted ? interruptedExitCode : exitCodeForItems());
    }
    if (interrupted)
        return end(interruptedExitCode);

    // The scan selected every fake-stereo file at its end; "Convert Selected"
    // takes exactly these.
    for (const FileItemPtr& item : scanned) {
        if (viewModel.isConvertible(item))
            toConvert.append(item);
    }
    if (options.dryRun) {
        if (options.json)
            std::fputs(itemsAsJson(toConvert).constData(), results);
        else {
            for (const FileItemPtr& item : std::as_const(toConvert))
                writeLine(results, scanLine(*item));
        }
        tellUser(QStringLiteral("Dry run: %1 files would be converted").arg(toConvert.size()));
        return end(exitCodeForItems());
    }
    if (toConvert.isEmpty())
        return end(exitCodeForItems());
    phase = Phase::converting;
    viewModel.convertSelected();
}

void CliSession::conversionEnded() {
    if (phase != Phase::converting)
        return;
    progress.clear();
    reportNewOutcomes();
    if (options.json)
        std::fputs(itemsAsJson(toConvert).constData(), results);
    if (viewModel.showConversionComplete())
        writeLine(options.json ? stderr : results, viewModel.conversionCompleteMessage());
    end(interrupted ? interruptedExitCode : exitCodeForItems());
}

void CliSession::end(int exitCode) {
    phase = Phase::ended;
    progress.clear();
    std::fflush(results);
    emit finished(exitCode);
}

int CliSession::exitCodeForItems() const {
    for (const FileItemPtr& item : viewModel.items()) {
        if (endedInFailure(*item))
            return 1;
    }
    return 0;
}
