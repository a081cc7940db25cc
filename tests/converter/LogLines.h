// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "converter/ConversionLog.h"

#include <QStringList>

#include <memory>
#include <mutex>

// Collects a conversion's log lines from whatever thread writes them.
class LogLines {
public:
    LogCallback callback() const {
        return [shared = shared](const QString& line) {
            const std::lock_guard guard(shared->lock);
            shared->lines.append(line);
        };
    }

    QStringList all() const {
        const std::lock_guard guard(shared->lock);
        return shared->lines;
    }

    // The first line starting with `prefix`, or an empty text.
    QString startingWith(const QString& prefix) const {
        for (const QString& line : all())
            if (line.startsWith(prefix))
                return line;
        return {};
    }

private:
    struct Shared {
        std::mutex lock;
        QStringList lines;
    };
    std::shared_ptr<Shared> shared = std::make_shared<Shared>();
};
