// SPDX-License-Identifier: GPL-3.0-or-later

// How fast the channel comparison runs, and what one file's probe, decode and
// comparison cost, with the share of it that is only process start-up.
#include "exec/ChildProcess.h"
#include "scanner/AudioScanner.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>

namespace {

double bestMilliseconds(int runs, const std::function<void()>& work) {
    double best = 1e300;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer clock;
        clock.start();
        work();
        best = std::min(best, double(clock.nsecsElapsed()) / 1e6);
    }
    return best;
}

QByteArray fakeStereoSeconds(int seconds) {
    constexpr qint64 frameSize = frameBytes(PcmSamples::f64);
    QByteArray pcm(qsizetype(seconds) * 44100 * frameSize, Qt::Uninitialized);
    for (qsizetype frame = 0; frame < pcm.size() / frameSize; ++frame) {
        const double value = 0.4 * std::sin(double(frame) * 0.0627);
        for (int channel = 0; channel < 2; ++channel)
            std::memcpy(pcm.data() + frame * frameSize + channel * sizeof value, &value,
                        sizeof value);
    }
    return pcm;
}

void run(const QString& program, const QStringList& arguments) {
    ChildProcess process;
    if (process.start(program, arguments, ChildProcess::Output::nullDevice(),
                      ChildProcess::Output::nullDevice()) ||
        process.waitForExit() != 0)
        qFatal("%s failed", qPrintable(program));
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);

    const QByteArray pcm = fakeStereoSeconds(60);
    bool verdict = true;
    for (ComparisonMethod method : allCases<ComparisonMethod>()) {
        const double ms = bestMilliseconds(20, [&] {
            verdict = verdict && AudioScanner::compareChannels(pcm, {method, 44100});
        });
        std::printf("compare %-11s %.2f MB in %7.3f ms = %6.2f GB/s\n",
                    qPrintable(rawValue(method)), double(pcm.size()) / 1e6, ms,
                    double(pcm.size()) / ms / 1e6);
    }
    if (!verdict)
        qFatal("fake stereo was not recognised");

    QTemporaryDir folder;
    const QString flac = folder.filePath(QStringLiteral("three minutes.flac"));
    run(QStringLiteral("/usr/bin/ffmpeg"),
        {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-f"),
         QStringLiteral("lavfi"), QStringLiteral("-i"),
         QStringLiteral("aevalsrc=exprs=0.4*sin(2*PI*440*t)|0.4*sin(2*PI*440*t):s=44100:d=180"),
         flac});

    AudioScanner scanner(Settings::shared());
    const QUrl url = QUrl::fromLocalFile(flac);
    const int runs = 10;
    const double startup = bestMilliseconds(runs, [] { run(QStringLiteral("/bin/true"), {}); });
    const double versionRun = bestMilliseconds(
        runs, [] { run(QStringLiteral("/usr/bin/ffprobe"), {QStringLiteral("-version")}); });
    const double probe = bestMilliseconds(runs, [&] { (void)scanner.ffprobeAudioLayout(url); });
    QByteArray decoded;
    const double decode = bestMilliseconds(runs, [&] { decoded = scanner.decodeToRawPCM(url, 5); });
    const double compare = bestMilliseconds(runs, [&] {
        verdict = AudioScanner::compareChannels(decoded, {ComparisonMethod::byteExact, 44100});
    });
    std::printf("3-minute FLAC: probe %.1f ms + 5 s decode %.1f ms + compare %.3f ms = %.1f ms "
                "per file (fake stereo: %s)\n",
                probe, decode, compare, probe + decode + compare, verdict ? "yes" : "no");
    std::printf("process start-up: bare spawn %.2f ms, ffprobe -version %.1f ms "
                "(two tool starts per file: about %.0f%% of the file's time)\n",
                startup, versionRun, 100.0 * 2 * versionRun / (probe + decode + compare));
    return 0;
}
