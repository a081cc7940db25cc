// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "converter/OrFailure.h"
#include "model/FileItem.h"

#include <QString>

#include <utility>

#include <sys/stat.h>

// An advisory lock (flock) on an original for as long as it is converted.
// Every conversion, in this process or another Chanfuse run, takes it first
// and skips a file somebody else holds, so two runs never convert, replace or
// back up the same original at once. The lock also remembers the file as it
// was when locked, so every step that moves or copies the original can prove
// it acts on that very file, unchanged.
class OriginalLock {
public:
    // Locks the item's file and checks that it is still the file the scan
    // judged: the same regular file (device and inode) at that path, never
    // reached through a link, with the size and modification time the scan
    // saw. The lock, or
    // the text that ends the item. Bounded by the quick file queries' limit.
    static OrFailure<OriginalLock> acquire(const FileItem& item);

    OriginalLock(OriginalLock&& other) noexcept
        : descriptor(other.descriptor), locked(other.locked) {
        other.descriptor = -1;
    }
    OriginalLock& operator=(OriginalLock&& other) noexcept {
        std::swap(descriptor, other.descriptor);
        std::swap(locked, other.locked);
        return *this;
    }
    OriginalLock(const OriginalLock&) = delete;
    ~OriginalLock();

    // Whether nothing has written to the locked file or changed its
    // attributes since it was locked: same size, modification and change
    // time. Our own renames and links change the change time too, so this is
    // asked before the first of them.
    bool unchanged() const;

    // Whether `status` (an lstat of some name) is the locked file with the
    // size and modification time it had when locked.
    bool isLockedFile(const struct stat& status) const;

    // Whether `path` names the locked file, as isLockedFile() judges it.
    bool isNamedBy(const QString& path) const;

    // The locked file, open for reading, and its status when locked.
    int fileDescriptor() const { return descriptor; }
    const struct stat& whenLocked() const { return locked; }

private:
    // The file as the scan found it.
    struct ScannedFile {
        quint64 device;
        quint64 inode;
        qint64 size;
        qint64 modifiedMs; // -1: unknown
    };

    explicit OriginalLock(int descriptor) : descriptor(descriptor) {}
    static OrFailure<OriginalLock> lockAndCheck(const QString& path, const ScannedFile& scanned);

    int descriptor = -1;
    struct stat locked {};
};
