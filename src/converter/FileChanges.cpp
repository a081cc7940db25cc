// SPDX-License-Identifier: GPL-3.0-or-later

#include "converter/FileChanges.h"

#include <QFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

QString lastSystemError() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

std::optional<QString> makeFolder(const QString& path, mode_t mode) {
    const QByteArray name = QFile::encodeName(path);
    if (::mkdir(name.constData(), mode) == 0)
        return std::nullopt;
    if (errno != EEXIST)
        return QStringLiteral("cannot create %1: %2").arg(path, lastSystemError());
    struct stat status {};
    if (::lstat(name.constData(), &status) != 0)
        return QStringLiteral("cannot create %1: %2").arg(path, lastSystemError());
    if (!S_ISDIR(status.st_mode))
        return QStringLiteral("%1 is not a folder").arg(path);
    return std::nullopt;
}

Placement renameWithoutReplacing(const QString& from, const QString& to) {
    const QByteArray source = QFile::encodeName(from);
    const QByteArray target = QFile::encodeName(to);
    if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) ==
        0)
        return Placement::placed;
    if (errno == EEXIST)
        return Placement::taken;
    if (errno != EINVAL)
        return Placement::failed;
    if (::link(source.constData(), target.constData()) != 0)
        return errno == EEXIST ? Placement::taken : Placement::failed;
    ::unlink(source.constData());
    return Placement::placed;
}

Exchange exchangeNames(const QString& first, const QString& second) {
    if (::renameat2(AT_FDCWD, QFile::encodeName(first).constData(), AT_FDCWD,
                    QFile::encodeName(second).constData(), RENAME_EXCHANGE) == 0)
        return Exchange::exchanged;
    return errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP ? Exchange::unsupported
                                                                     : Exchange::failed;
}

std::optional<QString> copyIntoNewFile(int source, const QString& path, mode_t mode) {
    const QByteArray name = QFile::encodeName(path);
    const int target = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (target < 0)
        return QStringLiteral("cannot create %1: %2").arg(path, lastSystemError());
    std::optional<QString> failure;
    char buffer[1 << 16];
    for (off_t offset = 0; !failure;) {
        const ssize_t got = ::pread(source, buffer, sizeof buffer, offset);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            failure = QStringLiteral("cannot read the original: ") + lastSystemError();
            break;
        }
        if (got == 0)
            break;
        for (ssize_t written = 0; written < got && !failure;) {
            const ssize_t step = ::write(target, buffer + written, size_t(got - written));
            if (step < 0 && errno == EINTR)
                continue;
            if (step == 0)
                errno = ENOSPC;
            if (step <= 0)
                failure = QStringLiteral("cannot write %1: %2").arg(path, lastSystemError());
            else
                written += step;
        }
        offset += got;
    }
    // The mode asked for, whatever the umask took away.
    if (!failure && (::fchmod(target, mode) != 0 || ::fsync(target) != 0))
        failure = QStringLiteral("cannot write %1: %2").arg(path, lastSystemError());
    if (::close(target) != 0 && !failure)
        failure = QStringLiteral("cannot write %1: %2").arg(path, lastSystemError());
    if (failure)
        ::unlink(name.constData());
    return failure;
}
