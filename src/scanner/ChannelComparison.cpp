// SPDX-License-Identifier: GPL-3.0-or-later

#include "scanner/ChannelComparison.h"

#include <QSet>

#include <bit>
#include <cstdint>
#include <cstring>

static_assert(std::endian::native == std::endian::little,
              "decoded samples are read as little-endian numbers");

namespace {

// 10^(-70/10): the share of the louder channel's energy the difference may
// have.
constexpr double residualShare = 1e-7;

template <typename Sample> Sample sampleAt(const uchar* bytes) {
    Sample value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

// `Bits` is an unsigned integer as wide as one sample.
template <typename Bits> qint64 firstDifferingFrameOf(const uchar* data, qint64 frames) {
    constexpr qint64 frameSize = 2 * sizeof(Bits);
    // Blocks keep the inner loop branch-free so it vectorises.
    constexpr qint64 framesPerBlock = 512;
    qint64 frame = 0;
    for (; frame + framesPerBlock <= frames; frame += framesPerBlock) {
        const uchar* block = data + frame * frameSize;
        Bits differences = 0;
        for (qint64 i = 0; i < framesPerBlock; ++i)
            differences |= sampleAt<Bits>(block + i * frameSize) ^
                           sampleAt<Bits>(block + i * frameSize + sizeof(Bits));
        if (differences)
            break;
    }
    for (; frame < frames; ++frame) {
        const uchar* bytes = data + frame * frameSize;
        if (sampleAt<Bits>(bytes) != sampleAt<Bits>(bytes + sizeof(Bits)))
            return frame;
    }
    return frames;
}

} // namespace

PcmJudgement judgementFor(ComparisonMethod chosen, const QString& codec, int sampleRate) {
    static const QSet<QString> perceptual{
        QStringLiteral("mp3"),    QStringLiteral("mp2"),  QStringLiteral("aac"),
        QStringLiteral("vorbis"), QStringLiteral("opus"), QStringLiteral("wmav1"),
        QStringLiteral("wmav2"),  QStringLiteral("ac3"),  QStringLiteral("eac3")};
    const bool tolerant = chosen == ComparisonMethod::statistical && perceptual.contains(codec);
    // Without a known rate every frame is judged as a second of its own.
    return {tolerant ? ComparisonMethod::statistical : ComparisonMethod::byteExact,
            qMax(1, sampleRate)};
}

qint64 firstDifferingFrame(const uchar* data, qint64 frames, PcmSamples samples) {
    switch (sampleBytes(samples)) {
    case 2:
        return firstDifferingFrameOf<std::uint16_t>(data, frames);
    case 4:
        return firstDifferingFrameOf<std::uint32_t>(data, frames);
    }
    return firstDifferingFrameOf<std::uint64_t>(data, frames);
}

void ChannelEnergies::add(const uchar* data, qint64 frames, PcmSamples samples) {
    // Integers are scaled to full scale 1 as ffmpeg does when it decodes to
    // floats, so every form gives the same energies.
    switch (samples) {
    case PcmSamples::s16:
        return addAll<std::int16_t>(data, frames, 1.0 / (1 << 15));
    case PcmSamples::s32:
        return addAll<std::int32_t>(data, frames, 1.0 / (1U << 31));
    case PcmSamples::f32:
        return addAll<float>(data, frames, 1);
    case PcmSamples::f64:
        break;
    }
    addAll<double>(data, frames, 1);
}

template <typename Sample>
void ChannelEnergies::addAll(const uchar* data, qint64 frames, double scale) {
    constexpr qint64 frameSize = 2 * sizeof(Sample);
    for (qint64 i = 0; i < frames; ++i) {
        const double l = double(sampleAt<Sample>(data + i * frameSize)) * scale;
        const double r = double(sampleAt<Sample>(data + i * frameSize + sizeof(Sample))) * scale;
        left += l * l;
        right += r * r;
        difference += (l - r) * (l - r);
    }
    count += frames;
}

bool ChannelEnergies::channelsMatch() const {
    // Written so that a NaN or an infinity anywhere fails.
    return count > 0 && difference <= residualShare * qMax(left, right);
}
