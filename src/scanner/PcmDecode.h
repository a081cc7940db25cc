// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "scanner/PcmSamples.h"

#include <QString>
#include <QStringList>

#include <optional>

// The output options of the decoded PCM the channels are compared in: the
// stream's own samples at its own rate, in the form `samples`, with nothing
// resampled, mixed or dithered. The conversion run writes such a stream beside
// its file, so the scan and the conversion judge the same samples.
QStringList pcmStreamArguments(PcmSamples samples);

// ffmpeg's arguments for decoding the first audio stream of `file` to that
// PCM as 64-bit floats on standard output: the first `seconds`, or the whole
// file. The analyser's workers decode to the same bytes.
QStringList pcmDecodeArguments(const QString& file, std::optional<qint64> seconds);
