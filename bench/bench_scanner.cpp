// SPDX-License-Identifier: GPL-3.0-or-later

// How long discovery takes over a large tree, and how fast a scan classifies
// files through a semaphore of four permits, with the most tool processes that
// were ever alive at once (the scan queues must keep that at four or fewer).
#include "Processes.h"
#include "exec/AsyncSemaphore.h"
#include "exec/ChildProcess.h"
#include "scanner/AudioScanner.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int folderCount = 1000;
constexpr int filesPerFolder = 100;
constexpr int analysedFiles = 200;
constexpr int permits = 4;

void makeTree(const QString& root) {
    for (int folder = 0; folder < folderCount; ++folder) {
        const QString path = QStringLiteral("%1/folder%2").arg(root).arg(folder);
        QDir().mkpath(path);
        for (int file = 0; file < filesPerFolder; ++file) {
            // Every fourth name is not audio, as in a real library.
            const char* extension = file % 4 == 3 ? "txt" : "wav";
            QFile(QStringLiteral("%1/f%2.%3").arg(path).arg(file).arg(QLatin1String(extension)))
                .open(QIODevice::WriteOnly);
        }
    }
}

void generate(const QString& path, const QString& expressions) {
    ChildProcess process;
    if (process.start(QStringLiteral("/usr/bin/ffmpeg"),
                      {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y"),
                       QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                       QStringLiteral("aevalsrc=exprs=%1:s=44100:d=1").arg(expressions), path},
                      ChildProcess::Output::nullDevice(), ChildProcess::Output::nullDevice()) ||
        process.waitForExit() != 0)
        qFatal("could not generate %s", qPrintable(path));
}

// Copies of one mono, one fake-stereo and one real-stereo file, in turn.
QList<QUrl> makeAudio(const QString& root) {
    const QStringList kinds{QStringLiteral("sin(2*PI*440*t)"),
                            QStringLiteral("sin(2*PI*440*t)|sin(2*PI*440*t)"),
                            QStringLiteral("sin(2*PI*440*t)|sin(2*PI*660*t)")};
    QStringList originals;
    for (int kind = 0; kind < kinds.size(); ++kind) {
        originals.append(QStringLiteral("%1/kind%2.flac").arg(root).arg(kind));
        generate(originals.last(), kinds[kind]);
    }
    QList<QUrl> files;
    for (int i = 0; i < analysedFiles; ++i) {
        const QString copy = QStringLiteral("%1/file%2.flac").arg(root).arg(i);
        QFile::copy(originals[i % originals.size()], copy);
        files.append(QUrl::fromLocalFile(copy));
    }
    return files;
}

void benchDiscovery(const AudioScanner& scanner, const QString& root) {
    makeTree(root);
    QElapsedTimer clock;
    clock.start();
    const QList<QUrl> found = scanner.findAudioFiles(QUrl::fromLocalFile(root)).audioFiles;
    std::printf("discovery: %d files in %d folders walked in %.3f s, %lld audio files found\n",
                folderCount * filesPerFolder, folderCount, double(clock.nsecsElapsed()) / 1e9,
                qlonglong(found.size()));
}

void benchAnalysis(const AudioScanner& scanner, const QString& root) {
    const QList<QUrl> files = makeAudio(root);
    AsyncSemaphore semaphore(permits);
    std::atomic_int finished = 0;
    std::stop_source scan;

    QElapsedTimer clock;
    clock.start();
    std::vector<std::jthread> workers;
    for (const QUrl& url : files) {
        workers.emplace_back([&, url] {
            if (!semaphore.waitWithCancellation(scan.get_token()))
                return;
            scanner.analyzeFile(url);
            semaphore.signal();
            ++finished;
        });
    }
    int mostChildren = 0;
    while (finished < analysedFiles) {
        mostChildren = std::max(mostChildren, int(TestSupport::liveChildren().size()));
        QCoreApplication::processEvents();
        // Sampling often enough to see every overlap, without taking a core.
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    workers.clear();
    std::printf("analysis: %d files with %d permits in %.2f s = %.1f files/s; at most %d tool "
                "processes alive at once\n",
                analysedFiles, permits, seconds, analysedFiles / seconds, mostChildren);
}

} // namespace

int main(int argc, char** argv) {
    // Fixed settings, and never the user's own preferences.
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path()));
    QCoreApplication app(argc, argv);
    Settings::shared().setScanLimitSeconds(5);
    Settings::shared().setComparisonMethod(ComparisonMethod::byteExact);
    Settings::shared().setSuffix(QStringLiteral("_MONO"));

    const AudioScanner scanner(Settings::shared());
    QTemporaryDir tree;
    benchDiscovery(scanner, tree.path());
    QTemporaryDir audio;
    benchAnalysis(scanner, audio.path());
    return 0;
}
