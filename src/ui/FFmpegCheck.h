// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QString>

#include <chrono>
#include <functional>

class MainWindow;
class QMessageBox;

// The launch check: is there an ffmpeg, and does it answer `ffmpeg -version`?
namespace FFmpegCheck {

constexpr std::chrono::seconds answerLimit{5};

// What the check found; `reason` says, for the log, why the tool is unusable.
struct Finding {
    enum class Kind { usable, missing, cannotStart, failed, noAnswer };
    Kind kind = Kind::usable;
    QString reason;
};

// Looks for ffmpeg and examines it on a worker thread, so the window is in
// use meanwhile. An unusable tool is logged with its reason and opens the
// warning over `window` (window-modal, without a nested event loop).
// `reported`, if given, then gets the finding and the warning (or null) on
// the GUI thread. Closing the window ends the check.
void start(MainWindow& window, std::chrono::milliseconds limit = answerLimit,
           std::function<void(const Finding&, QMessageBox*)> reported = {});

} // namespace FFmpegCheck
