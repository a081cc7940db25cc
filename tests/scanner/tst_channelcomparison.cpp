#include "TestMain.h"

#include "FakeTools.h"
#include "Processes.h"
#include "TestAudio.h"
#include "exec/TimeLimits.h"
#include "scanner/AudioScanner.h"
#include "scanner/ChannelComparison.h"
#include "scanner/PcmDecode.h"
#include "scanner/ScannerError.h"
#include "scanner/WholeFileComparison.h"

#include <QDataStream>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cmath>
#include <functional>

using namespace Qt::StringLiterals;

namespace {

// Interleaved 16-bit little-endian frames from a per-frame generator.
QByteArray frames(qint64 count, const std::function<std::pair<int, int>(qint64)>& sample) {
    QByteArray data;
    QDataStream out(&data, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    for (qint64 i = 0; i < count; ++i)
        out << qint16(sample(i).first) << qint16(sample(i).second);
    return data;
}

int wave(qint64 i) {
    return int(12000 * std::sin(double(i) * 0.031) + 3000 * std::sin(double(i) * 0.0071));
}

QUrl urlOf(const QString& path) {
    return QUrl::fromLocalFile(path);
}

const QString leftChannel = u"if(lt(t\\,1)\\,0\\,sin(2*PI*440*t))"_s;

} // namespace

class ChannelComparisonTest : public QObject {
    Q_OBJECT

    QTemporaryDir folder;

    QString file(const QString& name) const { return folder.filePath(name); }

private slots:
    void cleanup() { QTRY_VERIFY_WITH_TIMEOUT(TestSupport::liveChildren().isEmpty(), 10000); }

    void verdicts_data() {
        QTest::addColumn<QByteArray>("pcm");
        QTest::addColumn<bool>("byteExact");
        QTest::addColumn<bool>("statistical");

        const qint64 n = 44100;
        QTest::newRow("empty") << QByteArray() << false << false;
        QTest::newRow("three bytes") << QByteArray(3, '\x01') << false << false;
        QTest::newRow("one frame and a stray byte")
            << QByteArray("\x10\x20\x10\x20\x7f", 5) << true << true;
        QTest::newRow("silence") << frames(n, [](qint64) { return std::pair(0, 0); }) << true
                                 << true;
        QTest::newRow("left silent, right offset")
            << frames(n, [](qint64 i) { return std::pair(0, 500 + wave(i) / 100); }) << false
            << false;
        QTest::newRow("identical")
            << frames(n, [](qint64 i) { return std::pair(wave(i), wave(i)); }) << true << true;
        QTest::newRow("last frame off by one") << frames(n, [n](qint64 i) {
            return std::pair(wave(i), wave(i) + (i == n - 1 ? 1 : 0));
        }) << false << true;
        QTest::newRow("half level")
            << frames(n, [](qint64 i) { return std::pair(wave(i), wave(i) / 2); }) << false << true;
        QTest::newRow("inverted") << frames(n, [](qint64 i) {
            return std::pair(wave(i), -wave(i));
        }) << false << false;
        QTest::newRow("same constant")
            << frames(n, [](qint64) { return std::pair(700, 700); }) << true << true;
        QTest::newRow("different constants")
            << frames(n, [](qint64) { return std::pair(700, 701); }) << false << false;
    }

    void verdicts() {
        QFETCH(QByteArray, pcm);
        QFETCH(bool, byteExact);
        QFETCH(bool, statistical);
        QCOMPARE(AudioScanner::compareChannels(pcm, ComparisonMethod::byteExact), byteExact);
        QCOMPARE(AudioScanner::compareChannels(pcm, ComparisonMethod::statistical), statistical);
    }

    void firstDifferenceIsFoundWhereverItIs() {
        const qint64 n = 10000;
        for (qint64 at : {qint64(0), qint64(1), qint64(1023), qint64(1024), qint64(4097), n - 1}) {
            const int bit = at % 2 ? 0x1 : 0x100; // in either byte of the sample
            const QByteArray pcm = frames(n, [at, bit](qint64 i) {
                return std::pair(wave(i), wave(i) ^ (i == at ? bit : 0));
            });
            QCOMPARE(firstDifferingFrame(reinterpret_cast<const uchar*>(pcm.constData()), n), at);
        }
    }

    // The left channel is silent for a second, then a full-level tone. The
    // statistical method judges every second on its own: one second of real
    // stereo after many fake ones is refused where it starts; silent seconds
    // are skipped.
    void theDecodeIsJudgedWhole_data() {
        QTest::addColumn<ComparisonMethod>("method");
        QTest::addColumn<QString>("right");
        QTest::addColumn<qint64>("differingSecond"); // -1: the channels match
        for (ComparisonMethod method : allCases<ComparisonMethod>())
            QTest::addRow("%s, fake stereo after silence", qPrintable(rawValue(method)))
                << method << leftChannel << qint64(-1);
        QTest::newRow("byte-exact, real stereo after silence")
            << ComparisonMethod::byteExact << u"if(lt(t\\,1)\\,0\\,sin(2*PI*660*t))"_s << qint64(1);
        QTest::newRow("half level, silent first second")
            << ComparisonMethod::statistical << u"if(lt(t\\,1)\\,0\\,0.5*sin(2*PI*440*t))"_s
            << qint64(-1);
        QTest::newRow("noise below -60 dBFS in the silent second")
            << ComparisonMethod::statistical
            << u"if(lt(t\\,1)\\,0.0005*sin(2*PI*3000*t)\\,sin(2*PI*440*t))"_s << qint64(-1);
        QTest::newRow("last second real stereo")
            << ComparisonMethod::statistical
            << QStringLiteral(
                   "if(lt(t\\,1)\\,0\\,if(lt(t\\,5)\\,sin(2*PI*440*t)\\,sin(2*PI*660*t)))")
            << qint64(5);
        QTest::newRow("one channel silent in the second second")
            << ComparisonMethod::statistical << u"if(lt(t\\,2)\\,0\\,sin(2*PI*440*t))"_s
            << qint64(1);
    }
    void theDecodeIsJudgedWhole() {
        QFETCH(ComparisonMethod, method);
        QFETCH(QString, right);
        QFETCH(qint64, differingSecond);
        const QString path = file(u"%1.flac"_s.arg(QTest::currentDataTag()));
        TestAudio::generate(path, {leftChannel, right}, 6);
        const WholeFileVerdict verdict = compareWholeFile(urlOf(path), method, 30);
        if (differingSecond < 0) {
            QVERIFY(verdict.channelsMatch);
            QCOMPARE(verdict.framesCompared, 6 * pcmFramesPerSecond);
            QVERIFY(!verdict.firstDifferingFrame);
            return;
        }
        QVERIFY(!verdict.channelsMatch);
        QVERIFY(verdict.firstDifferingFrame);
        QCOMPARE(*verdict.firstDifferingFrame / pcmFramesPerSecond, differingSecond);
        // The decode stopped at the difference instead of reading the rest.
        if (method == ComparisonMethod::byteExact)
            QCOMPARE(verdict.framesCompared, *verdict.firstDifferingFrame + 1);
    }

    void framesSplitAcrossChunksAreReassembled() {
        // Chunks of 4099 bytes, so nearly every one ends inside a frame.
        const qint64 frames = 50000;
        const qint64 differing = 40321;
        QByteArray pcm(frames * 4, '\0');
        for (qint64 i = 0; i < frames; ++i) {
            const char value = char(i * 37 % 200);
            pcm[i * 4] = pcm[i * 4 + 2] = value;
            pcm[i * 4 + 1] = pcm[i * 4 + 3] = char(i % 7);
        }
        pcm[differing * 4 + 3] = char(pcm[differing * 4 + 3] + 1);
        for (ComparisonMethod method : allCases<ComparisonMethod>()) {
            WholeFileComparer comparer(method);
            for (qsizetype at = 0; at < pcm.size(); at += 4099)
                if (!comparer.feed(
                        QByteArrayView(pcm).sliced(at, qMin<qsizetype>(4099, pcm.size() - at))))
                    break;
            const WholeFileVerdict verdict = comparer.verdict();
            if (method == ComparisonMethod::byteExact)
                QCOMPARE(verdict.firstDifferingFrame, differing);
            else
                QCOMPARE(verdict.framesCompared, frames);
        }
    }

    void aFailedDecodeIsAnError() {
        QFile noise(file(u"noise.wav"_s));
        QVERIFY(noise.open(QIODevice::WriteOnly));
        noise.write(QByteArray(4096, 'n'));
        noise.close();
        QVERIFY_THROWS_EXCEPTION(ScannerError, compareWholeFile(urlOf(noise.fileName()),
                                                                ComparisonMethod::byteExact, 30));

        FakeTools tools;
        FakeTools::hideEveryFFmpeg();
        QVERIFY_THROWS_EXCEPTION(ScannerError, compareWholeFile(urlOf(noise.fileName()),
                                                                ComparisonMethod::byteExact, 30));
    }

    void aHungDecoderTimesOutAtTheLimit() {
        FakeTools tools;
        tools.script(u"ffmpeg"_s, u"exec sleep 30"_s);
        QElapsedTimer clock;
        clock.start();
        QVERIFY_THROWS_EXCEPTION(TimeoutError, compareWholeFile(urlOf(file(u"any.wav"_s)),
                                                                ComparisonMethod::byteExact, 1));
        QVERIFY2(clock.elapsed() >= 1000 && clock.elapsed() < 2500,
                 qPrintable(QString::number(clock.elapsed())));
        // Killed at the limit, not left to run on.
        QTRY_VERIFY_WITH_TIMEOUT(TestSupport::liveChildren().isEmpty(), 1000);
    }
};

CHANFUSE_TEST_MAIN(ChannelComparisonTest)
#include "tst_channelcomparison.moc"
