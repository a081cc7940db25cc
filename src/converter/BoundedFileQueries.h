// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "exec/TimeLimits.h"

#include <QString>

#include <optional>

// File queries on the file-operation queue under a hard time limit, for
// volumes that may stop answering. Nothing means the limit passed first.

std::optional<bool> fileExistsWithin(double seconds, const QString& path);

// A size that cannot be read counts as 0.
std::optional<qint64> fileSizeWithin(double seconds, const QString& path);
