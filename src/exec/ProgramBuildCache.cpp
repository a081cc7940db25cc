// SPDX-License-Identifier: GPL-3.0-or-later

#include "exec/ProgramBuildCache.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QSysInfo>

namespace {

// One file per set of program paths: its first line names the build, the
// others are what was kept.
QString entryPath(const QString& kind, const QStringList& programs) {
    const QByteArray name =
        QCryptographicHash::hash(programs.join(u'\n').toUtf8(), QCryptographicHash::Sha256).toHex();
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
           QStringLiteral("/chanfuse/") + kind + u'/' + QString::fromLatin1(name);
}

QByteArray build(const QStringList& programs) {
    QByteArray line;
    for (const QString& program : programs) {
        const QFileInfo file(program);
        line += program.toUtf8() + ' ' + QByteArray::number(file.size()) + ' ' +
                QByteArray::number(file.lastModified().toMSecsSinceEpoch()) + ' ';
    }
    return line + QSysInfo::kernelVersion().toUtf8();
}

} // namespace

std::optional<QList<QByteArray>> ProgramBuildCache::read(const QString& kind,
                                                         const QStringList& programs) {
    QFile entry(entryPath(kind, programs));
    if (!entry.open(QIODevice::ReadOnly))
        return std::nullopt;
    QList<QByteArray> lines = entry.readAll().split('\n');
    if (lines.size() < 2 || lines.takeFirst() != build(programs) || !lines.last().isEmpty())
        return std::nullopt;
    lines.removeLast();
    return lines;
}

void ProgramBuildCache::write(const QString& kind, const QStringList& programs,
                              const QList<QByteArray>& lines) {
    const QString path = entryPath(kind, programs);
    if (!QDir().mkpath(QFileInfo(path).path()))
        return;
    QSaveFile entry(path);
    if (!entry.open(QIODevice::WriteOnly))
        return;
    entry.write(build(programs) + '\n');
    for (const QByteArray& line : lines)
        entry.write(line + '\n');
    entry.commit();
}
