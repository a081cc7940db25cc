#pragma once

#include <QString>

#include <optional>

// The codec name of the first audio stream ("pcm_s24le"), from the ffprobe
// beside `ffmpegPath`, run on a scan queue under the probe's 10 s limit.
// Nothing when ffprobe is missing, fails, times out or prints no name.
std::optional<QString> probeFirstAudioCodec(const QString& ffmpegPath, const QString& input);
