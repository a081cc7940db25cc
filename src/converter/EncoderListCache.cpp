// SPDX-License-Identifier: GPL-3.0-or-later

#include "converter/EncoderListCache.h"

#include "exec/ProgramBuildCache.h"

#include <algorithm>

namespace {

const QString kind = QStringLiteral("encoders");

} // namespace

std::optional<QSet<QString>> EncoderListCache::read(const QString& ffmpegPath) {
    const std::optional<QList<QByteArray>> lines = ProgramBuildCache::read(kind, {ffmpegPath});
    if (!lines)
        return std::nullopt;
    QSet<QString> encoders;
    for (const QByteArray& line : *lines)
        if (!line.isEmpty())
            encoders.insert(QString::fromUtf8(line));
    if (encoders.isEmpty())
        return std::nullopt;
    return encoders;
}

void EncoderListCache::write(const QString& ffmpegPath, const QSet<QString>& encoders) {
    QStringList names(encoders.cbegin(), encoders.cend());
    std::sort(names.begin(), names.end());
    QList<QByteArray> lines;
    for (const QString& name : names)
        lines.append(name.toUtf8());
    ProgramBuildCache::write(kind, {ffmpegPath}, lines);
}
