#include "converter/OriginalLock.h"

#include "converter/BoundedFileQueries.h"
#include "exec/TimeLimits.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

qint64 modifiedMsOf(const struct stat& status) {
    return qint64(status.st_mtim.tv_sec) * 1000 + status.st_mtim.tv_nsec / 1000000;
}

} // namespace

OriginalLock::~OriginalLock() {
    if (descriptor >= 0)
        ::close(descriptor);
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
    // Non-blocking, so a FIFO with an audio name cannot hold us here.
    OriginalLock lock(::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (lock.descriptor < 0) {
        if (errno == ENOENT)
            return QStringLiteral("Input file not found: ") + path;
        return QStringLiteral("Could not open the file: ") +
               QString::fromLocal8Bit(std::strerror(errno));
    }
    while (::flock(lock.descriptor, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR)
            continue;
        if (errno == EWOULDBLOCK)
            return QStringLiteral("Skipped: being converted by another Chanfuse run");
        return QStringLiteral("Could not lock the file: ") +
               QString::fromLocal8Bit(std::strerror(errno));
    }
    // The lock holds the file we opened; the path must still name that file,
    // or another run replaced it between our open and our lock.
    struct stat locked {};
    struct stat named {};
    if (::fstat(lock.descriptor, &locked) != 0 || ::stat(name.constData(), &named) != 0 ||
        locked.st_dev != named.st_dev || locked.st_ino != named.st_ino ||
        !S_ISREG(locked.st_mode) || qint64(locked.st_size) != size ||
        modifiedMsOf(locked) != modifiedMs)
        return QStringLiteral("Skipped: the file changed since it was scanned");
    return lock;
}
