// SPDX-License-Identifier: GPL-3.0-or-later

#include "TestMain.h"

#include "FakeTools.h"
#include "Processes.h"
#include "TestAudio.h"
#include "exec/TimeLimits.h"
#include "scanner/AudioScanner.h"
#include "scanner/ChannelComparison.h"
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

// Interleaved frames of the decoded PCM from a per-frame generator.
QByteArray frames(qint64 count, const std::function<std::pair<double, double>(qint64)>& sample) {
    QByteArray data;
    QDataStream out(&data, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    out.setFloatingPointPrecision(QDataStream::DoublePrecision);
    for (qint64 i = 0; i < count; ++i)
        out << sample(i).first << sample(i).second;
    return data;
}

double wave(qint64 i) {
    return 0.4 * std::sin(double(i) * 0.031) + 0.1 * std::sin(double(i) * 0.0071);
}

// Independent noise for each channel, in [-1, 1).
double noise(qint64 i, int channel) {
    return double((i * 7919 + channel * 104729) * 2654435761 % 65536) / 32768 - 1;
}

QUrl urlOf(const QString& path) {
    return QUrl::fromLocalFile(path);
}

} // namespace

class ChannelComparisonTest : public QObject {
    Q_OBJECT

    QTemporaryDir folder;

    QString file(const QString& name) const { return folder.filePath(name); }

private slots:
    void cleanup() { QTRY_VERIFY_WITH_TIMEOUT(TestSupport::liveChildren().isEmpty(), 10000); }

    // The statistical rows are judged as a lossy file's decode is.
    void verdicts_data() {
        QTest::addColumn<QByteArray>("pcm");
        QTest::addColumn<bool>("byteExact");
        QTest::addColumn<bool>("statistical");

        const qint64 n = 44100;
        const auto row = [](const char* tag, const QByteArray& pcm, bool exact, bool lossy) {
            QTest::newRow(tag) << pcm << exact << lossy;
        };
        row("silence", frames(n, [](qint64) { return std::pair(0.0, 0.0); }), true, true);
        row("identical", frames(n, [](qint64 i) { return std::pair(wave(i), wave(i)); }), true,
            true);
        // What Opus leaves of identical channels in noisy passages.
        row("80 dB apart",
            frames(n, [](qint64 i) { return std::pair(wave(i), wave(i) + 3e-5 * noise(i, 1)); }),
            false, true);
        row("0.1 dB lower",
            frames(n, [](qint64 i) { return std::pair(wave(i), wave(i) * 0.9886); }), false, false);
        row("-70 dBFS noise bed",
            frames(n, [](qint64 i) { return std::pair(wave(i), wave(i) + 4.5e-4 * noise(i, 1)); }),
            false, false);
        row("-65 dBFS real stereo",
            frames(n, [](qint64 i) { return std::pair(1.9e-3 * wave(i), 1.9e-3 * wave(i + 7)); }),
            false, false);
    }

    void verdicts() {
        QFETCH(QByteArray, pcm);
        QFETCH(bool, byteExact);
        QFETCH(bool, statistical);
        QCOMPARE(AudioScanner::compareChannels(pcm, {ComparisonMethod::byteExact, 44100}),
                 byteExact);
        QCOMPARE(AudioScanner::compareChannels(pcm, {ComparisonMethod::statistical, 44100}),
                 statistical);
    }

    void firstDifferenceIsFoundWhereverItIs() {
        const qint64 n = 10000;
        for (qint64 at : {qint64(0), qint64(1), qint64(511), qint64(512), qint64(4097), n - 1}) {
            const QByteArray pcm = frames(n, [at](qint64 i) {
                // In the lowest or the highest bit of the sample.
                const double right = i != at  ? wave(i)
                                     : at % 2 ? std::nextafter(wave(i), 1.0)
                                              : -wave(i);
                return std::pair(wave(i), right);
            });
            QCOMPARE(firstDifferingFrame(reinterpret_cast<const uchar*>(pcm.constData()), n), at);
        }
    }

    void framesSplitAcrossChunksAreReassembled() {
        // Chunks of 4099 bytes, so nearly every one ends inside a frame.
        const qint64 count = 50000;
        const qint64 differing = 40321;
        const QByteArray pcm = frames(count, [](qint64 i) {
            return std::pair(wave(i), wave(i) + (i == differing ? 0.5 : 0));
        });
        for (ComparisonMethod method : allCases<ComparisonMethod>()) {
            WholeFileComparer comparer({method, 44100});
            for (qsizetype at = 0; at < pcm.size(); at += 4099)
                if (!comparer.feed(
                        QByteArrayView(pcm).sliced(at, qMin<qsizetype>(4099, pcm.size() - at))))
                    break;
            const WholeFileVerdict verdict = comparer.verdict();
            QCOMPARE(verdict.firstDifferingFrame,
                     method == ComparisonMethod::byteExact ? differing : 0);
        }
    }

    void aFailedDecodeIsAnError() {
        QFile noise(file(u"noise.wav"_s));
        QVERIFY(noise.open(QIODevice::WriteOnly));
        noise.write(QByteArray(4096, 'n'));
        noise.close();
        QVERIFY_THROWS_EXCEPTION(
            ScannerError,
            compareWholeFile(urlOf(noise.fileName()), {ComparisonMethod::byteExact, 1}, 30));

        FakeTools tools;
        FakeTools::hideEveryFFmpeg();
        QVERIFY_THROWS_EXCEPTION(
            ScannerError,
            compareWholeFile(urlOf(noise.fileName()), {ComparisonMethod::byteExact, 1}, 30));
    }

    void aHungDecoderTimesOutAtTheLimit() {
        FakeTools tools;
        tools.script(u"ffmpeg"_s, u"exec sleep 30"_s);
        QElapsedTimer clock;
        clock.start();
        QVERIFY_THROWS_EXCEPTION(
            TimeoutError,
            compareWholeFile(urlOf(file(u"any.wav"_s)), {ComparisonMethod::byteExact, 1}, 1));
        QVERIFY2(clock.elapsed() >= 1000 && clock.elapsed() < 2500,
                 qPrintable(QString::number(clock.elapsed())));
        // Killed at the limit, not left to run on.
        QTRY_VERIFY_WITH_TIMEOUT(TestSupport::liveChildren().isEmpty(), 1000);
    }
};

CHANFUSE_TEST_MAIN(ChannelComparisonTest)
#include "tst_channelcomparison.moc"
