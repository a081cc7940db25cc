// SPDX-License-Identifier: GPL-3.0-or-later

#include "viewmodel/CompletionSummary.h"

#include "viewmodel/SortAndFilter.h"

#include <QStringList>

std::optional<CompletionSummary> CompletionSummary::of(const QList<FileItemPtr>& items,
                                                       ConvertBehavior behavior,
                                                       bool suffixEnabled) {
    qint64 convertedCount = 0;
    qint64 failedCount = 0;
    qint64 bytesSaved = 0;
    qint64 originalBytes = 0;
    for (const FileItemPtr& item : items) {
        if (item->detectionStatus == DetectionStatus::converted) {
            convertedCount += 1;
            bytesSaved += item->spaceSaved();
            originalBytes += item->originalSize;
        } else if (needsAttention(*item)) {
            failedCount += 1;
        }
    }
    QStringList lines;
    if (convertedCount > 0)
        lines.append(
            convertedText(convertedCount, bytesSaved, originalBytes, behavior, suffixEnabled));
    if (failedCount > 0)
        lines.append(failedCount == 1
                         ? QStringLiteral("1 file could not be converted.")
                         : QStringLiteral("%1 files could not be converted.").arg(failedCount));
    if (lines.isEmpty())
        return std::nullopt;
    // Originals overwritten without a copy cannot come back.
    const bool undoable =
        convertedCount > 0 && (behavior != ConvertBehavior::overwrite || suffixEnabled);
    return CompletionSummary{lines.join(u'\n'), failedCount, undoable};
}

// A backup always keeps each original (in the _backup folder, and with a
// suffix also in place); overwriting keeps it only when the suffix gave the
// output a name of its own. The Trash still holds its originals: the disk
// has grown until it is emptied.
QString CompletionSummary::convertedText(qint64 convertedCount, qint64 bytesSaved,
                                         qint64 originalBytes, ConvertBehavior behavior,
                                         bool suffixEnabled) {
    const QString converted = QStringLiteral("Congratulations! ") +
                              QString::number(convertedCount) +
                              (convertedCount == 1 ? QStringLiteral(" file converted. ")
                                                   : QStringLiteral(" files converted. "));
    switch (behavior) {
    case ConvertBehavior::trash:
        return converted + QStringLiteral("Originals moved to the Trash:\nempty it to free ") +
               formattedFileSize(originalBytes) + u'.';
    case ConvertBehavior::overwrite:
        if (!suffixEnabled)
            return converted + formattedFileSize(bytesSaved) +
                   QStringLiteral(" disk space recovered.\n(Original files are overwritten.)");
        return converted +
               QStringLiteral("Original files are kept beside them:\ndeleting them "
                              "would free ") +
               formattedFileSize(originalBytes) + u'.';
    case ConvertBehavior::backup:
        if (!suffixEnabled)
            return converted +
                   QStringLiteral("Original files are kept in the _backup folder:\n"
                                  "deleting them would free ") +
                   formattedFileSize(originalBytes) + u'.';
        return converted +
               QStringLiteral("Original files are kept, with copies in the _backup "
                              "folder:\ndeleting the originals would free ") +
               formattedFileSize(originalBytes) + u'.';
    }
    return {};
}
