#include "TestMain.h"

#include "scanner/AudioScanner.h"
#include "scanner/ChannelComparison.h"

#include <QDataStream>

#include <cmath>
#include <functional>

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

} // namespace

class ChannelComparisonTest : public QObject {
    Q_OBJECT

private slots:
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
        QTest::newRow("unrelated")
            << frames(n, [](qint64 i) { return std::pair(wave(i), wave(i * 7 + 13)); }) << false
            << false;
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

    void sumsAddedChunkByChunkAgreeWithOnePass() {
        const QByteArray pcm =
            frames(30000, [](qint64 i) { return std::pair(wave(i), wave(i) / 2 + 11); });
        const auto* bytes = reinterpret_cast<const uchar*>(pcm.constData());
        ChannelSums whole;
        whole.add(bytes, 30000);
        ChannelSums chunked;
        chunked.add(bytes, 1234);
        chunked.add(bytes + 1234 * 4, 30000 - 1234);
        QCOMPARE(chunked.correlation(), whole.correlation());
        QVERIFY(whole.correlation() > 0.999);
        QVERIFY(whole.channelsMatch());
    }
};

CHANFUSE_TEST_MAIN(ChannelComparisonTest)
#include "tst_channelcomparison.moc"
