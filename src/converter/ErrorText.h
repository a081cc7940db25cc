#pragma once

#include <QString>

// A short text for the user from ffmpeg's diagnostics: every line naming an
// error-like keyword, or else the last three lines, joined with "; ".
QString extractError(const QString& text);
