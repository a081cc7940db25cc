// SPDX-License-Identifier: GPL-3.0-or-later

#include "viewmodel/DropContents.h"

#include "exec/TimeLimits.h"
#include "scanner/AudioScanner.h"

#include <QFileInfo>

DropContents DropContents::of(const QList<QUrl>& urls) {
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
                    contents.files.append(url);
                else
                    contents.skippedFiles += 1;
            }
            return contents;
        });
    } catch (const TimeoutError&) {
        return {};
    }
}
