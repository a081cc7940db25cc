// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "model/FileItem.h"

#include <QList>
#include <QString>

#include <optional>

// What the banner says after a conversion run: how many of the run's files
// were converted and what that freed or would free, and how many could not be.
struct CompletionSummary {
    QString message;
    qint64 failureCount = 0;
    // Whether the run left something the history can take back.
    bool canBeUndone = false;

    // The summary of a run over `items` whose originals were dealt with as
    // `behavior` says; nothing when it neither converted nor failed a file.
    static std::optional<CompletionSummary> of(const QList<FileItemPtr>& items,
                                               ConvertBehavior behavior, bool suffixEnabled);

    // The converted files' sentence: either the space recovered (the
    // originals are gone) or what deleting the originals that were kept would
    // free (the disk has grown, nothing was recovered yet).
    static QString convertedText(qint64 convertedCount, qint64 bytesSaved, qint64 originalBytes,
                                 ConvertBehavior behavior, bool suffixEnabled);
};
