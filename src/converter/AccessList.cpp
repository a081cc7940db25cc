// SPDX-License-Identifier: GPL-3.0-or-later

#include "converter/AccessList.h"

#include "converter/FileChanges.h"

#include <QByteArray>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <string_view>
#include <sys/xattr.h>

namespace {

bool isKept(std::string_view name) {
    return name.starts_with("user.") || name == "system.posix_acl_access";
}

// Reads a value whose size is asked first; it may grow in between.
template <class Read> bool readAll(Read read, QByteArray& into) {
    for (;;) {
        const ssize_t size = read(nullptr, 0);
        if (size < 0)
            return false;
        into.resize(size);
        const ssize_t got = read(into.data(), size_t(size));
        if (got >= 0) {
            into.resize(got);
            return true;
        }
        if (errno != ERANGE)
            return false;
    }
}

} // namespace

std::optional<QString> copyAccessList(int source, const QString& target) {
    QByteArray names;
    if (!readAll([source](char* buffer, size_t size) { return ::flistxattr(source, buffer, size); },
                 names))
        return errno == ENOTSUP ? std::nullopt : std::optional(lastSystemError());
    const QByteArray path = QFile::encodeName(target);
    for (qsizetype at = 0; at < names.size();
         at += qsizetype(std::strlen(names.constData() + at)) + 1) {
        const char* name = names.constData() + at;
        if (!isKept(name))
            continue;
        QByteArray value;
        if (!readAll(
                [source, name](char* buffer, size_t size) {
                    return ::fgetxattr(source, name, buffer, size);
                },
                value) ||
            ::lsetxattr(path.constData(), name, value.constData(), size_t(value.size()), 0) != 0)
            return lastSystemError();
    }
    return std::nullopt;
}
