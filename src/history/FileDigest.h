// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// The SHA-256 of a file's bytes, read from its start; nothing when it cannot
// be read whole. Unbounded: callers run it under a time limit.
std::optional<QByteArray> sha256OfFile(const QString& path);
std::optional<QByteArray> sha256OfFile(int descriptor);
