// SPDX-License-Identifier: GPL-3.0-or-later

// What the converter adds to ffmpeg's own work: for a three-minute 44.1 kHz
// fake-stereo WAV, FLAC and MP3, the whole convertToMono call against a bare ffmpeg
// run of the same command line. The difference is the converter's overhead
// (input checks, the input probe, supervision, verification, disposal), and
// the input probe with the choice of encoder on its own.
#include "converter/AudioConverter.h"
#include "converter/FFmpegArguments.h"
#include "exec/ChildProcess.h"
#include "exec/FFmpegLocator.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <sys/resource.h>
#include <vector>

namespace {

constexpr int rounds = 5;

void runToEnd(const QString& program, const QStringList& arguments) {
    ChildProcess process;
    if (process.start(program, arguments, ChildProcess::Output::nullDevice(),
                      ChildProcess::Output::nullDevice()) ||
        process.waitForExit() != 0)
        qFatal("%s failed", qPrintable(program));
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Processor time of this process and its children, in milliseconds: unlike
// wall-clock time it hardly depends on what else the machine is doing.
double processorMilliseconds() {
    double total = 0;
    for (int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
        rusage usage{};
        getrusage(who, &usage);
        for (const timeval& spent : {usage.ru_utime, usage.ru_stime})
            total += double(spent.tv_sec) * 1e3 + double(spent.tv_usec) / 1e3;
    }
    return total;
}

struct Cost {
    std::vector<double> wall;
    std::vector<double> processor;

    void measure(const std::function<void()>& work) {
        const double processorBefore = processorMilliseconds();
        QElapsedTimer clock;
        clock.start();
        work();
        wall.push_back(double(clock.nsecsElapsed()) / 1e6);
        processor.push_back(processorMilliseconds() - processorBefore);
    }
};

void measure(const QString& folder, const QString& extension, const QString& ffmpeg) {
    const QString source = folder + QStringLiteral("/source.") + extension;
    runToEnd(ffmpeg, {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y"),
                      QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                      QStringLiteral("aevalsrc=exprs=0.5*sin(2*PI*440*t)|0.5*sin(2*PI*440*t)"
                                     ":s=44100:d=180"),
                      source});

    const QString input = folder + QStringLiteral("/song.") + extension;
    const QString output = folder + QStringLiteral("/song_MONO.") + extension;
    QFile::copy(source, input);
    const OrFailure<ConversionPlan> planned =
        planConversion(ffmpeg, input, output, ComparisonMethod::byteExact);
    if (const auto refusal = planned.failure())
        qFatal("%s", qPrintable(refusal->text));
    const ConversionPlan& plan = *planned;
    std::printf("%-5s %s\n", qPrintable(extension), qPrintable(plan.choice));

    const AudioConverter converter(Settings::shared());
    const LogCallback quiet = [](const QString&) {};
    Cost probe, bare, suffixed, inPlace;
    for (int round = 0; round < rounds; ++round) {
        probe.measure([&] { planConversion(ffmpeg, input, output, ComparisonMethod::byteExact); });

        // ffmpeg never overwrites: each run starts without the output.
        QFile::remove(output);
        bare.measure([&] { runToEnd(ffmpeg, plan.arguments); });

        Settings::shared().setAppendFilename(true);
        QFile::remove(output);
        const auto kept = std::make_shared<FileItem>(QUrl::fromLocalFile(input));
        suffixed.measure([&] {
            if (converter.convertToMono(kept, quiet).kind != ConversionOutcome::Kind::converted)
                qFatal("conversion failed");
        });

        // Replacing in place consumes the original: start from a fresh copy.
        Settings::shared().setAppendFilename(false);
        const QString replaced = folder + QStringLiteral("/replaced.") + extension;
        QFile::remove(replaced);
        QFile::copy(source, replaced);
        const auto item = std::make_shared<FileItem>(QUrl::fromLocalFile(replaced));
        inPlace.measure([&] {
            if (converter.convertToMono(item, quiet).kind != ConversionOutcome::Kind::converted)
                qFatal("conversion failed");
        });
    }

    const auto report = [&](const char* what, const Cost& cost) {
        std::printf("%-5s %-22s wall %7.1f ms (overhead %6.1f) | processor %7.1f ms (overhead "
                    "%6.1f)\n",
                    qPrintable(extension), what, median(cost.wall),
                    median(cost.wall) - median(bare.wall), median(cost.processor),
                    median(cost.processor) - median(bare.processor));
    };
    std::printf("%-5s %-22s wall %7.1f ms | processor %7.1f ms\n", qPrintable(extension),
                "input probe and plan", median(probe.wall), median(probe.processor));
    report("bare ffmpeg", bare);
    report("convertToMono suffixed", suffixed);
    report("convertToMono in place", inPlace);
}

} // namespace

int main(int argc, char** argv) {
    // Settings and data folders of a throw-away home: the benchmark writes
    // settings and must never touch the user's own.
    QTemporaryDir home;
    qputenv("HOME", QFile::encodeName(home.path()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path() + QStringLiteral("/config")));
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.path() + QStringLiteral("/data")));
    QCoreApplication application(argc, argv);

    const std::optional<QString> ffmpeg = FFmpegLocator::ffmpegPath();
    if (!ffmpeg)
        qFatal("ffmpeg not found");
    Settings::shared().setConvertBehavior(ConvertBehavior::overwrite);
    Settings::shared().setSuffix(QStringLiteral("_MONO"));

    QElapsedTimer listing;
    listing.start();
    if (!ffmpegEncoders(*ffmpeg))
        qFatal("no encoder list");
    std::printf("Encoder list, once per process: %.1f ms\n", double(listing.nsecsElapsed()) / 1e6);

    QTemporaryDir folder;
    std::printf("Three minutes of 44.1 kHz fake stereo, median of %d rounds\n", rounds);
    for (const QString& extension :
         {QStringLiteral("wav"), QStringLiteral("flac"), QStringLiteral("mp3")})
        measure(folder.path(), extension, *ffmpeg);
    return 0;
}
