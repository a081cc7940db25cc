// SPDX-License-Identifier: GPL-3.0-or-later

#include "TestAudio.h"

#include <QProcess>

using namespace Qt::StringLiterals;

namespace {

QByteArray runTool(const QString& tool, const QStringList& arguments) {
    QProcess process;
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(tool, arguments);
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        qFatal("%s failed: %s", qPrintable(tool), process.readAllStandardError().constData());
    return process.readAllStandardOutput();
}

} // namespace

void TestAudio::generate(const QString& path, const QStringList& channelExpressions, double seconds,
                         const QStringList& outputOptions, const QString& layout) {
    QString source =
        u"aevalsrc=exprs=%1:s=44100:d=%2"_s.arg(channelExpressions.join(u'|')).arg(seconds);
    if (!layout.isEmpty())
        source += u":c="_s + layout;
    ffmpeg(QStringList{u"-y"_s, u"-f"_s, u"lavfi"_s, u"-i"_s, source} + outputOptions +
           QStringList{path});
}

QByteArray TestAudio::ffmpeg(const QStringList& arguments) {
    return runTool(u"/usr/bin/ffmpeg"_s, QStringList{u"-v"_s, u"error"_s} + arguments);
}

QByteArray TestAudio::ffprobe(const QStringList& arguments) {
    return runTool(u"/usr/bin/ffprobe"_s, QStringList{u"-v"_s, u"error"_s} + arguments);
}

void TestAudio::twoStreams(const QString& path, double seconds) {
    const QString input = u"-f lavfi -i aevalsrc=exprs=%1:s=44100:d=%2 "_s;
    ffmpeg((u"-y "_s + input.arg(tone(440, 0.5) + u'|' + tone(440, 0.5)).arg(seconds) +
            input.arg(tone(660, 0.5)).arg(seconds) + u"-map 0 -map 1 -c:a alac"_s)
               .split(u' ')
           << path);
}

void TestAudio::surround(const QString& path, double seconds) {
    const QString pair = tone(440, 0.5);
    generate(path, {pair, pair, tone(300, 0.3), tone(50, 0.1), tone(700, 0.2), tone(700, 0.2)},
             seconds, {}, u"5.1"_s);
}

int TestAudio::channelsOf(const QString& path) {
    const QString options = u"-select_streams a:0 -show_entries stream=channels -of csv=p=0"_s;
    return ffprobe(options.split(u' ') << path).trimmed().toInt();
}
