#include "converter/ErrorText.h"

#include "exec/ToolOutput.h"

#include <array>

namespace {

bool namesAnError(const QString& line) {
    static const std::array<QString, 5> keywords{
        QStringLiteral("error"), QStringLiteral("invalid"), QStringLiteral("no such file"),
        QStringLiteral("permission denied"), QStringLiteral("cannot")};
    const QString lower = line.toLower();
    for (const QString& keyword : keywords)
        if (lower.contains(keyword))
            return true;
    return false;
}

} // namespace

QString extractError(const QString& text) {
    QStringList lines;
    for (const QString& piece : splitAtLineBreaks(text)) {
        const QString line = piece.trimmed();
        if (!line.isEmpty())
            lines.append(line);
    }

    QStringList keywordLines;
    for (const QString& line : lines)
        if (namesAnError(line))
            keywordLines.append(line);
    if (!keywordLines.isEmpty())
        return keywordLines.join(QStringLiteral("; "));

    if (lines.isEmpty())
        return QStringLiteral("ffmpeg failed");
    return lines.mid(qMax(qsizetype(0), lines.size() - 3)).join(QStringLiteral("; "));
}
