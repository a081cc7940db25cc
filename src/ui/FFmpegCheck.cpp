// SPDX-License-Identifier: GPL-3.0-or-later

#include "FFmpegCheck.h"

#include "MainWindow.h"
#include "exec/ChildProcess.h"
#include "exec/FFmpegLocator.h"
#include "exec/WorkerThreads.h"
#include "viewmodel/ContentViewModel.h"

#include <QMessageBox>
#include <QPointer>

#include <optional>
#include <stop_token>
#include <thread>

namespace FFmpegCheck {

namespace {

constexpr std::chrono::milliseconds pollInterval{5};

QMessageBox* openMissingAlert(QWidget* window) {
    auto* alert = new QMessageBox(window);
    alert->setObjectName(QStringLiteral("ffmpegMissingAlert"));
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

// Runs `ffmpeg -version` with its output discarded and waits at most `limit`
// for it to end with status 0; a tool still running then, or when `stop` is
// requested, is killed. Blocks the worker it runs on.
Finding examine(const std::optional<QString>& ffmpeg, std::chrono::milliseconds limit,
                std::stop_token stop) {
    using Kind = Finding::Kind;
    if (!ffmpeg)
        return {Kind::missing, QStringLiteral("no ffmpeg executable found")};
    ChildProcess process;
    if (const auto error =
            process.start(*ffmpeg, {QStringLiteral("-version")}, ChildProcess::Output::nullDevice(),
                          ChildProcess::Output::nullDevice()))
        return {Kind::cannotStart, QStringLiteral("%1 cannot be started: %2").arg(*ffmpeg, *error)};
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (process.isRunning()) {
        if (stop.stop_requested() || std::chrono::steady_clock::now() >= deadline) {
            // The destructor reaps the killed child off this thread.
            process.kill();
            return {Kind::noAnswer, QStringLiteral("%1 -version did not end within %2 ms")
                                        .arg(*ffmpeg)
                                        .arg(limit.count())};
        }
        std::this_thread::sleep_for(pollInterval);
    }
    if (const int status = process.waitForExit(); status != 0)
        return {Kind::failed,
                QStringLiteral("%1 -version failed with status %2").arg(*ffmpeg).arg(status)};
    return {};
}

} // namespace

void start(MainWindow& window, std::chrono::milliseconds limit,
           std::function<void(const Finding&, QMessageBox*)> reported) {
    std::stop_source stop;
    QObject::connect(&window, &QObject::destroyed, [stop]() mutable { stop.request_stop(); });
    startDetachedWorker([target = QPointer(&window), limit, reported = std::move(reported),
                         stop = stop.get_token()]() mutable {
        Finding finding = examine(FFmpegLocator::ffmpegPath(), limit, stop);
        postToGuiThread([target, finding = std::move(finding), reported = std::move(reported)] {
            if (!target)
                return;
            QMessageBox* alert = nullptr;
            if (finding.kind != Finding::Kind::usable) {
                target->viewModel().log(QStringLiteral("ffmpeg check: ") + finding.reason);
                alert = openMissingAlert(target);
            }
            if (reported)
                reported(finding, alert);
        });
    });
}

} // namespace FFmpegCheck
