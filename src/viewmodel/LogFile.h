#pragma once

#include <QLocale>
#include <QString>
#include <QTime>

// The time of a log line in the locale's own style, with seconds and without
// the time zone (its long time format minus the zone), e.g. "3:04:05 PM".
QString logTimestamp(const QTime& time, const QLocale& locale = QLocale());

// Where every log line is kept across runs: "Chanfuse/debug.log" in the
// user's data folder.
QString logFilePath();

// Appends one line and a line feed to the log file, creating its folder on
// first use. Best effort: any failure is silently ignored.
void persistLog(const QString& line);
