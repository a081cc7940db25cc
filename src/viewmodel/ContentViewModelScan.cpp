#include "viewmodel/ContentViewModel.h"

#include "exec/AsyncSemaphore.h"
#include "exec/SerialQueue.h"
#include "exec/WorkerThreads.h"
#include "model/PathParts.h"
#include "model/Settings.h"
#include "scanner/AudioScanner.h"
#include "viewmodel/WorkerRuns.h"

#include <algorithm>

namespace {

QStringList folderNames(const QList<QUrl>& folders) {
    QStringList names;
    for (const QUrl& folder : folders)
        names.append(lastPathComponent(folder.toLocalFile()));
    return names;
}

} // namespace

void ContentViewModel::startScan() {
    if (!selectedFolder_) {
        log(QStringLiteral("Scan: no folder selected"));
        return;
    }
    startScanFolders({*selectedFolder_});
}

void ContentViewModel::startScanFolders(const QList<QUrl>& folders) {
    if (folders.isEmpty())
        return;
    log(QStringLiteral("Starting scan of %1 folder(s)").arg(folders.size()));
    publish(scanStopped_, false);
    publish(isScanning_, true);
    publish(items_, {});
    publish(scannedCount_, qint64(0));
    publish(totalCount_, qint64(0));
    publish(scannedFolders_, folderNames(folders));
    setSelectedFolder(folders.first());
    startUITimer();

    // A scan this one replaces could no longer show anything; its queued
    // files are not worth analysing.
    if (scanTask)
        scanTask->stop.request_stop();
    auto run = std::make_shared<ScanRun>();
    scanTask = run;
    activeScan = run;
    startDetachedWorker([self = QPointer(this), run, scanner = scanner, folders] {
        runScan(self, run, scanner, folders);
    });
}

// The scan's own worker: discovery folder after folder, then one analysis
// thread per file, never more at once than the semaphore has permits.
void ContentViewModel::runScan(QPointer<ContentViewModel> self, std::shared_ptr<ScanRun> run,
                               std::shared_ptr<const AudioScanner> scanner, QList<QUrl> folders) {
    // Paths are canonical, so a file reached twice (folders given twice, or
    // through a link) is listed, and converted, once.
    QList<QUrl> files;
    QSet<QUrl> seen;
    QStringList notes;
    for (const QUrl& folder : std::as_const(folders)) {
        const DiscoveredFiles found = scanner->findAudioFiles(folder);
        for (const QUrl& file : found.audioFiles) {
            if (!seen.contains(file)) {
                seen.insert(file);
                files.append(file);
            }
        }
        notes.append(found.notes);
    }
    notes.removeDuplicates();
    const qint64 total = files.size();
    const qint64 folderCount = folders.size();
    postToGuiThread([self, run, total, folderCount, notes] {
        if (self)
            self->finishDiscovery(run, total, folderCount, notes);
    });
    if (total == 0)
        return;

    // A stored count below 1 would park every analysis for good; above the
    // number of scan queues, analyses would only wait for a queue.
    auto semaphore = std::make_shared<AsyncSemaphore>(
        std::clamp<qint64>(Settings::shared().parallelScans(), 1, scanOpQueueCount));
    auto analyses = std::make_shared<RunningWorkers>();
    const std::stop_token stop = run->stop.get_token();
    for (const QUrl& url : std::as_const(files)) {
        if (!semaphore->waitWithCancellation(stop))
            break;
        analyses->started();
        startDetachedWorker([self, run, scanner, url, semaphore, analyses] {
            analyzeScannedFile(self, run, scanner, url);
            semaphore->signal();
            analyses->finished();
        });
    }
    analyses->waitForAll();
    postToGuiThread([self, run] {
        if (self)
            self->finishScan(run);
    });
}

void ContentViewModel::analyzeScannedFile(QPointer<ContentViewModel> self,
                                          std::shared_ptr<ScanRun> run,
                                          std::shared_ptr<const AudioScanner> scanner, QUrl url) {
    auto item = std::make_shared<FileItem>(url);
    postToGuiThread([self, run, item] {
        if (!self || !self->isActive(run))
            return;
        self->items_.append(item);
        emit self->changed();
    });
    scanner->analyzeFile(item);
    const QString fileName = lastPathComponent(url.toLocalFile());
    postToGuiThread([self, run, item, fileName] {
        if (!self || !self->isActive(run))
            return;
        self->publish(self->currentScanningFile_, std::optional<QString>(fileName));
        run->finished += 1;
        self->publish(self->scannedCount_, run->finished);
        self->needsUIUpdate = true;
        self->log(QStringLiteral("Scanned %1/%2: %3 -> %4")
                      .arg(run->finished)
                      .arg(run->total)
                      .arg(fileName, rawValue(item->detectionStatus)));
    });
}

bool ContentViewModel::isActive(const std::shared_ptr<ScanRun>& run) const {
    return run == activeScan;
}

void ContentViewModel::finishDiscovery(const std::shared_ptr<ScanRun>& run, qint64 total,
                                       qint64 folderCount, const QStringList& notes) {
    if (!isActive(run))
        return;
    for (const QString& note : notes)
        log(note);
    run->total = total;
    publish(totalCount_, total);
    log(QStringLiteral("Found %1 audio files across %2 folder(s)").arg(total).arg(folderCount));
    if (total > 0)
        return;
    log(QStringLiteral("No audio files found"));
    publish(isScanning_, false);
    stopUITimer();
    if (scanTask == run)
        scanTask.reset();
}

void ContentViewModel::finishScan(const std::shared_ptr<ScanRun>& run) {
    if (!isActive(run))
        return;
    if (needsUIUpdate) {
        needsUIUpdate = false;
        republishItems();
    }
    stopUITimer();
    publish(currentScanningFile_, std::optional<QString>());
    log(QStringLiteral("Scan complete: %1 files processed").arg(run->finished));
    publish(isScanning_, false);
    if (scanTask == run)
        scanTask.reset();

    if (fakeStereoCount() == 0)
        return;
    log(QStringLiteral("Selecting all fake stereo files"));
    selectAllFakeStereo();
    // Only a scan that reached every file is worth celebrating.
    if (run->stop.stop_requested())
        return;
    publish(showConfetti_, true);
    confettiTimer.start(4000);
}

void ContentViewModel::stopScan() {
    log(QStringLiteral("Stopping scan..."));
    if (scanTask) {
        scanTask->stop.request_stop();
        scanTask.reset();
        publish(scanStopped_, true);
    }
    publish(isScanning_, false);
    stopUITimer();
}

void ContentViewModel::clearResults() {
    log(QStringLiteral("Clearing results"));
    publish(items_, {});
    publish(scanStopped_, false);
    publish(scannedCount_, qint64(0));
    publish(totalCount_, qint64(0));
    publish(selectedFolder_, std::optional<QUrl>());
    publish(scannedFolders_, {});
    stopUITimer();
}
