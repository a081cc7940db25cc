// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QList>
#include <QUrl>

// One drop as the file system describes it: the folders to scan, the audio
// files to analyse, and how many other files were left out for not being
// audio files.
struct DropContents {
    QList<QUrl> folders;
    QList<QUrl> files;
    qsizetype skippedFiles = 0;

    bool isEmpty() const { return folders.isEmpty() && files.isEmpty(); }

    // Asks the file system which of the local URLs are folders; other URLs
    // are left out, and files count only with an audio extension, as in a
    // folder scan. Blocks the calling worker for at most 10 seconds, and gives
    // empty contents when the file system does not answer in time.
    static DropContents of(const QList<QUrl>& urls);
};
