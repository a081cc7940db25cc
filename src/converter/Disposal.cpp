#include "converter/Disposal.h"

#include "converter/FileChanges.h"
#include "converter/Trash.h"
#include "exec/TimeLimits.h"
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

// Names of our own beside the user's files. The prefix is older than the
// application's name and never changes: a killed run leaves files under it,
// and every version must know them as its leftovers, whichever one wrote them.
const QString temporaryOutputPrefix = QStringLiteral("sonfold_out_");
const QString keptOriginalPrefix = QStringLiteral(".sonfold_orig_");

constexpr double trashLimitSeconds = 10;

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

// What a commit has changed so far. Written only by the steps, which run one
// after another on the file-operation queue, so a repair queued behind a step
// that overran its limit sees what that step really did.
struct Changes {
    QString original;
    QString output;
    QString finalPath;
    QString staging;
    QString backupFolder;
    QString backupCopy;
    bool madeBackupFolder = false;
    bool linkedStaging = false;
    bool replaced = false;
    bool placed = false;
    bool trashed = false;
    bool inPlace = false;
    bool toTrash = false;

    // Whether the step that completes the commit has happened, perhaps late.
    bool committed() const { return toTrash ? trashed : inPlace ? replaced : placed; }
};

struct Step {
    bool timedOut = false;
    std::optional<QString> failure;
    bool ok() const { return !timedOut && !failure; }
};

Step runStep(double seconds, std::function<std::optional<QString>()> step) {
    try {
        return {false, withHardTimeout(seconds, std::move(step))};
    } catch (const TimeoutError&) {
        return {true, std::nullopt};
    }
}

QString failureText(const QString& what, const Step& step) {
    return step.timedOut ? what + QStringLiteral(" timed out")
                         : what + QStringLiteral(" failed: ") + *step.failure;
}

bool unlinkPath(const QString& path) {
    return ::unlink(QFile::encodeName(path).constData()) == 0;
}

// Copies into the backup folder under a name no other file holds, so an
// earlier backup is never replaced.
std::optional<QString> copyToBackup(Changes& changes) {
    const QString folder = changes.backupFolder;
    const bool existed = QFileInfo(folder).isDir();
    if (auto failure = makeFolder(folder, 0777))
        return failure;
    if (!existed) {
        changes.madeBackupFolder = true;
        folderChanged();
    }
    const QString name = lastPathComponent(changes.original);
    for (int number = 1; number <= 1000; ++number) {
        const QString candidate = folder + u'/' + numberedName(name, number, NAME_MAX);
        const QFileInfo taken(candidate);
        if (taken.exists() || taken.isSymLink())
            continue;
        // QFile::copy writes a temporary file and renames it without replacing.
        QFile source(changes.original);
        if (source.copy(candidate)) {
            changes.backupCopy = candidate;
            folderChanged();
            return std::nullopt;
        }
        if (!QFileInfo(candidate).exists())
            return source.errorString();
    }
    return QStringLiteral("no free name in %1").arg(folder);
}

// The output takes over who may read and change the original; only root may
// give a file away, so a refused owner change is ignored.
std::optional<QString> adoptAccess(const QString& original, const QString& output) {
    struct stat status {};
    const QByteArray target = QFile::encodeName(output);
    if (::stat(QFile::encodeName(original).constData(), &status) != 0)
        return lastSystemError();
    if (::chown(target.constData(), status.st_uid, status.st_gid) != 0) {
        // Not the owner's to give: keep the converting user's.
    }
    if (::chmod(target.constData(), status.st_mode & 07777) != 0)
        return lastSystemError();
    return std::nullopt;
}

// One rename puts the output over the original, so the path never stands empty.
std::optional<QString> replaceOriginal(Changes& changes) {
    if (auto failure = adoptAccess(changes.original, changes.output))
        return failure;
    if (std::rename(QFile::encodeName(changes.output).constData(),
                    QFile::encodeName(changes.original).constData()) != 0)
        return lastSystemError();
    changes.replaced = true;
    folderChanged();
    return std::nullopt;
}

// For the trash, the original must outlive the replacement: it stays reachable
// under the staging name (a hard link, or a copy where the file system has no
// links) while the output takes its path.
std::optional<QString> replaceKeepingOriginal(Changes& changes) {
    const QByteArray original = QFile::encodeName(changes.original);
    const QByteArray staging = QFile::encodeName(changes.staging);
    if (::link(original.constData(), staging.constData()) != 0) {
        const QString reason = lastSystemError();
        if (errno == EEXIST || !QFile::copy(changes.original, changes.staging))
            return reason;
        // Should the copy have to be put back, it must look like the original.
        struct stat kept;
        if (::stat(original.constData(), &kept) == 0) {
            const timespec times[2] = {kept.st_atim, kept.st_mtim};
            ::utimensat(AT_FDCWD, staging.constData(), times, 0);
        }
    }
    changes.linkedStaging = true;
    folderChanged();
    return replaceOriginal(changes);
}

// The suffixed name is taken only if nothing holds it yet.
std::optional<QString> placeUnderFinalName(Changes& changes, bool& taken) {
    if (auto failure = adoptAccess(changes.original, changes.output))
        return failure;
    switch (renameWithoutReplacing(changes.output, changes.finalPath)) {
    case Placement::placed:
        changes.placed = true;
        folderChanged();
        return std::nullopt;
    case Placement::taken:
        taken = true;
        return QStringLiteral("taken");
    case Placement::failed:
        break;
    }
    return lastSystemError();
}

std::optional<QString> trashOriginal(Changes& changes) {
    if (auto failure =
            moveToTrash(changes.inPlace ? changes.staging : changes.original, changes.original))
        return failure;
    changes.trashed = true;
    folderChanged();
    return std::nullopt;
}

// Undoes whatever the steps did, newest first. Runs on the queue behind them,
// so a step that overran its limit has ended one way or the other by then.
std::optional<QString> putFolderBack(Changes& changes) {
    if (changes.committed())
        return std::nullopt;
    std::optional<QString> failure;
    if (changes.replaced) {
        if (std::rename(QFile::encodeName(changes.staging).constData(),
                        QFile::encodeName(changes.original).constData()) != 0)
            failure = lastSystemError();
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
    if (!settings.suffixEnabled())
        return {temporary, input};
    return {temporary, directory + u'/' + name.base + settings.suffix() + u'.' + name.extension};
}

void setFolderChangeObserver(std::function<void()> observer) {
    folderChangeObserver() = std::move(observer);
}

std::optional<QString> disposeOfOriginal(const FileItem& item, const OutputPath& output,
                                         const Settings& settings, const ConversionLog& log,
                                         std::stop_token stop) {
    const double limitSeconds = double(settings.convertTimeoutSeconds());
    const ConvertBehavior behavior = settings.convertBehavior();
    auto changes = std::make_shared<Changes>();
    changes->original = item.path();
    changes->output = output.path;
    changes->finalPath = output.finalPath;
    changes->staging =
        QFileInfo(changes->original).path() + u'/' + keptOriginalPrefix + freshUuid();
    changes->backupFolder = QFileInfo(changes->original).path() + QStringLiteral("/_backup");
    const bool inPlace = output.finalPath == changes->original;
    const bool trash = behavior == ConvertBehavior::trash;
    changes->inPlace = inPlace;
    changes->toTrash = trash;
    const auto fail = [&](const QString& text) -> std::optional<QString> {
        const Step repair = runStep(limitSeconds, [changes] { return putFolderBack(*changes); });
        if (repair.ok() && changes->committed()) {
            log(item.fileName + QStringLiteral(": the last step completed after its time limit"));
            return std::nullopt;
        }
        if (repair.timedOut)
            log(item.fileName + QStringLiteral(": putting the folder back timed out; it is put "
                                               "back when the volume answers"));
        else if (repair.failure)
            log(item.fileName + QStringLiteral(": could not put the folder back: ") +
                *repair.failure);
        log(item.fileName + QStringLiteral(" left as it was: ") + text);
        return text;
    };

    if (stop.stop_requested())
        return fail(QStringLiteral("Cancelled"));

    if (behavior == ConvertBehavior::backup) {
        const Step backup = runStep(limitSeconds, [changes] { return copyToBackup(*changes); });
        if (!backup.ok())
            return fail(failureText(QStringLiteral("Backup"), backup));
    }

    if (inPlace) {
        const Step replace = runStep(limitSeconds, [changes, trash] {
            return trash ? replaceKeepingOriginal(*changes) : replaceOriginal(*changes);
        });
        if (!replace.ok())
            return fail(failureText(QStringLiteral("File move"), replace));
    } else {
        auto taken = std::make_shared<bool>(false);
        const Step place = runStep(
            limitSeconds, [changes, taken] { return placeUnderFinalName(*changes, *taken); });
        if (!place.timedOut && *taken)
            return fail(QStringLiteral("Not converted: ") + lastPathComponent(output.finalPath) +
                        QStringLiteral(" already exists"));
        if (!place.ok())
            return fail(failureText(QStringLiteral("File move"), place));
    }

    if (trash) {
        const Step trashing = runStep(std::min(limitSeconds, trashLimitSeconds),
                                      [changes] { return trashOriginal(*changes); });
        if (!trashing.ok())
            return fail(failureText(QStringLiteral("Trash"), trashing));
    }
    return std::nullopt;
}
