#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Audio made by the real ffmpeg from expressions, one per channel, so every
// test states exactly what its channels hold.
namespace TestAudio {

QString tone(int hertz, double level = 1.0);

// Writes `seconds` of 44.1 kHz audio; the format follows the extension of
// `path`. `layout` names the channel layout when there are more than two.
void generate(const QString& path, const QStringList& channelExpressions, double seconds,
              const QStringList& outputOptions = {}, const QString& layout = {});

void mono(const QString& path, double seconds = 2);
void fakeStereo(const QString& path, double seconds = 2);
void realStereo(const QString& path, double seconds = 2);
// An .m4a whose first stream is fake stereo and whose second is mono, both
// lossless: a music track with a commentary track.
void twoStreams(const QString& path, double seconds = 2);
// Six channels whose front and surround pairs match and whose centre differs.
void surround(const QString& path, double seconds = 2);

// Runs the real ffmpeg quietly with these arguments and gives its standard
// output; a failure ends the test program.
QByteArray ffmpeg(const QStringList& arguments);

// The number of channels and the duration of a file, as ffprobe reads it.
int channelsOf(const QString& path);
double durationOf(const QString& path);

} // namespace TestAudio
