// SPDX-License-Identifier: GPL-3.0-or-later

#include "exec/TimeLimits.h"

#include <algorithm>
#include <cmath>

std::chrono::steady_clock::time_point detail::deadlineAfter(double seconds) {
    // A limit from the settings can be absurdly large; a year is "never" here.
    constexpr double longest = 365.0 * 24 * 3600;
    const double bounded = std::isnan(seconds) ? 0.0 : std::clamp(seconds, 0.0, longest);
    return std::chrono::steady_clock::now() +
           std::chrono::duration_cast<std::chrono::steady_clock::duration>(
               std::chrono::duration<double>(bounded));
}
