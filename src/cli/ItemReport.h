// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "model/FileItem.h"

#include <QByteArray>
#include <QList>
#include <QString>

// The items ordered by absolute path, the order every listing uses.
QList<FileItemPtr> sortedByPath(QList<FileItemPtr> items);

// Control characters (and line separators) as visible escapes, such as "\n"
// and "\x{1b}", and the backslash doubled, so a file name can neither drive
// the terminal nor break a line or a field apart.
QString escapedForTerminal(const QString& text);

// Status label, channel status, size in bytes and path, tab-separated.
QString scanLine(const FileItem& item);

// Status label and path, and the error text when there is one.
QString outcomeLine(const FileItem& item);

// One JSON array with an object per item, ending in a line feed.
QByteArray itemsAsJson(const QList<FileItemPtr>& items);

// "N files scanned, F fake stereo"
QString scanSummary(const QList<FileItemPtr>& items);

// A file that ended in error or ran out of time, in the scan or conversion.
bool endedInFailure(const FileItem& item);
