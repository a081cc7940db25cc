// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QString>

// A one-line bar redrawn in place on standard error, only when that is a
// terminal; elsewhere (a pipe, a log file) it writes nothing at all.
class ProgressBar {
public:
    explicit ProgressBar(bool wanted);

    // `fraction` below 0 draws no bar, only the text.
    void show(double fraction, const QString& text);
    void clear();

private:
    const bool enabled;
    QString shown;
};
