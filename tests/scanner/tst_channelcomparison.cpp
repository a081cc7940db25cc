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

// The left and right sample of each frame.
using Generator = std::function<std::pair<double, double>(qint64)>;
Q_DECLARE_METATYPE(Generator)

constexpr PcmSamples allSampleForms[] = {PcmSamples::s16, PcmSamples::s32, PcmSamples::f32,
                                         PcmSamples::f64};

namespace {

// Interleaved frames of decoded PCM in the form `samples`, from a per-frame
// generator at full scale 1.
QByteArray frames(qint64 count, const Generator& sample, PcmSamples samples) {
    QByteArray data;
    QDataStream out(&data, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    out.setFloatingPointPrecision(samples == PcmSamples::f32 ? QDataStream::SinglePrecision
                                                             : QDataStream::DoublePrecision);
    const auto write = [&](double value) {
        switch (samples) {
        case PcmSamples::s16:
            out << qint16(qBound(-32768.0, std::round(value * 32768), 32767.0));
            break;
        case PcmSamples::s32:
            out << qint32(qBound(-2147483648.0, std::round(value * 2147483648.0), 2147483647.0));
            break;
        case PcmSamples::f32:
            out << float(value);
            break;
        case PcmSamples::f64:
            out << value;
            break;
        }
    };
    for (qint64 i = 0; i < count; ++i) {
        write(sample(i).first);
        write(sample(i).second);
    }
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

    // The statistical rows are judged as a lossy file's decode is. Each form
    // the samples come in gives the same verdicts.
    void verdicts_data() {
        QTest::addColumn<Generator>("pcm");
        QTest::addColumn<bool>("byteExact");
        QTest::addColumn<bool>("statistical");

        const auto row = [](const char* tag, const Generator& pcm, bool exact, bool lossy) {
            QTest::newRow(tag) << pcm << exact << lossy;
        };
        row(
            "silence", [](qint64) { return std::pair(0.0, 0.0); }, true, true);
        row(
            "identical", [](qint64 i) { return std::pair(wave(i), wave(i)); }, true, true);
        // What Opus leaves of identical channels in noisy passages.
        row(
            "80 dB apart",
            [](qint64 i) { return std::pair(wave(i), wave(i) + 3e-5 * noise(i, 1)); }, false, true);
        row(
            "0.1 dB lower", [](qint64 i) { return std::pair(wave(i), wave(i) * 0.9886); }, false,
            false);
        row(
            "-70 dBFS noise bed",
            [](qint64 i) { return std::pair(wave(i), wave(i) + 4.5e-4 * noise(i, 1)); }, false,
            false);
        row(
            "-65 dBFS real stereo",
            [](qint64 i) { return std::pair(1.9e-3 * wave(i), 1.9e-3 * wave(i + 7)); }, false,
            false);
    }

    void verdicts() {
        QFETCH(Generator, pcm);
        QFETCH(bool, byteExact);
        QFETCH(bool, statistical);
        for (PcmSamples samples : allSampleForms) {
            const QByteArray data = frames(44100, pcm, samples);
            QCOMPARE(
                AudioScanner::compareChannels(data, {ComparisonMethod::byteExact, 44100, samples}),
                byteExact);
            QCOMPARE(AudioScanner::compareChannels(data,
                                                   {ComparisonMethod::statistical, 44100, samples}),
                     statistical);
        }
    }

    void firstDifferenceIsFoundWhereverItIs() {
        const qint64 n = 10000;
        for (PcmSamples samples : allSampleForms) {
            const QByteArray same = frames(
                n, [](qint64 i) { return std::pair(wave(i), wave(i)); }, samples);
            const qint64 frameSize = frameBytes(samples);
            for (qint64 at :
                 {qint64(0), qint64(1), qint64(511), qint64(512), qint64(4097), n - 1}) {
                // In the lowest or the highest bit of the right sample.
                QByteArray pcm = same;
                const qint64 right = at * frameSize + frameSize / 2;
                pcm[right + (at % 2 ? 0 : frameSize / 2 - 1)] ^= char(at % 2 ? 0x01 : 0x80);
                QCOMPARE(firstDifferingFrame(reinterpret_cast<const uchar*>(pcm.constData()), n,
                                             samples),
                         at);
            }
        }
    }

    void framesSplitAcrossChunksAreReassembled() {
        // Chunks of 4099 bytes, so nearly every one ends inside a frame.
        const qint64 count = 50000;
        const qint64 differing = 40321;
        for (PcmSamples samples : allSampleForms) {
            const QByteArray pcm = frames(
                count,
                [](qint64 i) { return std::pair(wave(i), wave(i) + (i == differing ? 0.5 : 0)); },
                samples);
            for (ComparisonMethod method : allCases<ComparisonMethod>()) {
                WholeFileComparer comparer({method, 44100, samples});
                for (qsizetype at = 0; at < pcm.size(); at += 4099)
                    if (!comparer.feed(
                            QByteArrayView(pcm).sliced(at, qMin<qsizetype>(4099, pcm.size() - at))))
                        break;
                const WholeFileVerdict verdict = comparer.verdict();
                QCOMPARE(verdict.firstDifferingFrame,
                         method == ComparisonMethod::byteExact ? differing : 0);
            }
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
