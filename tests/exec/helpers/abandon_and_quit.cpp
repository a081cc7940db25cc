// SPDX-License-Identifier: GPL-3.0-or-later

// Abandons a never-ending file operation at its time limit, then quits. The
// process must end at once: nothing may wait for the abandoned work.
#include "exec/TimeLimits.h"

#include <QCoreApplication>

#include <cstdio>
#include <thread>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    try {
        withHardTimeout(0.2, [] { std::this_thread::sleep_for(std::chrono::hours(1)); });
    } catch (const TimeoutError& error) {
        std::printf("%s\n", error.what());
    }
    return 0;
}
