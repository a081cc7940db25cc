// SPDX-License-Identifier: GPL-3.0-or-later

#include "ProgressBar.h"

#include <cstdio>

#include <unistd.h>

namespace {

constexpr int barWidth = 30;

QString bar(double fraction) {
    const int filled = int(qBound(0.0, fraction, 1.0) * barWidth);
    return u'[' + QString(filled, u'#') + QString(barWidth - filled, u'.') +
           QStringLiteral("] %1% ").arg(int(qBound(0.0, fraction, 1.0) * 100), 3);
}

void draw(const QString& line) {
    // Carriage return and "erase to end of line": the bar replaces itself.
    std::fputs(("\r\x1b[K" + line).toUtf8().constData(), stderr);
    std::fflush(stderr);
}

} // namespace

ProgressBar::ProgressBar(bool wanted) : enabled(wanted && isatty(STDERR_FILENO)) {}

void ProgressBar::show(double fraction, const QString& text) {
    if (!enabled)
        return;
    const QString line = fraction < 0 ? text : bar(fraction) + text;
    if (line == shown)
        return;
    shown = line;
    draw(line);
}

void ProgressBar::clear() {
    if (!enabled || shown.isEmpty())
        return;
    shown.clear();
    draw({});
}
