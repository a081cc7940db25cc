// SPDX-License-Identifier: GPL-3.0-or-later

#include "scanner/ChannelComparison.h"

#include <QSet>

#include <bit>
#include <cstdint>
#include <cstring>

static_assert(std::endian::native == std::endian::little,
              "decoded samples are read as little-endian doubles");

namespace {

// 10^(-70/10): the share of the louder channel's energy the difference may
// have.
constexpr double residualShare = 1e-7;

double sampleAt(const uchar* bytes) {
    double value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
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

qint64 firstDifferingFrame(const uchar* data, qint64 frames) {
    // Blocks keep the inner loop branch-free so it vectorises.
    constexpr qint64 framesPerBlock = 512;
    qint64 frame = 0;
    for (; frame + framesPerBlock <= frames; frame += framesPerBlock) {
        const uchar* block = data + frame * pcmFrameSize;
        std::uint64_t differences = 0;
        for (qint64 i = 0; i < framesPerBlock; ++i) {
            std::uint64_t left, right;
            std::memcpy(&left, block + i * pcmFrameSize, sizeof left);
            std::memcpy(&right, block + i * pcmFrameSize + pcmSampleSize, sizeof right);
            differences |= left ^ right;
        }
        if (differences)
            break;
    }
    for (; frame < frames; ++frame) {
        const uchar* bytes = data + frame * pcmFrameSize;
        if (std::memcmp(bytes, bytes + pcmSampleSize, pcmSampleSize) != 0)
            return frame;
    }
    return frames;
}

void ChannelEnergies::add(const uchar* data, qint64 frames) {
    for (qint64 i = 0; i < frames; ++i) {
        const double l = sampleAt(data + i * pcmFrameSize);
        const double r = sampleAt(data + i * pcmFrameSize + pcmSampleSize);
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
