// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Audio made by the real ffmpeg from expressions, one per channel, so every
// test states exactly what its channels hold.
namespace TestAudio {

inline QString tone(int hertz, double level = 1.0) {
    return QStringLiteral("%1*sin(2*PI*%2*t)").arg(level).arg(hertz);
}

// Writes `seconds` of 44.1 kHz audio; the format follows the extension of
// `path`. `layout` names the channel layout when there are more than two.
void generate(const QString& path, const QStringList& channelExpressions, double seconds,
              const QStringList& outputOptions = {}, const QString& layout = {});

inline void mono(const QString& path, double seconds = 2) {
    generate(path, {tone(440, 0.5)}, seconds);
}
inline void fakeStereo(const QString& path, double seconds = 2) {
    generate(path, {tone(440, 0.5), tone(440, 0.5)}, seconds);
}
inline void realStereo(const QString& path, double seconds = 2) {
    generate(path, {tone(440, 0.5), tone(660, 0.5)}, seconds);
}
// An .m4a whose first stream is fake stereo and whose second is mono, both
// lossless: a music track with a commentary track.
void twoStreams(const QString& path, double seconds = 2);
// Six channels whose front and surround pairs match and whose centre differs.
void surround(const QString& path, double seconds = 2);

// Runs the real ffmpeg quietly with these arguments and gives its standard
// output; a failure ends the test program.
QByteArray ffmpeg(const QStringList& arguments);

// Runs the real ffprobe quietly with these arguments and gives its standard
// output; a failure ends the test program.
QByteArray ffprobe(const QStringList& arguments);

// The number of channels of a file's first audio stream, as ffprobe reads it.
int channelsOf(const QString& path);

} // namespace TestAudio
