// SPDX-License-Identifier: GPL-3.0-or-later

#include "model/FileItem.h"

#include "model/PathParts.h"

#include <QFile>
#include <QFileInfo>
#include <QLocale>

#include <sys/stat.h>

namespace {
NameParts partsOf(const QUrl& url) {
    return splitExtension(lastPathComponent(url.toLocalFile()));
}
} // namespace

FileItem::FileItem(const QUrl& url)
    : id(QUuid::createUuid()), url(url), fileName(partsOf(url).base),
      fileExtension(partsOf(url).extension.toLower()) {
    const QFileInfo info(url.toLocalFile());
    if (info.exists()) {
        fileSize = info.size();
        lastModified = info.lastModified();
    }
    struct stat status {};
    if (::lstat(QFile::encodeName(url.toLocalFile()).constData(), &status) == 0) {
        fileDevice = status.st_dev;
        fileInode = status.st_ino;
    }
}

QString FileItem::channelLabel() const {
    const QString label = rawValue(channelStatus);
    switch (channelStatus) {
    case ChannelStatus::multichannel:
    case ChannelStatus::multipleStreams:
        return label.arg(layoutCount);
    case ChannelStatus::stereo:
    case ChannelStatus::mono:
    case ChannelStatus::unknown:
        break;
    }
    return label;
}

qint64 FileItem::spaceSaved() const {
    return originalSize > convertedSize ? originalSize - convertedSize : 0;
}

QString FileItem::formattedFileSize() const {
    return ::formattedFileSize(fileSize);
}

QString formattedFileSize(qint64 bytes) {
    int precision = 0;
    if (bytes >= 1000LL * 1000 * 1000)
        precision = 2;
    else if (bytes >= 1000LL * 1000)
        precision = 1;
    return QLocale().formattedDataSize(bytes, precision, QLocale::DataSizeSIFormat);
}
