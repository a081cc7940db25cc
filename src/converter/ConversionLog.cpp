// SPDX-License-Identifier: GPL-3.0-or-later

#include "converter/ConversionLog.h"

#include <cstdio>

void echoToConsole(const QString& line) {
    const QByteArray text = "[DEBUG] " + line.toUtf8() + '\n';
    std::fwrite(text.constData(), 1, std::size_t(text.size()), stdout);
    std::fflush(stdout);
}

void ConversionLog::operator()(const QString& line) const {
    if (callback)
        callback(line);
    else
        echoToConsole(line);
}
