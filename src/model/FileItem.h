// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "model/Statuses.h"

#include <QDateTime>
#include <QString>
#include <QUrl>
#include <QUuid>

#include <memory>
#include <optional>

// One audio file in the list. Items are shared: the list, the scan and the
// conversion hold the same object, so a status written by the scanner is the one
// the table draws. The mutable fields are written on the GUI thread only.
class FileItem {
public:
    explicit FileItem(const QUrl& url);

    const QUuid id;
    const QUrl url;
    const QString fileName;
    const QString fileExtension;

    ChannelStatus channelStatus = ChannelStatus::unknown;
    // The count the multichannel and multiple-stream labels show.
    qint64 layoutCount = 0;
    DetectionStatus detectionStatus = DetectionStatus::pending;
    bool isSelected = false;
    std::optional<QString> errorMessage;
    qint64 fileSize = 0;
    // When the file was last written as the scan found it; with the size it
    // tells a conversion whether the file is still the one that was judged.
    QDateTime lastModified;
    // Which file that was (device and inode numbers): one put in its place
    // since is another file, whatever its size and time.
    quint64 fileDevice = 0;
    quint64 fileInode = 0;
    qint64 originalSize = 0;
    qint64 convertedSize = 0;
    // Where the converted file ended up, once there is one: beside the
    // original under another name, or in the original's place.
    std::optional<QUrl> convertedUrl;

    QString path() const { return url.toLocalFile(); }
    // The file the row stands for now: the converted one, else the original.
    QUrl currentUrl() const { return convertedUrl.value_or(url); }
    // What every view shows for the channel status ("Stereo", "6 ch").
    QString channelLabel() const;
    qint64 spaceSaved() const;
    QString formattedFileSize() const;
};

using FileItemPtr = std::shared_ptr<FileItem>;

// Byte counts in decimal units (1 kB = 1000 bytes): whole numbers for bytes and
// kB, one decimal for MB, two from GB up ("12.4 MB").
QString formattedFileSize(qint64 bytes);
