// SPDX-License-Identifier: GPL-3.0-or-later

#include "exec/ToolOutput.h"

#include <QStringDecoder>

std::optional<QString> strictUtf8(const QByteArray& bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

QStringList splitAtLineBreaks(const QString& text) {
    QStringList pieces;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        switch (text.at(i).unicode()) {
        case 0x0A:
        case 0x0B:
        case 0x0C:
        case 0x0D:
        case 0x85:
        case 0x2028:
        case 0x2029:
            pieces.append(text.mid(start, i - start));
            start = i + 1;
            break;
        default:
            break;
        }
    }
    pieces.append(text.mid(start));
    return pieces;
}
