// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QString>

// Where an original went when its conversion was committed.
enum class Disposition { trashed, backedUp, kept, overwritten };

// Where the original is after the commit: the trash entry (file and
// .trashinfo) or the backup copy; nothing when kept beside or overwritten.
struct OriginalWhereabouts {
    Disposition disposition = Disposition::kept;
    QString keptAt;
    QString trashInfo;
};
