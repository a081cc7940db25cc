#pragma once

#include <QtGlobal>

// Decoded PCM is interleaved 16-bit little-endian stereo: 4-byte frames, the
// left sample first. These work in place on whole frames, with no copy.
constexpr qint64 pcmFrameSize = 4;

// Index of the first frame whose left and right samples differ, or `frames`
// when every frame matches.
qint64 firstDifferingFrame(const uchar* data, qint64 frames);

// Running sums for the correlation of the two channels. They are exact
// integers, so adding chunk by chunk gives the same verdict as one pass.
class ChannelSums {
public:
    void add(const uchar* data, qint64 frames);

    qint64 frames() const { return count; }
    // Pearson's r, or NaN when a channel has no variance.
    double correlation() const;
    // r above 0.999; with no variance to correlate, equal channel means.
    bool channelsMatch() const;
    // Both channels below -60 dBFS RMS.
    bool isSilent() const;

private:
    qint64 count = 0;
    qint64 sumL = 0;
    qint64 sumR = 0;
    qint64 sumLL = 0;
    qint64 sumRR = 0;
    qint64 sumLR = 0;
};
