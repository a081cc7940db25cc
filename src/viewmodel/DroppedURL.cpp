#include "viewmodel/DroppedURL.h"

#include "exec/HardTimeout.h"

#include <QFileInfo>

QList<DroppedURL> classifyDroppedURLs(const QList<QUrl>& urls) {
    QList<QUrl> local;
    for (const QUrl& url : urls) {
        if (url.isLocalFile() && !url.toLocalFile().isEmpty())
            local.append(url);
    }
    try {
        return withHardTimeout(10, [local] {
            QList<DroppedURL> classified;
            for (const QUrl& url : local) {
                if (QFileInfo(url.toLocalFile()).isDir())
                    classified.append({url, true, nullptr});
                else
                    classified.append({url, false, std::make_shared<FileItem>(url)});
            }
            return classified;
        });
    } catch (const TimeoutError&) {
        return {};
    }
}
