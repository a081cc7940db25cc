// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <stdexcept>

// The one way a decode fails, whatever went wrong underneath.
class ScannerError : public std::runtime_error {
public:
    ScannerError() : std::runtime_error("Failed to decode audio file. Is ffmpeg installed?") {}
    explicit ScannerError(const char* reason) : std::runtime_error(reason) {}
};
