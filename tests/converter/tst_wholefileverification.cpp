#include "TestMain.h"

#include "FakeTools.h"
#include "LogLines.h"
#include "Processes.h"
#include "TestAudio.h"
#include "TestFiles.h"
#include "Workers.h"
#include "converter/AudioConverter.h"
#include "scanner/AudioScanner.h"
#include "scanner/PcmDecode.h"
#include "scanner/WholeFileComparison.h"

#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>

namespace {

// Until `until` seconds `intro`, then `tail`.
QString until(double until, const QString& intro, const QString& tail) {
    return QStringLiteral("if(lt(t\\,%1)\\,%2\\,%3)").arg(until).arg(intro, tail);
}

QString silentUntil(double from, const QString& tail) {
    return until(from, QStringLiteral("0"), tail);
}

} // namespace

// The scan looks at the first seconds only; the conversion run judges the
// whole decode as it comes and commits nothing unless every frame passed.
class WholeFileVerificationTest : public QObject {
    Q_OBJECT

    Settings& settings = Settings::shared();

private slots:
    void init() {
        QSettings store(QStringLiteral("Chanfuse"), QStringLiteral("Chanfuse"));
        store.clear();
        settings.setConvertBehavior(ConvertBehavior::overwrite);
    }

    void cleanup() { QTRY_VERIFY_WITH_TIMEOUT(TestSupport::liveChildren().isEmpty(), 15000); }

    void theWholeFileDecidesBeforeAnythingIsCommitted_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("channels");
        QTest::addColumn<double>("seconds");
        QTest::addColumn<ComparisonMethod>("method");
        QTest::addColumn<DetectionStatus>("scanned");
        QTest::addColumn<QString>("expected"); // empty: converted
        const QString low = TestAudio::tone(440, 0.5);
        const QString intro = TestAudio::tone(330, 0.5);
        QTest::newRow("silent intro, then real stereo")
            << QStringLiteral("hidden track.wav")
            << QStringList{silentUntil(6, TestAudio::tone(440)),
                           silentUntil(6, TestAudio::tone(660))}
            << 8.0 << ComparisonMethod::byteExact << DetectionStatus::realStereo
            << QStringLiteral("Not converted: channels differ at 0:06");
        QTest::newRow("mono intro, then real stereo")
            << QStringLiteral("intro.flac")
            << QStringList{until(7, intro, low), until(7, intro, TestAudio::tone(550, 0.5))} << 9.0
            << ComparisonMethod::byteExact << DetectionStatus::fakeStereo
            << QStringLiteral("Not converted: channels differ at 0:07");
        QTest::newRow("differs after 5 minutes")
            << QStringLiteral("long.flac")
            << QStringList{low, until(300, low, TestAudio::tone(660, 0.5))} << 320.0
            << ComparisonMethod::byteExact << DetectionStatus::fakeStereo
            << QStringLiteral("Not converted: channels differ at 5:00");
        QTest::newRow("statistical, real stereo at the end")
            << QStringLiteral("tail.flac")
            << QStringList{TestAudio::tone(440, 0.8),
                           until(6, TestAudio::tone(440, 0.4), TestAudio::tone(660, 0.8))}
            << 8.0 << ComparisonMethod::statistical << DetectionStatus::fakeStereo
            << QStringLiteral("Not converted: channels differ at 0:06");
        QTest::newRow("fake stereo after long silence")
            << QStringLiteral("late.wav") << QStringList{silentUntil(10, low), silentUntil(10, low)}
            << 12.0 << ComparisonMethod::byteExact << DetectionStatus::fakeStereo << QString();
        QTest::newRow("statistical, one channel at half level")
            << QStringLiteral("scaled.flac")
            << QStringList{TestAudio::tone(440, 0.8), TestAudio::tone(440, 0.4)} << 4.0
            << ComparisonMethod::statistical << DetectionStatus::fakeStereo << QString();
    }
    void theWholeFileDecidesBeforeAnythingIsCommitted() {
        QFETCH(QString, name);
        QFETCH(QStringList, channels);
        QFETCH(double, seconds);
        QFETCH(ComparisonMethod, method);
        QFETCH(DetectionStatus, scanned);
        QFETCH(QString, expected);
        settings.setComparisonMethod(method);
        QTemporaryDir folder;
        const QString path = folder.filePath(name);
        TestAudio::generate(path, channels, seconds);
        const auto item = std::make_shared<FileItem>(QUrl::fromLocalFile(path));
        AudioScanner scanner(settings);
        QVERIFY(TestSupport::finishOnWorker([&] { scanner.analyzeFile(item); }, 60000));
        QCOMPARE(item->detectionStatus, scanned);

        // The real ffmpeg, marking a run that ended by itself.
        FakeTools tools;
        const QString ended = tools.path(QStringLiteral("ended"));
        tools.conversionScript(QStringLiteral("/usr/bin/ffmpeg \"$@\"; touch '%1'").arg(ended));
        const auto before = TestFiles::snapshot(folder.path());
        LogLines log;
        std::optional<QString> result;
        QVERIFY(TestSupport::finishOnWorker(
            [&] { result = AudioConverter(settings).convertToMono(item, log.callback()); }, 60000));

        if (expected.isEmpty()) {
            QCOMPARE(result, std::nullopt);
            QVERIFY(log.all().contains(QStringLiteral("Verified: channels identical over ") +
                                       minutesAndSeconds(qint64(seconds) * pcmFramesPerSecond)));
            const QFileInfo input(path);
            const QString output = folder.filePath(input.completeBaseName() +
                                                   QStringLiteral("_MONO.") + input.suffix());
            QCOMPARE(TestAudio::channelsOf(output), 1);
            return;
        }
        QCOMPARE(result, expected);
        QCOMPARE(TestFiles::snapshot(folder.path()), before);
        QCOMPARE(item->convertedSize, 0);
        // Killed at the difference with its whole process group: the
        // wrapper never got to mark an end, and nothing it started lives on.
        QVERIFY(!QFile::exists(ended));
        QVERIFY(log.startingWith(QStringLiteral("ffmpeg exited with status")).isEmpty());
        QVERIFY(TestSupport::liveChildren().isEmpty());
    }
};

CHANFUSE_TEST_MAIN(WholeFileVerificationTest)
#include "tst_wholefileverification.moc"
