// SPDX-License-Identifier: GPL-3.0-or-later

#include "history/FileDigest.h"

#include <QCryptographicHash>
#include <QFile>

#include <unistd.h>

namespace {

std::optional<QByteArray> digestOf(QFile& file) {
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&file) || !file.atEnd())
        return std::nullopt;
    return hash.result();
}

} // namespace

std::optional<QByteArray> sha256OfFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return digestOf(file);
}

std::optional<QByteArray> sha256OfFile(int descriptor) {
    // A copy of the descriptor, so the caller's is neither moved nor closed.
    const int own = ::dup(descriptor);
    QFile file;
    if (own < 0 || ::lseek(own, 0, SEEK_SET) != 0 ||
        !file.open(own, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        if (own >= 0)
            ::close(own);
        return std::nullopt;
    }
    return digestOf(file);
}
