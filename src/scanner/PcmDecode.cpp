#include "scanner/PcmDecode.h"

QStringList pcmDecodeArguments(const QString& file, std::optional<qint64> seconds) {
    QStringList arguments{QStringLiteral("-i"),      file,
                          QStringLiteral("-f"),      QStringLiteral("s16le"),
                          QStringLiteral("-acodec"), QStringLiteral("pcm_s16le"),
                          QStringLiteral("-ac"),     QStringLiteral("2"),
                          QStringLiteral("-ar"),     QStringLiteral("44100")};
    if (seconds)
        arguments << QStringLiteral("-t") << QString::number(*seconds);
    arguments << QStringLiteral("-");
    return arguments;
}
