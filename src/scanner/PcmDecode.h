#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// The output options of that PCM: 16-bit little-endian stereo at 44.1 kHz.
// The conversion run writes the same stream beside its file, so the scan and
// the conversion judge the same samples.
QStringList pcmStreamArguments();

// ffmpeg's arguments for decoding `file` to 16-bit little-endian stereo PCM at
// 44.1 kHz on standard output: the first `seconds`, or the whole file.
QStringList pcmDecodeArguments(const QString& file, std::optional<qint64> seconds);

constexpr qint64 pcmFramesPerSecond = 44100;
