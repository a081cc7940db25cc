#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>

// Plain files for tests that check what a conversion left in a folder.
namespace TestFiles {

// Writes `bytes` to `path`; a failure ends the test program.
void writeFile(const QString& path, const QByteArray& bytes);

// The bytes of `path`, empty when it cannot be read.
QByteArray contentsOf(const QString& path);

// Every entry under `folder`, hidden ones too, by relative path with its
// bytes; folders read "<folder>".
QMap<QString, QByteArray> snapshot(const QString& folder);

} // namespace TestFiles
