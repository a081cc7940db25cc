// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QString>

// A short text for the user from ffmpeg's diagnostics: the last three
// distinct lines naming an error-like keyword, or else the last three lines,
// leaving out the descriptions of the files, their tags and progress lines;
// joined with "; " and at most 300 characters long.
QString extractError(const QString& text);
