// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// What was learnt by running programs, kept in the user's cache folder
// ($XDG_CACHE_HOME/chanfuse/<kind>) so that starting them to learn it again is
// paid once per build rather than once per run of Chanfuse. A build is each
// program's path, size and modification time, and the kernel's release: an
// upgrade in place is another build. Both calls touch only that folder and
// block on it.
namespace ProgramBuildCache {

// The lines kept under `kind` for `programs` as they are now; nothing when
// none are kept, or they were kept for another build.
std::optional<QList<QByteArray>> read(const QString& kind, const QStringList& programs);

// Keeps `lines` (none of them holding a line break) under `kind` for
// `programs` as they are now, replacing what was kept for an earlier build of
// the same programs. A failure only costs the next run a new start.
void write(const QString& kind, const QStringList& programs, const QList<QByteArray>& lines);

} // namespace ProgramBuildCache
