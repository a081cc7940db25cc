// SPDX-License-Identifier: GPL-3.0-or-later

#include "scanner/PcmDecode.h"

QStringList pcmStreamArguments() {
    return {QStringLiteral("-f"), QStringLiteral("f64le"), QStringLiteral("-c:a"),
            QStringLiteral("pcm_f64le")};
}

QStringList pcmDecodeArguments(const QString& file, std::optional<qint64> seconds) {
    QStringList arguments =
        QStringList{QStringLiteral("-i"), file, QStringLiteral("-map"), QStringLiteral("0:a:0")} +
        pcmStreamArguments();
    if (seconds)
        arguments << QStringLiteral("-t") << QString::number(*seconds);
    arguments << QStringLiteral("-");
    return arguments;
}
