// SPDX-License-Identifier: GPL-3.0-or-later

#include "history/FileDigest.h"

#include <QFile>

#include <openssl/evp.h>

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace {

// OpenSSL's digest uses the processor's SHA extensions where it has them:
// every conversion reads its whole output once more for it, so its speed
// counts in each conversion's time.
std::optional<QByteArray> digestOf(int descriptor) {
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                          &EVP_MD_CTX_free);
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1)
        return std::nullopt;
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    for (;;) {
        const ssize_t got = ::read(descriptor, buffer.data(), std::size_t(buffer.size()));
        if (got == 0)
            break;
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 || EVP_DigestUpdate(context.get(), buffer.constData(), std::size_t(got)) != 1)
            return std::nullopt;
    }
    QByteArray digest(EVP_MAX_MD_SIZE, Qt::Uninitialized);
    unsigned int size = 0;
    if (EVP_DigestFinal_ex(context.get(), reinterpret_cast<unsigned char*>(digest.data()), &size) !=
        1)
        return std::nullopt;
    digest.truncate(int(size));
    return digest;
}

} // namespace

std::optional<QByteArray> sha256OfFile(const QString& path) {
    const int descriptor = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0)
        return std::nullopt;
    std::optional<QByteArray> digest = digestOf(descriptor);
    ::close(descriptor);
    return digest;
}

std::optional<QByteArray> sha256OfFile(int descriptor) {
    // A copy of the descriptor, so the caller's is neither moved nor closed.
    const int own = ::dup(descriptor);
    if (own < 0)
        return std::nullopt;
    std::optional<QByteArray> digest =
        ::lseek(own, 0, SEEK_SET) == 0 ? digestOf(own) : std::nullopt;
    ::close(own);
    return digest;
}
