// SPDX-License-Identifier: GPL-3.0-or-later

#include "scanner/PcmSamples.h"

PcmSamples pcmSamplesHolding(const QString& sampleFormat) {
    QString packed = sampleFormat;
    if (packed.endsWith(u'p'))
        packed.chop(1);
    // 8-bit samples widen to 16 bits one to one.
    if (packed == QLatin1String("u8") || packed == QLatin1String("s16"))
        return PcmSamples::s16;
    if (packed == QLatin1String("s32"))
        return PcmSamples::s32;
    if (packed == QLatin1String("flt"))
        return PcmSamples::f32;
    return PcmSamples::f64;
}

QString rawFormatName(PcmSamples samples) {
    switch (samples) {
    case PcmSamples::s16:
        return QStringLiteral("s16le");
    case PcmSamples::s32:
        return QStringLiteral("s32le");
    case PcmSamples::f32:
        return QStringLiteral("f32le");
    case PcmSamples::f64:
        break;
    }
    return QStringLiteral("f64le");
}

QString rawCodecName(PcmSamples samples) {
    return QStringLiteral("pcm_") + rawFormatName(samples);
}
