#include "TestMain.h"

#include "FakeTools.h"
#include "Processes.h"
#include "TestAudio.h"
#include "scanner/AudioScanner.h"
#include "scanner/ScannerError.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

namespace {

constexpr qint64 bytesPerSecond = 176400;

QUrl urlOf(const QString& path) {
    return QUrl::fromLocalFile(path);
}

void writeBytes(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        qFatal("cannot write %s", qPrintable(path));
    file.write(bytes);
}

} // namespace

class ProbeAndDecodeTest : public QObject {
    Q_OBJECT

    QTemporaryDir folder;
    AudioScanner scanner{Settings::shared()};

    QString file(const QString& name) const { return folder.filePath(name); }

private slots:
    void initTestCase() {
        TestAudio::mono(file(QStringLiteral("mono.wav")), 1);
        TestAudio::realStereo(file(QStringLiteral("three seconds.flac")), 3);
        TestAudio::surround(file(QStringLiteral("surround.wav")), 1);
        TestAudio::twoStreams(file(QStringLiteral("two streams.m4a")), 1);
        // Text that ffmpeg's own stream descriptions use, in a tag and a name.
        TestAudio::generate(file(QStringLiteral("Stream #0:0: Audio: mono.flac")),
                            {TestAudio::tone(440), TestAudio::tone(440)}, 1,
                            {QStringLiteral("-metadata"),
                             QStringLiteral("title=\nStream #0:0: Audio: pcm_s16le, mono")});
    }

    void cleanup() { QTRY_VERIFY_WITH_TIMEOUT(TestSupport::liveChildren().isEmpty(), 15000); }

    void probeReadsTheLayoutFromTheStreamParameters_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<qint64>("channels");
        QTest::addColumn<qint64>("streams");
        QTest::newRow("mono") << "mono.wav" << qint64(1) << qint64(1);
        QTest::newRow("stereo") << "three seconds.flac" << qint64(2) << qint64(1);
        QTest::newRow("5.1") << "surround.wav" << qint64(6) << qint64(1);
        QTest::newRow("two streams") << "two streams.m4a" << qint64(2) << qint64(2);
        QTest::newRow("\"Audio: mono\" in a tag and the name")
            << "Stream #0:0: Audio: mono.flac" << qint64(2) << qint64(1);
    }

    void probeReadsTheLayoutFromTheStreamParameters() {
        QFETCH(QString, name);
        QFETCH(qint64, channels);
        QFETCH(qint64, streams);
        const std::optional<AudioLayout> layout = scanner.ffprobeAudioLayout(urlOf(file(name)));
        QVERIFY(layout);
        QCOMPARE(layout->channels, channels);
        QCOMPARE(layout->audioStreams, streams);
    }

    void decodeGivesTwoChannelPcmOfAtMostTheAskedLength() {
        const QString path = file(QStringLiteral("three seconds.flac"));
        QCOMPARE(scanner.decodeToRawPCM(urlOf(path), 30).size(), 3 * bytesPerSecond);
        const QByteArray window = scanner.decodeToRawPCM(urlOf(path), 1);
        QCOMPARE(window.size(), bytesPerSecond);
        QVERIFY(!AudioScanner::compareChannels(window, ComparisonMethod::byteExact));
    }

    void awkwardNamesNeedNoQuoting_data() {
        QTest::addColumn<QString>("name");
        QTest::newRow("spaces") << "my  song (live).wav";
        QTest::newRow("quotes") << "it's a \"test\".wav";
        QTest::newRow("non-ASCII") << "Ärger über Ça — 日本.wav";
        QTest::newRow("leading dash") << "-y -i.wav";
        QTest::newRow("shell characters") << "$(touch pwned);`x`|&.wav";
    }

    void awkwardNamesNeedNoQuoting() {
        QFETCH(QString, name);
        const QString path = file(name);
        QVERIFY(QFile::copy(file(QStringLiteral("three seconds.flac")), path));
        QCOMPARE(scanner.ffprobeAudioLayout(urlOf(path))->channels, 2);
        QCOMPARE(scanner.decodeToRawPCM(urlOf(path), 1).size(), bytesPerSecond);
        QVERIFY(!QFile::exists(folder.filePath(QStringLiteral("pwned"))));
    }

    void badInputsGiveNoCountAndAFailedDecode_data() {
        QTest::addColumn<QString>("name");
        QTest::newRow("missing") << "missing.wav";
        QTest::newRow("random bytes") << "noise.wav";
        QTest::newRow("empty") << "empty.wav";
        QTest::newRow("no audio stream") << "picture.mp4";
    }

    void badInputsGiveNoCountAndAFailedDecode() {
        QFETCH(QString, name);
        QByteArray noise(64 * 1024, '\0');
        for (qsizetype i = 0; i < noise.size(); ++i)
            noise[i] = char((i * 7919 + 13) % 251);
        writeBytes(file(QStringLiteral("noise.wav")), noise);
        writeBytes(file(QStringLiteral("empty.wav")), {});
        QProcess::execute(QStringLiteral("ffmpeg"),
                          {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y"),
                           QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                           QStringLiteral("color=c=black:s=32x32:d=1"), QStringLiteral("-c:v"),
                           QStringLiteral("mpeg4"), file(QStringLiteral("picture.mp4"))});

        QVERIFY(!scanner.ffprobeAudioLayout(urlOf(file(name))));
        QVERIFY_THROWS_EXCEPTION(ScannerError, scanner.decodeToRawPCM(urlOf(file(name)), 5));
        try {
            scanner.decodeToRawPCM(urlOf(file(name)), 5);
        } catch (const ScannerError& error) {
            QCOMPARE(QString::fromUtf8(error.what()),
                     QStringLiteral("Failed to decode audio file. Is ffmpeg installed?"));
        }
    }

    void withoutFFmpegNothingRuns() {
        FakeTools tools;
        FakeTools::hideEveryFFmpeg();
        QVERIFY(!scanner.ffprobeAudioLayout(urlOf(file(QStringLiteral("mono.wav")))));
        QVERIFY_THROWS_EXCEPTION(
            ScannerError, scanner.decodeToRawPCM(urlOf(file(QStringLiteral("mono.wav"))), 5));
    }

    void probeOutputMustBeWellFormed_data() {
        QTest::addColumn<QString>("output");
        QTest::newRow("no audio stream") << R"(echo '{"streams": []}')";
        QTest::newRow("no channel count") << R"(echo '{"streams": [{}]}')";
        QTest::newRow("count in words") << R"(echo '{"streams": [{"channels": "stereo"}]}')";
        QTest::newRow("not JSON") << "echo 2";
        QTest::newRow("nothing, failing") << "exit 1";
        QTest::newRow("probe tool missing") << "";
    }

    void probeOutputMustBeWellFormed() {
        QFETCH(QString, output);
        FakeTools tools;
        tools.realTool(QStringLiteral("ffmpeg"));
        if (!output.isEmpty())
            tools.script(QStringLiteral("ffprobe"), output);
        QVERIFY(!scanner.ffprobeAudioLayout(urlOf(file(QStringLiteral("mono.wav")))));
    }
};

CHANFUSE_TEST_MAIN(ProbeAndDecodeTest)
#include "tst_probeanddecode.moc"
