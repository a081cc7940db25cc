// SPDX-License-Identifier: GPL-3.0-or-later

#include "converter/ContainerChunks.h"

#include <QFile>
#include <QtEndian>

namespace {

constexpr int mostChunks = 256;
constexpr quint32 sizeInDs64 = 0xFFFFFFFF;

} // namespace

std::optional<ContainerChunks> readContainerChunks(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray head = file.read(12);
    if (head.size() < 12)
        return file.error() == QFileDevice::NoError ? std::optional(ContainerChunks())
                                                    : std::nullopt;
    ContainerChunks found;
    if (head.startsWith("ID3")) {
        found.id3v2Version = int(uchar(head[3]));
        return found;
    }
    const bool riff = head.startsWith("RIFF") || head.startsWith("RF64");
    const bool aiff =
        head.startsWith("FORM") && (head.mid(8, 4) == "AIFF" || head.mid(8, 4) == "AIFC");
    if (!riff && !aiff)
        return found;
    found.rf64 = head.startsWith("RF64");

    quint64 dataSize = 0; // of an RF64 data chunk, from its ds64 chunk
    qint64 at = 12;
    for (int chunk = 0; chunk < mostChunks && file.seek(at); ++chunk) {
        const QByteArray header = file.read(24);
        if (header.size() < 8)
            break;
        QString id = QString::fromLatin1(header.left(4));
        quint64 size = riff ? qFromLittleEndian<quint32>(header.constData() + 4)
                            : qFromBigEndian<quint32>(header.constData() + 4);
        if (id == QLatin1String("LIST") && header.size() >= 12)
            id += u'/' + QString::fromLatin1(header.mid(8, 4));
        if (id == QLatin1String("ds64") && header.size() >= 24)
            dataSize = qFromLittleEndian<quint64>(header.constData() + 16);
        if (id == QLatin1String("data") && found.rf64 && size == sizeInDs64)
            size = dataSize;
        found.chunks.append(id);
        // Chunks start on even offsets.
        at += qint64(8 + size + (size & 1));
    }
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    return found;
}
