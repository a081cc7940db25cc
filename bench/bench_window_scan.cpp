// SPDX-License-Identifier: GPL-3.0-or-later

// The window while it scans a folder: files per second, the window process's
// peak memory, and how late the event loop answers during the scan, measured
// as the lateness of a 10 ms timer's ticks (what a click or a repaint would
// wait). The window is offscreen; the analysis is the real one, with the
// analyser's workers where they serve.
//
// Usage: bench_window_scan FOLDER
#include "DarkTheme.h"
#include "MainWindow.h"
#include "viewmodel/ContentViewModel.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <cstdio>
#include <sys/resource.h>
#include <vector>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: bench_window_scan FOLDER\n");
        return 2;
    }
    applyDarkTheme(app);
    MainWindow window;
    window.resize(1000, 700);
    window.show();
    ContentViewModel& viewModel = window.viewModel();

    constexpr qint64 tickMs = 10;
    std::vector<double> lateness;
    QElapsedTimer sinceTick;
    QTimer ticks;
    ticks.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticks, &QTimer::timeout, [&] {
        lateness.push_back(qMax(0.0, double(sinceTick.nsecsElapsed()) / 1e6 - double(tickMs)));
        sinceTick.restart();
    });

    QElapsedTimer clock;
    QObject::connect(&viewModel, &ContentViewModel::scanFinished, &app, [&] {
        const double seconds = double(clock.nsecsElapsed()) / 1e9;
        ticks.stop();
        std::sort(lateness.begin(), lateness.end());
        const auto at = [&lateness](double share) {
            return lateness.empty() ? 0.0
                                    : lateness[std::size_t(share * double(lateness.size() - 1))];
        };
        rusage usage{};
        ::getrusage(RUSAGE_SELF, &usage);
        std::printf(
            "window scan: %lld files in %.1f s, %.1f files/s, window peak memory %.1f MiB\n",
            viewModel.scannedCount(), seconds, double(viewModel.scannedCount()) / seconds,
            double(usage.ru_maxrss) / 1024);
        std::printf("event loop during the scan: %zu ticks of %lld ms, late by median %.1f ms, "
                    "99th percentile %.1f ms, worst %.1f ms\n",
                    lateness.size(), tickMs, at(0.5), at(0.99), at(1.0));
        app.quit();
    });
    QTimer::singleShot(0, &app, [&] {
        clock.start();
        sinceTick.start();
        ticks.start(int(tickMs));
        viewModel.startScanFolders({QUrl::fromLocalFile(QString::fromLocal8Bit(argv[1]))});
    });
    return app.exec();
}
