#pragma once

#include "model/FileItem.h"

#include <QString>

#include <utility>
#include <variant>

// An advisory lock (flock) on an original for as long as it is converted.
// Every conversion, in this process or another Chanfuse run, takes it first
// and skips a file somebody else holds, so two runs never convert, replace or
// back up the same original at once.
class OriginalLock {
public:
    // Locks the item's file and checks that it is still the file the scan
    // judged: the same file at that path, with the size and modification time
    // the scan saw. The lock, or the text that ends the item. Bounded by the
    // quick file queries' limit.
    static std::variant<OriginalLock, QString> acquire(const FileItem& item);

    OriginalLock(OriginalLock&& other) noexcept : descriptor(other.descriptor) {
        other.descriptor = -1;
    }
    OriginalLock& operator=(OriginalLock&& other) noexcept {
        std::swap(descriptor, other.descriptor);
        return *this;
    }
    OriginalLock(const OriginalLock&) = delete;
    ~OriginalLock();

private:
    explicit OriginalLock(int descriptor) : descriptor(descriptor) {}
    static std::variant<OriginalLock, QString> lockAndCheck(const QString& path, qint64 size,
                                                            qint64 modifiedMs);

    int descriptor = -1;
};
