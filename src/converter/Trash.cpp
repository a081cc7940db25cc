// SPDX-License-Identifier: GPL-3.0-or-later

#include "converter/Trash.h"

#include "converter/FileChanges.h"
#include "model/PathParts.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The mount point holding `folder` (an existing, canonical folder): the
// longest mount point of /proc/self/mountinfo it lies under; a later mount on
// the same point hides the earlier ones.
QString mountPointOf(const QString& folder) {
    QFile table(QStringLiteral("/proc/self/mountinfo"));
    if (!table.open(QIODevice::ReadOnly))
        return QStringLiteral("/");
    QString best = QStringLiteral("/");
    for (const QByteArray& line : table.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() < 5)
            continue;
        // Blanks and backslashes come octal-escaped ("\040").
        const QByteArray escaped = fields.at(4);
        QByteArray point;
        for (qsizetype i = 0; i < escaped.size(); ++i) {
            if (escaped[i] == '\\' && i + 3 < escaped.size()) {
                point += char(escaped.mid(i + 1, 3).toInt(nullptr, 8));
                i += 3;
            } else {
                point += escaped[i];
            }
        }
        const QString mount = QFile::decodeName(point);
        const bool contains =
            mount == QLatin1String("/") || folder == mount || folder.startsWith(mount + u'/');
        if (contains && mount.size() >= best.size())
            best = mount;
    }
    return best;
}

// The nearest existing folder at or above `path`, canonical.
QString existingCanonicalFolder(QString path) {
    while (!QFileInfo(path).isDir() && path.size() > 1)
        path = QFileInfo(path).path();
    return QFileInfo(path).canonicalFilePath();
}

struct TrashFolder {
    QString root;
    // Where the recorded Path is relative to; empty for absolute paths.
    QString base;
};

// A volume's shared .Trash is used only when it is a real, sticky folder, so
// other users cannot swap in a link to somewhere else.
std::optional<QString> usableSharedTrash(const QString& topdir) {
    struct stat status {};
    const QString shared = topdir + QStringLiteral("/.Trash");
    if (::lstat(QFile::encodeName(shared).constData(), &status) != 0 || !S_ISDIR(status.st_mode) ||
        !(status.st_mode & S_ISVTX))
        return std::nullopt;
    const QString own = shared + u'/' + QString::number(::getuid());
    if (makeFolder(own, 0700))
        return std::nullopt;
    return own;
}

std::optional<QString> prepareVolumeTrash(const QString& topdir, TrashFolder& trash) {
    trash.base = topdir;
    if (auto shared = usableSharedTrash(topdir)) {
        trash.root = *shared;
        return std::nullopt;
    }
    trash.root = topdir + QStringLiteral("/.Trash-") + QString::number(::getuid());
    if (auto failure = makeFolder(trash.root, 0700))
        return failure;
    struct stat status {};
    if (::lstat(QFile::encodeName(trash.root).constData(), &status) != 0 ||
        status.st_uid != ::getuid())
        return QStringLiteral("%1 belongs to another user").arg(trash.root);
    return std::nullopt;
}

std::optional<QString> prepareTrash(const QString& folder, TrashFolder& trash) {
    const QString dataHome = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    const QString mount = mountPointOf(folder);
    if (mountPointOf(existingCanonicalFolder(dataHome)) == mount) {
        QDir().mkpath(dataHome);
        trash.root = dataHome + QStringLiteral("/Trash");
        if (auto failure = makeFolder(trash.root, 0700))
            return failure;
    } else if (auto failure =
                   prepareVolumeTrash(mount == QLatin1String("/") ? QString() : mount, trash)) {
        return failure;
    }
    if (auto failure = makeFolder(trash.root + QStringLiteral("/files"), 0700))
        return failure;
    return makeFolder(trash.root + QStringLiteral("/info"), 0700);
}

QByteArray recordedPathLine(const QString& recorded, const TrashFolder& trash) {
    const QString path = trash.base.isEmpty() ? recorded : recorded.mid(trash.base.size() + 1);
    return "Path=" + QFile::encodeName(path).toPercentEncoding("/");
}

QByteArray trashInfo(const QString& recorded, const TrashFolder& trash) {
    return "[Trash Info]\n" + recordedPathLine(recorded, trash) + "\nDeletionDate=" +
           QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-ddThh:mm:ss")).toUtf8() +
           '\n';
}

bool writeAll(int descriptor, const QByteArray& bytes) {
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t step =
            ::write(descriptor, bytes.constData() + written, size_t(bytes.size() - written));
        if (step < 0 && errno == EINTR)
            continue;
        if (step == 0)
            errno = ENOSPC;
        if (step <= 0)
            return false;
        written += step;
    }
    return true;
}

} // namespace

QList<TrashEntry> trashEntriesOf(const QString& recordedPath) {
    TrashFolder trash;
    const QString folder = QFileInfo(QFileInfo(recordedPath).absolutePath()).canonicalFilePath();
    if (folder.isEmpty() || prepareTrash(folder, trash))
        return {};
    const QByteArray wanted =
        recordedPathLine(folder + u'/' + lastPathComponent(recordedPath), trash);
    QList<TrashEntry> entries;
    const QString infoFolder = trash.root + QStringLiteral("/info/");
    for (const QString& name :
         QDir(infoFolder).entryList({QStringLiteral("*.trashinfo")}, QDir::Files | QDir::Hidden)) {
        QFile info(infoFolder + name);
        if (!info.open(QIODevice::ReadOnly) || !info.readAll().split('\n').contains(wanted))
            continue;
        const QString file =
            trash.root + QStringLiteral("/files/") + name.chopped(sizeof(".trashinfo") - 1);
        if (QFileInfo(file).exists() || QFileInfo(file).isSymLink())
            entries.append({file, info.fileName()});
    }
    return entries;
}

std::optional<QString> moveToTrash(const QString& path, const QString& recordedPath,
                                   const std::function<bool(const QString&)>& isWanted,
                                   TrashEntry* entry) {
    const QString folder = QFileInfo(QFileInfo(path).absolutePath()).canonicalFilePath();
    struct stat status {};
    if (::lstat(QFile::encodeName(path).constData(), &status) != 0 || folder.isEmpty())
        return QStringLiteral("cannot trash %1: %2").arg(path, lastSystemError());
    TrashFolder trash;
    if (auto failure = prepareTrash(folder, trash))
        return failure;

    const QString recordedFolder =
        QFileInfo(QFileInfo(recordedPath).absolutePath()).canonicalFilePath();
    const QString recordedName = lastPathComponent(recordedPath);
    const QByteArray info = trashInfo(recordedFolder + u'/' + recordedName, trash);
    constexpr qsizetype infoSuffix = sizeof(".trashinfo") - 1;

    // The .trashinfo is written first, and exclusively: it is what reserves
    // the name among concurrent trashers.
    for (int number = 1; number <= 1000; ++number) {
        const QString name = numberedName(recordedName, number, NAME_MAX - infoSuffix);
        const QByteArray infoPath =
            QFile::encodeName(trash.root + QStringLiteral("/info/") + name) + ".trashinfo";
        const int descriptor =
            ::open(infoPath.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (descriptor < 0 && errno == EEXIST)
            continue;
        if (descriptor < 0)
            return QStringLiteral("cannot write in %1: %2").arg(trash.root, lastSystemError());
        const bool written = writeAll(descriptor, info) && ::fsync(descriptor) == 0;
        QString reason = lastSystemError();
        ::close(descriptor);
        if (written) {
            const QString trashed = trash.root + QStringLiteral("/files/") + name;
            const Placement placement = renameWithoutReplacing(path, trashed);
            if (placement == Placement::placed) {
                if (!isWanted || isWanted(trashed)) {
                    if (entry)
                        *entry = {trashed, QFile::decodeName(infoPath)};
                    return std::nullopt;
                }
                if (renameWithoutReplacing(trashed, path) != Placement::placed)
                    return QStringLiteral("cannot move %1 back from %2: %3")
                        .arg(path, trash.root, lastSystemError());
                ::unlink(infoPath.constData());
                return QStringLiteral("%1 was not the file to trash").arg(path);
            }
            reason = lastSystemError();
            ::unlink(infoPath.constData());
            if (placement == Placement::taken)
                continue;
        } else {
            ::unlink(infoPath.constData());
        }
        return QStringLiteral("cannot move %1 into %2: %3").arg(path, trash.root, reason);
    }
    return QStringLiteral("no free name in %1").arg(trash.root);
}
