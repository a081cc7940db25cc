// SPDX-License-Identifier: GPL-3.0-or-later

#include "history/UndoConversion.h"

#include "converter/FileChanges.h"
#include "converter/OriginalLock.h"
#include "converter/Trash.h"
#include "exec/TimeLimits.h"
#include "history/FileDigest.h"
#include "model/OwnFileNames.h"
#include "model/Settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <fcntl.h>
#include <memory>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString notUndone(const QString& why) {
    return QStringLiteral("Not undone: ") + why;
}

QString pathTaken(const QString& path) {
    return notUndone(QStringLiteral("another file now holds ") + path);
}

std::optional<struct stat> statusOf(const QString& path) {
    struct stat status {};
    if (::lstat(QFile::encodeName(path).constData(), &status) != 0)
        return std::nullopt;
    return status;
}

qint64 modifiedNs(const struct stat& status) {
    return qint64(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec;
}

bool unlinkPath(const QString& path) {
    return ::unlink(QFile::encodeName(path).constData()) == 0;
}

// One file's undo as it goes: what was found, and what has been changed.
struct Undo {
    JournalFile file;
    std::shared_ptr<const OriginalLock> mono;
    bool inPlace = false;
    // The original still at its path beside the converted copy.
    bool originalBeside = false;
    TrashEntry monoInTrash;

    const CommitIntent& intent() const { return file.intent; }
    const OriginalWhereabouts& where() const { return *file.completion; }

    // The run's original, where the run left it.
    std::optional<QString> checkKeptOriginal() const {
        const auto kept = statusOf(where().keptAt);
        const bool found =
            kept && S_ISREG(kept->st_mode) && qint64(kept->st_size) == intent().originalSize;
        if (where().disposition == Disposition::trashed &&
            (!found || modifiedNs(*kept) != intent().originalModifiedNs))
            return notUndone(QStringLiteral("the original is no longer in the trash"));
        if (where().disposition == Disposition::backedUp && !found)
            return notUndone(QStringLiteral("the backup copy %1 is gone").arg(where().keptAt));
        return std::nullopt;
    }

    // What holds the original's path now must be what the undo expects there.
    std::optional<QString> checkOriginalPath() {
        const QString& original = intent().original;
        if (inPlace)
            return mono->isNamedBy(original) ? std::nullopt
                                             : std::optional<QString>(pathTaken(original));
        const auto present = statusOf(original);
        const bool asConverted = present && qint64(present->st_size) == intent().originalSize &&
                                 modifiedNs(*present) == intent().originalModifiedNs;
        originalBeside = asConverted;
        switch (where().disposition) {
        case Disposition::trashed:
            return present ? std::optional<QString>(pathTaken(original)) : std::nullopt;
        case Disposition::backedUp:
            if (present && !asConverted)
                return pathTaken(original);
            if (asConverted && sha256OfFile(original) != sha256OfFile(where().keptAt))
                return notUndone(QStringLiteral("the backup copy differs from the original"));
            return std::nullopt;
        case Disposition::kept:
            return asConverted ? std::nullopt
                               : std::optional<QString>(notUndone(
                                     QStringLiteral("the original %1 is gone").arg(original)));
        case Disposition::overwritten:
            break;
        }
        return notUndone(QStringLiteral("the original was overwritten without a copy"));
    }

    std::optional<QString> check() {
        if (where().disposition != Disposition::kept &&
            where().disposition != Disposition::overwritten) {
            if (auto refusal = checkKeptOriginal())
                return refusal;
        }
        return checkOriginalPath();
    }

    // The converted file goes to the trash, recorded under its own path.
    std::optional<QString> trashMono(const QString& at) {
        return moveToTrash(
            at, intent().finalPath,
            [this](const QString& trashed) { return mono->isNamedBy(trashed); }, &monoInTrash);
    }

    void bringMonoBack() {
        if (renameWithoutReplacing(monoInTrash.file, intent().finalPath) == Placement::placed)
            unlinkPath(monoInTrash.info);
    }

    void removeEmptiedBackupFolder() const {
        if (where().disposition == Disposition::backedUp)
            ::rmdir(QFile::encodeName(QFileInfo(where().keptAt).path()).constData());
    }

    // The kept original and the converted file swap names in one step; the
    // swap is turned back unless it took out the converted file.
    std::optional<QString> undoInPlace() {
        const QString& original = intent().original;
        const QString& kept = where().keptAt;
        switch (exchangeNames(kept, original)) {
        case Exchange::exchanged:
            break;
        case Exchange::unsupported:
            return notUndone(QStringLiteral("this file system cannot swap two names"));
        case Exchange::failed:
            return notUndone(lastSystemError());
        }
        if (!mono->isNamedBy(kept)) {
            exchangeNames(kept, original);
            return pathTaken(original);
        }
        // From the trash, the converted file now sits in the original's entry,
        // which names the same path: it is trashed already.
        if (where().disposition == Disposition::trashed)
            return std::nullopt;
        if (auto failure = trashMono(kept)) {
            exchangeNames(kept, original);
            return notUndone(*failure);
        }
        removeEmptiedBackupFolder();
        return std::nullopt;
    }

    std::optional<QString> undoBeside() {
        if (auto refusal = check())
            return refusal;
        if (auto failure = trashMono(intent().finalPath))
            return notUndone(*failure);
        if (where().disposition == Disposition::kept)
            return std::nullopt;
        if (originalBeside) {
            unlinkPath(where().keptAt);
            removeEmptiedBackupFolder();
            return std::nullopt;
        }
        switch (renameWithoutReplacing(where().keptAt, intent().original)) {
        case Placement::placed:
            if (where().disposition == Disposition::trashed)
                unlinkPath(where().trashInfo);
            removeEmptiedBackupFolder();
            return std::nullopt;
        case Placement::taken:
            bringMonoBack();
            return pathTaken(intent().original);
        case Placement::failed:
            break;
        }
        const QString reason = lastSystemError();
        bringMonoBack();
        return notUndone(reason);
    }

    std::optional<QString> perform() {
        if (inPlace) {
            if (auto refusal = check())
                return refusal;
            return undoInPlace();
        }
        return undoBeside();
    }
};

// Locks the converted file and proves it is what the run wrote.
using ConvertedLock = OrFailure<std::shared_ptr<const OriginalLock>>;

ConvertedLock lockConverted(const CommitIntent& intent, double limitSeconds) {
    const QString& path = intent.finalPath;
    FileItem item(QUrl::fromLocalFile(path));
    if (!QFileInfo::exists(path))
        return ConvertedLock::failed(
            ConversionOutcome::Kind::refused,
            notUndone(QStringLiteral("the converted file %1 is gone").arg(path)));
    const QString changed = notUndone(path + QStringLiteral(" was changed after the conversion"));
    item.fileSize = intent.monoSize;
    auto acquired = OriginalLock::acquire(item);
    if (acquired.failure())
        return ConvertedLock::failed(ConversionOutcome::Kind::refused, changed);
    auto lock = std::make_shared<const OriginalLock>(*std::move(acquired));
    std::optional<QByteArray> digest;
    try {
        digest =
            withHardTimeout(limitSeconds, [lock] { return sha256OfFile(lock->fileDescriptor()); });
    } catch (const TimeoutError&) {
        return ConvertedLock::failed(ConversionOutcome::Kind::refused,
                                     notUndone(QStringLiteral("reading %1 timed out").arg(path)));
    }
    if (digest != intent.monoSha256)
        return ConvertedLock::failed(ConversionOutcome::Kind::refused, changed);
    return lock;
}

bool holdsOriginal(const CommitIntent& intent, const QString& path) {
    const auto status = statusOf(path);
    return status && S_ISREG(status->st_mode) && qint64(status->st_size) == intent.originalSize &&
           modifiedNs(*status) == intent.originalModifiedNs;
}

bool holdsOutput(const CommitIntent& intent, const QString& path) {
    const auto status = statusOf(path);
    return status && S_ISREG(status->st_mode) && qint64(status->st_size) == intent.monoSize &&
           sha256OfFile(path) == intent.monoSha256;
}

// A live conversion still holds its original's lock, wherever the file is
// by now; the lock dies with the process.
class HeldOriginal {
public:
    explicit HeldOriginal(const QString& path)
        : descriptor(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC)) {}
    ~HeldOriginal() {
        if (descriptor >= 0)
            ::close(descriptor);
    }
    HeldOriginal(const HeldOriginal&) = delete;
    HeldOriginal& operator=(const HeldOriginal&) = delete;
    bool lockedHere() const {
        return descriptor >= 0 && ::flock(descriptor, LOCK_EX | LOCK_NB) == 0;
    }

private:
    const int descriptor;
};

// The copy a backup commit made is the one in _backup of the original's size
// (and bytes, when the original is there to compare) written since its run
// began; earlier backups are older. File times come from a coarse clock,
// a few milliseconds behind the one the run's start was read from.
std::optional<QString> backupCopyOf(const JournalFile& file,
                                    const std::optional<QByteArray>& digest) {
    const QDir backup(QFileInfo(file.intent.original).path() + u'/' + backupFolderName);
    for (const QFileInfo& copy : backup.entryInfoList(QDir::Files | QDir::Hidden, QDir::Time)) {
        if (!copy.isSymLink() && copy.size() == file.intent.originalSize &&
            copy.lastModified() >= file.runStarted.addSecs(-1) &&
            (!digest || sha256OfFile(copy.filePath()) == digest))
            return copy.filePath();
    }
    return std::nullopt;
}

UndoOutcome putBackNow(const JournalFile& file, bool dryRun) {
    const CommitIntent& intent = file.intent;
    const QString& original = intent.original;
    const auto refused = [](const QString& why) { return UndoOutcome{UndoResult::refused, why}; };
    // Where the commit may have left the original, its own path first.
    QStringList places{original, intent.temporary, intent.staging};
    TrashEntry fromTrash;
    for (const TrashEntry& entry : trashEntriesOf(original)) {
        if (holdsOriginal(intent, entry.file)) {
            fromTrash = entry;
            places.append(entry.file);
            break;
        }
    }
    const auto found = std::find_if(places.cbegin(), places.cend(), [&intent](const QString& at) {
        return holdsOriginal(intent, at);
    });
    if (found == places.cend()) {
        // Replaced in place with only the journal's record left to write.
        std::optional<OriginalWhereabouts> done;
        if (intent.behavior == ConvertBehavior::overwrite)
            done = OriginalWhereabouts{Disposition::overwritten, {}, {}};
        else if (intent.behavior == ConvertBehavior::backup)
            if (const auto copy = backupCopyOf(file, std::nullopt))
                done = OriginalWhereabouts{Disposition::backedUp, *copy, {}};
        if (!done || intent.finalPath != original || !holdsOutput(intent, original))
            return refused(notUndone(QStringLiteral("the original is nowhere to be found")));
        if (!dryRun)
            RunJournal::recordCompletion(file.id, *done);
        return {UndoResult::finished, {}};
    }
    const QString at = *found;
    const HeldOriginal held(at);
    if (!held.lockedHere())
        return refused(notUndone(QStringLiteral("a conversion still holds the original")));
    const bool outputInPlace = at != original && holdsOutput(intent, original);
    if (at != original && !outputInPlace && statusOf(original))
        return refused(pathTaken(original));
    if (dryRun)
        return {UndoResult::wouldUndo, {}};
    if (outputInPlace) {
        // The output goes where the original was found, then away.
        if (exchangeNames(at, original) != Exchange::exchanged &&
            ::rename(QFile::encodeName(at).constData(), QFile::encodeName(original).constData()) !=
                0)
            return refused(notUndone(lastSystemError()));
    } else if (at != original) {
        switch (renameWithoutReplacing(at, original)) {
        case Placement::placed:
            break;
        case Placement::taken:
            return refused(pathTaken(original));
        case Placement::failed:
            return refused(notUndone(lastSystemError()));
        }
    }
    if (at == fromTrash.file)
        unlinkPath(fromTrash.info);
    for (const QString& ours : {at, intent.temporary, intent.finalPath}) {
        if (ours != original && holdsOutput(intent, ours))
            unlinkPath(ours);
    }
    // The hidden second name (a link or a copy) the commit gave the original.
    if (intent.staging != at && holdsOriginal(intent, intent.staging))
        unlinkPath(intent.staging);
    if (intent.behavior == ConvertBehavior::backup) {
        if (const auto copy = backupCopyOf(file, sha256OfFile(original)))
            unlinkPath(*copy);
        ::rmdir(
            QFile::encodeName(QFileInfo(original).path() + u'/' + backupFolderName).constData());
    }
    RunJournal::forget(file.id);
    return {UndoResult::putBack, {}};
}

} // namespace

UndoOutcome putBackInterrupted(const JournalFile& file, bool dryRun) {
    if (file.completion)
        return {UndoResult::refused, notUndone(QStringLiteral("the conversion finished"))};
    try {
        return withHardTimeout(double(Settings::shared().convertTimeoutSeconds()),
                               [file, dryRun] { return putBackNow(file, dryRun); });
    } catch (const TimeoutError&) {
        return {UndoResult::refused,
                notUndone(QStringLiteral("the folder did not answer in time"))};
    }
}

UndoOutcome undoConversion(const JournalFile& file, bool dryRun) {
    if (file.undone)
        return {UndoResult::refused, notUndone(QStringLiteral("already undone"))};
    if (!file.completion)
        return putBackInterrupted(file, dryRun);
    if (file.completion->disposition == Disposition::overwritten)
        return {UndoResult::refused,
                notUndone(QStringLiteral("the original was overwritten without a copy"))};
    const double limitSeconds = double(Settings::shared().convertTimeoutSeconds());
    auto locked = lockConverted(file.intent, limitSeconds);
    if (const auto refusal = locked.failure())
        return {UndoResult::refused, refusal->text};

    auto undo = std::make_shared<Undo>();
    undo->file = file;
    undo->mono = *std::move(locked);
    undo->inPlace = file.intent.finalPath == file.intent.original;
    std::optional<QString> refusal;
    try {
        refusal = withHardTimeout(
            limitSeconds, [undo, dryRun] { return dryRun ? undo->check() : undo->perform(); });
    } catch (const TimeoutError&) {
        refusal = notUndone(QStringLiteral("the folder did not answer in time"));
    }
    if (refusal)
        return {UndoResult::refused, *refusal};
    if (dryRun)
        return {UndoResult::wouldUndo, {}};
    RunJournal::recordUndone(file.id);
    return {UndoResult::undone, {}};
}
