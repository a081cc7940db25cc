// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "CliOptions.h"

#include <cstdio>

// history and undo: read the journal of conversion runs and take one back,
// file by file, printing each outcome on `results`. Needs no ffmpeg. Ctrl-C,
// SIGTERM or SIGHUP ends an undo between two files, never within one. The
// exit status: 0 every file undone, 1 one refused, 2 no such run, 130
// interrupted.
int runHistoryCommand(const CliOptions& options, std::FILE* results);

// Before a scan: names on standard error each run a killed process left
// halfway through a commit, and the command that puts it right.
void tellOfInterruptedRuns();
