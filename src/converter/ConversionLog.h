// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QString>

#include <functional>

// One line of progress text, without a trailing line feed. May be called from
// any thread.
using LogCallback = std::function<void(const QString&)>;

// Where a conversion's progress lines go: the caller's callback, or standard
// output with a "[DEBUG] " prefix when there is none.
class ConversionLog {
public:
    explicit ConversionLog(LogCallback callback) : callback(std::move(callback)) {}

    void operator()(const QString& line) const;

private:
    LogCallback callback;
};
