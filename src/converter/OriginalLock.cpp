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

using Kind = ConversionOutcome::Kind;

OrFailure<OriginalLock> OriginalLock::acquire(const FileItem& item) {
    const QString path = item.path();
    const qint64 size = item.fileSize;
    const qint64 modifiedMs =
        item.lastModified.isValid() ? item.lastModified.toMSecsSinceEpoch() : -1;
    const ScannedFile scanned{item.fileDevice, item.fileInode, size, modifiedMs};
    try {
        return withHardTimeout(fileQueryLimitSeconds,
                               [path, scanned] { return lockAndCheck(path, scanned); });
    } catch (const TimeoutError&) {
        return OrFailure<OriginalLock>::failed(
            Kind::skipped, QStringLiteral("Skipped: locking the file timed out"));
    }
}

OrFailure<OriginalLock> OriginalLock::lockAndCheck(const QString& path,
                                                   const ScannedFile& scanned) {
    const QByteArray name = QFile::encodeName(path);
    // Non-blocking, so a FIFO with an audio name cannot hold us here; never
    // through a link, whose target may lie outside the folders chosen.
    OriginalLock lock(
        ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW));
    if (lock.descriptor < 0) {
        if (errno == ENOENT)
            return OrFailure<OriginalLock>::failed(Kind::failed,
                                                   QStringLiteral("Input file not found: ") + path);
        if (errno == ELOOP)
            return OrFailure<OriginalLock>::failed(
                Kind::skipped,
                QStringLiteral("Skipped: a link to a file outside the chosen folders"));
        return OrFailure<OriginalLock>::failed(
            Kind::failed, QStringLiteral("Could not open the file: ") + lastSystemError());
    }
    while (::flock(lock.descriptor, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR)
            continue;
        if (errno == EWOULDBLOCK)
            return OrFailure<OriginalLock>::failed(
                Kind::skipped, QStringLiteral("Skipped: being converted by another Chanfuse run"));
        return OrFailure<OriginalLock>::failed(
            Kind::failed, QStringLiteral("Could not lock the file: ") + lastSystemError());
    }
    // The file the scan judged, as it was then: a file saved in its place
    // since, even one of the same size and time, was never judged. The path
    // must still name the file we locked, or another run replaced it between
    // our open and our lock.
    if (::fstat(lock.descriptor, &lock.locked) != 0 || !S_ISREG(lock.locked.st_mode) ||
        quint64(lock.locked.st_ino) != scanned.inode ||
        quint64(lock.locked.st_dev) != scanned.device ||
        qint64(lock.locked.st_size) != scanned.size ||
        modifiedMsOf(lock.locked) != scanned.modifiedMs || !lock.isNamedBy(path))
        return OrFailure<OriginalLock>::failed(
            Kind::skipped, QStringLiteral("Skipped: the file changed since it was scanned"));
    return lock;
}
