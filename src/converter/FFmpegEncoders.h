#pragma once

#include <QSet>
#include <QString>

#include <optional>
#include <stop_token>

// The names of the audio encoders the ffmpeg at `ffmpegPath` offers and does
// not mark experimental ("flac", "libmp3lame"), asked once per ffmpeg path on
// a scan queue under the probe's 10 s limit and remembered for the process.
// Nothing when the list could not be read or the asking was stopped; it is
// asked again next time then.
std::optional<QSet<QString>> ffmpegEncoders(const QString& ffmpegPath, std::stop_token stop = {});
