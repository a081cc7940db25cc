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

QString scanLine(const FileItem& item) {
    return QStringList{rawValue(item.detectionStatus), rawValue(item.channelStatus),
                       QString::number(item.fileSize), item.path()}
        .join(u'\t');
}

QString outcomeLine(const FileItem& item) {
    QStringList fields{rawValue(item.detectionStatus), item.path()};
    if (item.errorMessage)
        fields.append(*item.errorMessage);
    return fields.join(u'\t');
}

QByteArray itemsAsJson(const QList<FileItemPtr>& items) {
    QJsonArray array;
    for (const FileItemPtr& item : items) {
        array.append(QJsonObject{
            {QStringLiteral("path"), item->path()},
            {QStringLiteral("fileName"), item->fileName},
            {QStringLiteral("extension"), item->fileExtension},
            {QStringLiteral("channelStatus"), rawValue(item->channelStatus)},
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
