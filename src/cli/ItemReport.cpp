// SPDX-License-Identifier: GPL-3.0-or-later

#include "ItemReport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

QList<FileItemPtr> sortedByPath(QList<FileItemPtr> items) {
    std::stable_sort(items.begin(), items.end(),
                     [](const FileItemPtr& left, const FileItemPtr& right) {
                         return left->path() < right->path();
                     });
    return items;
}

// Control characters (and line separators) as visible escapes, such as "\n"
// and "\x{1b}", and the backslash doubled, so a file name can neither drive
// the terminal nor break a line or a field apart.
QString escapedForTerminal(const QString& text) {
    QString escaped;
    escaped.reserve(text.size());
    for (const QChar character : text) {
        const char16_t code = character.unicode();
        if (code == u'\\')
            escaped += QStringLiteral("\\\\");
        else if (code == u'\n')
            escaped += QStringLiteral("\\n");
        else if (code == u'\t')
            escaped += QStringLiteral("\\t");
        else if (code == u'\r')
            escaped += QStringLiteral("\\r");
        else if (character.category() == QChar::Other_Control || code == 0x2028 || code == 0x2029)
            escaped += QStringLiteral("\\x{%1}").arg(int(code), 2, 16, QChar(u'0'));
        else
            escaped += character;
    }
    return escaped;
}

QString scanLine(const FileItem& item) {
    QStringList fields{rawValue(item.detectionStatus), item.channelLabel(),
                       QString::number(item.fileSize), escapedForTerminal(item.path())};
    if (item.errorMessage)
        fields.append(escapedForTerminal(*item.errorMessage));
    return fields.join(u'\t');
}

QString outcomeLine(const FileItem& item) {
    QStringList fields{rawValue(item.detectionStatus), escapedForTerminal(item.path())};
    if (item.errorMessage)
        fields.append(escapedForTerminal(*item.errorMessage));
    return fields.join(u'\t');
}

QByteArray itemsAsJson(const QList<FileItemPtr>& items) {
    QJsonArray array;
    for (const FileItemPtr& item : items) {
        array.append(QJsonObject{
            {QStringLiteral("path"), item->path()},
            {QStringLiteral("fileName"), item->fileName},
            {QStringLiteral("extension"), item->fileExtension},
            {QStringLiteral("channelStatus"), item->channelLabel()},
            {QStringLiteral("detectionStatus"), rawValue(item->detectionStatus)},
            {QStringLiteral("selected"), item->isSelected},
            {QStringLiteral("sizeBytes"), item->fileSize},
            {QStringLiteral("errorMessage"),
             item->errorMessage ? QJsonValue(*item->errorMessage) : QJsonValue(QJsonValue::Null)},
        });
    }
    return QJsonDocument(array).toJson(QJsonDocument::Indented);
}

QString scanSummary(const QList<FileItemPtr>& items) {
    const auto fakeStereo =
        std::count_if(items.cbegin(), items.cend(), [](const FileItemPtr& item) {
            return item->detectionStatus == DetectionStatus::fakeStereo;
        });
    return QStringLiteral("%1 files scanned, %2 fake stereo").arg(items.size()).arg(fakeStereo);
}

bool endedInFailure(const FileItem& item) {
    return item.detectionStatus == DetectionStatus::error ||
           item.detectionStatus == DetectionStatus::timedOut;
}
