// SPDX-License-Identifier: GPL-3.0-or-later

#include "viewmodel/ScanRun.h"

#include "exec/AsyncSemaphore.h"
#include "exec/FFmpegLocator.h"
#include "exec/SerialQueue.h"
#include "exec/WorkerThreads.h"
#include "model/Settings.h"
#include "scanner/AnalysisEngine.h"
#include "scanner/AudioScanner.h"

#include <QSet>

#include <algorithm>

std::shared_ptr<ScanRun> ScanRun::start(std::shared_ptr<const AudioScanner> scanner,
                                        QList<QUrl> folders, QList<QUrl> files, Events events) {
    std::shared_ptr<ScanRun> scan(new ScanRun(std::move(folders), std::move(events)));
    startDetachedWorker([scan, scanner = std::move(scanner), files = std::move(files)] {
        scan->run(scanner, files);
    });
    return scan;
}

void ScanRun::post(std::function<void(const Events&, ScanRun&)> call) {
    postToGuiThread([run = shared_from_this(), call = std::move(call)] {
        if (run->events.receiver)
            call(run->events, *run);
    });
}

// Paths are canonical, so a file reached twice (folders given twice, or
// through a link) is listed, and converted, once.
QList<QUrl> ScanRun::discover(const AudioScanner& scanner, QStringList& notes) const {
    QList<QUrl> files;
    QSet<QUrl> seen;
    for (const QUrl& folder : folders) {
        const DiscoveredFiles found = scanner.findAudioFiles(folder, folders);
        for (const QUrl& file : found.audioFiles) {
            if (!seen.contains(file)) {
                seen.insert(file);
                files.append(file);
            }
        }
        notes.append(found.notes);
    }
    notes.removeDuplicates();
    return files;
}

// The scan's own worker: discovery, then one analysis thread per file.
void ScanRun::run(std::shared_ptr<const AudioScanner> scanner, QList<QUrl> files) {
    QStringList notes;
    if (scansFolders())
        files = discover(*scanner, notes);
    const qint64 total = files.size();
    post([total, folderCount = qint64(folders.size()), notes](const Events& to, ScanRun& run) {
        to.discovered(run, total, folderCount, notes);
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
    if (ffmpeg)
        post([engine = AnalysisEngine::description(*ffmpeg, parallel)](
                 const Events& to, ScanRun& run) { to.engineChosen(run, engine); });
    auto semaphore = std::make_shared<AsyncSemaphore>(parallel);
    auto analyses = std::make_shared<RunningWorkers>();
    const std::stop_token stop = stopSource.get_token();
    for (const QUrl& url : std::as_const(files)) {
        if (!semaphore->waitWithCancellation(stop))
            break;
        analyses->started();
        startDetachedWorker([this, scanner, url, semaphore, analyses] {
            // Made here, off the GUI thread: the item reads the file's size.
            auto item = std::make_shared<FileItem>(url);
            post([item](const Events& to, ScanRun& run) { to.analysing(run, item); });
            const AnalysisVerdict verdict = scanner->analyzeFile(url);
            post([item, verdict](const Events& to, ScanRun& run) {
                to.analysed(run, item, verdict);
            });
            semaphore->signal();
            analyses->finished();
        });
    }
    analyses->waitForAll();
    post([](const Events& to, ScanRun& run) { to.finished(run); });
}
