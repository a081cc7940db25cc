#include "scanner/ChannelComparison.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>

static_assert(std::endian::native == std::endian::little,
              "the word-wise comparison reads little-endian frames");

namespace {

qint16 sampleAt(const uchar* bytes) {
    return qint16(quint16(bytes[0]) | quint16(bytes[1]) << 8);
}

} // namespace

qint64 firstDifferingFrame(const uchar* data, qint64 frames) {
    // Two frames per 64-bit word: left ^ right lands in the low half of each
    // 32-bit lane. Blocks keep the inner loop branch-free so it vectorises.
    constexpr qint64 framesPerBlock = 1024;
    constexpr std::uint64_t leftXorRight = 0x0000FFFF0000FFFFULL;
    qint64 frame = 0;
    for (; frame + framesPerBlock <= frames; frame += framesPerBlock) {
        const uchar* block = data + frame * pcmFrameSize;
        std::uint64_t differences = 0;
        for (qint64 word = 0; word < framesPerBlock / 2; ++word) {
            std::uint64_t value;
            std::memcpy(&value, block + word * 8, sizeof value);
            differences |= (value ^ (value >> 16)) & leftXorRight;
        }
        if (differences)
            break;
    }
    for (; frame < frames; ++frame) {
        const uchar* bytes = data + frame * pcmFrameSize;
        if (bytes[0] != bytes[2] || bytes[1] != bytes[3])
            return frame;
    }
    return frames;
}

void ChannelSums::add(const uchar* data, qint64 frames) {
    qint64 l = 0, r = 0, ll = 0, rr = 0, lr = 0;
    for (qint64 i = 0; i < frames; ++i) {
        const qint64 left = sampleAt(data + i * pcmFrameSize);
        const qint64 right = sampleAt(data + i * pcmFrameSize + 2);
        l += left;
        r += right;
        ll += left * left;
        rr += right * right;
        lr += left * right;
    }
    count += frames;
    sumL += l;
    sumR += r;
    sumLL += ll;
    sumRR += rr;
    sumLR += lr;
}

double ChannelSums::correlation() const {
    const double n = double(count);
    const double meanL = double(sumL) / n;
    const double meanR = double(sumR) / n;
    const double varianceL = double(sumLL) / n - meanL * meanL;
    const double varianceR = double(sumRR) / n - meanR * meanR;
    const double deviation = std::sqrt(varianceL * varianceR);
    if (!(deviation > 0))
        return std::nan("");
    return (double(sumLR) / n - meanL * meanR) / deviation;
}

bool ChannelSums::channelsMatch() const {
    if (count == 0)
        return false;
    const double r = correlation();
    if (!std::isnan(r))
        return r > 0.999;
    // Silence or a constant channel: nothing to correlate, so compare levels.
    return double(sumL) / double(count) == double(sumR) / double(count);
}

bool ChannelSums::isSilent() const {
    // (32768 * 10^(-60/20))^2: the mean square of a -60 dBFS signal.
    constexpr double silentMeanSquare = 1073.7;
    const double n = double(count);
    return double(sumLL) / n < silentMeanSquare && double(sumRR) / n < silentMeanSquare;
}
