// SPDX-License-Identifier: GPL-3.0-or-later

#include "scanner/PcmDecode.h"

QStringList pcmStreamArguments(PcmSamples samples) {
    return {QStringLiteral("-f"), rawFormatName(samples), QStringLiteral("-c:a"),
            rawCodecName(samples)};
}

QStringList pcmDecodeArguments(const QString& file, std::optional<qint64> seconds) {
    QStringList arguments =
        QStringList{QStringLiteral("-i"), file, QStringLiteral("-map"), QStringLiteral("0:a:0")} +
        pcmStreamArguments(PcmSamples::f64);
    if (seconds)
        arguments << QStringLiteral("-t") << QString::number(*seconds);
    arguments << QStringLiteral("-");
    return arguments;
}
