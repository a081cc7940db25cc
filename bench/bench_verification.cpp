// SPDX-License-Identifier: GPL-3.0-or-later

// What the whole-file check before converting costs next to the conversion it
// guards: a full pass over fake stereo, and the early stop on real stereo.
#include "exec/ChildProcess.h"
#include "scanner/WholeFileComparison.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>
#include <functional>

namespace {

void ffmpeg(const QStringList& arguments) {
    ChildProcess process;
    if (process.start(
            QStringLiteral("/usr/bin/ffmpeg"),
            QStringList{QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y")} +
                arguments,
            ChildProcess::Output::nullDevice(), ChildProcess::Output::nullDevice()) ||
        process.waitForExit() != 0)
        qFatal("ffmpeg %s failed", qPrintable(arguments.join(u' ')));
}

void generate(const QString& path, const QString& left, const QString& right) {
    ffmpeg({QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
            QStringLiteral("aevalsrc=exprs=%1|%2:s=44100:d=300").arg(left, right), path});
}

double milliseconds(const std::function<void()>& work) {
    QElapsedTimer clock;
    clock.start();
    work();
    return double(clock.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir folder;
    const QString tone = QStringLiteral("0.4*sin(2*PI*440*t)");
    const QString intro = QStringLiteral("if(lt(t\\,7)\\,0.4*sin(2*PI*330*t)\\,%1)");

    std::printf("5-minute files     verify (full pass)  convert   ratio   refusal at 0:07\n");
    for (const QString& extension :
         {QStringLiteral("wav"), QStringLiteral("flac"), QStringLiteral("mp3")}) {
        const QString fake = folder.filePath(QStringLiteral("fake.") + extension);
        const QString real = folder.filePath(QStringLiteral("real.") + extension);
        generate(fake, tone, tone);
        generate(real, intro.arg(tone), intro.arg(QStringLiteral("0.4*sin(2*PI*550*t)")));

        WholeFileVerdict verdict;
        const double verify = milliseconds([&] {
            verdict = compareWholeFile(QUrl::fromLocalFile(fake),
                                       {ComparisonMethod::byteExact, 44100}, 600);
        });
        if (!verdict.channelsMatch && extension != u"mp3")
            qFatal("fake stereo %s did not verify", qPrintable(extension));
        const double convert = milliseconds([&] {
            ffmpeg({QStringLiteral("-i"), fake, QStringLiteral("-ac"), QStringLiteral("1"),
                    QStringLiteral("-map_metadata"), QStringLiteral("0"),
                    folder.filePath(QStringLiteral("out.") + extension)});
        });
        WholeFileVerdict refusal;
        const double refuse = milliseconds([&] {
            refusal = compareWholeFile(QUrl::fromLocalFile(real),
                                       {ComparisonMethod::byteExact, 44100}, 600);
        });
        std::printf("%-5s %8.0f ms (%s)   %8.0f ms   %4.2f   %6.0f ms at %s\n",
                    qPrintable(extension), verify, verdict.channelsMatch ? "same" : "differ",
                    convert, verify / convert, refuse,
                    refusal.firstDifferingFrame
                        ? qPrintable(minutesAndSeconds(*refusal.firstDifferingFrame, 44100))
                        : "never");
    }
    return 0;
}
