// SPDX-License-Identifier: GPL-3.0-or-later

// A scan of many short generated files through the view model, measuring the
// scan rate, how often the list was republished and the longest stall of the
// GUI thread's event loop. Usage: bench_viewmodel [file count, default 1000]

#include "model/Settings.h"
#include "viewmodel/ContentViewModel.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <optional>
#include <tuple>

namespace {

void generate(const QString& path, const QString& channels) {
    QProcess ffmpeg;
    ffmpeg.setStandardInputFile(QProcess::nullDevice());
    ffmpeg.start(QStringLiteral("ffmpeg"),
                 {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y"),
                  QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                  QStringLiteral("aevalsrc=exprs=%1:s=44100:d=0.3").arg(channels), path});
    if (!ffmpeg.waitForFinished(60000) || ffmpeg.exitCode() != 0)
        qFatal("ffmpeg could not generate %s", qPrintable(path));
}

// A third each of fake stereo, real stereo and mono files, copied from three
// generated originals.
void fillFolder(const QString& folder, int count) {
    const QString fake = folder + QStringLiteral("/../fake.wav");
    const QString real = folder + QStringLiteral("/../real.wav");
    const QString mono = folder + QStringLiteral("/../mono.wav");
    generate(fake, QStringLiteral("sin(2*PI*440*t)|sin(2*PI*440*t)"));
    generate(real, QStringLiteral("sin(2*PI*440*t)|sin(2*PI*660*t)"));
    generate(mono, QStringLiteral("sin(2*PI*440*t)"));
    const QString originals[] = {fake, real, mono};
    for (int index = 0; index < count; ++index)
        QFile::copy(originals[index % 3],
                    folder + QStringLiteral("/file%1.wav").arg(index, 4, 10, QChar(u'0')));
}

} // namespace

int main(int argc, char** argv) {
    // Settings and the log file go to a throwaway home, never the user's.
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.filePath(QStringLiteral("config"))));
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.filePath(QStringLiteral("data"))));
    QCoreApplication app(argc, argv);
    const int fileCount = argc > 1 ? QByteArray(argv[1]).toInt() : 1000;

    const QString folder = home.filePath(QStringLiteral("library"));
    QDir().mkpath(folder);
    std::printf("generating %d files...\n", fileCount);
    fillFolder(folder, fileCount);

    ContentViewModel model;
    // A notification that changes none of the fields below republished the
    // list as it was (the refresh timer's work, or the scan's last republish).
    using Visible = std::tuple<qsizetype, QString, qint64, qint64, std::optional<QString>, bool>;
    const auto visible = [&model] {
        return Visible{
            model.items().size(),        model.debugLog().value(model.debugLog().size() - 1),
            model.scannedCount(),        model.totalCount(),
            model.currentScanningFile(), model.isScanning()};
    };
    qint64 notifications = 0;
    qint64 republishes = 0;
    Visible last = visible();
    QObject::connect(&model, &ContentViewModel::changed, [&] {
        notifications += 1;
        const Visible now = visible();
        republishes += now == last ? 1 : 0;
        last = now;
    });

    QElapsedTimer sinceTick;
    qint64 longestStallMs = 0;
    qint64 stallsOver50 = 0;
    QTimer heartbeat;
    heartbeat.setInterval(1);
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        const qint64 gap = sinceTick.restart();
        longestStallMs = std::max(longestStallMs, gap);
        stallsOver50 += gap > 50 ? 1 : 0;
    });

    QElapsedTimer scan;
    QObject::connect(&model, &ContentViewModel::scanFinished, &app, &QCoreApplication::quit);
    QTimer::singleShot(0, [&] {
        std::printf("scanning with parallelScans = %lld...\n",
                    static_cast<long long>(Settings::shared().parallelScans()));
        scan.start();
        sinceTick.start();
        heartbeat.start();
        model.startScanFolders({QUrl::fromLocalFile(folder)});
    });
    app.exec();
    const double seconds = scan.elapsed() / 1000.0;

    std::printf("files scanned:              %lld in %.1f s (%.1f files/s)\n",
                static_cast<long long>(model.scannedCount()), seconds,
                model.scannedCount() / seconds);
    std::printf("change notifications:       %lld, of which list republishes: %lld\n",
                static_cast<long long>(notifications), static_cast<long long>(republishes));
    std::printf("longest event-loop stall:   %lld ms (%lld gaps over 50 ms)\n",
                static_cast<long long>(longestStallMs), static_cast<long long>(stallsOver50));
    return 0;
}
