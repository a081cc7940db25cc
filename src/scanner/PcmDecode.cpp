#include "scanner/PcmDecode.h"

QStringList pcmStreamArguments() {
    return {QStringLiteral("-f"),        QStringLiteral("s16le"), QStringLiteral("-acodec"),
            QStringLiteral("pcm_s16le"), QStringLiteral("-ac"),   QStringLiteral("2"),
            QStringLiteral("-ar"),       QStringLiteral("44100")};
}

QStringList pcmDecodeArguments(const QString& file, std::optional<qint64> seconds) {
    QStringList arguments = QStringList{QStringLiteral("-i"), file} + pcmStreamArguments();
    if (seconds)
        arguments << QStringLiteral("-t") << QString::number(*seconds);
    arguments << QStringLiteral("-");
    return arguments;
}
