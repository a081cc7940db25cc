// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QString>

#include <functional>

// One line of progress text, without a trailing line feed. May be called from
// any thread.
using LogCallback = std::function<void(const QString&)>;

// Writes "[DEBUG] " + line to standard output, the developer's console. One
// write per line keeps the lines of concurrent callers whole. Any thread.
void echoToConsole(const QString& line);

// Where a conversion's progress lines go: the caller's callback, or the
// console when there is none.
class ConversionLog {
public:
    explicit ConversionLog(LogCallback callback) : callback(std::move(callback)) {}

    void operator()(const QString& line) const;

private:
    LogCallback callback;
};
