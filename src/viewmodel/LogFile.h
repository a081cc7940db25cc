// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QLocale>
#include <QString>
#include <QTime>

#include <chrono>

// The time of a log line in the locale's own style, with seconds and without
// the time zone (its long time format minus the zone), e.g. "3:04:05 PM".
QString logTimestamp(const QTime& time, const QLocale& locale = QLocale());

// Where every log line is kept across runs: "Chanfuse/debug.log" in the
// user's data folder. One previous file is kept beside it as "debug.log.1".
QString logFilePath();

// The file grows to about this size before it is rotated.
constexpr qint64 logFileRotationBytes = 4 * 1024 * 1024;

// Hands one line to the log file's own queue and returns at once; lines given
// in a burst are written together, in order. Best effort: any failure is
// silently ignored.
void persistLog(const QString& line);

// Waits until every line handed to persistLog is in the file, or `limit` has
// passed (the file system may hang): called before the process ends, which
// would otherwise take the last lines with it.
void flushLogFile(std::chrono::milliseconds limit = std::chrono::seconds(2));

// Appends `text` to the file at `path`, creating its folder on first use.
// When the file would grow past `rotationBytes`, it first becomes
// `path` + ".1" (replacing the previous one) and a new file is started.
// Blocks on the file system; best effort.
void appendToLogFile(const QString& path, const QByteArray& text, qint64 rotationBytes);
