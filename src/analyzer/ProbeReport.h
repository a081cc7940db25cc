// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "MediaFile.h"

#include <string>

// What ffprobe's JSON would say of the file's streams and container: every
// stream's type, codec, sample format, bits, bit rate, sample rate, channels,
// duration, cover-picture disposition and tags, and the container's duration,
// size, bit rate and tags. Same keys and value forms (numbers ffprobe writes
// as strings stay strings; unknown values are left out), so one reader serves
// both engines.
std::string probeReport(const MediaFile& file);
