#pragma once

#include "viewmodel/ContentViewModel.h"

#include <QStringList>
#include <QTest>

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

inline QStringList messagesStartingWith(const ContentViewModel& model, const QString& prefix) {
    QStringList result;
    for (const QString& message : messages(model)) {
        if (message.startsWith(prefix))
            result.append(message);
    }
    return result;
}

// Waits until the log holds `message` as a whole line.
inline bool waitFor(const ContentViewModel& model, const QString& message, int timeoutMs = 60000) {
    return QTest::qWaitFor([&] { return messages(model).contains(message); }, timeoutMs);
}

// Waits until the log holds a line beginning with `prefix`.
inline bool waitForPrefix(const ContentViewModel& model, const QString& prefix,
                          int timeoutMs = 60000) {
    return QTest::qWaitFor([&] { return !messagesStartingWith(model, prefix).isEmpty(); },
                           timeoutMs);
}

} // namespace ViewModelLog
