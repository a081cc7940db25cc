// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QString>
#include <QtGlobal>

// The form of one decoded sample: decoded PCM is interleaved in frames of
// two little-endian samples, the left first. Every form here holds the
// samples of the streams it is chosen for exactly, so each judges the same
// samples; the smaller ones cost ffmpeg less to write and us less to read.
enum class PcmSamples {
    s16, // 16-bit integers
    s32, // 32-bit integers
    f32, // 32-bit floats
    f64, // 64-bit floats: every integer sample up to 32 bits and every float
         // sample exactly, whatever the stream
};

constexpr qint64 sampleBytes(PcmSamples samples) {
    switch (samples) {
    case PcmSamples::s16:
        return 2;
    case PcmSamples::s32:
    case PcmSamples::f32:
        return 4;
    case PcmSamples::f64:
        break;
    }
    return 8;
}

constexpr qint64 frameBytes(PcmSamples samples) {
    return 2 * sampleBytes(samples);
}

constexpr qint64 largestFrameBytes = frameBytes(PcmSamples::f64);

// The smallest form holding every sample a decoder of `sampleFormat` (as
// ffprobe names it: "s16", "s32p", "fltp") gives, without rounding: 64-bit
// floats for any other or an unknown one.
PcmSamples pcmSamplesHolding(const QString& sampleFormat);

// ffmpeg's name of the raw format and of the codec that write `samples`.
QString rawFormatName(PcmSamples samples);
QString rawCodecName(PcmSamples samples);
