#pragma once

#include <QString>

// A file name split at its last dot. A name without a dot (or whose only dot
// starts it, like ".profile") has no extension and is kept whole as the base.
struct NameParts {
    QString base;
    QString extension;
};

NameParts splitExtension(const QString& lastPathComponent);

// The last path component of a local path ("/a/b/song.wav" -> "song.wav").
QString lastPathComponent(const QString& path);
