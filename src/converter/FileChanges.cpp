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
    if (::lstat(name.constData(), &status) != 0 || !S_ISDIR(status.st_mode))
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
