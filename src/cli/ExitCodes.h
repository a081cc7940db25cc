// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

// The shell's convention for a command ended by Ctrl-C: 128 + SIGINT.
constexpr int interruptedExitCode = 130;
