#include "TestMain.h"

#include "FakeTools.h"
#include "Processes.h"
#include "TestAudio.h"
#include "exec/HardTimeout.h"
#include "scanner/AudioScanner.h"
#include "scanner/ScannerError.h"

#include <QElapsedTimer>
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
        TestAudio::generate(file(QStringLiteral("surround.wav")),
                            {TestAudio::tone(220), TestAudio::tone(330), TestAudio::tone(440),
                             TestAudio::tone(550), TestAudio::tone(660), TestAudio::tone(770)},
                            1, {}, QStringLiteral("5.1"));
    }

    void cleanup() { QTRY_VERIFY_WITH_TIMEOUT(TestSupport::liveChildren().isEmpty(), 15000); }

    void probeReportsTheChannelCount() {
        QCOMPARE(scanner.ffprobeChannelCount(urlOf(file(QStringLiteral("mono.wav")))), 1);
        QCOMPARE(scanner.ffprobeChannelCount(urlOf(file(QStringLiteral("three seconds.flac")))), 2);
        QCOMPARE(scanner.ffprobeChannelCount(urlOf(file(QStringLiteral("surround.wav")))), 6);
    }

    void decodeGivesTwoChannelPcmOfAtMostTheAskedLength() {
        const DecodedAudio whole =
            scanner.decodeToRawPCM(urlOf(file(QStringLiteral("three seconds.flac"))), 30);
        QCOMPARE(whole.channelCount, 2);
        QCOMPARE(whole.pcm.size(), 3 * bytesPerSecond);

        const DecodedAudio window =
            scanner.decodeToRawPCM(urlOf(file(QStringLiteral("three seconds.flac"))), 1);
        QCOMPARE(window.pcm.size(), bytesPerSecond);
        QVERIFY(!AudioScanner::compareChannels(window.pcm, ComparisonMethod::byteExact));
    }

    void decodeReportsTheInputLayout() {
        const DecodedAudio mono =
            scanner.decodeToRawPCM(urlOf(file(QStringLiteral("mono.wav"))), 5);
        QCOMPARE(mono.channelCount, 1);
        QCOMPARE(mono.pcm.size(), bytesPerSecond);
        QVERIFY(AudioScanner::compareChannels(mono.pcm, ComparisonMethod::byteExact));

        const DecodedAudio surround =
            scanner.decodeToRawPCM(urlOf(file(QStringLiteral("surround.wav"))), 5);
        QCOMPARE(surround.channelCount, 2);
        QCOMPARE(surround.pcm.size(), bytesPerSecond);
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
        QCOMPARE(scanner.ffprobeChannelCount(urlOf(path)), 2);
        QCOMPARE(scanner.decodeToRawPCM(urlOf(path), 1).pcm.size(), bytesPerSecond);
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

        QCOMPARE(scanner.ffprobeChannelCount(urlOf(file(name))), std::nullopt);
        QVERIFY_THROWS_EXCEPTION(ScannerError, scanner.decodeToRawPCM(urlOf(file(name)), 5));
        try {
            scanner.decodeToRawPCM(urlOf(file(name)), 5);
        } catch (const ScannerError& error) {
            QCOMPARE(QString::fromUtf8(error.what()),
                     QStringLiteral("Failed to decode audio file. Is ffmpeg installed?"));
        }
    }

    void missingProbeToolStillLetsTheDecodeRun() {
        FakeTools tools;
        tools.realTool(QStringLiteral("ffmpeg"));
        QCOMPARE(scanner.ffprobeChannelCount(urlOf(file(QStringLiteral("mono.wav")))),
                 std::nullopt);
        QCOMPARE(scanner.decodeToRawPCM(urlOf(file(QStringLiteral("mono.wav"))), 5).channelCount,
                 1);
    }

    void withoutFFmpegNothingRuns() {
        FakeTools tools;
        FakeTools::hideEveryFFmpeg();
        QCOMPARE(scanner.ffprobeChannelCount(urlOf(file(QStringLiteral("mono.wav")))),
                 std::nullopt);
        QVERIFY_THROWS_EXCEPTION(
            ScannerError, scanner.decodeToRawPCM(urlOf(file(QStringLiteral("mono.wav"))), 5));
    }

    void probeOutputMustBeOneWholeNumber_data() {
        QTest::addColumn<QString>("output");
        QTest::addColumn<qint64>("expected"); // -1: no answer
        QTest::newRow("padded") << "printf ' 2 \\n'" << qint64(2);
        QTest::newRow("signed") << "printf '+1'" << qint64(1);
        QTest::newRow("two streams") << "printf '2\\n6\\n'" << qint64(-1);
        QTest::newRow("words") << "echo stereo" << qint64(-1);
        QTest::newRow("nothing, failing") << "exit 1" << qint64(-1);
        QTest::newRow("not UTF-8") << "printf '\\377\\376'" << qint64(-1);
    }

    void probeOutputMustBeOneWholeNumber() {
        QFETCH(QString, output);
        QFETCH(qint64, expected);
        FakeTools tools;
        tools.realTool(QStringLiteral("ffmpeg"));
        tools.script(QStringLiteral("ffprobe"), output);
        const std::optional<qint64> count =
            scanner.ffprobeChannelCount(urlOf(file(QStringLiteral("mono.wav"))));
        QCOMPARE(count.value_or(-1), expected);
    }

    void channelCountComesFromTheFirstDecisiveStreamLine_data() {
        QTest::addColumn<QString>("diagnostics");
        QTest::addColumn<int>("count");
        QTest::newRow("mp3 mono input") << "Input #0, mp3\r\n"
                                           "  Stream #0:0: Audio: mp3, 44100 Hz, mono, fltp\r\n"
                                           "  Stream #0:0: Audio: pcm_s16le, 44100 Hz, stereo\r\n"
                                        << 1;
        QTest::newRow("surround input") << "  Stream #0:0: Audio: pcm_s16le, 48000 Hz, 5.1, s16\n"
                                           "  Stream #0:0: Audio: pcm_s16le, 44100 Hz, stereo\n"
                                        << 2;
        QTest::newRow("no stream lines") << "garbage\nmono\n" << 2;
        QTest::newRow("case matters") << "audio: mono\n  Audio: x, Mono\n" << 2;
        QTest::newRow("empty") << "" << 2;
    }

    void channelCountComesFromTheFirstDecisiveStreamLine() {
        QFETCH(QString, diagnostics);
        QFETCH(int, count);
        QCOMPARE(AudioScanner::parseChannelCount(diagnostics), count);
    }

    // Last: the abandoned sleeper keeps one scan queue busy for a while.
    void hungDecoderTimesOutWhileItsQueueStaysBusy() {
        FakeTools tools;
        tools.script(QStringLiteral("ffmpeg"), QStringLiteral("exec sleep 13"));
        QElapsedTimer clock;
        clock.start();
        QVERIFY_THROWS_EXCEPTION(
            ScannerError, scanner.decodeToRawPCM(urlOf(file(QStringLiteral("mono.wav"))), 0));
        QVERIFY2(clock.elapsed() >= 9000 && clock.elapsed() < 11500,
                 qPrintable(QString::number(clock.elapsed())));

        int busyQueues = 0;
        for (int i = 0; i < scanOpQueueCount; ++i) {
            try {
                withHardTimeout(scanOpQueue(i), 0.5, [] {});
            } catch (const TimeoutError&) {
                ++busyQueues;
            }
        }
        QCOMPARE(busyQueues, 1);
        QCOMPARE(TestSupport::liveChildren().size(), 1);
    }
};

CHANFUSE_TEST_MAIN(ProbeAndDecodeTest)
#include "tst_probeanddecode.moc"
