#include "viewmodel/ContentViewModel.h"

#include "exec/DetachedWorker.h"
#include "exec/GuiThread.h"
#include "model/PathParts.h"
#include "scanner/AudioScanner.h"
#include "viewmodel/DesktopServices.h"
#include "viewmodel/DroppedURL.h"

#include <QFileInfo>

void ContentViewModel::pickFolder() {
    if (!desktop)
        return;
    const std::optional<QUrl> folder = desktop->chooseFolder(QStringLiteral("Select Audio Folder"));
    if (!folder)
        return;
    log(QStringLiteral("Picked folder: ") + folder->toLocalFile());
    publish(selectedFolder_, folder);
    startScan();
}

// A drop carries no hint of what its URLs are, so the file system is asked on
// a worker and the answer comes back to the GUI thread once for the drop.
void ContentViewModel::handleDrop(const QList<QUrl>& urls) {
    log(QStringLiteral("Drop: %1 item(s)").arg(urls.size()));
    startDetachedWorker([self = QPointer(this), urls] {
        const QList<DroppedURL> classified = classifyDroppedURLs(urls);
        postToGuiThread([self, classified] {
            if (self)
                self->processDroppedURLs(classified);
        });
    });
}

void ContentViewModel::processDroppedURLs(const QList<DroppedURL>& urls) {
    if (urls.isEmpty()) {
        log(QStringLiteral("Drop: no valid URLs"));
        return;
    }
    QList<QUrl> folders;
    QList<FileItemPtr> files;
    for (const DroppedURL& dropped : urls) {
        if (dropped.isFolder)
            folders.append(dropped.url);
        else
            files.append(dropped.item);
    }

    if (!folders.isEmpty()) {
        QStringList names;
        for (const QUrl& folder : std::as_const(folders))
            names.append(lastPathComponent(folder.toLocalFile()));
        log(QStringLiteral("Drop: scanning %1 folder(s): ").arg(folders.size()) +
            names.join(QStringLiteral(", ")));
        publish(scannedFolders_, names);
        publish(selectedFolder_, std::optional<QUrl>(folders.first()));
        startScanFolders(folders);
        return;
    }

    log(QStringLiteral("Drop: %1 file(s)").arg(files.size()));
    const QString firstFolder = QFileInfo(files.first()->path()).absolutePath();
    publish(selectedFolder_, std::optional<QUrl>(QUrl::fromLocalFile(firstFolder)));
    publish(items_, files);
    analyzeDroppedFiles(files);
}

// Dropped files are analysed one at a time, outside the scan machinery: no
// semaphore, no refresh timer, and stopScan does not reach them.
void ContentViewModel::analyzeDroppedFiles(const QList<FileItemPtr>& dropped) {
    startDetachedWorker([self = QPointer(this), scanner = scanner, dropped] {
        for (const FileItemPtr& item : dropped) {
            postToGuiThread([self, fileName = item->fileName] {
                if (self)
                    self->log(QStringLiteral("Analyzing: ") + fileName);
            });
            scanner->analyzeFile(item);
            postToGuiThread([self, item] {
                if (self)
                    self->log(QStringLiteral("  -> ") + rawValue(item->detectionStatus));
            });
        }
        postToGuiThread([self] {
            if (self)
                self->republishItems();
        });
    });
}
