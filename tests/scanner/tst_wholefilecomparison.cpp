#include "TestMain.h"

#include "FakeTools.h"
#include "Processes.h"
#include "TestAudio.h"
#include "exec/HardTimeout.h"
#include "scanner/PcmDecode.h"
#include "scanner/ScannerError.h"
#include "scanner/WholeFileComparison.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

namespace {

QUrl urlOf(const QString& path) {
    return QUrl::fromLocalFile(path);
}

// Channel expressions that are silent, then `tail` from `from` seconds on.
QString after(double from, const QString& tail) {
    return QStringLiteral("if(gte(t\\,%1)\\,%2\\,0)").arg(from).arg(tail);
}

} // namespace

class WholeFileComparisonTest : public QObject {
    Q_OBJECT

    QTemporaryDir folder;

    QString file(const QString& name) const { return folder.filePath(name); }

private slots:
    void cleanup() { QTRY_VERIFY_WITH_TIMEOUT(TestSupport::liveChildren().isEmpty(), 10000); }

    void stereoAfterSilenceIsFoundWhereItStarts() {
        const QString path = file(QStringLiteral("hidden track.flac"));
        TestAudio::generate(path, {after(6, TestAudio::tone(440)), after(6, TestAudio::tone(660))},
                            9);
        const WholeFileVerdict verdict =
            compareWholeFile(urlOf(path), ComparisonMethod::byteExact, 30);
        QVERIFY(!verdict.channelsMatch);
        QVERIFY(verdict.firstDifferingFrame);
        QCOMPARE(minutesAndSeconds(*verdict.firstDifferingFrame), QStringLiteral("0:06"));
        // The decode stopped at the difference instead of reading the rest.
        QCOMPARE(verdict.framesCompared, *verdict.firstDifferingFrame + 1);
    }

    void fakeStereoAfterSilenceMatchesOverTheWholeFile() {
        const QString path = file(QStringLiteral("late start.wav"));
        const QString late = after(10, TestAudio::tone(440));
        TestAudio::generate(path, {late, late}, 12);
        for (ComparisonMethod method : allCases<ComparisonMethod>()) {
            const WholeFileVerdict verdict = compareWholeFile(urlOf(path), method, 30);
            QVERIFY(verdict.channelsMatch);
            QCOMPARE(verdict.framesCompared, 12 * pcmFramesPerSecond);
            QVERIFY(!verdict.firstDifferingFrame);
        }
    }

    // Every second must pass on its own: one second of real stereo after
    // many fake ones is refused where it starts; silent seconds are skipped.
    // The left channel is silent for a second, then a full-level tone.
    void statisticalMethodJudgesEachSecond_data() {
        QTest::addColumn<QString>("right");
        QTest::addColumn<qint64>("differingSecond"); // -1: the channels match
        QTest::newRow("half level, silent first second")
            << QStringLiteral("if(lt(t\\,1)\\,0\\,0.5*sin(2*PI*440*t))") << qint64(-1);
        QTest::newRow("noise below -60 dBFS in the silent second")
            << QStringLiteral("if(lt(t\\,1)\\,0.0005*sin(2*PI*3000*t)\\,sin(2*PI*440*t))")
            << qint64(-1);
        QTest::newRow("last second real stereo")
            << QStringLiteral(
                   "if(lt(t\\,1)\\,0\\,if(lt(t\\,5)\\,sin(2*PI*440*t)\\,sin(2*PI*660*t)))")
            << qint64(5);
        QTest::newRow("one channel silent in the second second")
            << QStringLiteral("if(lt(t\\,2)\\,0\\,sin(2*PI*440*t))") << qint64(1);
    }

    void statisticalMethodJudgesEachSecond() {
        QFETCH(QString, right);
        QFETCH(qint64, differingSecond);
        const QString path = file(QStringLiteral("%1.flac").arg(QTest::currentDataTag()));
        TestAudio::generate(path, {QStringLiteral("if(lt(t\\,1)\\,0\\,sin(2*PI*440*t))"), right},
                            6);
        const WholeFileVerdict verdict =
            compareWholeFile(urlOf(path), ComparisonMethod::statistical, 30);
        if (differingSecond < 0) {
            QVERIFY(verdict.channelsMatch);
            QCOMPARE(verdict.framesCompared, 6 * pcmFramesPerSecond);
            return;
        }
        QVERIFY(!verdict.channelsMatch);
        QCOMPARE(verdict.firstDifferingFrame, differingSecond * pcmFramesPerSecond);
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
                if (!comparer.feed(QByteArrayView(pcm).mid(at, 4099)))
                    break;
            const WholeFileVerdict verdict = comparer.verdict();
            if (method == ComparisonMethod::byteExact)
                QCOMPARE(verdict.firstDifferingFrame, differing);
            else
                QCOMPARE(verdict.framesCompared, frames);
        }
    }

    void aFailedDecodeIsAnError() {
        QFile noise(file(QStringLiteral("noise.wav")));
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
        tools.script(QStringLiteral("ffmpeg"), QStringLiteral("exec sleep 30"));
        QElapsedTimer clock;
        clock.start();
        QVERIFY_THROWS_EXCEPTION(TimeoutError,
                                 compareWholeFile(urlOf(file(QStringLiteral("any.wav"))),
                                                  ComparisonMethod::byteExact, 1));
        QVERIFY2(clock.elapsed() >= 1000 && clock.elapsed() < 2500,
                 qPrintable(QString::number(clock.elapsed())));
        // Killed at the limit, not left to run on.
        QTRY_VERIFY_WITH_TIMEOUT(TestSupport::liveChildren().isEmpty(), 1000);
    }

    void positionsReadAsMinutesAndSeconds() {
        QCOMPARE(minutesAndSeconds(0), QStringLiteral("0:00"));
        QCOMPARE(minutesAndSeconds(7 * pcmFramesPerSecond + 44099), QStringLiteral("0:07"));
        QCOMPARE(minutesAndSeconds(725 * pcmFramesPerSecond), QStringLiteral("12:05"));
    }
};

CHANFUSE_TEST_MAIN(WholeFileComparisonTest)
#include "tst_wholefilecomparison.moc"
