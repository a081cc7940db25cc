// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// Where is ffmpeg? Asked afresh before every process start, so a tool
// installed or removed while the application runs is seen at the next start.
namespace FFmpegLocator {

// The fixed locations first, in order, then the user's shell lookup (zsh's
// `which` where zsh exists, otherwise `command -v` of /bin/sh).
std::optional<QString> ffmpegPath();

// ffprobe is expected beside the ffmpeg that was found.
QString ffprobePath(const QString& ffmpegPath);

// Test seam: replaces the fixed locations (empty list: none), so tests can
// point the lookup at fake tools without touching /usr/bin.
void setFixedCandidates(const QStringList& candidates);
void restoreFixedCandidates();

} // namespace FFmpegLocator
