#include "viewmodel/ContentViewModel.h"

#include "exec/WorkerThreads.h"
#include "model/PathParts.h"
#include "scanner/AudioScanner.h"
#include "viewmodel/DesktopServices.h"
#include "viewmodel/DropContents.h"
#include "viewmodel/WorkerRuns.h"

#include <QDir>
#include <QFileInfo>

void ContentViewModel::pickFolder() {
    if (!desktop)
        return;
    const QString startFolder = lastUsedFolder ? lastUsedFolder->toLocalFile() : QDir::homePath();
    const std::optional<QUrl> folder =
        desktop->chooseFolder(QStringLiteral("Select Audio Folder"), startFolder);
    if (!folder)
        return;
    log(QStringLiteral("Picked folder: ") + folder->toLocalFile());
    setSelectedFolder(folder);
    startScan();
}

void ContentViewModel::setSelectedFolder(const std::optional<QUrl>& folder) {
    if (folder)
        lastUsedFolder = folder;
    publish(selectedFolder_, folder);
}

// A drop carries no hint of what its URLs are, so the file system is asked on
// a worker and the answer comes back to the GUI thread once for the drop.
void ContentViewModel::handleDrop(const QList<QUrl>& urls) {
    log(QStringLiteral("Drop: %1 item(s)").arg(urls.size()));
    startDetachedWorker([self = QPointer(this), urls] {
        const DropContents contents = DropContents::of(urls);
        postToGuiThread([self, contents] {
            if (self)
                self->processDrop(contents);
        });
    });
}

void ContentViewModel::processDrop(const DropContents& drop) {
    if (drop.skippedFiles > 0)
        log(QStringLiteral("Drop: skipped %1 file(s): not a supported audio file type")
                .arg(drop.skippedFiles));
    if (drop.isEmpty()) {
        if (drop.skippedFiles == 0)
            log(QStringLiteral("Drop: no valid URLs"));
        return;
    }

    if (!drop.folders.isEmpty()) {
        QStringList names;
        for (const QUrl& folder : drop.folders)
            names.append(lastPathComponent(folder.toLocalFile()));
        log(QStringLiteral("Drop: scanning %1 folder(s): ").arg(drop.folders.size()) +
            names.join(QStringLiteral(", ")));
        publish(scannedFolders_, names);
        setSelectedFolder(drop.folders.first());
        startScanFolders(drop.folders);
        return;
    }

    log(QStringLiteral("Drop: %1 file(s)").arg(drop.files.size()));
    // The folder label and "Scan" now mean the dropped files' folder.
    const QString firstFolder = QFileInfo(drop.files.first()->path()).absolutePath();
    publish(scannedFolders_, {});
    setSelectedFolder(QUrl::fromLocalFile(firstFolder));
    publish(items_, drop.files);
    analyzeDroppedFiles(drop.files);
}

// Dropped files are analysed one at a time, without the semaphore or the
// refresh timer, but with a scan's progress and its stop.
void ContentViewModel::analyzeDroppedFiles(const QList<FileItemPtr>& dropped) {
    if (scanTask)
        scanTask->stop.request_stop();
    auto run = std::make_shared<ScanRun>();
    run->total = dropped.size();
    scanTask = run;
    activeScan = run;
    publish(scanStopped_, false);
    publish(isScanning_, true);
    publish(scannedCount_, qint64(0));
    publish(totalCount_, run->total);
    publish(currentScanningFile_, std::optional<QString>());

    startDetachedWorker([self = QPointer(this), run, scanner = scanner, dropped] {
        const std::stop_token stop = run->stop.get_token();
        for (const FileItemPtr& item : dropped) {
            if (stop.stop_requested())
                break;
            postToGuiThread([self, run, fileName = item->fileName] {
                if (self && self->isActive(run))
                    self->log(QStringLiteral("Analyzing: ") + fileName);
            });
            scanner->analyzeFile(item);
            postToGuiThread([self, run, item] {
                if (!self || !self->isActive(run))
                    return;
                self->publish(self->currentScanningFile_,
                              std::optional<QString>(lastPathComponent(item->path())));
                run->finished += 1;
                self->publish(self->scannedCount_, run->finished);
                self->log(QStringLiteral("  -> ") + rawValue(item->detectionStatus));
            });
        }
        postToGuiThread([self, run, dropped] {
            if (self)
                self->finishDroppedFiles(run, dropped);
        });
    });
}

// Files a stop kept from being analysed leave the list, as the files a
// stopped folder scan never reached never enter it.
void ContentViewModel::finishDroppedFiles(const std::shared_ptr<ScanRun>& run,
                                          const QList<FileItemPtr>& dropped) {
    if (!isActive(run))
        return;
    for (const FileItemPtr& item : dropped) {
        if (item->detectionStatus == DetectionStatus::pending)
            items_.removeOne(item);
    }
    publish(currentScanningFile_, std::optional<QString>());
    publish(isScanning_, false);
    if (scanTask == run)
        scanTask.reset();
    republishItems();
}
