// SPDX-License-Identifier: GPL-3.0-or-later

#include "viewmodel/ContentViewModel.h"

#include "converter/AudioConverter.h"
#include "exec/WorkerThreads.h"
#include "history/RunJournal.h"
#include "model/FileItem.h"
#include "model/PathParts.h"
#include "model/Settings.h"
#include "scanner/AudioScanner.h"
#include "viewmodel/CompletionSummary.h"
#include "viewmodel/ConversionRun.h"
#include "viewmodel/DesktopServices.h"
#include "viewmodel/DropContents.h"
#include "viewmodel/ScanRun.h"
#include "viewmodel/UndoRun.h"

#include <QDir>
#include <QFileInfo>
#include <QScopeGuard>

#include <algorithm>

namespace {

constexpr int refreshIntervalMs = 500;

QStringList folderNames(const QList<QUrl>& folders) {
    QStringList names;
    for (const QUrl& folder : folders)
        names.append(lastPathComponent(folder.toLocalFile()));
    return names;
}

// A row's verdict for the log, with the reason when it failed.
QString verdictOf(const FileItem& item) {
    const QString status = rawValue(item.detectionStatus);
    if (item.detectionStatus != DetectionStatus::error || !item.errorMessage)
        return status;
    return status + QStringLiteral(": ") + *item.errorMessage;
}

// How the log tells a conversion's outcome.
QString logLineOf(const ConversionOutcome& outcome) {
    using Kind = ConversionOutcome::Kind;
    switch (outcome.kind) {
    case Kind::converted:
        return QStringLiteral("  -> success");
    case Kind::cancelled:
        return QStringLiteral("  -> STOPPED: left as it was");
    case Kind::channelsDiffer:
    case Kind::refused:
        return QStringLiteral("  -> NOT CONVERTED: ") + outcome.text;
    case Kind::skipped:
        return QStringLiteral("  -> SKIPPED: ") + outcome.text;
    case Kind::timedOut:
        return QStringLiteral("  -> TIMED OUT: ") + outcome.text;
    case Kind::failed:
        break;
    }
    return QStringLiteral("  -> FAILED: ") + outcome.text;
}

} // namespace

ContentViewModel::ContentViewModel(DesktopServices* desktop, QObject* parent)
    : QObject(parent), desktop(desktop),
      scanner(std::make_shared<const AudioScanner>(Settings::shared())),
      converter(std::make_shared<const AudioConverter>(Settings::shared())) {
    uiTimer.setInterval(refreshIntervalMs);
    connect(&uiTimer, &QTimer::timeout, this, &ContentViewModel::refreshTick);
    confettiTimer.setSingleShot(true);
    connect(&confettiTimer, &QTimer::timeout, this, [this] { publish(showConfetti_, false); });
    if (const QString folder = Settings::shared().lastFolder(); !folder.isEmpty())
        lastUsedFolder = QUrl::fromLocalFile(folder);
}

// Work still running is abandoned, not waited for; asking it to stop keeps a
// closed window from converting or scanning on unseen.
ContentViewModel::~ContentViewModel() {
    if (scanTask)
        scanTask->stop();
    if (convertTask)
        convertTask->stop();
    rowConversionsStop.request_stop();
    undoStop.request_stop();
}

void ContentViewModel::setShowDebug(bool value) {
    publish(showDebug_, value);
}

void ContentViewModel::setShowFilter(ShowFilter value) {
    publish(showFilter_, value);
}

void ContentViewModel::setSearchText(const QString& value) {
    publish(searchText_, value);
}

void ContentViewModel::setShowConversionComplete(bool value) {
    publish(showConversionComplete_, value);
}

void ContentViewModel::setConfettiDuration(std::chrono::milliseconds duration) {
    confettiDuration = duration;
}

void ContentViewModel::log(const QString& message) {
    eventLog.append(message);
    emit changed();
}

void ContentViewModel::republishItems() {
    publish(items_, items_);
}

// Analyses finishing during a scan only mark the list as changed; the views
// get at most one republish per tick however many finished.
void ContentViewModel::refreshTick() {
    if (!needsUIUpdate)
        return;
    needsUIUpdate = false;
    republishItems();
}

QList<FileItemPtr> ContentViewModel::visibleItems() const {
    QList<FileItemPtr> shown = filteredItems(items_, showFilter_);
    const QString search = searchText_.trimmed();
    if (search.isEmpty())
        return shown;
    shown.removeIf([this, &search](const FileItemPtr& item) {
        return !displayName(*item).contains(search, Qt::CaseInsensitive) &&
               !folderOf(*item).contains(search, Qt::CaseInsensitive);
    });
    return shown;
}

QString ContentViewModel::folderOf(const FileItem& item) const {
    const QString folder = QFileInfo(item.path()).path();
    for (const QString& root : scanRoots) {
        if (folder == root)
            return {};
        if (folder.startsWith(root + u'/'))
            return folder.mid(root.size() + 1);
    }
    return QDir::toNativeSeparators(folder);
}

QList<FileItemPtr> ContentViewModel::sortedItems() const {
    return sortedByColumn(visibleItems(), sortColumn_, sortOrder_);
}

void ContentViewModel::toggleSort(SortColumn column) {
    if (column == sortColumn_) {
        publish(sortOrder_,
                sortOrder_ == SortOrder::ascending ? SortOrder::descending : SortOrder::ascending);
        return;
    }
    publish(sortColumn_, column);
    publish(sortOrder_, SortOrder::ascending);
}

QString ContentViewModel::sortIndicator(SortColumn column) const {
    if (column != sortColumn_)
        return {};
    return sortOrder_ == SortOrder::ascending ? QStringLiteral(" \u25B2")
                                              : QStringLiteral(" \u25BC");
}

// Items are shared objects and do not notify by themselves.
void ContentViewModel::toggleSelection(const FileItemPtr& item) {
    item->isSelected = !item->isSelected;
    emit changed();
}

void ContentViewModel::selectAllFakeStereo() {
    for (const FileItemPtr& item : std::as_const(items_)) {
        if (item->detectionStatus == DetectionStatus::fakeStereo)
            item->isSelected = true;
    }
    emit changed();
}

void ContentViewModel::selectNone() {
    for (const FileItemPtr& item : std::as_const(items_))
        item->isSelected = false;
    emit changed();
}

void ContentViewModel::setSelected(const QList<FileItemPtr>& chosen, bool selected) {
    for (const FileItemPtr& item : chosen)
        item->isSelected = selected;
    emit changed();
}

void ContentViewModel::setSuffixRefusal(const std::optional<QString>& reason) {
    publish(suffixRefusal_, reason);
}

void ContentViewModel::markVerdictsOutdated() {
    if (!items_.isEmpty())
        publish(verdictsOutdated_, true);
}

qint64 ContentViewModel::fakeStereoCount() const {
    return std::count_if(items_.cbegin(), items_.cend(), [](const FileItemPtr& item) {
        return item->detectionStatus == DetectionStatus::fakeStereo;
    });
}

void ContentViewModel::showInFileManager(const FileItemPtr& item) {
    if (desktop)
        desktop->showInFileManager(item->currentUrl());
}

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
    startScanOf(folders, {});
}

// The folder label, "Scan" and the Folder column follow the scan: its
// folders, or the folder of the first dropped file.
void ContentViewModel::startScanOf(const QList<QUrl>& folders, const QList<QUrl>& files) {
    publish(scanStopped_, false);
    publish(verdictsOutdated_, false);
    publish(isScanning_, true);
    publish(items_, {});
    publish(scannedCount_, qint64(0));
    publish(totalCount_, qint64(0));
    publish(currentScanningFile_, std::optional<QString>());
    publish(scannedFolders_, folderNames(folders));
    scanRoots.clear();
    for (const QUrl& folder : folders)
        scanRoots.append(QDir::cleanPath(folder.toLocalFile()));
    if (folders.isEmpty())
        scanRoots.append(QFileInfo(files.first().toLocalFile()).absolutePath());
    setSelectedFolder(QUrl::fromLocalFile(scanRoots.first()));
    uiTimer.start();

    // A scan this one replaces could no longer show anything; its queued
    // files are not worth analysing.
    if (scanTask)
        scanTask->stop();
    scanTask = ScanRun::start(
        scanner, folders, files,
        {this,
         [this](ScanRun& run, qint64 total, qint64 folderCount, const QStringList& notes) {
             finishDiscovery(run, total, folderCount, notes);
         },
         [this](ScanRun& run, const QString& engine) {
             if (isActive(run) && loggedEngine != engine) {
                 loggedEngine = engine;
                 log(engine);
             }
         },
         [this](ScanRun& run, const FileItemPtr& item) { analysing(run, item); },
         [this](ScanRun& run, const FileItemPtr& item, const AnalysisVerdict& verdict) {
             analysed(run, item, verdict);
         },
         [this](ScanRun& run) { finishScan(run); }});
    activeScan = scanTask;
}

bool ContentViewModel::isActive(const ScanRun& run) const {
    return &run == activeScan.get();
}

void ContentViewModel::analysing(const ScanRun& run, const FileItemPtr& item) {
    if (!isActive(run))
        return;
    items_.append(item);
    emit changed();
}

// Analyses finishing during a scan only mark the list as changed; the views
// get at most one republish per refresh tick however many finished.
void ContentViewModel::analysed(ScanRun& run, const FileItemPtr& item,
                                const AnalysisVerdict& verdict) {
    if (!isActive(run))
        return;
    verdict.applyTo(*item);
    const QString fileName = lastPathComponent(item->path());
    publish(currentScanningFile_, std::optional<QString>(fileName));
    run.finished += 1;
    publish(scannedCount_, run.finished);
    needsUIUpdate = true;
    log(QStringLiteral("Scanned %1/%2: %3 -> %4")
            .arg(run.finished)
            .arg(run.total)
            .arg(fileName, verdictOf(*item)));
}

void ContentViewModel::finishDiscovery(ScanRun& run, qint64 total, qint64 folderCount,
                                       const QStringList& notes) {
    if (!isActive(run))
        return;
    for (const QString& note : notes)
        log(note);
    run.total = total;
    publish(totalCount_, total);
    if (run.scansFolders())
        log(QStringLiteral("Found %1 audio files across %2 folder(s)").arg(total).arg(folderCount));
    if (total > 0)
        return;
    log(QStringLiteral("No audio files found"));
    finishScan(run);
}

void ContentViewModel::finishScan(const ScanRun& run) {
    if (!isActive(run))
        return;
    // Last, whichever way the steps below end, once the results are published.
    const auto endsScan = qScopeGuard([this] { emit scanFinished(); });
    activeScan.reset();
    uiTimer.stop();
    if (needsUIUpdate) {
        needsUIUpdate = false;
        republishItems();
    }
    publish(currentScanningFile_, std::optional<QString>());
    if (run.total > 0)
        log(QStringLiteral("Scan complete: %1 files processed").arg(run.finished));
    publish(isScanning_, false);
    if (scanTask.get() == &run)
        scanTask.reset();

    if (fakeStereoCount() == 0)
        return;
    // The analyses have already ticked their rows if the user wants that;
    // ticking them all here would undo the user's choice.
    if (Settings::shared().autoSelectAll()) {
        log(QStringLiteral("Selecting all fake stereo files"));
        selectAllFakeStereo();
    }
    // Only a folder scan that reached every file is worth celebrating.
    if (run.wasStopped() || !run.scansFolders())
        return;
    publish(showConfetti_, true);
    confettiTimer.start(confettiDuration);
}

void ContentViewModel::stopScan() {
    log(QStringLiteral("Stopping scan..."));
    if (scanTask) {
        scanTask->stop();
        scanTask.reset();
        publish(scanStopped_, true);
    }
    publish(isScanning_, false);
    uiTimer.stop();
}

void ContentViewModel::clearResults() {
    log(QStringLiteral("Clearing results"));
    publish(items_, {});
    publish(scanStopped_, false);
    publish(verdictsOutdated_, false);
    publish(scannedCount_, qint64(0));
    publish(totalCount_, qint64(0));
    publish(selectedFolder_, std::optional<QUrl>());
    publish(scannedFolders_, {});
    uiTimer.stop();
}

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

// Folders are scanned, and dropped files with them are ignored; dropped files
// alone are scanned as they are.
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
        log(QStringLiteral("Drop: scanning %1 folder(s): ").arg(drop.folders.size()) +
            folderNames(drop.folders).join(QStringLiteral(", ")));
        startScanFolders(drop.folders);
        return;
    }
    log(QStringLiteral("Drop: %1 file(s)").arg(drop.files.size()));
    startScanOf({}, drop.files);
}

bool ContentViewModel::refusesForSuffix() {
    if (!suffixRefusal_)
        return false;
    log(QStringLiteral("Not converting: ") + *suffixRefusal_);
    return true;
}

void ContentViewModel::convertSelected() {
    if (isConverting_) {
        log(QStringLiteral("Already converting, ignoring duplicate call"));
        return;
    }
    if (refusesForSuffix())
        return;
    QList<FileItemPtr> snapshot;
    for (const FileItemPtr& item : std::as_const(items_)) {
        // A selected row a conversion still holds is not taken; the claim
        // names it in the log.
        const bool selectedButHeld = item->isSelected && isHeldForConversion(item);
        if ((isConvertible(item) || selectedButHeld) && claimForConversion(item))
            snapshot.append(item);
    }
    if (snapshot.isEmpty())
        return;

    confettiTimer.stop();
    publish(showConfetti_, false);
    log(QStringLiteral("Converting %1 files").arg(snapshot.size()));
    publish(isConverting_, true);
    publish(convertProgress_, 0.0);
    publish(showConversionComplete_, false);
    convertTask = startConversion(snapshot, std::stop_source());
    activeConversion = convertTask;
}

// A row converted on its own reports like a run of one, unless a run is
// under way: its own summary will come.
void ContentViewModel::convertItem(const FileItemPtr& item) {
    if (refusesForSuffix() || !claimForConversion(item))
        return;
    startConversion({item}, rowConversionsStop);
}

std::shared_ptr<ConversionRun> ContentViewModel::startConversion(QList<FileItemPtr> items,
                                                                 std::stop_source stop) {
    return ConversionRun::start(
        converter, std::move(items), std::move(stop),
        {this,
         [this](ConversionRun& run, const FileItemPtr& item) {
             // A stop that reached the GUI thread first has already cleared
             // the name.
             if (isActive(run) && !run.wasStopped())
                 publish(currentConvertingFile_, std::optional<QString>(item->fileName));
             log(QStringLiteral("Converting: ") + item->fileName);
         },
         [this](const QString& line) { log(line); },
         [this](ConversionRun& run, const FileItemPtr& item, const ConversionOutcome& outcome,
                double share) { converted(run, item, outcome, share); },
         [this](ConversionRun& run) {
             releaseFromConversion(run.items);
             if (isActive(run))
                 finishConversion(run);
             else if (!isConverting_ && !run.wasStopped())
                 showSummary(run);
         }});
}

bool ContentViewModel::claimForConversion(const FileItemPtr& item) {
    if (isHeldForConversion(item)) {
        log(QStringLiteral("Already converting ") + item->fileName + QStringLiteral(", skipped"));
        return false;
    }
    heldForConversion.insert(item->path());
    return true;
}

void ContentViewModel::releaseFromConversion(const QList<FileItemPtr>& released) {
    for (const FileItemPtr& item : released)
        heldForConversion.remove(item->path());
    emit changed();
}

bool ContentViewModel::isHeldForConversion(const FileItemPtr& item) const {
    return heldForConversion.contains(item->path());
}

bool ContentViewModel::isConvertible(const FileItemPtr& item) const {
    return item->isSelected && item->detectionStatus == DetectionStatus::fakeStereo &&
           !isHeldForConversion(item) && !suffixRefusal_;
}

bool ContentViewModel::isActive(const ConversionRun& run) const {
    return &run == activeConversion.get();
}

// The one place a conversion's outcome reaches its row.
void ContentViewModel::converted(const ConversionRun& run, const FileItemPtr& item,
                                 const ConversionOutcome& outcome, double share) {
    outcome.applyTo(*item);
    log(logLineOf(outcome));
    if (isActive(run))
        publish(convertProgress_, share);
}

void ContentViewModel::finishConversion(const ConversionRun& run) {
    // Last, whichever way the steps below end, once the banner is decided.
    const auto endsRun = qScopeGuard([this] { emit conversionFinished(); });
    activeConversion.reset();
    publish(currentConvertingFile_, std::optional<QString>());
    publish(isConverting_, false);
    if (convertTask.get() == &run)
        convertTask.reset();
    log(QStringLiteral("All conversions complete"));
    if (!run.wasStopped())
        showSummary(run);
}

// The banner counts what this run converted and what failed, and stays
// until dismissed.
void ContentViewModel::showSummary(const ConversionRun& run) {
    const std::optional<CompletionSummary> summary =
        CompletionSummary::of(run.items, run.behavior, run.suffixEnabled);
    if (!summary)
        return;
    publish(conversionFailureCount_, summary->failureCount);
    publish(conversionCanBeUndone_, summary->canBeUndone);
    publish(conversionCompleteMessage_, summary->message);
    publish(showConversionComplete_, true);
    log(summary->message);
}

void ContentViewModel::stopConvert() {
    log(QStringLiteral("Stopping conversion..."));
    if (convertTask) {
        convertTask->stop();
        convertTask.reset();
    }
    publish(currentConvertingFile_, std::optional<QString>());
    publish(isConverting_, false);
}

void ContentViewModel::stopAllConversions() {
    if (convertTask)
        stopConvert();
    rowConversionsStop.request_stop();
}

void ContentViewModel::undoLastRun() {
    startUndo(std::nullopt, {});
}

void ContentViewModel::undoRun(qint64 number, const QList<qint64>& fileIds) {
    startUndo(number, fileIds);
}

// Read on a worker, published on the GUI thread.
void ContentViewModel::loadHistory() {
    startDetachedWorker([self = QPointer(this)] {
        postToGuiThread([self, runs = RunJournal::runs()] {
            if (self)
                self->showHistory(runs);
        });
    });
}

void ContentViewModel::showHistory(const QList<JournalRun>& runs) {
    publish(history_, runs);
    emit historyChanged();
}

void ContentViewModel::startUndo(std::optional<qint64> number, const QList<qint64>& fileIds) {
    if (isConverting_ || isUndoing_) {
        log(QStringLiteral("Busy converting or undoing, ignoring Undo"));
        return;
    }
    publish(isUndoing_, true);
    publish(undoProgress_, 0.0);
    publish(showConversionComplete_, false);
    undoStop = std::stop_source();
    UndoRun::start(number, fileIds, undoStop.get_token(),
                   {this, [this](const QString& line) { log(line); },
                    [this](double share) { publish(undoProgress_, share); },
                    [this](const QString& original) { showUndone(original); },
                    [this](const QList<JournalRun>& runs) { showHistory(runs); },
                    [this] {
                        publish(isUndoing_, false);
                        emit undoFinished();
                    }});
}

void ContentViewModel::stopUndo() {
    if (!isUndoing_)
        return;
    log(QStringLiteral("Stopping undo..."));
    undoStop.request_stop();
}

// The row of a file taken back shows the original as the scan found it.
void ContentViewModel::showUndone(const QString& original) {
    log(QStringLiteral("Undone: ") + original);
    for (const FileItemPtr& item : std::as_const(items_)) {
        if (item->path() != original || item->detectionStatus != DetectionStatus::converted)
            continue;
        item->detectionStatus = DetectionStatus::fakeStereo;
        item->fileSize = item->originalSize;
        item->originalSize = 0;
        item->convertedSize = 0;
        item->convertedUrl.reset();
        item->errorMessage.reset();
    }
    republishItems();
}
