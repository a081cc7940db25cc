// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "MediaFile.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

// Decodes the first audio stream to interleaved 64-bit little-endian floats
// at the stream's own rate and channel count: the bytes the ffmpeg executable
// writes for "-map 0:a:0 -f f64le -c:a pcm_f64le [-t seconds] -", produced
// the way it produces them (the same decoder, libswresample for the sample
// format, and its output "-t" cut, which counts time from the first frame's
// timestamp rather than samples).
//
// `sink` gets the PCM in chunks and returns false to stop early. Returns an
// error text, or nothing on success.
std::optional<std::string> decodePcm(const MediaFile& file, std::optional<int64_t> seconds,
                                     const std::function<bool(const uint8_t*, size_t)>& sink);
