// SPDX-License-Identifier: GPL-3.0-or-later

#include "converter/BoundedFileQueries.h"

#include "exec/TimeLimits.h"

#include <QFileInfo>

std::optional<bool> fileExistsWithin(double seconds, const QString& path) {
    try {
        return withHardTimeout(seconds, [path] { return QFileInfo::exists(path); });
    } catch (const TimeoutError&) {
        return std::nullopt;
    }
}

std::optional<qint64> fileSizeWithin(double seconds, const QString& path) {
    try {
        return withHardTimeout(seconds, [path] { return QFileInfo(path).size(); });
    } catch (const TimeoutError&) {
        return std::nullopt;
    }
}
