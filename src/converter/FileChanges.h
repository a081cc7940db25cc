// SPDX-License-Identifier: GPL-3.0-or-later

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

enum class Exchange { exchanged, unsupported, failed };

// Swaps what the two names hold in one step (renameat2 RENAME_EXCHANGE).
// `unsupported` where the file system cannot; on `failed`, errno holds the
// reason.
Exchange exchangeNames(const QString& first, const QString& second);

// Writes everything readable from `source` (from its start) into the new
// file `path`, which must not exist yet, with `mode`, and flushes it to the
// disk. Nothing on success, otherwise the reason; a partial file is removed.
std::optional<QString> copyIntoNewFile(int source, const QString& path, mode_t mode);
