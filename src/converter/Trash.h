#pragma once

#include <QString>

#include <exception>

// The desktop refused to trash a file, or claimed to but put it elsewhere.
class TrashError : public std::exception {
public:
    const char* what() const noexcept override { return "Could not move the file to the trash"; }
};

// Moves one file to the user's freedesktop trash, on the file-operation
// queue, bounded by 10 s of its own. Throws TrashError or TimeoutError; a
// stop request does not shorten it.
void moveToTrash(const QString& path);

// True when `placed` lies in the "files" folder of a freedesktop trash (the
// home trash or a volume's .Trash-UID or .Trash/UID).
bool liesInTrashFolder(const QString& placed);
