#include "TestMain.h"

#include "ConsoleCapture.h"
#include "FakeTools.h"
#include "TestAudio.h"
#include "Workers.h"
#include "exec/AsyncSemaphore.h"
#include "scanner/AudioScanner.h"

#include <QFile>
#include <QTemporaryDir>

#include <thread>
#include <vector>

using TestAudio::tone;

namespace {

// Generous: tool start-up is slow on a loaded two-core machine under sanitizers.
constexpr int analysisDeadlineMs = 120000;

const QString decodeFailure = QStringLiteral("Failed to decode audio file. Is ffmpeg installed?");

QString failureLine(const QString& name) {
    return QStringLiteral("[DEBUG] Scan failed for ") + name + QStringLiteral(": ") + decodeFailure;
}

enum class Selection { unchanged, autoSelectAll, cleared };

struct Outcome {
    QString file;
    QString channels;
    DetectionStatus byteExact;
    DetectionStatus statistical;
    Selection selection;
};

QString describe(const FileItem& item) {
    return QStringLiteral("%1 / %2 / %3")
        .arg(item.channelLabel(), rawValue(item.detectionStatus),
             item.isSelected ? QStringLiteral("selected") : QStringLiteral("not selected"));
}

// Analyses the items as a scan does: each on a worker of its own, two at a
// time (the limits count time spent queued behind other files' tools), while
// this thread applies the writes they post.
bool analyse(const QList<FileItemPtr>& items) {
    return TestSupport::finishOnWorker(
        [items] {
            const AudioScanner scanner(Settings::shared());
            AsyncSemaphore permits(2);
            std::vector<std::jthread> workers;
            for (const FileItemPtr& item : items) {
                workers.emplace_back([&scanner, &permits, item] {
                    if (!permits.waitWithCancellation({}))
                        return;
                    scanner.analyzeFile(item);
                    permits.signal();
                });
            }
        },
        analysisDeadlineMs);
}

} // namespace

class FileAnalysisTest : public QObject {
    Q_OBJECT

    QTemporaryDir folder;

    QString file(const QString& name) const { return folder.filePath(name); }

    FileItemPtr itemFor(const QString& name, bool selected = false) const {
        auto item = std::make_shared<FileItem>(QUrl::fromLocalFile(file(name)));
        item->isSelected = selected;
        return item;
    }

    QList<FileItemPtr> itemsFor(const QStringList& names) const {
        QList<FileItemPtr> items;
        for (const QString& name : names)
            items.append(itemFor(name));
        return items;
    }

    void writeFile(const QString& name, const QByteArray& bytes) const {
        QFile out(file(name));
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(bytes);
    }

    // What every file of the folder must end as; the suffix is "_MONO".
    QList<Outcome> folderOutcomes() const {
        using DS = DetectionStatus;
        using enum Selection;
        const QString stereo = QStringLiteral("Stereo");
        const QString mono = QStringLiteral("Mono");
        return {
            {QStringLiteral("mono.wav"), mono, DS::mono, DS::mono, unchanged},
            {QStringLiteral("fake.wav"), stereo, DS::fakeStereo, DS::fakeStereo, autoSelectAll},
            {QStringLiteral("fake.flac"), stereo, DS::fakeStereo, DS::fakeStereo, autoSelectAll},
            {QStringLiteral("fake.mp3"), stereo, DS::fakeStereo, DS::fakeStereo, autoSelectAll},
            {QStringLiteral("fake.ogg"), stereo, DS::fakeStereo, DS::fakeStereo, autoSelectAll},
            {QStringLiteral("fake.m4a"), stereo, DS::fakeStereo, DS::fakeStereo, autoSelectAll},
            {QStringLiteral("real.wav"), stereo, DS::realStereo, DS::realStereo, cleared},
            // Matching front and surround pairs would downmix to identical
            // channels; the centre would be lost.
            {QStringLiteral("surround.wav"), QStringLiteral("6 ch"), DS::multichannel,
             DS::multichannel, cleared},
            {QStringLiteral("two streams.m4a"), QStringLiteral("2 audio streams"), DS::multichannel,
             DS::multichannel, cleared},
            {QStringLiteral("half level.wav"), stereo, DS::realStereo, DS::fakeStereo,
             autoSelectAll},
            {QStringLiteral("inverted.wav"), stereo, DS::realStereo, DS::realStereo, cleared},
            {QStringLiteral("no frames.wav"), stereo, DS::realStereo, DS::realStereo, cleared},
            {QStringLiteral("Take_MONO.flac"), mono, DS::mono, DS::mono, unchanged},
            {QStringLiteral("take_mono.flac"), stereo, DS::realStereo, DS::realStereo, cleared},
            {QStringLiteral("corrupt.wav"), QStringLiteral("Unknown"), DS::error, DS::error,
             unchanged},
        };
    }

private slots:
    void initTestCase() {
        const QString left = tone(440, 0.5);
        TestAudio::mono(file(QStringLiteral("mono.wav")), 1);
        for (const char* extension : {"wav", "flac", "mp3", "ogg"})
            TestAudio::fakeStereo(file(QStringLiteral("fake.") + QLatin1String(extension)), 1);
        // Noise substitution and intensity stereo would make AAC's channels
        // differ slightly; without them identical input decodes identically.
        TestAudio::generate(file(QStringLiteral("fake.m4a")), {left, left}, 1,
                            {QStringLiteral("-aac_pns"), QStringLiteral("0"),
                             QStringLiteral("-aac_is"), QStringLiteral("0"),
                             QStringLiteral("-aac_ms"), QStringLiteral("1")});
        TestAudio::realStereo(file(QStringLiteral("real.wav")), 1);
        TestAudio::surround(file(QStringLiteral("surround.wav")), 1);
        TestAudio::twoStreams(file(QStringLiteral("two streams.m4a")), 1);
        TestAudio::generate(file(QStringLiteral("half level.wav")), {left, tone(440, 0.25)}, 1);
        TestAudio::generate(file(QStringLiteral("inverted.wav")), {left, tone(440, -0.5)}, 1);
        TestAudio::generate(file(QStringLiteral("no frames.wav")), {left, left}, 0);
        TestAudio::realStereo(file(QStringLiteral("Take_MONO.flac")), 1);
        TestAudio::realStereo(file(QStringLiteral("take_mono.flac")), 1);
        writeFile(QStringLiteral("corrupt.wav"), QByteArray("RIFF????WAVEjunk").repeated(64));
    }

    void init() {
        Settings& settings = Settings::shared();
        settings.setSuffix(QStringLiteral("_MONO"));
        settings.setAppendFilename(true);
        settings.setScanLimitSeconds(5);
        settings.setComparisonMethod(ComparisonMethod::byteExact);
        settings.setAutoSelectAll(true);
    }

    void classifiesEveryKindOfFile_data() {
        QTest::addColumn<ComparisonMethod>("method");
        QTest::addColumn<bool>("autoSelectAll");
        for (ComparisonMethod method : allCases<ComparisonMethod>()) {
            for (bool autoSelect : {true, false}) {
                QTest::addRow("%s, auto-select %s", qPrintable(rawValue(method)),
                              autoSelect ? "on" : "off")
                    << method << autoSelect;
            }
        }
    }

    void classifiesEveryKindOfFile() {
        QFETCH(ComparisonMethod, method);
        QFETCH(bool, autoSelectAll);
        Settings::shared().setComparisonMethod(method);
        Settings::shared().setAutoSelectAll(autoSelectAll);

        // Each item starts with the opposite of the setting, so an untouched
        // selection and one written from the setting cannot be mistaken.
        const QList<Outcome> outcomes = folderOutcomes();
        QList<FileItemPtr> items;
        for (const Outcome& outcome : outcomes)
            items.append(itemFor(outcome.file, !autoSelectAll));

        TestSupport::ConsoleCapture console;
        QVERIFY(analyse(items));
        QCOMPARE(console.lines(), QStringList{failureLine(QStringLiteral("corrupt.wav"))});

        QStringList mismatches;
        for (qsizetype i = 0; i < outcomes.size(); ++i) {
            const Outcome& expected = outcomes[i];
            const FileItem& item = *items[i];
            const DetectionStatus detection =
                method == ComparisonMethod::byteExact ? expected.byteExact : expected.statistical;
            const bool selected = expected.selection == Selection::unchanged ? !autoSelectAll
                                  : expected.selection == Selection::autoSelectAll
                                      ? detection == DetectionStatus::fakeStereo && autoSelectAll
                                      : false;
            if (item.channelLabel() != expected.channels || item.detectionStatus != detection ||
                item.isSelected != selected || item.errorMessage)
                mismatches.append(expected.file + QStringLiteral(": ") + describe(item));
        }
        QVERIFY2(mismatches.isEmpty(), qPrintable(mismatches.join(QStringLiteral("; "))));
    }

    // Writes reach the item only through the GUI thread's event queue.
    void writesWaitForTheGuiThread() {
        const FileItemPtr item = itemFor(QStringLiteral("fake.flac"));
        std::thread([item] { AudioScanner(Settings::shared()).analyzeFile(item); }).join();
        QCOMPARE(item->detectionStatus, DetectionStatus::pending);
        QCOMPARE(item->channelStatus, ChannelStatus::unknown);

        QCoreApplication::sendPostedEvents();
        QCOMPARE(item->channelStatus, ChannelStatus::stereo);
        QCOMPARE(item->detectionStatus, DetectionStatus::fakeStereo);
        QVERIFY(item->isSelected);
    }

    // With a stand-in ffmpeg and ffprobe that note every start and fail, the
    // name alone must decide or the probe must run (and its failure end it).
    void monoByNameStartsNoTool_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<bool>("appendFilename");
        QTest::addColumn<bool>("monoByName");
        QTest::newRow("suffix") << "Take_MONO.flac"
                                << "_MONO" << true << true;
        QTest::newRow("suffix, not appended") << "Take_MONO.flac"
                                              << "_MONO" << false << true;
        QTest::newRow("other letter case") << "take_mono.flac"
                                           << "_MONO" << true << false;
        QTest::newRow("empty suffix") << "Take_MONO.flac"
                                      << "" << true << false;
        QTest::newRow("extension takes no part") << "Take_MONO.flac"
                                                 << "_MONO.flac" << true << false;
    }

    void monoByNameStartsNoTool() {
        QFETCH(QString, name);
        QFETCH(QString, suffix);
        QFETCH(bool, appendFilename);
        QFETCH(bool, monoByName);
        Settings::shared().setSuffix(suffix);
        Settings::shared().setAppendFilename(appendFilename);

        FakeTools tools;
        const QString starts = tools.path(QStringLiteral("starts"));
        for (const char* tool : {"ffmpeg", "ffprobe"})
            tools.script(QString::fromLatin1(tool),
                         QStringLiteral("echo \"$0\" >> '%1'\nexit 1").arg(starts));

        const FileItemPtr item = itemFor(name);
        TestSupport::ConsoleCapture console;
        QVERIFY(analyse({item}));
        const QStringList lines = console.lines();

        if (monoByName) {
            QCOMPARE(item->channelStatus, ChannelStatus::mono);
            QCOMPARE(item->detectionStatus, DetectionStatus::mono);
            QVERIFY(!QFile::exists(starts));
            QVERIFY(lines.isEmpty());
        } else {
            QCOMPARE(item->channelStatus, ChannelStatus::unknown);
            QCOMPARE(item->detectionStatus, DetectionStatus::error);
            QFile started(starts);
            QVERIFY(started.open(QIODevice::ReadOnly));
            QCOMPARE(started.readAll(), (tools.path(QStringLiteral("ffprobe")) + u'\n').toUtf8());
            QCOMPARE(lines, QStringList{failureLine(name)});
        }
    }

    // Without a channel count from ffprobe nothing can be shown to be stereo.
    void missingToolsFailEveryFileNotMonoByName_data() {
        QTest::addColumn<bool>("ffmpegPresent");
        QTest::newRow("no ffmpeg") << false;
        QTest::newRow("no ffprobe beside ffmpeg") << true;
    }

    void missingToolsFailEveryFileNotMonoByName() {
        QFETCH(bool, ffmpegPresent);
        FakeTools tools;
        if (ffmpegPresent)
            tools.realTool(QStringLiteral("ffmpeg"));
        else
            FakeTools::hideEveryFFmpeg();
        const QStringList failing{QStringLiteral("mono.wav"), QStringLiteral("fake.flac"),
                                  QStringLiteral("real.wav"), QStringLiteral("corrupt.wav")};
        const QList<FileItemPtr> items = itemsFor(failing + QStringList{"Take_MONO.flac"});

        TestSupport::ConsoleCapture console;
        QVERIFY(analyse(items));
        QStringList lines = console.lines();

        for (qsizetype i = 0; i < failing.size(); ++i) {
            QCOMPARE(items[i]->detectionStatus, DetectionStatus::error);
            QCOMPARE(items[i]->channelStatus, ChannelStatus::unknown);
            QVERIFY(!items[i]->errorMessage);
        }
        QCOMPARE(items.last()->detectionStatus, DetectionStatus::mono);

        QStringList expected;
        for (const QString& name : failing)
            expected.append(failureLine(name));
        lines.sort();
        expected.sort();
        QCOMPARE(lines, expected);
    }
};

CHANFUSE_TEST_MAIN(FileAnalysisTest)
#include "tst_fileanalysis.moc"
