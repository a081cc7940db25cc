#include "TestAudio.h"

#include <QProcess>
#include <QTest>

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
    QString source = QStringLiteral("aevalsrc=exprs=%1:s=44100:d=%2")
                         .arg(channelExpressions.join(u'|'))
                         .arg(seconds);
    if (!layout.isEmpty())
        source += QStringLiteral(":c=") + layout;
    ffmpeg(QStringList{QStringLiteral("-y"), QStringLiteral("-f"), QStringLiteral("lavfi"),
                       QStringLiteral("-i"), source} +
           outputOptions + QStringList{path});
}

QByteArray TestAudio::ffmpeg(const QStringList& arguments) {
    return runTool(QStringLiteral("/usr/bin/ffmpeg"),
                   QStringList{QStringLiteral("-v"), QStringLiteral("error")} + arguments);
}

void TestAudio::twoStreams(const QString& path, double seconds) {
    const QString input = QStringLiteral("-f lavfi -i aevalsrc=exprs=%1:s=44100:d=%2 ");
    ffmpeg((QStringLiteral("-y ") + input.arg(tone(440, 0.5) + u'|' + tone(440, 0.5)).arg(seconds) +
            input.arg(tone(660, 0.5)).arg(seconds) + QStringLiteral("-map 0 -map 1 -c:a alac"))
               .split(u' ')
           << path);
}

void TestAudio::surround(const QString& path, double seconds) {
    const QString pair = tone(440, 0.5);
    generate(path, {pair, pair, tone(300, 0.3), tone(50, 0.1), tone(700, 0.2), tone(700, 0.2)},
             seconds, {}, QStringLiteral("5.1"));
}

int TestAudio::channelsOf(const QString& path) {
    const QString options =
        QStringLiteral("-v error -select_streams a:0 -show_entries stream=channels -of csv=p=0");
    return runTool(QStringLiteral("/usr/bin/ffprobe"), options.split(u' ') << path)
        .trimmed()
        .toInt();
}
