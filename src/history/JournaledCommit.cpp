// SPDX-License-Identifier: GPL-3.0-or-later

#include "history/JournaledCommit.h"

#include "exec/TimeLimits.h"
#include "history/FileDigest.h"
#include "history/RunJournal.h"

#include <QFileInfo>

#include <tuple>

std::optional<ConversionOutcome> commitConversion(const FileItem& item,
                                                  std::shared_ptr<const OriginalLock> lock,
                                                  const OutputPath& output,
                                                  const Settings& settings, const QString& run,
                                                  const ConversionLog& log, std::stop_token stop) {
    CommitIntent intent;
    intent.run = run;
    intent.original = item.path();
    const struct stat& locked = lock->whenLocked();
    intent.originalSize = locked.st_size;
    intent.originalModifiedNs = qint64(locked.st_mtim.tv_sec) * 1000000000 + locked.st_mtim.tv_nsec;
    intent.behavior = settings.convertBehavior();
    intent.suffix = settings.suffixEnabled() ? settings.suffix() : QString();
    intent.temporary = output.path;
    intent.finalPath = output.finalPath;
    intent.staging = output.staging;
    const QString written = output.path;
    try {
        std::tie(intent.monoSha256, intent.monoSize) =
            withHardTimeout(double(settings.convertTimeoutSeconds()), [written] {
                return std::pair(sha256OfFile(written).value_or(QByteArray()),
                                 QFileInfo(written).size());
            });
    } catch (const TimeoutError&) {
    }

    // Without the output's digest an undo could not prove what it takes back.
    const std::optional<qint64> entry =
        intent.monoSha256.isEmpty() ? std::nullopt : RunJournal::recordIntent(intent);
    if (!entry)
        log(QStringLiteral("Not recorded in the history (it cannot be undone): ") + item.fileName);
    OriginalWhereabouts whereabouts;
    const std::optional<ConversionOutcome> failure =
        disposeOfOriginal(item, std::move(lock), output, settings, log, stop, &whereabouts);
    if (entry) {
        if (failure)
            RunJournal::forget(*entry);
        else
            RunJournal::recordCompletion(*entry, whereabouts);
    }
    return failure;
}
