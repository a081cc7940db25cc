// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QSet>
#include <QString>

#include <optional>

// The audio encoders of each ffmpeg build, kept through ProgramBuildCache so
// that listing them, a start of ffmpeg, is paid once per build rather than
// once per run of the program.
namespace EncoderListCache {

// The list kept for the ffmpeg at `ffmpegPath` as it is now; nothing when
// none is kept, or it was kept for another build.
std::optional<QSet<QString>> read(const QString& ffmpegPath);

// Keeps `encoders` for the ffmpeg at `ffmpegPath` as it is now, replacing
// what was kept for an earlier build there. A failure only costs the next
// run a new listing.
void write(const QString& ffmpegPath, const QSet<QString>& encoders);

} // namespace EncoderListCache
