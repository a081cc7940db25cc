// SPDX-License-Identifier: GPL-3.0-or-later

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

// The `number`th candidate for a fresh name derived from `name`: the name
// itself first, then "base (2).ext", "base (3).ext" … Shortened at a character
// boundary of its base until its local 8-bit encoding fits in `maxBytes`.
QString numberedName(const QString& name, int number, int maxBytes);
