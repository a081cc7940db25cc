// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QString>

#include <cstdio>

// The core echoes every log line as "[DEBUG] ..." on standard output (the view
// model, and the scanner and converter where they have no log callback). The
// command line keeps standard output for its results instead: descriptor 1 is
// pointed at standard error (verbose) or at /dev/null, and the results go to
// a private copy of the original descriptor. Returns that copy's stream.
std::FILE* divertCoreConsoleOutput(bool verbose);

// One line of UTF-8 text and a line feed, written at once.
void writeLine(std::FILE* stream, const QString& line);
