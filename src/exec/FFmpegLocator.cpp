// SPDX-License-Identifier: GPL-3.0-or-later

#include "exec/FFmpegLocator.h"

#include <QFileInfo>
#include <QStandardPaths>

#include <mutex>

namespace {

const QStringList standardCandidates{
    QStringLiteral("/usr/local/bin/ffmpeg"),
    QStringLiteral("/usr/bin/ffmpeg"),
};

std::mutex candidatesLock;
std::optional<QStringList> candidatesOverride;

QStringList fixedCandidates() {
    const std::lock_guard lock(candidatesLock);
    return candidatesOverride.value_or(standardCandidates);
}

bool isExecutableFile(const QString& path) {
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable();
}

} // namespace

std::optional<QString> FFmpegLocator::ffmpegPath() {
    for (const QString& candidate : fixedCandidates()) {
        if (isExecutableFile(candidate))
            return candidate;
    }
    const QString found = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
    if (found.isEmpty())
        return std::nullopt;
    return found;
}

QString FFmpegLocator::ffprobePath(const QString& ffmpegPath) {
    return ffmpegPath.left(ffmpegPath.lastIndexOf(u'/')) + QStringLiteral("/ffprobe");
}

void FFmpegLocator::setFixedCandidates(const QStringList& candidates) {
    const std::lock_guard lock(candidatesLock);
    candidatesOverride = candidates;
}

void FFmpegLocator::restoreFixedCandidates() {
    const std::lock_guard lock(candidatesLock);
    candidatesOverride.reset();
}
