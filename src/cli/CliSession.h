// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "CliOptions.h"
#include "ProgressBar.h"

#include "model/FileItem.h"
#include "viewmodel/ContentViewModel.h"

#include <QObject>
#include <QSet>

#include <cstdio>

// One invocation: drives the view model through a folder scan and, for
// convert, "Convert Selected" on everything the scan selected, exactly as the
// window's controls do, and reports on the results stream. Runs on the main
// thread's event loop and never waits for a worker.
class CliSession : public QObject {
    Q_OBJECT

public:
    CliSession(CliOptions options, std::FILE* results, QObject* parent = nullptr);

    void start();

    // Ctrl-C: stops the scan or conversion like the window's stop button; a
    // second one during a scan (which only reads) ends the process at once.
    void interrupt();

signals:
    void finished(int exitCode);

private:
    enum class Phase { scanning, converting, ended };

    void viewModelChanged();
    void showProgress();
    void reportNewOutcomes();
    void scanEnded();
    void conversionEnded();
    void end(int exitCode);
    int exitCodeForItems() const;

    const CliOptions options;
    std::FILE* const results;
    ContentViewModel viewModel;
    ProgressBar progress;
    Phase phase = Phase::scanning;
    bool interrupted = false;
    QList<FileItemPtr> toConvert;
    QSet<const FileItem*> reported;
};
