// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// The output options of the decoded PCM the channels are compared in: the
// stream's own samples at its own rate, as 64-bit little-endian floats, with
// nothing resampled, mixed or dithered. The conversion run writes the same
// stream beside its file, so the scan and the conversion judge the same
// samples.
QStringList pcmStreamArguments();

// ffmpeg's arguments for decoding the first audio stream of `file` to that
// PCM on standard output: the first `seconds`, or the whole file.
QStringList pcmDecodeArguments(const QString& file, std::optional<qint64> seconds);
