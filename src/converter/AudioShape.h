#pragma once

#include <QString>

#include <optional>

// The channel count of a file's first audio stream and the file's duration,
// as ffprobe reads them from the container and stream headers.
struct AudioShape {
    int channels = 0;    // 0 when there is no audio stream
    double seconds = -1; // negative when ffprobe gives no duration
};

// One run of the ffprobe beside `ffmpegPath`, on a scan queue under the
// probe's 10 s limit. Nothing when ffprobe is missing, fails, times out or
// says something that is not its structured answer.
std::optional<AudioShape> probeAudioShape(const QString& ffmpegPath, const QString& file);
