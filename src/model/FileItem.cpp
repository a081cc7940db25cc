#include "model/FileItem.h"

#include "model/FileSize.h"
#include "model/PathParts.h"

#include <QFileInfo>

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
