// SPDX-License-Identifier: GPL-3.0-or-later

#include "converter/Disposal.h"

#include "converter/AccessList.h"
#include "converter/FileChanges.h"
#include "converter/OriginalLock.h"
#include "converter/Trash.h"
#include "exec/TimeLimits.h"
#include "model/OwnFileNames.h"
#include "model/PathParts.h"

#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString freshUuid() {
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

std::function<void()>& folderChangeObserver() {
    static std::function<void()> observer;
    return observer;
}

void folderChanged() {
    if (folderChangeObserver())
        folderChangeObserver()();
}

const QString changedText = QStringLiteral("Skipped: the file changed during the conversion");

// What a commit has changed so far. Written only by the steps, which run one
// after another on the file-operation queue, so a repair queued behind a step
// that overran its limit sees what that step really did.
struct Changes {
    std::shared_ptr<const OriginalLock> lock;
    QString original;
    QString output;
    QString finalPath;
    QString staging;
    QString backupFolder;
    QString backupCopy;
    TrashEntry trashEntry;
    // Where the original is while the output holds its name.
    QString originalNowAt;
    // The output file itself, to tell it from anything else under a name.
    dev_t outputDevice = 0;
    ino_t outputInode = 0;
    // Why the conversion ends without a system error to report.
    std::optional<ConversionOutcome> refusal;
    bool madeBackupFolder = false;
    bool linkedStaging = false;
    bool exchanged = false;
    bool replaced = false;
    bool placed = false;
    bool trashed = false;
    bool inPlace = false;
    bool toTrash = false;

    // Whether the step that completes the commit has happened, perhaps late.
    bool committed() const { return toTrash ? trashed : inPlace ? replaced : placed; }

    std::optional<QString> refuse(ConversionOutcome::Kind kind, const QString& text) {
        refusal = ConversionOutcome::notConverted(kind, text);
        return text;
    }

    // The original must still be the locked file, as it was when locked,
    // under its own name: a file saved over it or written to meanwhile is
    // the user's newer work, never ours to replace, trash or back up.
    std::optional<QString> checkOriginal() {
        if (!lock->unchanged() || !lock->isNamedBy(original))
            return refuse(ConversionOutcome::Kind::skipped, changedText);
        return std::nullopt;
    }
};

bool unlinkPath(const QString& path) {
    return ::unlink(QFile::encodeName(path).constData()) == 0;
}

bool renamePath(const QString& from, const QString& to) {
    return std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
}

// Copies the locked file, whatever its name holds by now, into the backup
// folder under a name no other file holds, so an earlier backup is never
// replaced. The copy is whole under a hidden name before it takes its own.
std::optional<QString> copyToBackup(Changes& changes) {
    if (auto refusal = changes.checkOriginal())
        return refusal;
    const QString folder = changes.backupFolder;
    const bool existed = QFileInfo(folder).isDir();
    if (auto failure = makeFolder(folder, 0777))
        return failure;
    if (!existed) {
        changes.madeBackupFolder = true;
        folderChanged();
    }
    const QString partial = folder + QStringLiteral("/.partial_") + freshUuid();
    if (auto failure = copyIntoNewFile(changes.lock->fileDescriptor(), partial,
                                       changes.lock->whenLocked().st_mode & 0777))
        return failure;
    if (!changes.lock->unchanged()) {
        unlinkPath(partial);
        return changes.refuse(ConversionOutcome::Kind::skipped, changedText);
    }
    const QString name = lastPathComponent(changes.original);
    for (int number = 1; number <= 1000; ++number) {
        const QString candidate = folder + u'/' + numberedName(name, number, NAME_MAX);
        switch (renameWithoutReplacing(partial, candidate)) {
        case Placement::placed:
            changes.backupCopy = candidate;
            folderChanged();
            return std::nullopt;
        case Placement::taken:
            continue;
        case Placement::failed: {
            const QString reason = lastSystemError();
            unlinkPath(partial);
            return reason;
        }
        }
    }
    unlinkPath(partial);
    return QStringLiteral("no free name in %1").arg(folder);
}

// The output takes over who may read and change the original, with its
// access list and attributes; only root may give a file away, so a refused
// owner change is ignored. An access list that cannot be kept would leave a
// private file readable to more people, so the original is then kept.
std::optional<QString> adoptAccess(Changes& changes) {
    const struct stat& original = changes.lock->whenLocked();
    const QByteArray target = QFile::encodeName(changes.output);
    if (::chown(target.constData(), original.st_uid, original.st_gid) != 0) {
        // Not the owner's to give: keep the converting user's.
    }
    if (::chmod(target.constData(), original.st_mode & 07777) != 0)
        return lastSystemError();
    if (auto failure = copyAccessList(changes.lock->fileDescriptor(), changes.output))
        return changes.refuse(ConversionOutcome::Kind::refused,
                              QStringLiteral("Not converted: its access list could not be kept: ") +
                                  *failure);
    return std::nullopt;
}

// Without an exchange, the name is checked once more right before a plain
// rename puts the output over it. For the trash, the original must outlive
// the replacement: it stays reachable under the staging name (a hard link,
// or a copy where the file system has no links).
std::optional<QString> replaceByRename(Changes& changes) {
    if (changes.toTrash) {
        const QByteArray staging = QFile::encodeName(changes.staging);
        if (::link(QFile::encodeName(changes.original).constData(), staging.constData()) != 0) {
            if (errno == EEXIST)
                return lastSystemError();
            const struct stat& locked = changes.lock->whenLocked();
            if (auto failure = copyIntoNewFile(changes.lock->fileDescriptor(), changes.staging,
                                               locked.st_mode & 07777))
                return failure;
            // Should the copy have to be put back, it must look like the original.
            const timespec times[2] = {locked.st_atim, locked.st_mtim};
            ::utimensat(AT_FDCWD, staging.constData(), times, 0);
        }
        changes.linkedStaging = true;
        folderChanged();
    }
    if (!changes.lock->isNamedBy(changes.original))
        return changes.refuse(ConversionOutcome::Kind::skipped, changedText);
    if (!renamePath(changes.output, changes.original))
        return lastSystemError();
    changes.replaced = true;
    if (changes.toTrash)
        changes.originalNowAt = changes.staging;
    folderChanged();
    return std::nullopt;
}

// The output and the original swap names in one step, and the swap proves
// what it took out: the locked file, unchanged. Anything else under the name
// by then (a file saved over the original meanwhile) goes straight back. The
// original then takes the staging name; unless it goes to the trash, it is
// removed there.
std::optional<QString> replaceOriginal(Changes& changes) {
    if (auto refusal = changes.checkOriginal())
        return refusal;
    if (auto failure = adoptAccess(changes))
        return failure;
    struct stat output {};
    if (::lstat(QFile::encodeName(changes.output).constData(), &output) != 0)
        return lastSystemError();
    changes.outputDevice = output.st_dev;
    changes.outputInode = output.st_ino;
    switch (exchangeNames(changes.output, changes.original)) {
    case Exchange::exchanged:
        break;
    case Exchange::unsupported:
        return replaceByRename(changes);
    case Exchange::failed:
        return lastSystemError();
    }
    changes.exchanged = true;
    changes.originalNowAt = changes.output;
    folderChanged();
    if (!changes.lock->isNamedBy(changes.output))
        return changes.refuse(ConversionOutcome::Kind::skipped, changedText);
    changes.replaced = true;
    if (renamePath(changes.output, changes.staging)) {
        changes.originalNowAt = changes.staging;
        folderChanged();
    }
    if (!changes.toTrash && unlinkPath(changes.originalNowAt))
        folderChanged();
    return std::nullopt;
}

// The suffixed name is taken only if nothing holds it yet.
std::optional<QString> placeUnderFinalName(Changes& changes) {
    if (auto refusal = changes.checkOriginal())
        return refusal;
    if (auto failure = adoptAccess(changes))
        return failure;
    switch (renameWithoutReplacing(changes.output, changes.finalPath)) {
    case Placement::placed:
        changes.placed = true;
        folderChanged();
        return std::nullopt;
    case Placement::taken:
        return changes.refuse(ConversionOutcome::Kind::refused,
                              QStringLiteral("Not converted: ") +
                                  lastPathComponent(changes.finalPath) +
                                  QStringLiteral(" already exists"));
    case Placement::failed:
        break;
    }
    return lastSystemError();
}

// A replaced original is already under a name of ours. One still under its
// own name goes only if it is the locked file: the trash hands back anything
// else that was under the name.
std::optional<QString> trashOriginal(Changes& changes) {
    std::optional<QString> failure;
    if (changes.inPlace) {
        failure = moveToTrash(changes.originalNowAt, changes.original, {}, &changes.trashEntry);
    } else {
        if (auto refusal = changes.checkOriginal())
            return refusal;
        bool wrongFile = false;
        failure = moveToTrash(
            changes.original, changes.original,
            [&changes, &wrongFile](const QString& trashed) {
                wrongFile = !changes.lock->isNamedBy(trashed);
                return !wrongFile;
            },
            &changes.trashEntry);
        if (wrongFile)
            return changes.refuse(ConversionOutcome::Kind::skipped, changedText);
    }
    if (failure)
        return failure;
    changes.trashed = true;
    folderChanged();
    return std::nullopt;
}

// Puts the original back under its name. Exchanged back where the file
// system can, so the output is removed only if it is what came out.
std::optional<QString> restoreOriginal(const Changes& changes) {
    switch (exchangeNames(changes.originalNowAt, changes.original)) {
    case Exchange::exchanged: {
        struct stat out {};
        if (::lstat(QFile::encodeName(changes.originalNowAt).constData(), &out) == 0 &&
            out.st_dev == changes.outputDevice && out.st_ino == changes.outputInode)
            unlinkPath(changes.originalNowAt);
        return std::nullopt;
    }
    case Exchange::unsupported:
        if (renamePath(changes.originalNowAt, changes.original))
            return std::nullopt;
        break;
    case Exchange::failed:
        break;
    }
    return lastSystemError();
}

// Undoes whatever the steps did, newest first. Runs on the queue behind them,
// so a step that overran its limit has ended one way or the other by then.
std::optional<QString> putFolderBack(Changes& changes) {
    if (changes.committed())
        return std::nullopt;
    std::optional<QString> failure;
    if (changes.exchanged || changes.replaced) {
        failure = restoreOriginal(changes);
    } else {
        if (changes.linkedStaging)
            unlinkPath(changes.staging);
        if (!unlinkPath(changes.placed ? changes.finalPath : changes.output))
            failure = lastSystemError();
    }
    if (!changes.backupCopy.isEmpty())
        unlinkPath(changes.backupCopy);
    if (changes.madeBackupFolder)
        ::rmdir(QFile::encodeName(changes.backupFolder).constData());
    return failure;
}

} // namespace

OutputPath buildOutputPath(const FileItem& item, const Settings& settings) {
    const QString input = item.path();
    const QString directory = QFileInfo(input).path();
    const NameParts name = splitExtension(lastPathComponent(input));
    const QString temporary =
        directory + u'/' + temporaryOutputPrefix + freshUuid() + u'.' + name.extension;
    const QString staging =
        directory + u'/' + keptOriginalPrefix + freshUuid() + u'.' + name.extension;
    if (!settings.suffixEnabled())
        return {temporary, input, staging};
    return {temporary, directory + u'/' + name.base + settings.suffix() + u'.' + name.extension,
            staging};
}

void setFolderChangeObserver(std::function<void()> observer) {
    folderChangeObserver() = std::move(observer);
}

std::optional<ConversionOutcome>
disposeOfOriginal(const FileItem& item, std::shared_ptr<const OriginalLock> lock,
                  const OutputPath& output, const Settings& settings, const ConversionLog& log,
                  std::stop_token stop, OriginalWhereabouts* whereabouts) {
    using Kind = ConversionOutcome::Kind;
    const double limitSeconds = double(settings.convertTimeoutSeconds());
    const ConvertBehavior behavior = settings.convertBehavior();
    auto changes = std::make_shared<Changes>();
    changes->lock = std::move(lock);
    changes->original = item.path();
    changes->output = output.path;
    changes->finalPath = output.finalPath;
    const QString folder = QFileInfo(changes->original).path();
    changes->staging = output.staging;
    changes->backupFolder = folder + u'/' + backupFolderName;
    changes->inPlace = output.finalPath == changes->original;
    changes->toTrash = behavior == ConvertBehavior::trash;
    const auto fail = [&](Kind kind, const QString& text) -> std::optional<ConversionOutcome> {
        // Queued behind a step that overran its limit, so it sees what that
        // step really did.
        try {
            const std::optional<QString> failure =
                withHardTimeout(limitSeconds, [changes] { return putFolderBack(*changes); });
            if (!failure && changes->committed()) {
                log(item.fileName +
                    QStringLiteral(": the last step completed after its time limit"));
                return std::nullopt;
            }
            if (failure)
                log(item.fileName + QStringLiteral(": could not put the folder back: ") + *failure);
        } catch (const TimeoutError&) {
            log(item.fileName + QStringLiteral(": putting the folder back timed out; it is put "
                                               "back when the volume answers"));
        }
        log(item.fileName + QStringLiteral(" left as it was: ") + text);
        return ConversionOutcome::notConverted(kind, text);
    };
    // Each step, called `what` in the text that ends the conversion.
    const auto attempt = [&](const QString& what, double seconds,
                             std::function<std::optional<QString>()> step) {
        try {
            if (const std::optional<QString> failure = withHardTimeout(seconds, std::move(step))) {
                if (changes->refusal)
                    return fail(changes->refusal->kind, changes->refusal->text);
                return fail(Kind::failed, what + QStringLiteral(" failed: ") + *failure);
            }
            return std::optional<ConversionOutcome>();
        } catch (const TimeoutError&) {
            return fail(Kind::timedOut, what + QStringLiteral(" timed out"));
        }
    };

    if (stop.stop_requested())
        return fail(Kind::cancelled, QStringLiteral("Cancelled"));

    if (behavior == ConvertBehavior::backup) {
        if (auto failure = attempt(QStringLiteral("Backup"), limitSeconds,
                                   [changes] { return copyToBackup(*changes); }))
            return failure;
    }
    if (auto failure = attempt(QStringLiteral("File move"), limitSeconds, [changes] {
            return changes->inPlace ? replaceOriginal(*changes) : placeUnderFinalName(*changes);
        }))
        return failure;
    if (changes->toTrash) {
        if (auto failure =
                attempt(QStringLiteral("Trash"), std::min(limitSeconds, trashLimitSeconds),
                        [changes] { return trashOriginal(*changes); }))
            return failure;
    }
    if (whereabouts) {
        if (changes->toTrash)
            *whereabouts = {Disposition::trashed, changes->trashEntry.file,
                            changes->trashEntry.info};
        else if (behavior == ConvertBehavior::backup)
            *whereabouts = {Disposition::backedUp, changes->backupCopy, {}};
        else
            *whereabouts = {
                changes->inPlace ? Disposition::overwritten : Disposition::kept, {}, {}};
    }
    return std::nullopt;
}
