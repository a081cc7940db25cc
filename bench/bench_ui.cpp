// SPDX-License-Identifier: GPL-3.0-or-later

// The window with 10,000 items: the cost of one republish (the view model's
// change reaching the controls, the re-filtered and re-sorted rows, and the
// repaint) and of scrolling the table from top to bottom a page at a time.
// The items come in as one drop of files that are analysed without tools
// (names ending in the suffix are mono at once; every tenth has no suffix and
// fails to probe, since no ffmpeg is to be found).
#include "DarkTheme.h"
#include "FileTable.h"
#include "MainWindow.h"
#include "exec/FFmpegLocator.h"
#include "viewmodel/ContentViewModel.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

constexpr int itemCount = 10000;
constexpr int rounds = 21;

double millisecondsOf(const std::function<void()>& work) {
    QElapsedTimer clock;
    clock.start();
    work();
    return double(clock.nsecsElapsed()) / 1e6;
}

void report(const char* what, std::vector<double> times) {
    std::sort(times.begin(), times.end());
    std::printf("%-48s median %7.2f ms   max %7.2f ms\n", what, times[times.size() / 2],
                times.back());
}

// What follows one change of the view model: the controls have followed it
// already (synchronously); the window re-reads the rows on a later turn of
// the event loop, done here at once, then the layout after a reset and the
// paint.
void settle(MainWindow& window) {
    window.findChild<FileTable*>()->refresh();
    QCoreApplication::processEvents();
    window.repaint();
}

} // namespace

int main(int argc, char** argv) {
    QTemporaryDir home;
    qputenv("HOME", QFile::encodeName(home.path()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.filePath(QStringLiteral("config"))));
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.filePath(QStringLiteral("data"))));
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("PATH", "/nonexistent");
    QStandardPaths::setTestModeEnabled(true);
    FFmpegLocator::setFixedCandidates({});
    QApplication app(argc, argv);
    applyDarkTheme(app);

    QList<QUrl> urls;
    for (int index = 0; index < itemCount; ++index) {
        const QString name =
            index % 10 != 0 ? QStringLiteral("take %1_MONO.wav") : QStringLiteral("take %1.wav");
        QFile file(home.filePath(name.arg(index, 5, 10, QLatin1Char('0'))));
        if (!file.open(QIODevice::WriteOnly))
            qFatal("cannot create test files");
        file.write(QByteArray(index % 97, 'x'));
        urls.append(QUrl::fromLocalFile(file.fileName()));
    }

    MainWindow window;
    window.resize(1000, 700);
    window.show();
    ContentViewModel& viewModel = window.viewModel();
    viewModel.setShowFilter(ShowFilter::all);
    const double intake = millisecondsOf([&] {
        viewModel.handleDrop(urls);
        const auto analysed = [&viewModel] {
            return viewModel.items().size() == itemCount &&
                   std::none_of(viewModel.items().cbegin(), viewModel.items().cend(),
                                [](const FileItemPtr& item) {
                                    return item->detectionStatus == DetectionStatus::pending;
                                });
        };
        while (!analysed())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        settle(window);
    });
    std::printf("drop and analysis of %d items (%d log lines): %.0f ms\n", itemCount, 2 * itemCount,
                intake);

    std::vector<double> resorts, refilters, fieldChanges;
    const SortColumn columns[] = {SortColumn::filename, SortColumn::fileSize, SortColumn::channels,
                                  SortColumn::status};
    for (int round = 0; round < rounds; ++round) {
        resorts.push_back(millisecondsOf([&] {
            viewModel.toggleSort(columns[round % 4]);
            settle(window);
        }));
        refilters.push_back(millisecondsOf([&] {
            viewModel.setShowFilter(round % 2 ? ShowFilter::all : ShowFilter::fakeStereoOnly);
            settle(window);
        }));
        fieldChanges.push_back(millisecondsOf([&] {
            viewModel.log(QStringLiteral("a log line republishes the unchanged rows"));
            settle(window);
        }));
    }
    viewModel.setShowFilter(ShowFilter::all);
    settle(window);
    report("republish after a sort change", resorts);
    report("republish after a filter change", refilters);
    report("republish with the same rows (a log line)", fieldChanges);

    auto* table = window.findChild<FileTable*>();
    QScrollBar* scroll = table->verticalScrollBar();
    std::vector<double> pages;
    const double wholeScroll = millisecondsOf([&] {
        for (int position = 0; position <= scroll->maximum(); position += scroll->pageStep()) {
            pages.push_back(millisecondsOf([&] {
                scroll->setValue(position);
                table->viewport()->repaint();
            }));
        }
    });
    std::printf("scroll top to bottom: %zu pages in %.0f ms\n", pages.size(), wholeScroll);
    report("one page of scrolling", pages);
    return 0;
}
