// SPDX-License-Identifier: GPL-3.0-or-later

#include "viewmodel/ContentViewModel.h"

#include "converter/AudioConverter.h"
#include "exec/AsyncSemaphore.h"
#include "exec/FFmpegLocator.h"
#include "exec/SerialQueue.h"
#include "exec/TimeLimits.h"
#include "exec/WorkerThreads.h"
#include "history/RunJournal.h"
#include "history/UndoConversion.h"
#include "model/FileItem.h"
#include "model/PathParts.h"
#include "model/Settings.h"
#include "scanner/AnalysisEngine.h"
#include "scanner/AudioScanner.h"
#include "viewmodel/DesktopServices.h"
#include "viewmodel/LogFile.h"

#include <QDir>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTime>
#include <QUuid>

#include <algorithm>
#include <cstdio>

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

QString sizeText(qint64 bytes) {
    return formattedFileSize(bytes);
}

} // namespace

// One folder scan, or the analysis of dropped files. The stop source is
// requested from the GUI thread and read by the run's workers; `finished` is
// touched on the GUI thread only.
struct ContentViewModel::ScanRun {
    std::stop_source stop;
    qint64 finished = 0;
    qint64 total = 0;
};

// One conversion run of the selected items, or of one row. What becomes of
// the originals is read when it starts, so its summary tells what this run
// did, whatever the settings say by its end.
struct ContentViewModel::ConversionRun {
    std::stop_source stop;
    QList<FileItemPtr> items;
    ConvertBehavior behavior = ConvertBehavior::trash;
    bool suffixEnabled = false;

    static std::shared_ptr<ConversionRun> of(QList<FileItemPtr> items) {
        auto run = std::make_shared<ConversionRun>();
        run->items = std::move(items);
        run->behavior = Settings::shared().convertBehavior();
        run->suffixEnabled = Settings::shared().suffixEnabled();
        return run;
    }
};

// One drop as the file system describes it: the folders to scan, the audio
// files already made into pending items (their sizes read here, off the GUI
// thread, as the volume may not answer), and how many other files were left
// out for not being audio files.
struct ContentViewModel::DropContents {
    QList<QUrl> folders;
    QList<FileItemPtr> files;
    qsizetype skippedFiles = 0;

    bool isEmpty() const { return folders.isEmpty() && files.isEmpty(); }

    // Asks the file system which of the local URLs are folders; other URLs
    // are left out, and files count only with an audio extension, as in a
    // folder scan. Blocks the calling worker for at most 10 seconds, and gives
    // empty contents when the file system does not answer in time.
    static DropContents of(const QList<QUrl>& urls);
};

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
        scanTask->stop.request_stop();
    if (convertTask)
        convertTask->stop.request_stop();
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

void ContentViewModel::log(const QString& message) {
    const QString entry =
        u'[' + logTimestamp(QTime::currentTime()) + QStringLiteral("] ") + message;
    debugLog_.append(entry);
    loggedLineCount_ += 1;
    if (debugLog_.size() > maximumLogLines)
        debugLog_.remove(0, debugLog_.size() - maximumLogLines);
    emit changed();

    std::fputs((QStringLiteral("[DEBUG] ") + message + u'\n').toUtf8().constData(), stdout);
    std::fflush(stdout);
    persistLog(entry);
}

void ContentViewModel::republishItems() {
    publish(items_, items_);
}

void ContentViewModel::startUITimer() {
    uiTimer.start();
}

void ContentViewModel::stopUITimer() {
    uiTimer.stop();
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

void ContentViewModel::revealInFinder(const FileItemPtr& item) {
    if (desktop)
        desktop->revealFile(item->currentUrl());
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
    publish(scanStopped_, false);
    publish(verdictsOutdated_, false);
    publish(isScanning_, true);
    publish(items_, {});
    publish(scannedCount_, qint64(0));
    publish(totalCount_, qint64(0));
    publish(scannedFolders_, folderNames(folders));
    scanRoots.clear();
    for (const QUrl& folder : folders)
        scanRoots.append(QDir::cleanPath(folder.toLocalFile()));
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
        const DiscoveredFiles found = scanner->findAudioFiles(folder, folders);
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

    // A stored count below 1 would park every analysis for good. The tools
    // run on the scan queues, so above their number analyses would only wait
    // for a queue; the analyser's workers have no such bound.
    const std::optional<QString> ffmpeg = FFmpegLocator::ffmpegPath();
    const bool workers = ffmpeg && AnalysisEngine::workerProgram(*ffmpeg);
    const qint64 wanted = std::max<qint64>(Settings::shared().parallelScans(), 1);
    const qint64 parallel = workers ? wanted : std::min<qint64>(wanted, scanOpQueueCount);
    if (ffmpeg) {
        const QString engine = AnalysisEngine::description(*ffmpeg, parallel);
        postToGuiThread([self, run, engine] {
            if (self && self->isActive(run) && self->loggedEngine != engine) {
                self->loggedEngine = engine;
                self->log(engine);
            }
        });
    }
    auto semaphore = std::make_shared<AsyncSemaphore>(parallel);
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
                      .arg(fileName, verdictOf(*item)));
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
    emit scanFinished();
}

void ContentViewModel::finishScan(const std::shared_ptr<ScanRun>& run) {
    if (!isActive(run))
        return;
    // Last, whichever way the steps below end, once the results are published.
    const auto endsScan = qScopeGuard([this] { emit scanFinished(); });
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
    // The analyses have already ticked their rows if the user wants that;
    // ticking them all here would undo the user's choice.
    if (Settings::shared().autoSelectAll()) {
        log(QStringLiteral("Selecting all fake stereo files"));
        selectAllFakeStereo();
    }
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
    publish(verdictsOutdated_, false);
    publish(scannedCount_, qint64(0));
    publish(totalCount_, qint64(0));
    publish(selectedFolder_, std::optional<QUrl>());
    publish(scannedFolders_, {});
    stopUITimer();
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
        const QStringList names = folderNames(drop.folders);
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
    scanRoots = {firstFolder};
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
    publish(verdictsOutdated_, false);
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
                self->log(QStringLiteral("  -> ") + verdictOf(*item));
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
    emit scanFinished();
}

ContentViewModel::DropContents ContentViewModel::DropContents::of(const QList<QUrl>& urls) {
    QList<QUrl> local;
    for (const QUrl& url : urls) {
        if (url.isLocalFile() && !url.toLocalFile().isEmpty())
            local.append(url);
    }
    try {
        return withHardTimeout(10, [local] {
            DropContents contents;
            for (const QUrl& url : local) {
                const QFileInfo info(url.toLocalFile());
                if (info.isDir())
                    contents.folders.append(url);
                else if (AudioScanner::hasAudioExtension(info.fileName()))
                    contents.files.append(std::make_shared<FileItem>(url));
                else
                    contents.skippedFiles += 1;
            }
            return contents;
        });
    } catch (const TimeoutError&) {
        return {};
    }
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

    auto run = ConversionRun::of(snapshot);
    convertTask = run;
    activeConversion = run;
    startDetachedWorker([self = QPointer(this), run, converter = converter, snapshot] {
        runConversion(self, run, converter, snapshot);
    });
}

// A row converted on its own reports like a run of one, unless a run is
// under way: its own summary will come.
void ContentViewModel::convertItem(const FileItemPtr& item) {
    if (refusesForSuffix() || !claimForConversion(item))
        return;
    auto run = ConversionRun::of({item});
    startDetachedWorker(
        [self = QPointer(this), converter = converter, run, stop = rowConversionsStop.get_token()] {
            convertOnWorker(self, converter, run->items.first(), stop);
            postToGuiThread([self, run] {
                if (!self)
                    return;
                self->releaseFromConversion(run->items);
                if (!self->isConverting_)
                    self->showSummary(*run);
            });
        });
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

// The run's own worker: the snapshot strictly one item after another. A stop
// request cancels the running ffmpeg through the converter and ends the loop
// once that item's outcome is recorded.
void ContentViewModel::runConversion(QPointer<ContentViewModel> self,
                                     std::shared_ptr<ConversionRun> run,
                                     std::shared_ptr<const AudioConverter> converter,
                                     QList<FileItemPtr> snapshot) {
    const std::stop_token stop = run->stop.get_token();
    const qsizetype count = snapshot.size();
    // One key for the whole run, so the history can take it back as one.
    const QString runKey = QUuid::createUuid().toString(QUuid::WithoutBraces);
    for (qsizetype index = 0; index < count; ++index) {
        if (stop.stop_requested())
            break;
        const FileItemPtr& item = snapshot[index];
        // A stop that reaches the GUI thread first has already cleared the name.
        postToGuiThread([self, run, fileName = item->fileName] {
            if (self && self->isActive(run) && !run->stop.stop_requested())
                self->publish(self->currentConvertingFile_, std::optional<QString>(fileName));
        });
        convertOnWorker(self, converter, item, stop, runKey);
        const double progress = double(index + 1) / double(count);
        postToGuiThread([self, run, progress] {
            if (self && self->isActive(run))
                self->publish(self->convertProgress_, progress);
        });
    }
    postToGuiThread([self, run, snapshot] {
        if (!self)
            return;
        self->releaseFromConversion(snapshot);
        self->finishConversion(run);
    });
}

void ContentViewModel::convertOnWorker(QPointer<ContentViewModel> self,
                                       const std::shared_ptr<const AudioConverter>& converter,
                                       const FileItemPtr& item, std::stop_token stop,
                                       const QString& run) {
    postToGuiThread([self, fileName = item->fileName] {
        if (self)
            self->log(QStringLiteral("Converting: ") + fileName);
    });
    const LogCallback logLine = [self](const QString& line) {
        postToGuiThread([self, line] {
            if (self)
                self->log(line);
        });
    };
    const std::optional<QString> failure = converter->convertToMono(item, logLine, stop, run);
    // A stop leaves the file as it was, and the row says so: whatever the
    // converter answered, nothing of the user's has changed.
    const bool stopped = failure && stop.stop_requested();
    postToGuiThread([self, item, failure, stopped] {
        QString outcome;
        if (!failure) {
            item->detectionStatus = DetectionStatus::converted;
            // The row now stands for the converted file (the converter posted
            // its size before returning).
            item->fileSize = item->convertedSize;
            outcome = QStringLiteral("  -> success");
        } else if (failure->startsWith(QStringLiteral("Not converted: channels differ"))) {
            // The whole file proved the scan wrong: this is real stereo.
            item->detectionStatus = DetectionStatus::realStereo;
            item->isSelected = false;
            item->errorMessage = failure;
            outcome = QStringLiteral("  -> NOT CONVERTED: ") + *failure;
        } else if (failure->startsWith(QStringLiteral("Skipped: "))) {
            // Left alone on purpose (another run holds it, or it changed since
            // the scan): shown as skipped, like a time-out, not as an error.
            item->detectionStatus = DetectionStatus::timedOut;
            item->errorMessage = failure;
            outcome = QStringLiteral("  -> SKIPPED: ") + *failure;
        } else if (stopped) {
            outcome = QStringLiteral("  -> STOPPED: left as it was");
        } else if (failure->contains(QStringLiteral("timed out"))) {
            item->detectionStatus = DetectionStatus::timedOut;
            item->errorMessage = failure;
            outcome = QStringLiteral("  -> TIMED OUT: ") + *failure;
        } else {
            item->detectionStatus = DetectionStatus::error;
            item->errorMessage = failure;
            outcome = QStringLiteral("  -> FAILED: ") + *failure;
        }
        if (self)
            self->log(outcome);
    });
}

bool ContentViewModel::isActive(const std::shared_ptr<ConversionRun>& run) const {
    return run == activeConversion;
}

void ContentViewModel::finishConversion(const std::shared_ptr<ConversionRun>& run) {
    if (!isActive(run))
        return;
    // Last, whichever way the steps below end, once the banner is decided.
    const auto endsRun = qScopeGuard([this] { emit conversionFinished(); });
    publish(currentConvertingFile_, std::optional<QString>());
    publish(isConverting_, false);
    if (convertTask == run)
        convertTask.reset();
    log(QStringLiteral("All conversions complete"));
    if (!run->stop.stop_requested())
        showSummary(*run);
}

// The banner counts what this run converted and what failed, and stays
// until dismissed.
void ContentViewModel::showSummary(const ConversionRun& run) {
    qint64 convertedCount = 0;
    qint64 failedCount = 0;
    qint64 bytesSaved = 0;
    qint64 originalBytes = 0;
    for (const FileItemPtr& item : run.items) {
        if (item->detectionStatus == DetectionStatus::converted) {
            convertedCount += 1;
            bytesSaved += item->spaceSaved();
            originalBytes += item->originalSize;
        } else if (needsAttention(*item)) {
            failedCount += 1;
        }
    }
    QStringList lines;
    if (convertedCount > 0)
        lines.append(conversionCompleteText(convertedCount, bytesSaved, originalBytes, run.behavior,
                                            run.suffixEnabled));
    if (failedCount > 0)
        lines.append(failedCount == 1
                         ? QStringLiteral("1 file could not be converted.")
                         : QStringLiteral("%1 files could not be converted.").arg(failedCount));
    if (lines.isEmpty())
        return;
    const QString message = lines.join(u'\n');
    publish(conversionFailureCount_, failedCount);
    // Originals overwritten without a copy cannot come back.
    publish(conversionCanBeUndone_,
            convertedCount > 0 &&
                (run.behavior != ConvertBehavior::overwrite || run.suffixEnabled));
    publish(conversionCompleteMessage_, message);
    publish(showConversionComplete_, true);
    log(message);
}

void ContentViewModel::stopConvert() {
    log(QStringLiteral("Stopping conversion..."));
    if (convertTask) {
        convertTask->stop.request_stop();
        convertTask.reset();
    }
    publish(currentConvertingFile_, std::optional<QString>());
    publish(isConverting_, false);
}

void ContentViewModel::undoLastRun() {
    startUndo(std::nullopt, {});
}

void ContentViewModel::undoRun(qint64 number, const QList<qint64>& fileIds) {
    startUndo(number, fileIds);
}

void ContentViewModel::loadHistory() {
    startDetachedWorker([self = QPointer(this)] { postHistory(self); });
}

// Read on the calling worker, published on the GUI thread.
void ContentViewModel::postHistory(QPointer<ContentViewModel> self) {
    postToGuiThread([self, runs = RunJournal::runs()] {
        if (!self)
            return;
        self->publish(self->history_, runs);
        emit self->historyChanged();
    });
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
    startDetachedWorker([self = QPointer(this), stop = undoStop.get_token(), number, fileIds] {
        runUndo(self, stop, number, fileIds);
    });
}

void ContentViewModel::stopUndo() {
    if (!isUndoing_)
        return;
    log(QStringLiteral("Stopping undo..."));
    undoStop.request_stop();
}

// Stop and quitting end the undo between two files, never within one.
void ContentViewModel::runUndo(QPointer<ContentViewModel> self, std::stop_token stop,
                               std::optional<qint64> number, QList<qint64> fileIds) {
    const auto tell = [self](const QString& line) {
        postToGuiThread([self, line] {
            if (self)
                self->log(line);
        });
    };
    const std::optional<JournalRun> run =
        number ? RunJournal::run(*number) : RunJournal::lastUndoable();
    if (!run)
        tell(QStringLiteral("Nothing to undo"));
    QList<JournalFile> files;
    for (const JournalFile& file : run ? run->files : QList<JournalFile>())
        if ((file.canBeUndone() || file.interrupted()) &&
            (fileIds.isEmpty() || fileIds.contains(file.id)))
            files.append(file);
    for (qsizetype done = 0; done < files.size(); ++done) {
        if (stop.stop_requested()) {
            tell(QStringLiteral("Undo stopped: %1 of %2 files taken back")
                     .arg(done)
                     .arg(files.size()));
            break;
        }
        postToGuiThread([self, share = double(done) / double(files.size())] {
            if (self)
                self->publish(self->undoProgress_, share);
        });
        const JournalFile& file = files[done];
        const UndoOutcome outcome = undoConversion(file);
        if (outcome.result == UndoResult::putBack || outcome.result == UndoResult::finished) {
            tell(QStringLiteral("Interrupted conversion put right: ") + file.intent.original);
            continue;
        }
        if (outcome.result != UndoResult::undone) {
            tell(outcome.text + QStringLiteral(" (") + file.intent.original + u')');
            continue;
        }
        postToGuiThread([self, original = file.intent.original] {
            if (self)
                self->showUndone(original);
        });
    }
    postHistory(self);
    postToGuiThread([self] {
        if (!self)
            return;
        self->publish(self->undoProgress_, 1.0);
        self->publish(self->isUndoing_, false);
        emit self->undoFinished();
    });
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

void ContentViewModel::stopAllConversions() {
    if (convertTask)
        stopConvert();
    rowConversionsStop.request_stop();
}

// A backup always keeps each original (in the _backup folder, and with a
// suffix also in place); overwriting keeps it only when the suffix gave the
// output a name of its own. The Trash still holds its originals: the disk
// has grown until it is emptied.
QString ContentViewModel::conversionCompleteText(qint64 convertedCount, qint64 bytesSaved,
                                                 qint64 originalBytes, ConvertBehavior behavior,
                                                 bool suffixEnabled) {
    const QString converted = QStringLiteral("Congratulations! ") +
                              QString::number(convertedCount) +
                              (convertedCount == 1 ? QStringLiteral(" file converted. ")
                                                   : QStringLiteral(" files converted. "));
    switch (behavior) {
    case ConvertBehavior::trash:
        return converted + QStringLiteral("Originals moved to the Trash:\nempty it to free ") +
               sizeText(originalBytes) + u'.';
    case ConvertBehavior::overwrite:
        if (!suffixEnabled)
            return converted + sizeText(bytesSaved) +
                   QStringLiteral(" disk space recovered.\n(Original files are overwritten.)");
        return converted +
               QStringLiteral("Original files are kept beside them:\ndeleting them "
                              "would free ") +
               sizeText(originalBytes) + u'.';
    case ConvertBehavior::backup:
        if (!suffixEnabled)
            return converted +
                   QStringLiteral("Original files are kept in the _backup folder:\n"
                                  "deleting them would free ") +
                   sizeText(originalBytes) + u'.';
        return converted +
               QStringLiteral("Original files are kept, with copies in the _backup "
                              "folder:\ndeleting the originals would free ") +
               sizeText(originalBytes) + u'.';
    }
    return {};
}
