// SPDX-License-Identifier: GPL-3.0-or-later

#include "viewmodel/EventLog.h"

#include "converter/ConversionLog.h"
#include "viewmodel/LogFile.h"

#include <QTime>

void EventLog::append(const QString& message) {
    const QString entry =
        u'[' + logTimestamp(QTime::currentTime()) + QStringLiteral("] ") + message;
    lines_.append(entry);
    count_ += 1;
    if (lines_.size() > maximumLines)
        lines_.remove(0, lines_.size() - maximumLines);
    echoToConsole(message);
    persistLog(entry);
}
