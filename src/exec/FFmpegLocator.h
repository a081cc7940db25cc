// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// Where is ffmpeg? Asked afresh before every process start, so a tool
// installed or removed while the application runs is seen at the next start.
namespace FFmpegLocator {

// The fixed locations first, in order (a build in /usr/local before the
// distribution's), then the first executable "ffmpeg" on the PATH.
std::optional<QString> ffmpegPath();

// ffprobe is expected beside the ffmpeg that was found.
QString ffprobePath(const QString& ffmpegPath);

// Replaces the fixed locations (empty list: none): the command line's
// --ffmpeg, and tests that point the lookup at stand-in tools.
void setFixedCandidates(const QStringList& candidates);
void restoreFixedCandidates();

} // namespace FFmpegLocator
