// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QList>
#include <QString>

#include <functional>
#include <optional>

// Moves one file into the freedesktop trash that serves its volume: the home
// trash ($XDG_DATA_HOME/Trash) when it lies on the same mount, otherwise
// $topdir/.Trash/$uid (only inside a sticky, real .Trash folder) or
// $topdir/.Trash-$uid. The entry is recorded under `recordedPath`'s name and
// place, so a file manager restores it there even when the file now sits under
// another name in the same folder. Files are never copied between volumes.
// Blocks without a limit of its own; nothing on success, otherwise the reason.
// `entry`, when given, learns where the file and its .trashinfo are.
// `isWanted`, when given, is asked about the file once it is in the trash
// (by its path there); when it says no, the file goes back under `path` and
// its entry is removed.
struct TrashEntry {
    QString file;
    QString info;
};

// The entries of the trash serving `recordedPath` that were recorded under
// it, with their files still there.
QList<TrashEntry> trashEntriesOf(const QString& recordedPath);

std::optional<QString> moveToTrash(const QString& path, const QString& recordedPath,
                                   const std::function<bool(const QString&)>& isWanted = {},
                                   TrashEntry* entry = nullptr);
