#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// WAV and AIFF outputs get an explicit PCM codec; other extensions leave the
// choice of encoder to ffmpeg.
bool needsPcmCodec(const QString& extension);

// The PCM codec for a WAV or AIFF output: 16-bit, unless the input's own codec
// is a wider PCM one, which is kept so a 24-bit or float recording is not cut
// down to 16 bits.
QString pcmCodecFor(const std::optional<QString>& inputCodec);

// The conversion command line after the program name, one argument per
// element, nothing quoted.
QStringList conversionArguments(const QString& input, const QString& output,
                                const std::optional<QString>& pcmCodec);
