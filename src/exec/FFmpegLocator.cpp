// SPDX-License-Identifier: GPL-3.0-or-later

#include "exec/FFmpegLocator.h"

#include "exec/ChildProcess.h"
#include "exec/ToolOutput.h"

#include <QFileInfo>

#include <mutex>

namespace {

const QStringList standardCandidates{
    QStringLiteral("/opt/homebrew/bin/ffmpeg"),
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

std::optional<QString> lookUpWithShell() {
    const bool hasZsh = isExecutableFile(QStringLiteral("/bin/zsh"));
    const QString shell = hasZsh ? QStringLiteral("/bin/zsh") : QStringLiteral("/bin/sh");
    const QString command =
        hasZsh ? QStringLiteral("which ffmpeg") : QStringLiteral("command -v ffmpeg");

    ChildProcess process;
    if (process.start(shell, {QStringLiteral("-c"), command}, ChildProcess::Output::pipe(),
                      ChildProcess::Output::nullDevice()))
        return std::nullopt;
    const QByteArray output = process.readAllStandardOutput();
    process.waitForExit();

    const std::optional<QString> text = strictUtf8(output);
    if (!text)
        return std::nullopt;
    const QString candidate = text->trimmed();
    if (candidate.isEmpty() || !isExecutableFile(candidate))
        return std::nullopt;
    return candidate;
}

} // namespace

std::optional<QString> FFmpegLocator::ffmpegPath() {
    for (const QString& candidate : fixedCandidates()) {
        if (isExecutableFile(candidate))
            return candidate;
    }
    return lookUpWithShell();
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
