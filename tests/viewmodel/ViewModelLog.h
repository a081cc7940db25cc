#pragma once

#include "viewmodel/ContentViewModel.h"

#include <QStringList>

// The view model's log lines without their "[time] " prefix, so tests can
// compare the messages word for word.
namespace ViewModelLog {

inline QString messageOf(const QString& entry) {
    return entry.mid(entry.indexOf(QStringLiteral("] ")) + 2);
}

inline QStringList messages(const ContentViewModel& model) {
    QStringList result;
    for (const QString& entry : model.debugLog())
        result.append(messageOf(entry));
    return result;
}

} // namespace ViewModelLog
