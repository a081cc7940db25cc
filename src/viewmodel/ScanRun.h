// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "model/FileItem.h"
#include "scanner/AnalysisVerdict.h"

#include <QList>
#include <QPointer>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <memory>
#include <stop_token>

class AudioScanner;

// One scan: of folders, which are walked for audio files first, or of the
// files of a drop, taken as they are. Each file is analysed on a thread of its
// own, never more at once than the parallel-scans setting allows. What the
// scan finds reaches the receiver as calls posted to the GUI thread, and only
// while the receiver lives; each call names the run it comes from.
class ScanRun : public std::enable_shared_from_this<ScanRun> {
public:
    struct Events {
        QPointer<QObject> receiver;
        // The files are known: how many, from how many folders, and a line for
        // each kind of entry passed over that the user should know of.
        std::function<void(ScanRun&, qint64 total, qint64 folderCount, const QStringList& notes)>
            discovered;
        // Which engine analyses, once the files are known.
        std::function<void(ScanRun&, const QString& engine)> engineChosen;
        // A file's analysis begins: its row enters the list, pending.
        std::function<void(ScanRun&, const FileItemPtr& item)> analysing;
        std::function<void(ScanRun&, const FileItemPtr& item, const AnalysisVerdict& verdict)>
            analysed;
        // Every analysis has ended (or never started, after a stop).
        std::function<void(ScanRun&)> finished;
    };

    // Starts the scan on a worker of its own and returns at once.
    static std::shared_ptr<ScanRun> start(std::shared_ptr<const AudioScanner> scanner,
                                          QList<QUrl> folders, QList<QUrl> files, Events events);

    // Queued files are no longer analysed; those under way finish.
    void stop() { stopSource.request_stop(); }
    bool wasStopped() const { return stopSource.stop_requested(); }
    bool scansFolders() const { return !folders.isEmpty(); }

    // Progress as the GUI thread has seen it.
    qint64 finished = 0;
    qint64 total = 0;

private:
    ScanRun(QList<QUrl> folders, Events events)
        : folders(std::move(folders)), events(std::move(events)) {}

    void run(std::shared_ptr<const AudioScanner> scanner, QList<QUrl> files);
    QList<QUrl> discover(const AudioScanner& scanner, QStringList& notes) const;
    // Posts `call` to the GUI thread, to run only if the receiver still lives.
    void post(std::function<void(const Events&, ScanRun&)> call);

    const QList<QUrl> folders;
    const Events events;
    std::stop_source stopSource;
};
