// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QRegularExpression>
#include <QString>

// The names Chanfuse gives its own files beside the user's and in the
// temporary folder. "sonfold" was the project's name before Chanfuse; it is
// kept because files a killed run left behind, and run journals, carry it.

// Where ffmpeg writes: the prefix, an upper-case UUID, the original's extension.
inline const QString temporaryOutputPrefix = QStringLiteral("sonfold_out_");
// Where a replaced original waits, hidden, until it is disposed of.
inline const QString keptOriginalPrefix = QStringLiteral(".sonfold_orig_");
// ffmpeg's diagnostics for one run, in the temporary folder.
inline const QString diagnosticsFilePrefix = QStringLiteral("sonfold_ffmpeg_");
// Beside the originals, the copies a backup conversion keeps; never scanned,
// as converting them again would replace the user's only stereo copy.
inline const QString backupFolderName = QStringLiteral("_backup");

// Leftovers of a killed run (staged originals once had no extension); a
// user's own "sonfold_out_take.wav" is audio.
inline const QRegularExpression
    temporaryOutputName(u'^' + QRegularExpression::escape(temporaryOutputPrefix) +
                        QStringLiteral("[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}\\.[^.]*$"));
inline const QRegularExpression
    keptOriginalName(u'^' + QRegularExpression::escape(keptOriginalPrefix) +
                     QStringLiteral("[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}(\\.[^.]*)?$"));
