// SPDX-License-Identifier: GPL-3.0-or-later

#include "converter/OriginalLock.h"

#include "converter/BoundedFileQueries.h"
#include "converter/FileChanges.h"
#include "exec/TimeLimits.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

qint64 modifiedMsOf(const struct stat& status) {
    return qint64(status.st_mtim.tv_sec) * 1000 + status.st_mtim.tv_nsec / 1000000;
}

bool sameTime(const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

} // namespace

OriginalLock::~OriginalLock() {
    if (descriptor >= 0)
        ::close(descriptor);
}

bool OriginalLock::unchanged() const {
    struct stat now {};
    return ::fstat(descriptor, &now) == 0 && isLockedFile(now) &&
           sameTime(now.st_ctim, locked.st_ctim);
}

bool OriginalLock::isLockedFile(const struct stat& status) const {
    return status.st_dev == locked.st_dev && status.st_ino == locked.st_ino &&
           status.st_size == locked.st_size && sameTime(status.st_mtim, locked.st_mtim);
}

bool OriginalLock::isNamedBy(const QString& path) const {
    struct stat named {};
    return ::lstat(QFile::encodeName(path).constData(), &named) == 0 && isLockedFile(named);
}

std::variant<OriginalLock, QString> OriginalLock::acquire(const FileItem& item) {
    const QString path = item.path();
    const qint64 size = item.fileSize;
    const qint64 modifiedMs =
        item.lastModified.isValid() ? item.lastModified.toMSecsSinceEpoch() : -1;
    try {
        return withHardTimeout(fileQueryLimitSeconds, [path, size, modifiedMs] {
            return lockAndCheck(path, size, modifiedMs);
        });
    } catch (const TimeoutError&) {
        return QStringLiteral("Skipped: locking the file timed out");
    }
}

std::variant<OriginalLock, QString> OriginalLock::lockAndCheck(const QString& path, qint64 size,
                                                               qint64 modifiedMs) {
    const QByteArray name = QFile::encodeName(path);
    // Non-blocking, so a FIFO with an audio name cannot hold us here; never
    // through a link, whose target may lie outside the folders chosen.
    OriginalLock lock(
        ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW));
    if (lock.descriptor < 0) {
        if (errno == ENOENT)
            return QStringLiteral("Input file not found: ") + path;
        if (errno == ELOOP)
            return QStringLiteral("Skipped: a link to a file outside the chosen folders");
        return QStringLiteral("Could not open the file: ") + lastSystemError();
    }
    while (::flock(lock.descriptor, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR)
            continue;
        if (errno == EWOULDBLOCK)
            return QStringLiteral("Skipped: being converted by another Chanfuse run");
        return QStringLiteral("Could not lock the file: ") + lastSystemError();
    }
    // The lock holds the file we opened; the path must still name that file,
    // or another run replaced it between our open and our lock.
    if (::fstat(lock.descriptor, &lock.locked) != 0 || !S_ISREG(lock.locked.st_mode) ||
        qint64(lock.locked.st_size) != size || modifiedMsOf(lock.locked) != modifiedMs ||
        !lock.isNamedBy(path))
        return QStringLiteral("Skipped: the file changed since it was scanned");
    return lock;
}
