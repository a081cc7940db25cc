#include "converter/FFmpegArguments.h"

#include <QRegularExpression>

bool needsPcmCodec(const QString& extension) {
    const QString lower = extension.toLower();
    return lower == QLatin1String("wav") || lower == QLatin1String("aiff") ||
           lower == QLatin1String("aif");
}

QString pcmCodecFor(const std::optional<QString>& inputCodec) {
    static const QRegularExpression widerThan16Bits(
        QStringLiteral("^pcm_(s24|s32|s64|f32|f64)(le|be)$"));
    if (inputCodec && widerThan16Bits.match(*inputCodec).hasMatch())
        return *inputCodec;
    return QStringLiteral("pcm_s16le");
}

QStringList conversionArguments(const QString& input, const QString& output,
                                const std::optional<QString>& pcmCodec) {
    QStringList arguments{QStringLiteral("-y"), QStringLiteral("-i"), input, QStringLiteral("-ac"),
                          QStringLiteral("1")};
    if (pcmCodec)
        arguments << QStringLiteral("-c:a") << *pcmCodec;
    arguments << QStringLiteral("-map_metadata") << QStringLiteral("0") << output;
    return arguments;
}
