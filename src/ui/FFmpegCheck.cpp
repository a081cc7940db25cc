// SPDX-License-Identifier: GPL-3.0-or-later

#include "FFmpegCheck.h"

#include "exec/ChildProcess.h"
#include "exec/FFmpegLocator.h"

#include <QMessageBox>

#include <thread>

namespace FFmpegCheck {

namespace {

constexpr std::chrono::seconds versionRunLimit{5};
constexpr std::chrono::milliseconds pollInterval{5};

QMessageBox* openMissingAlert(QWidget* window) {
    auto* alert = new QMessageBox(window);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    alert->setIcon(QMessageBox::Warning);
    alert->setWindowTitle(QStringLiteral("Chanfuse"));
    alert->setText(QStringLiteral("ffmpeg not found"));
    alert->setInformativeText(QStringLiteral("Chanfuse requires ffmpeg to be installed.\n\nInstall "
                                             "with apt:\nsudo apt install ffmpeg"));
    alert->addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    alert->setWindowModality(Qt::WindowModal);
    alert->open();
    return alert;
}

} // namespace

VersionRun runVersion(const QString& ffmpeg, std::chrono::milliseconds limit) {
    ChildProcess process;
    if (process.start(ffmpeg, {QStringLiteral("-version")}, ChildProcess::Output::nullDevice(),
                      ChildProcess::Output::nullDevice()))
        return VersionRun::failedToStart;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (process.isRunning()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            // The destructor reaps the killed child off this thread.
            process.kill();
            return VersionRun::stoppedAtLimit;
        }
        std::this_thread::sleep_for(pollInterval);
    }
    return VersionRun::exited;
}

QMessageBox* check(QWidget* window) {
    const std::optional<QString> ffmpeg = FFmpegLocator::ffmpegPath();
    if (!ffmpeg)
        return openMissingAlert(window);
    runVersion(*ffmpeg, versionRunLimit);
    return nullptr;
}

} // namespace FFmpegCheck
