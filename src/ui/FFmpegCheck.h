// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QString>

#include <chrono>

class QMessageBox;
class QWidget;

// The launch check: is there an ffmpeg, and does it start?
namespace FFmpegCheck {

enum class VersionRun { exited, failedToStart, stoppedAtLimit };

// Runs `ffmpeg -version` with its output discarded and waits at most `limit`
// for it to end; a tool still running then is killed and treated like one
// that ended. Blocks the calling thread for at most about `limit`.
VersionRun runVersion(const QString& ffmpeg, std::chrono::milliseconds limit);

// With no ffmpeg to be found, opens the warning over `window` (window-modal,
// without a nested event loop) and returns it; otherwise runs -version,
// bounded at 5 s, and returns nothing. The exit status is not judged.
QMessageBox* check(QWidget* window);

} // namespace FFmpegCheck
