// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QString>
#include <QStringList>

// What the application tells the user it did, line by line: "[time] message"
// kept for the log sheet (the newest lines only), echoed to standard output
// as "[DEBUG] message", and appended to the log file. GUI thread only.
class EventLog {
public:
    static constexpr qsizetype maximumLines = 500;

    void append(const QString& message);

    const QStringList& lines() const { return lines_; }
    // Lines appended since the start, including those lines() no longer
    // holds: a view that has shown N of them appends the newest (count - N).
    qint64 count() const { return count_; }

private:
    QStringList lines_;
    qint64 count_ = 0;
};
