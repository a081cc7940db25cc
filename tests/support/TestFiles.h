// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMap>

// Plain files for tests that check what a conversion left in a folder.
namespace TestFiles {

// Writes `bytes` to `path`; a failure ends the test program.
inline void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

// The bytes of `path`, empty when it cannot be read.
inline QByteArray contentsOf(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Every entry under `folder`, hidden ones too, by relative path with its
// bytes; folders read "<folder>".
inline QMap<QString, QByteArray> snapshot(const QString& folder) {
    QMap<QString, QByteArray> entries;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        entries[QDir(folder).relativeFilePath(path)] =
            it.fileInfo().isDir() ? QByteArray("<folder>") : contentsOf(path);
    }
    return entries;
}

} // namespace TestFiles
