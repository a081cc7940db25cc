// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "model/Statuses.h"
#include "scanner/PcmSamples.h"

#include <QString>
#include <QtGlobal>

// How the decoded channels of one stream are judged. The comparison sees the
// file's own samples, never a rounded or dithered rendering of them.
struct PcmJudgement {
    ComparisonMethod method = ComparisonMethod::byteExact;
    qint64 framesPerSecond = 0; // the stream's own sample rate
    PcmSamples samples = PcmSamples::f64;
};

// Only perceptual codecs can give two identical channels back slightly
// different; every other decoder returns exactly what was stored, so there a
// tolerance could only hide real stereo and the byte-exact rule applies
// whatever was chosen.
PcmJudgement judgementFor(ComparisonMethod chosen, const QString& codec, int sampleRate);

// Index of the first frame whose left and right samples differ in any bit,
// or `frames` when every frame matches.
qint64 firstDifferingFrame(const uchar* data, qint64 frames, PcmSamples samples);

// The energies of a stretch of decoded PCM: of each channel and of their
// difference.
class ChannelEnergies {
public:
    void add(const uchar* data, qint64 frames, PcmSamples samples);

    qint64 frames() const { return count; }
    // The difference at least 70 dB below the louder channel, or both
    // channels silent. MP3, Vorbis and WMA decoders give identical channels
    // back exactly; Opus leaves them float rounding apart, in noisy passages
    // at 96 kb/s up to 75 dB apart, and now and then 45 dB apart, which is
    // where real stereo lies: such a file is called real stereo. A level
    // difference of 0.01 dB, stereo in a quiet passage or a noise bed 60 dB
    // down fails, as each stretch is measured against its own level.
    bool channelsMatch() const;

private:
    template <typename Sample> void addAll(const uchar* data, qint64 frames, double scale);

    qint64 count = 0;
    double left = 0;
    double right = 0;
    double difference = 0;
};
