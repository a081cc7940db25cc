// SPDX-License-Identifier: GPL-3.0-or-later

// What one chanfuse-analyzer worker costs: its start-up (the first request,
// a probe, minus a later probe), one probe, and one 5 s decode, each against
// the ffprobe or ffmpeg run that does the same work. Medians of 20 runs on a
// 20 s FLAC file.
#include "exec/ChildProcess.h"
#include "exec/FFmpegLocator.h"
#include "scanner/AnalysisEngine.h"
#include "scanner/PcmDecode.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

constexpr int runs = 20;

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double milliseconds(const std::function<void()>& work) {
    QElapsedTimer timer;
    timer.start();
    work();
    return double(timer.nsecsElapsed()) / 1e6;
}

void runTool(const QString& program, const QStringList& arguments) {
    ChildProcess process;
    if (process.start(program, arguments, ChildProcess::Output::pipe(),
                      ChildProcess::Output::nullDevice()))
        qFatal("could not start %s", qPrintable(program));
    process.readAllStandardOutput();
    process.waitForExit();
}

AnalysisWorker::Reply ask(AnalysisWorker& worker, const QString& file, bool decode) {
    return worker.run({file, !decode, decode, 5, 30}, [](QByteArrayView) { return true; });
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const std::optional<QString> ffmpeg = FFmpegLocator::ffmpegPath();
    const std::optional<QString> program =
        ffmpeg ? AnalysisEngine::workerProgram(*ffmpeg) : std::nullopt;
    if (!program)
        qFatal("no analyser serves this ffmpeg");
    QTemporaryDir folder;
    const QString file = folder.filePath(QStringLiteral("a.flac"));
    runTool(*ffmpeg, {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-f"),
                      QStringLiteral("lavfi"), QStringLiteral("-i"),
                      QStringLiteral("aevalsrc=exprs=sin(2*PI*440*t)|sin(2*PI*660*t):d=20"), file});

    std::vector<double> first, probe, decode, ffprobeRun, ffmpegRun;
    for (int run = 0; run < runs; ++run) {
        AnalysisWorker worker(*program);
        first.push_back(milliseconds([&] { ask(worker, file, false); }));
        probe.push_back(milliseconds([&] { ask(worker, file, false); }));
        decode.push_back(milliseconds([&] { ask(worker, file, true); }));
        ffprobeRun.push_back(milliseconds([&] {
            runTool(FFmpegLocator::ffprobePath(*ffmpeg),
                    {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_streams"),
                     QStringLiteral("-of"), QStringLiteral("json"), file});
        }));
        ffmpegRun.push_back(milliseconds([&] {
            runTool(*ffmpeg, QStringList{QStringLiteral("-v"), QStringLiteral("error")} +
                                 pcmDecodeArguments(file, 5));
        }));
    }
    std::printf("analyser start-up:  %7.1f ms (first request %.1f ms minus a probe)\n",
                median(first) - median(probe), median(first));
    std::printf("one probe:          %7.1f ms (an ffprobe run: %.1f ms)\n", median(probe),
                median(ffprobeRun));
    std::printf("one 5 s decode:     %7.1f ms (an ffmpeg run: %.1f ms)\n", median(decode),
                median(ffmpegRun));
    return 0;
}
