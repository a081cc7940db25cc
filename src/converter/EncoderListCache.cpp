// SPDX-License-Identifier: GPL-3.0-or-later

#include "converter/EncoderListCache.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <algorithm>

namespace {

// One file per ffmpeg path: its first line names the build, the others the
// encoders.
QString entryPath(const QString& ffmpegPath) {
    const QByteArray name =
        QCryptographicHash::hash(ffmpegPath.toUtf8(), QCryptographicHash::Sha256).toHex();
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
           QStringLiteral("/chanfuse/encoders/") + QString::fromLatin1(name);
}

QByteArray build(const QString& ffmpegPath) {
    const QFileInfo file(ffmpegPath);
    return ffmpegPath.toUtf8() + ' ' + QByteArray::number(file.size()) + ' ' +
           QByteArray::number(file.lastModified().toMSecsSinceEpoch());
}

} // namespace

std::optional<QSet<QString>> EncoderListCache::read(const QString& ffmpegPath) {
    QFile entry(entryPath(ffmpegPath));
    if (!entry.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QList<QByteArray> lines = entry.readAll().split('\n');
    if (lines.size() < 2 || lines.first() != build(ffmpegPath))
        return std::nullopt;
    QSet<QString> encoders;
    for (const QByteArray& line : lines.mid(1))
        if (!line.isEmpty())
            encoders.insert(QString::fromUtf8(line));
    if (encoders.isEmpty())
        return std::nullopt;
    return encoders;
}

void EncoderListCache::write(const QString& ffmpegPath, const QSet<QString>& encoders) {
    const QString path = entryPath(ffmpegPath);
    if (!QDir().mkpath(QFileInfo(path).path()))
        return;
    QStringList names(encoders.cbegin(), encoders.cend());
    std::sort(names.begin(), names.end());
    QSaveFile entry(path);
    if (!entry.open(QIODevice::WriteOnly))
        return;
    entry.write(build(ffmpegPath) + '\n' + names.join(u'\n').toUtf8() + '\n');
    entry.commit();
}
