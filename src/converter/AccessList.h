// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QString>

#include <optional>

// What a file carries besides its mode and owner about who may use it, and
// what its user attached to it: the POSIX access ACL and the user.*
// extended attributes. Copies them from the open file `source` onto the file
// at `target` (never through a link). Nothing on success, or where the file
// system keeps no extended attributes at all; otherwise the system's reason.
std::optional<QString> copyAccessList(int source, const QString& target);
