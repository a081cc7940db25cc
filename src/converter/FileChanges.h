#pragma once

#include <QString>

#include <optional>

#include <sys/types.h>

// The file-system changes a conversion commits with, as plain system calls
// that say why they failed. Unbounded: callers run them on the file-operation
// queue under a time limit.

// The text of the current errno.
QString lastSystemError();

// Creates a folder with `mode`, or accepts a real folder already there (never
// a symbolic link). Nothing on success, otherwise the reason.
std::optional<QString> makeFolder(const QString& path, mode_t mode);

enum class Placement { placed, taken, failed };

// Renames without ever replacing what is at `to` (renameat2 RENAME_NOREPLACE,
// or link and unlink where the file system refuses that flag). On `failed`,
// errno holds the reason.
Placement renameWithoutReplacing(const QString& from, const QString& to);
