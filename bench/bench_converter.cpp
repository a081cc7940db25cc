// What the converter adds to ffmpeg's own work: for a three-minute 44.1 kHz
// fake-stereo WAV and FLAC, the whole convertToMono call against a bare ffmpeg
// run of the same command line. The difference is the converter's overhead
// (input checks, the bit-depth probe, supervision, verification, disposal).
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

double millisecondsOf(const std::function<void()>& work) {
    QElapsedTimer clock;
    clock.start();
    work();
    return double(clock.nsecsElapsed()) / 1e6;
}

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
    const QStringList command = conversionArguments(
        input, output,
        needsPcmCodec(extension) ? std::optional(QStringLiteral("pcm_s16le")) : std::nullopt);

    const AudioConverter converter(Settings::shared());
    const LogCallback quiet = [](const QString&) {};
    std::vector<double> bare, suffixed, inPlace;
    for (int round = 0; round < rounds; ++round) {
        bare.push_back(millisecondsOf([&] { runToEnd(ffmpeg, command); }));

        Settings::shared().setAppendFilename(true);
        const auto kept = std::make_shared<FileItem>(QUrl::fromLocalFile(input));
        suffixed.push_back(millisecondsOf([&] { converter.convertToMono(kept, quiet); }));

        // Replacing in place consumes the original: start from a fresh copy.
        Settings::shared().setAppendFilename(false);
        const QString replaced = folder + QStringLiteral("/replaced.") + extension;
        QFile::remove(replaced);
        QFile::copy(source, replaced);
        const auto item = std::make_shared<FileItem>(QUrl::fromLocalFile(replaced));
        inPlace.push_back(millisecondsOf([&] {
            if (converter.convertToMono(item, quiet))
                qFatal("conversion failed");
        }));
    }

    const double ffmpegAlone = median(bare);
    std::printf("%-5s bare ffmpeg %7.1f ms | convertToMono suffixed %7.1f ms (overhead %6.1f ms)"
                " | replaced in place %7.1f ms (overhead %6.1f ms)\n",
                qPrintable(extension), ffmpegAlone, median(suffixed),
                median(suffixed) - ffmpegAlone, median(inPlace), median(inPlace) - ffmpegAlone);
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

    QTemporaryDir folder;
    std::printf("Three minutes of 44.1 kHz fake stereo, median of %d rounds\n", rounds);
    for (const QString& extension : {QStringLiteral("wav"), QStringLiteral("flac")})
        measure(folder.path(), extension, *ffmpeg);
    return 0;
}
