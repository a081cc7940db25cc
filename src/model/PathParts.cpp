// SPDX-License-Identifier: GPL-3.0-or-later

#include "model/PathParts.h"

#include <QFile>

NameParts splitExtension(const QString& name) {
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot <= 0)
        return {name, QString()};
    return {name.left(dot), name.mid(dot + 1)};
}

QString lastPathComponent(const QString& path) {
    QString trimmed = path;
    while (trimmed.size() > 1 && trimmed.endsWith(u'/'))
        trimmed.chop(1);
    return trimmed.mid(trimmed.lastIndexOf(u'/') + 1);
}

QString numberedName(const QString& name, int number, int maxBytes) {
    const NameParts parts = splitExtension(name);
    const QString tail = (number > 1 ? QStringLiteral(" (%1)").arg(number) : QString()) +
                         (parts.extension.isEmpty() ? QString() : u'.' + parts.extension);
    QString base = parts.base;
    while (!base.isEmpty() && QFile::encodeName(base + tail).size() > maxBytes)
        base.chop(base.size() > 1 && base.back().isLowSurrogate() ? 2 : 1);
    return base + tail;
}
