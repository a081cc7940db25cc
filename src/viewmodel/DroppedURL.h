#pragma once

#include "model/FileItem.h"

#include <QList>
#include <QUrl>

// One dropped location as the file system describes it: a folder to scan, or
// a file already made into a pending item (its size is read here, off the GUI
// thread, as the volume may not answer).
struct DroppedURL {
    QUrl url;
    bool isFolder = false;
    FileItemPtr item;
};

// Asks the file system which of the local URLs are folders; other URLs are
// left out. Blocks the calling worker for at most 10 seconds, and gives an
// empty list when the file system does not answer in time.
QList<DroppedURL> classifyDroppedURLs(const QList<QUrl>& urls);
