#include "TestMain.h"

#include "FakeTools.h"
#include "TestAudio.h"
#include "TestFiles.h"
#include "ViewModelLog.h"
#include "model/Settings.h"
#include "viewmodel/ContentViewModel.h"
#include "viewmodel/DesktopServices.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>

using namespace ViewModelLog;

namespace {

constexpr int deadlineMs = 60000;

QUrl url(const QString& path) {
    return QUrl::fromLocalFile(path);
}

QStringList sortedNames(const QList<FileItemPtr>& items) {
    QStringList names;
    for (const FileItemPtr& item : items)
        names.append(item->fileName);
    names.sort();
    return names;
}

// Answers the folder dialog as told and remembers where it opened.
class FakeDesktop : public DesktopServices {
public:
    std::optional<QUrl> answer;
    QStringList startFolders;
    QList<QUrl> revealed;

    std::optional<QUrl> chooseFolder(const QString& title, const QString& startFolder) override {
        startFolders.append(title + u':' + startFolder);
        return answer;
    }
    void revealFile(const QUrl& file) override { revealed.append(file); }
};

// Four fake stereo files whose probes wait for a release file, under tools
// that record each analysis: "+" when a probe starts, "-" when a decode ends.
class GatedScan {
public:
    QTemporaryDir root;
    const QString folder = root.filePath(QStringLiteral("gated"));
    const QString toolLog = root.filePath(QStringLiteral("tools.log"));
    const QString release = root.filePath(QStringLiteral("release"));

    GatedScan() {
        QDir().mkpath(folder);
        TestAudio::fakeStereo(folder + QStringLiteral("/take1.wav"), 0.5);
        for (int index = 2; index <= 4; ++index)
            QFile::copy(folder + QStringLiteral("/take1.wav"),
                        folder + QStringLiteral("/take%1.wav").arg(index));
    }

    // Fresh records, closed gate.
    void install(FakeTools& tools) const {
        QFile::remove(toolLog);
        QFile::remove(release);
        tools.script(QStringLiteral("ffprobe"),
                     QStringLiteral("echo + >> '%1'\n"
                                    "case \"$*\" in *gated*)\n"
                                    "  while [ ! -e '%2' ]; do sleep 0.05; done;;\n"
                                    "esac\n"
                                    "sleep 0.2\n"
                                    "exec /usr/bin/ffprobe \"$@\"")
                         .arg(toolLog, release));
        tools.script(
            QStringLiteral("ffmpeg"),
            QStringLiteral("/usr/bin/ffmpeg \"$@\"\nstatus=$?\necho - >> '%1'\nexit $status")
                .arg(toolLog));
    }

    void open() const { TestFiles::writeFile(release, "go"); }

    QByteArrayList recorded() const { return TestFiles::contentsOf(toolLog).split('\n'); }

    int mostAtOnce() const {
        int running = 0;
        int most = 0;
        for (const QByteArray& line : recorded())
            most = std::max(most, running += line == "+" ? 1 : line == "-" ? -1 : 0);
        return most;
    }
};

} // namespace

// Folder scans and drops through the view model, with real tools on real
// files; what the scanner makes of each file is proven in its own tests.
class ViewModelScanTest : public QObject {
    Q_OBJECT

    QTemporaryDir root;
    GatedScan gated;
    QString mixed; // two fake stereo (one a folder deeper), real stereo, a text file
    QString pair;  // one fake stereo, one mono
    QString loose; // fake, real, mono, and a video with PCM audio

    QString makeFolder(const QString& name) {
        const QString path = root.filePath(name);
        QDir().mkpath(path);
        return path;
    }

private slots:
    void initTestCase() {
        mixed = makeFolder(QStringLiteral("Mixed"));
        TestAudio::fakeStereo(mixed + QStringLiteral("/twins.wav"), 0.5);
        TestAudio::realStereo(mixed + QStringLiteral("/wide.flac"), 0.5);
        makeFolder(QStringLiteral("Mixed/deeper"));
        TestAudio::fakeStereo(mixed + QStringLiteral("/deeper/copy.flac"), 0.5);
        TestFiles::writeFile(mixed + QStringLiteral("/notes.txt"), "not audio");
        pair = makeFolder(QStringLiteral("Pair"));
        TestAudio::fakeStereo(pair + QStringLiteral("/left.wav"), 0.5);
        TestAudio::mono(pair + QStringLiteral("/right.wav"), 0.5);
        loose = makeFolder(QStringLiteral("Loose"));
        TestAudio::fakeStereo(loose + QStringLiteral("/one.wav"), 0.5);
        TestAudio::realStereo(loose + QStringLiteral("/two.flac"), 0.5);
        TestAudio::mono(loose + QStringLiteral("/three.wav"), 0.5);
        QFile::copy(loose + QStringLiteral("/one.wav"), loose + QStringLiteral("/clip.mov"));
    }

    void init() {
        Settings::shared().setParallelScans(2);
        Settings::shared().setAutoSelectAll(false);
        Settings::shared().setSuffix(QStringLiteral("_MONO"));
    }

    void startScanWithoutAFolderOnlyLogs() {
        ContentViewModel model;
        model.startScan();
        model.startScanFolders({});
        QCOMPARE(messages(model), QStringList{QStringLiteral("Scan: no folder selected")});
        QVERIFY(!model.isScanning());
    }

    void scanOfAMixedFolder() {
        ContentViewModel model;
        QSignalSpy finished(&model, &ContentViewModel::scanFinished);
        model.startScanFolders({url(mixed)});
        QVERIFY(model.isScanning());
        QCOMPARE(model.scannedFolders(), QStringList{QStringLiteral("Mixed")});
        QCOMPARE(model.selectedFolder(), std::optional(url(mixed)));
        QVERIFY(finished.wait(deadlineMs));
        QVERIFY(!model.isScanning());
        QCOMPARE(model.totalCount(), 3);
        QCOMPARE(model.scannedCount(), 3);
        QCOMPARE(model.currentScanningFile(), std::nullopt);
        // With autoSelectAll off, the scan's end selects the fake stereo items.
        for (const FileItemPtr& item : model.items())
            QCOMPARE(item->isSelected, item->detectionStatus == DetectionStatus::fakeStereo);
        QCOMPARE(model.fakeStereoCount(), 2);

        const QStringList log = messages(model);
        QCOMPARE(log.mid(0, 2), (QStringList{"Starting scan of 1 folder(s)",
                                             "Found 3 audio files across 1 folder(s)"}));
        // "Scanned 1/3: …" onwards, in whatever order the analyses ended.
        QStringList scanned;
        for (int index = 0; index < 3; ++index) {
            const QString prefix = QStringLiteral("Scanned %1/3: ").arg(index + 1);
            QVERIFY2(log.at(2 + index).startsWith(prefix), qPrintable(log.at(2 + index)));
            scanned.append(log.at(2 + index).mid(prefix.size()));
        }
        scanned.sort();
        QCOMPARE(scanned,
                 (QStringList{"copy.flac -> \u26A0 Fake Stereo", "twins.wav -> \u26A0 Fake Stereo",
                              "wide.flac -> \u2713 Real Stereo"}));
        QCOMPARE(log.mid(5), (QStringList{"Scan complete: 3 files processed",
                                          "Selecting all fake stereo files"}));

        QVERIFY(model.showConfetti());
        QElapsedTimer sinceEnd;
        sinceEnd.start();
        QTRY_VERIFY_WITH_TIMEOUT(!model.showConfetti(), 8000);
        QVERIFY2(sinceEnd.elapsed() >= 3000, "the celebration ended far too early");
    }

    void aFolderWithoutAudioFiles() {
        ContentViewModel model;
        QSignalSpy finished(&model, &ContentViewModel::scanFinished);
        model.startScanFolders({url(makeFolder(QStringLiteral("Nothing")))});
        QVERIFY(finished.wait(deadlineMs));
        QCOMPARE(messages(model),
                 (QStringList{"Starting scan of 1 folder(s)",
                              "Found 0 audio files across 1 folder(s)", "No audio files found"}));
        QVERIFY(!model.isScanning());
    }

    // The same folder given twice, and once more through a link to it.
    void aFileReachedTwiceIsListedOnce() {
        const QString link = root.filePath(QStringLiteral("Pair link"));
        QVERIFY(QFile::link(pair, link));
        ContentViewModel model;
        QSignalSpy finished(&model, &ContentViewModel::scanFinished);
        model.startScanFolders({url(pair), url(pair), url(link)});
        QVERIFY(finished.wait(deadlineMs));
        QVERIFY(messages(model).contains(QStringLiteral("Found 2 audio files across 3 folder(s)")));
        QCOMPARE(sortedNames(model.items()), (QStringList{"left", "right"}));
        for (const FileItemPtr& item : model.items())
            QCOMPARE(QFileInfo(item->path()).path(), QDir(pair).canonicalPath());
    }

    // A stored count below 1 still scans, one file at a time.
    void parallelScansBoundsTheAnalysesRunningAtOnce_data() {
        QTest::addColumn<int>("parallelScans");
        QTest::addColumn<int>("mostAtOnce");
        QTest::newRow("two") << 2 << 2;
        QTest::newRow("zero") << 0 << 1;
    }

    void parallelScansBoundsTheAnalysesRunningAtOnce() {
        QFETCH(int, parallelScans);
        QFETCH(int, mostAtOnce);
        Settings::shared().setParallelScans(parallelScans);
        FakeTools tools;
        gated.install(tools);
        const QString five = makeFolder(QStringLiteral("Five%1").arg(parallelScans));
        for (int index = 1; index <= 5; ++index)
            QFile::copy(pair + QStringLiteral("/left.wav"),
                        five + QStringLiteral("/%1.wav").arg(index));
        ContentViewModel model;
        QSignalSpy finished(&model, &ContentViewModel::scanFinished);
        model.startScanFolders({url(five)});
        QVERIFY(finished.wait(deadlineMs));
        QCOMPARE(model.scannedCount(), 5);
        QCOMPARE(gated.mostAtOnce(), mostAtOnce);
    }

    void stopScanLetsTheRunningAnalysisFinish_data() {
        QTest::addColumn<bool>("dropFiles");
        QTest::newRow("folder scan") << false;
        QTest::newRow("file drop") << true;
    }

    // The stop leaves what was analysed, counts it, and celebrates nothing.
    void stopScanLetsTheRunningAnalysisFinish() {
        QFETCH(bool, dropFiles);
        Settings::shared().setParallelScans(1);
        FakeTools tools;
        gated.install(tools);
        ContentViewModel model;
        QSignalSpy finished(&model, &ContentViewModel::scanFinished);
        if (dropFiles)
            model.handleDrop({url(gated.folder + QStringLiteral("/take1.wav")),
                              url(gated.folder + QStringLiteral("/take2.wav"))});
        else
            model.startScanFolders({url(gated.folder)});
        // An analysis is under way and the run knows its files.
        QTRY_VERIFY_WITH_TIMEOUT(gated.recorded().contains("+") && model.totalCount() > 1,
                                 deadlineMs);
        QVERIFY(model.isScanning());

        model.stopScan();
        QCOMPARE(messages(model).last(), QStringLiteral("Stopping scan..."));
        QVERIFY(!model.isScanning());
        QVERIFY(model.scanStopped());
        gated.open();
        QVERIFY(finished.wait(deadlineMs));
        QCOMPARE(model.items().size(), 1);
        QCOMPARE(model.items().first()->detectionStatus, DetectionStatus::fakeStereo);
        QCOMPARE(model.scannedCount(), 1);
        QVERIFY(!model.isScanning());
        QVERIFY(!model.showConfetti());
        QCOMPARE(gated.mostAtOnce(), 1);
    }

    // "Clear" empties the list and lets the scan go on; a newer scan replaces
    // it, and the old one's late results and end never show.
    void clearAndAnotherScanDuringAScan() {
        Settings::shared().setParallelScans(1);
        FakeTools tools;
        gated.install(tools);
        ContentViewModel model;
        QSignalSpy finished(&model, &ContentViewModel::scanFinished);
        model.startScanFolders({url(gated.folder)});
        QTRY_COMPARE_WITH_TIMEOUT(model.items().size(), 1, deadlineMs);
        const FileItemPtr oldItem = model.items().first();

        model.clearResults();
        QCOMPARE(messages(model).last(), QStringLiteral("Clearing results"));
        QVERIFY(model.items().isEmpty());
        QCOMPARE(model.totalCount(), 0);
        QCOMPARE(model.selectedFolder(), std::nullopt);
        QVERIFY(model.scannedFolders().isEmpty());
        QVERIFY(model.isScanning());

        // Files that are mono by name need no tool, so the probe held by the
        // old scan cannot hold this one up.
        const QString suffixed = makeFolder(QStringLiteral("Suffixed"));
        for (const QString& name : {QStringLiteral("one_MONO.wav"), QStringLiteral("two_MONO.wav")})
            QFile::copy(pair + QStringLiteral("/left.wav"), suffixed + u'/' + name);
        model.startScanFolders({url(suffixed)});
        QVERIFY(finished.wait(deadlineMs));
        QCOMPARE(model.items().size(), 2);

        gated.open();
        QTRY_VERIFY_WITH_TIMEOUT(oldItem->detectionStatus != DetectionStatus::pending, deadlineMs);
        QVERIFY(!QTest::qWaitFor(
            [&] {
                return finished.size() > 1 || model.items().size() != 2 ||
                       model.scannedCount() != 2;
            },
            1500));
        QVERIFY(!model.isScanning());
        // Of the replaced scan's four files only the one under way was analysed.
        QCOMPARE(gated.recorded().count("+"), 1);
        model.clearResults();
        QCOMPARE(model.scannedCount(), 0);
    }

    // Dropped folders are scanned; files dropped with them are ignored.
    void droppedFoldersAreScanned() {
        ContentViewModel model;
        QSignalSpy finished(&model, &ContentViewModel::scanFinished);
        model.handleDrop({url(loose + QStringLiteral("/one.wav")), url(mixed), url(pair)});
        QVERIFY(finished.wait(deadlineMs));
        QCOMPARE(messages(model).mid(0, 3),
                 (QStringList{"Drop: 3 item(s)", "Drop: scanning 2 folder(s): Mixed, Pair",
                              "Starting scan of 2 folder(s)"}));
        QCOMPARE(model.scannedFolders(), (QStringList{"Mixed", "Pair"}));
        QCOMPARE(model.selectedFolder(), std::optional(url(mixed)));
        QCOMPARE(sortedNames(model.items()),
                 (QStringList{"copy", "left", "right", "twins", "wide"}));
    }

    // With progress like a scan; a file without an audio extension (a video
    // with PCM audio here) is left out, as a folder scan would leave it.
    void droppedFilesReplaceTheListAndAreAnalysedOneByOne() {
        Settings::shared().setAutoSelectAll(true);
        ContentViewModel model;
        QSignalSpy finished(&model, &ContentViewModel::scanFinished);
        model.handleDrop({url(pair + QStringLiteral("/left.wav"))});
        QVERIFY(finished.wait(deadlineMs));

        // The moment the new list is published, all three are still pending.
        QStringList firstPublished;
        connect(&model, &ContentViewModel::changed, &model, [&] {
            if (firstPublished.isEmpty() && model.items().size() == 3 && model.isScanning()) {
                for (const FileItemPtr& item : model.items())
                    firstPublished.append(rawValue(item->detectionStatus));
            }
        });
        const qsizetype logBefore = model.debugLog().size();
        model.handleDrop(
            {url(loose + QStringLiteral("/one.wav")), url(loose + QStringLiteral("/clip.mov")),
             url(loose + QStringLiteral("/two.flac")), url(loose + QStringLiteral("/three.wav"))});
        QVERIFY(finished.wait(deadlineMs));
        QCOMPARE(firstPublished, QStringList(3, QStringLiteral("Pending")));
        QCOMPARE(messages(model).mid(logBefore),
                 (QStringList{"Drop: 4 item(s)",
                              "Drop: skipped 1 file(s): not a supported audio file type",
                              "Drop: 3 file(s)", "Analyzing: one", "  -> \u26A0 Fake Stereo",
                              "Analyzing: two", "  -> \u2713 Real Stereo", "Analyzing: three",
                              "  -> \u2713 Mono"}));
        QVERIFY(!model.isScanning());
        QCOMPARE(model.scannedCount(), 3);
        QCOMPARE(model.totalCount(), 3);
        QCOMPARE(model.selectedFolder(), std::optional(url(loose)));
        QVERIFY(model.scannedFolders().isEmpty());
        // Only the analysis's own autoSelectAll choice applies; no celebration.
        QVERIFY(!model.showConfetti());

        // The table's rows: filtered, ordered, ticked.
        const FileItemPtr one = model.items().at(0);
        const FileItemPtr two = model.items().at(1);
        QCOMPARE(model.visibleItems(), QList<FileItemPtr>{one});
        model.setShowFilter(ShowFilter::all);
        model.toggleSort(SortColumn::filename);
        QCOMPARE(model.sortedItems(), (QList<FileItemPtr>{one, model.items().at(2), two}));
        QSignalSpy changes(&model, &ContentViewModel::changed);
        model.toggleSelection(one);
        model.toggleSelection(two);
        QCOMPARE(changes.size(), 2);
        QVERIFY(!one->isSelected);
        model.selectAllFakeStereo();
        QVERIFY(one->isSelected && two->isSelected);
    }

    void aDropWithNothingUsable() {
        ContentViewModel model;
        model.handleDrop({QUrl(QStringLiteral("https://example.com/song.wav"))});
        QTRY_COMPARE(messages(model), (QStringList{"Drop: 1 item(s)", "Drop: no valid URLs"}));
        model.handleDrop({url(loose + QStringLiteral("/clip.mov"))});
        QTRY_COMPARE(messages(model).mid(2),
                     (QStringList{"Drop: 1 item(s)",
                                  "Drop: skipped 1 file(s): not a supported audio file type"}));
        QVERIFY(model.items().isEmpty());
        QCOMPARE(model.selectedFolder(), std::nullopt);
    }

    void pickingAFolderScansIt() {
        FakeDesktop desktop;
        ContentViewModel model(&desktop);
        model.pickFolder();
        QCOMPARE(desktop.startFolders, QStringList{"Select Audio Folder:" + QDir::homePath()});
        QVERIFY(!model.isScanning());

        desktop.answer = url(pair);
        QSignalSpy finished(&model, &ContentViewModel::scanFinished);
        model.pickFolder();
        QCOMPARE(messages(model).mid(0, 2),
                 (QStringList{"Picked folder: " + pair, "Starting scan of 1 folder(s)"}));
        QVERIFY(finished.wait(deadlineMs));
        model.revealInFinder(model.items().first());
        QCOMPARE(desktop.revealed, QList<QUrl>{model.items().first()->url});

        // The dialog opens where the user last was, even after "Clear".
        model.clearResults();
        desktop.answer.reset();
        model.pickFolder();
        QCOMPARE(desktop.startFolders.last(), "Select Audio Folder:" + pair);
    }
};

CHANFUSE_TEST_MAIN(ViewModelScanTest)
#include "tst_viewmodelscan.moc"
