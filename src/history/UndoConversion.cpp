#include "history/UndoConversion.h"

#include "converter/FileChanges.h"
#include "converter/OriginalLock.h"
#include "converter/Trash.h"
#include "exec/TimeLimits.h"
#include "history/FileDigest.h"
#include "model/Settings.h"

#include <QFile>
#include <QFileInfo>

#include <memory>
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
std::variant<std::shared_ptr<const OriginalLock>, QString> lockConverted(const CommitIntent& intent,
                                                                         double limitSeconds) {
    const QString& path = intent.finalPath;
    FileItem item(QUrl::fromLocalFile(path));
    if (!QFileInfo::exists(path))
        return notUndone(QStringLiteral("the converted file %1 is gone").arg(path));
    const QString changed = notUndone(path + QStringLiteral(" was changed after the conversion"));
    item.fileSize = intent.monoSize;
    auto acquired = OriginalLock::acquire(item);
    if (std::holds_alternative<QString>(acquired))
        return changed;
    auto lock = std::make_shared<const OriginalLock>(std::get<OriginalLock>(std::move(acquired)));
    std::optional<QByteArray> digest;
    try {
        digest =
            withHardTimeout(limitSeconds, [lock] { return sha256OfFile(lock->fileDescriptor()); });
    } catch (const TimeoutError&) {
        return notUndone(QStringLiteral("reading %1 timed out").arg(path));
    }
    if (digest != intent.monoSha256)
        return changed;
    return lock;
}

} // namespace

UndoOutcome undoConversion(const JournalFile& file, bool dryRun) {
    if (file.undone)
        return {UndoResult::refused, notUndone(QStringLiteral("already undone"))};
    if (!file.completion)
        return {UndoResult::refused,
                notUndone(QStringLiteral("the conversion never finished; put it back instead"))};
    if (file.completion->disposition == Disposition::overwritten)
        return {UndoResult::refused,
                notUndone(QStringLiteral("the original was overwritten without a copy"))};
    const double limitSeconds = double(Settings::shared().convertTimeoutSeconds());
    auto locked = lockConverted(file.intent, limitSeconds);
    if (const auto* refusal = std::get_if<QString>(&locked))
        return {UndoResult::refused, *refusal};

    auto undo = std::make_shared<Undo>();
    undo->file = file;
    undo->mono = std::get<std::shared_ptr<const OriginalLock>>(std::move(locked));
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
