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

QString probe(const QString& path, const QString& entry) {
    return QString::fromUtf8(runTool(QStringLiteral("/usr/bin/ffprobe"),
                                     {QStringLiteral("-v"), QStringLiteral("error"),
                                      QStringLiteral("-select_streams"), QStringLiteral("a:0"),
                                      QStringLiteral("-show_entries"), entry, QStringLiteral("-of"),
                                      QStringLiteral("csv=p=0"), path}))
        .trimmed();
}

} // namespace

QString TestAudio::tone(int hertz, double level) {
    return QStringLiteral("%1*sin(2*PI*%2*t)").arg(level).arg(hertz);
}

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

void TestAudio::mono(const QString& path, double seconds) {
    generate(path, {tone(440, 0.5)}, seconds);
}

void TestAudio::fakeStereo(const QString& path, double seconds) {
    generate(path, {tone(440, 0.5), tone(440, 0.5)}, seconds);
}

void TestAudio::realStereo(const QString& path, double seconds) {
    generate(path, {tone(440, 0.5), tone(660, 0.5)}, seconds);
}

void TestAudio::twoStreams(const QString& path, double seconds) {
    const QString source = QStringLiteral("aevalsrc=exprs=%1:s=44100:d=%2");
    runTool(QStringLiteral("/usr/bin/ffmpeg"),
            {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y"),
             QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
             source.arg(tone(440, 0.5) + u'|' + tone(440, 0.5)).arg(seconds), QStringLiteral("-f"),
             QStringLiteral("lavfi"), QStringLiteral("-i"), source.arg(tone(660, 0.5)).arg(seconds),
             QStringLiteral("-map"), QStringLiteral("0"), QStringLiteral("-map"),
             QStringLiteral("1"), QStringLiteral("-c:a"), QStringLiteral("alac"), path});
}

void TestAudio::surround(const QString& path, double seconds) {
    const QString pair = tone(440, 0.5);
    generate(path, {pair, pair, tone(300, 0.3), tone(50, 0.1), tone(700, 0.2), tone(700, 0.2)},
             seconds, {}, QStringLiteral("5.1"));
}

int TestAudio::channelsOf(const QString& path) {
    return probe(path, QStringLiteral("stream=channels")).toInt();
}

double TestAudio::durationOf(const QString& path) {
    return probe(path, QStringLiteral("stream=duration")).toDouble();
}
