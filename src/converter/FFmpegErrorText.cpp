// SPDX-License-Identifier: GPL-3.0-or-later

#include "converter/FFmpegErrorText.h"

#include "exec/ToolOutput.h"

#include <QRegularExpression>
#include <QSet>
#include <QStringList>

#include <array>

namespace {

constexpr qsizetype maximumLines = 3;
constexpr qsizetype maximumLength = 300;

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

// What ffmpeg says about the files and itself rather than about the failure:
// the banner, the input and output descriptions with their tags (a title may
// well contain "error"), and progress lines.
bool describesRatherThanFails(const QString& line) {
    static const QRegularExpression context(QStringLiteral(
        "^(Duration:|Stream #|Input #|Output #|Metadata:|Side data:|Chapters?:|Chapter #|"
        "Stream mapping:|Press \\[q\\]|ffmpeg version|built with|configuration:|"
        "lib(av|sw|postproc)\\w*\\s|frame=|size=|video:|"
        // a tag, "key   : value", as the descriptions list them
        "[^\\s:]+\\s+: )"));
    return context.match(line).hasMatch();
}

QString bounded(const QString& text) {
    if (text.size() <= maximumLength)
        return text;
    return text.left(maximumLength - 1) + QChar(0x2026);
}

} // namespace

QString extractError(const QString& text) {
    QStringList lines;
    for (const QString& piece : splitAtLineBreaks(text)) {
        const QString line = piece.trimmed();
        if (!line.isEmpty() && !describesRatherThanFails(line))
            lines.append(line);
    }

    // Thousands of repeats of one complaint are one line here.
    QStringList keywordLines;
    QSet<QString> seen;
    for (const QString& line : lines) {
        if (namesAnError(line) && !seen.contains(line)) {
            seen.insert(line);
            keywordLines.append(line);
        }
    }
    // A failure is stated last; what comes before is often its echo.
    const QStringList& chosen = keywordLines.isEmpty() ? lines : keywordLines;
    if (chosen.isEmpty())
        return QStringLiteral("ffmpeg failed");
    return bounded(
        chosen.mid(qMax(qsizetype(0), chosen.size() - maximumLines)).join(QStringLiteral("; ")));
}
