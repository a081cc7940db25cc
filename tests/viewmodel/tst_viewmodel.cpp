// SPDX-License-Identifier: GPL-3.0-or-later

#include "TestMain.h"

#include "ConsoleCapture.h"
#include "ViewModelFixture.h"
#include "exec/WorkerThreads.h"
#include "viewmodel/CompletionSummary.h"
#include "viewmodel/DesktopServices.h"
#include "viewmodel/LogFile.h"

#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>

using namespace Qt::StringLiterals;

namespace {

constexpr int deadlineMs = 60000;

QUrl url(const QString& path) {
    return QUrl::fromLocalFile(path);
}

FileItemPtr item(const QString& name, DetectionStatus status = DetectionStatus::fakeStereo,
                 qint64 size = 0, ChannelStatus channels = ChannelStatus::unknown) {
    auto made = std::make_shared<FileItem>(url(u"/nowhere/"_s + name));
    made->detectionStatus = status;
    made->fileSize = size;
    made->channelStatus = channels;
    return made;
}

// A row of each status, and a real stereo one a conversion refused.
QList<FileItemPtr> rowsOfEveryStatus() {
    using enum DetectionStatus;
    const QList<FileItemPtr> rows{item("error", error),
                                  item("mono", mono),
                                  item("converted", converted),
                                  item("pending", pending),
                                  item("skipped", timedOut),
                                  item("real", realStereo),
                                  item("fake"),
                                  item("refused", realStereo)};
    rows.last()->errorMessage = u"Not converted: channels differ"_s;
    return rows;
}

QStringList namesOf(const QList<FileItemPtr>& items) {
    QStringList names;
    for (const FileItemPtr& entry : items)
        names.append(entry->fileName);
    return names;
}

QStringList linesOfLogFile() {
    return QString::fromUtf8(TestFiles::contentsOf(logFilePath())).split(u'\n', Qt::SkipEmptyParts);
}

// Answers the folder dialog as told and remembers where it opened.
class FakeDesktop : public DesktopServices {
public:
    std::optional<QUrl> answer;
    QStringList startFolders;

    std::optional<QUrl> chooseFolder(const QString& title, const QString& startFolder) override {
        startFolders.append(title + u':' + startFolder);
        return answer;
    }
    void showInFileManager(const QUrl&) override {}
};

// Four fake stereo files whose probes wait for a release file, under an
// ffprobe that records each probe: "+" when it starts, "-" a moment later, so
// analyses running at once overlap in the record.
class GatedScan {
public:
    QTemporaryDir root;
    const QString folder = root.filePath(u"gated"_s);
    const QString toolLog = root.filePath(u"tools.log"_s);
    const QString release = root.filePath(u"release"_s);

    GatedScan() {
        QDir().mkpath(folder);
        for (int index = 1; index <= 4; ++index)
            TestAudio::fakeStereo(folder + u"/take%1.wav"_s.arg(index), 0.5);
    }

    // Fresh records, closed gate.
    void install(FakeTools& tools) const {
        QFile::remove(toolLog);
        QFile::remove(release);
        tools.script(u"ffprobe"_s, QStringLiteral("echo + >> '%1'\n"
                                                  "case \"$*\" in *gated*)\n"
                                                  "  while [ ! -e '%2' ]; do sleep 0.05; done;;\n"
                                                  "esac\n"
                                                  "sleep 0.2\n"
                                                  "echo - >> '%1'\n"
                                                  "exec /usr/bin/ffprobe \"$@\"")
                                       .arg(toolLog, release));
        tools.realTool(u"ffmpeg"_s);
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

// What the view model adds to the scanner and the converter: the table's
// order and filter, the log, scans and conversion runs with their progress,
// stops and ends. What becomes of each file is proven in the lower layers'
// tests; here one case each proves that their results reach the rows.
class ViewModelTest : public QObject {
    Q_OBJECT

    ConversionFixture fixture;
    GatedScan gated;
    QTemporaryDir root;
    QString mixed; // fake stereo and real stereo
    QString loose; // fake stereo, mono, and a video with PCM audio

    QString makeFolder(const QString& name) {
        const QString path = root.filePath(name);
        QDir().mkpath(path);
        return path;
    }

private slots:
    void initTestCase() {
        mixed = makeFolder(u"Mixed"_s);
        TestAudio::fakeStereo(mixed + u"/twins.wav"_s, 0.5);
        TestAudio::realStereo(mixed + u"/wide.flac"_s, 0.5);
        loose = makeFolder(u"Loose"_s);
        TestAudio::fakeStereo(loose + u"/one.wav"_s, 0.5);
        TestAudio::mono(loose + u"/two.wav"_s, 0.5);
        QFile::copy(loose + u"/one.wav"_s, loose + u"/clip.mov"_s);
    }

    void init() {
        fixture.reset();
        QDir(QFileInfo(logFilePath()).path()).removeRecursively();
    }

    // A stable sort, ties in path order; descending is its exact reverse.
    void sortedByColumn_data() {
        QTest::addColumn<QList<FileItemPtr>>("items");
        QTest::addColumn<SortColumn>("column");
        QTest::addColumn<SortOrder>("order");
        QTest::addColumn<QStringList>("expected");
        using enum DetectionStatus;
        const QList<FileItemPtr> sizes{
            item("big", fakeStereo, 5'000'000'000, ChannelStatus::stereo),
            item("first ten", fakeStereo, 10, ChannelStatus::unknown),
            item("small", fakeStereo, 3, ChannelStatus::mono),
            item("second ten", fakeStereo, 10, ChannelStatus::stereo)};
        QTest::newRow("status") << rowsOfEveryStatus() << SortColumn::status << SortOrder::ascending
                                << QStringList{"fake", "pending",   "real",    "refused",
                                               "mono", "converted", "skipped", "error"};
        QTest::newRow("size") << sizes << SortColumn::fileSize << SortOrder::ascending
                              << QStringList{"small", "first ten", "second ten", "big"};
        QTest::newRow("size, descending") << sizes << SortColumn::fileSize << SortOrder::descending
                                          << QStringList{"big", "second ten", "first ten", "small"};
        QTest::newRow("channels") << sizes << SortColumn::channels << SortOrder::ascending
                                  << QStringList{"small", "big", "second ten", "first ten"};
        QTest::newRow("name, case ignored")
            << QList<FileItemPtr>{item("b.wav"), item("A.wav"), item("a.wav")}
            << SortColumn::filename << SortOrder::ascending << QStringList{"A", "a", "b"};
        QTest::newRow("equal sizes by path")
            << QList<FileItemPtr>{item("zeta", fakeStereo, 7), item("alpha", fakeStereo, 7)}
            << SortColumn::fileSize << SortOrder::ascending << QStringList{"alpha", "zeta"};
        QTest::newRow("folder") << QList<FileItemPtr>{item("b/one.wav"), item("a/two.wav")}
                                << SortColumn::folder << SortOrder::ascending
                                << QStringList{"two", "one"};
    }

    void sortedByColumn() {
        QFETCH(QList<FileItemPtr>, items);
        QFETCH(SortColumn, column);
        QFETCH(SortOrder, order);
        QFETCH(QStringList, expected);
        QCOMPARE(namesOf(::sortedByColumn(items, column, order)), expected);
    }

    // Rows that need the user's attention stay with the fake stereo ones.
    void theFakeStereoFilter() {
        const QList<FileItemPtr> items = rowsOfEveryStatus();
        QCOMPARE(namesOf(filteredItems(items, ShowFilter::fakeStereoOnly)),
                 (QStringList{"error", "skipped", "fake", "refused"}));
        QCOMPARE(filteredItems(items, ShowFilter::all), items);
        QCOMPARE(namesOf(filteredItems(items, ShowFilter::failures)),
                 (QStringList{"error", "skipped", "refused"}));
    }

    void headerClicksAndIndicators() {
        ContentViewModel model;
        model.toggleSort(SortColumn::fileSize);
        model.toggleSort(SortColumn::fileSize);
        QCOMPARE(model.sortIndicator(SortColumn::fileSize), u" \u25BC"_s);
        QCOMPARE(model.sortIndicator(SortColumn::status), QString());
        model.toggleSort(SortColumn::filename);
        QCOMPARE(model.sortIndicator(SortColumn::filename), u" \u25B2"_s);
    }

    // The view keeps the newest 500; standard output and the file get all.
    void everyLineGoesToThreePlaces() {
        ContentViewModel model;
        QSignalSpy changes(&model, &ContentViewModel::changed);
        TestSupport::ConsoleCapture output;
        for (int number = 1; number <= 501; ++number)
            model.log(u"line %1"_s.arg(number));
        const QStringList printed = output.lines();

        QCOMPARE(changes.size(), 501);
        QCOMPARE(model.debugLog().size(), 500);
        QCOMPARE(model.loggedLineCount(), 501);
        QCOMPARE(messageOf(model.debugLog().first()), u"line 2"_s);
        QCOMPARE(printed.size(), 501);
        QCOMPARE(printed.last(), u"[DEBUG] line 501"_s);
        QTRY_COMPARE(linesOfLogFile().size(), 501);
        QCOMPARE(linesOfLogFile().last(), model.debugLog().last());

        // A later view model appends to the same file.
        ContentViewModel later;
        later.log(u"second\nwith a line feed"_s);
        QTRY_COMPARE(linesOfLogFile().size(), 503);
        QCOMPARE(messageOf(linesOfLogFile().at(501)), u"second"_s);
    }

    // Past the limit the file starts again, and only the one before it is kept.
    void theLogFileIsRotatedAtItsLimit() {
        const QString path = logFilePath();
        const QByteArray first = QByteArray(40, 'a') + '\n';
        const QByteArray second = QByteArray(30, 'b') + '\n';
        const QByteArray third = QByteArray(79, 'c') + '\n';
        appendToLogFile(path, first, 100);
        appendToLogFile(path, first, 100);
        QCOMPARE(TestFiles::contentsOf(path), first + first);
        appendToLogFile(path, second, 100);
        QCOMPARE(TestFiles::contentsOf(path), second);
        QCOMPARE(TestFiles::contentsOf(path + u".1"_s), first + first);
        appendToLogFile(path, third, 100);
        QCOMPARE(TestFiles::contentsOf(path), third);
        QCOMPARE(TestFiles::contentsOf(path + u".1"_s), second);
        QCOMPARE(QDir(QFileInfo(path).path()).entryList(QDir::Files).size(), 2);
    }

    void anUnwritableLogLocationLeavesTheOtherOutputsWorking() {
        // A regular file where the log folder belongs: no folder, no file,
        // whoever runs the test.
        const QString folder = QFileInfo(logFilePath()).path();
        QDir().mkpath(QFileInfo(folder).path());
        TestFiles::writeFile(folder, {});

        ContentViewModel model;
        TestSupport::ConsoleCapture output;
        model.log(u"still here"_s);
        QCOMPARE(output.lines(), QStringList{u"[DEBUG] still here"_s});
        QCOMPARE(messages(model), QStringList{u"still here"_s});
        QVERIFY(QFileInfo(folder).isFile());
    }

    // The space is called recovered only where the originals are gone; the
    // Trash still holds them.
    void bannerText_data() {
        QTest::addColumn<ConvertBehavior>("behavior");
        QTest::addColumn<bool>("suffix");
        QTest::addColumn<QString>("expected");
        const QString converted = u"Congratulations! 2 files converted. "_s;
        const QString recovered = u"1.5 MB disk space recovered.\n"_s;
        QTest::newRow("trash") << ConvertBehavior::trash << true
                               << converted +
                                      "Originals moved to the Trash:\nempty it to free 3.2 MB.";
        QTest::newRow("overwrite, no suffix")
            << ConvertBehavior::overwrite << false
            << converted + recovered + "(Original files are overwritten.)";
        QTest::newRow("overwrite, suffix")
            << ConvertBehavior::overwrite << true
            << converted + "Original files are kept beside them:\ndeleting them would free 3.2 MB.";
        QTest::newRow("backup, no suffix")
            << ConvertBehavior::backup << false
            << converted + "Original files are kept in the _backup folder:\n"
                           "deleting them would free 3.2 MB.";
        QTest::newRow("backup, suffix")
            << ConvertBehavior::backup << true
            << converted + "Original files are kept, with copies in the _backup folder:\n"
                           "deleting the originals would free 3.2 MB.";
    }

    void bannerText() {
        QFETCH(ConvertBehavior, behavior);
        QFETCH(bool, suffix);
        QFETCH(QString, expected);
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        // Each saves 750 kB of its 1.6 MB; the outputs together hold 1.7 MB.
        QList<FileItemPtr> converted{item("a", DetectionStatus::converted),
                                     item("b", DetectionStatus::converted)};
        for (const FileItemPtr& row : converted) {
            row->originalSize = 1'600'000;
            row->convertedSize = 850'000;
        }
        const auto summary = CompletionSummary::of(converted, behavior, suffix);
        QVERIFY(summary);
        QCOMPARE(summary->message, expected);
    }

    // Files dropped with folders are ignored; a file reached twice (a folder
    // given twice, and once more through a link to it) is listed once. With
    // autoSelectAll off the scan's end ticks nothing (it used to tick every
    // fake stereo row), but celebrates; Select All ticks them.
    void droppedFoldersAreScanned() {
        const QString link = root.filePath(u"Mixed link"_s);
        QVERIFY(QFile::link(mixed, link));
        Settings::shared().setAutoSelectAll(false);
        ContentViewModel model;
        model.setConfettiDuration(std::chrono::milliseconds(50));
        QSignalSpy finished(&model, &ContentViewModel::scanFinished);
        model.handleDrop({url(loose + u"/one.wav"_s), url(mixed), url(mixed), url(link)});
        QVERIFY(finished.wait(deadlineMs));
        QCOMPARE(model.scannedFolders(), (QStringList{"Mixed", "Mixed", "Mixed link"}));
        QCOMPARE(model.selectedFolder(), std::optional(url(mixed)));
        QCOMPARE(model.totalCount(), 2);
        QCOMPARE(model.scannedCount(), 2);
        QCOMPARE(model.currentScanningFile(), std::nullopt);
        for (const FileItemPtr& row : model.items())
            QVERIFY(!row->isSelected);
        QCOMPARE(model.fakeStereoCount(), 1);

        // The engine is named once, for the user to know which one judged.
        QCOMPARE(messages(model)
                     .filter(QRegularExpression(u"^Analysis: built-in FFmpeg "
                                                "libraries \\d+\\.\\d+, \\d+ workers?$"_s))
                     .size(),
                 1);
        model.selectAllFakeStereo();
        for (const FileItemPtr& row : model.items())
            QCOMPARE(row->isSelected, row->detectionStatus == DetectionStatus::fakeStereo);

        QVERIFY(model.showConfetti());
        QTRY_VERIFY(!model.showConfetti());
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
        gated.open();
        ContentViewModel model;
        QSignalSpy finished(&model, &ContentViewModel::scanFinished);
        model.startScanFolders({url(gated.folder)});
        QVERIFY(finished.wait(deadlineMs));
        QCOMPARE(model.scannedCount(), 4);
        QCOMPARE(gated.mostAtOnce(), mostAtOnce);
    }

    // As many files are analysed at once as parallelScans says, whatever the
    // processor count: each analysis has a worker of its own and waits for no
    // queue. The workers (the real analyser behind a gate) hold their first
    // request until six are running.
    void analysesRunAtOnceAsParallelScansSays() {
        Settings::shared().setParallelScans(6);
        FakeTools tools;
        tools.realTool(u"ffmpeg"_s);
        QTemporaryDir scanned;
        TestAudio::fakeStereo(scanned.filePath(u"0.wav"_s), 0.5);
        for (int index = 1; index < 8; ++index)
            QVERIFY(QFile::copy(scanned.filePath(u"0.wav"_s),
                                scanned.filePath(u"%1.wav"_s.arg(index))));
        const QString started = tools.path(u"started"_s);
        const QString release = tools.path(u"release"_s);
        tools.script(u"chanfuse-analyzer"_s,
                     u"case \"$1\" in --versions) exec '%1' \"$@\";; esac\n"
                     "echo $$ >> '%2'\n"
                     "while [ ! -e '%3' ]; do sleep 0.05; done\n"
                     "exec '%1'"_s.arg(QStringLiteral(CHANFUSE_ANALYZER), started, release));
        qputenv("CHANFUSE_ANALYZER", QFile::encodeName(tools.path(u"chanfuse-analyzer"_s)));
        ContentViewModel model;
        QSignalSpy finished(&model, &ContentViewModel::scanFinished);
        model.startScanFolders({url(scanned.path())});
        const auto workers = [&started] { return TestFiles::contentsOf(started).count('\n'); };
        QTRY_COMPARE_WITH_TIMEOUT(workers(), 6, deadlineMs);
        TestFiles::writeFile(release, "go");
        QVERIFY(finished.wait(deadlineMs));
        QCOMPARE(model.scannedCount(), 8);
        // The last two files went to workers the first six had freed.
        QCOMPARE(workers(), 6);
        for (const FileItemPtr& row : model.items())
            QCOMPARE(row->detectionStatus, DetectionStatus::fakeStereo);
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
            model.handleDrop(
                {url(gated.folder + u"/take1.wav"_s), url(gated.folder + u"/take2.wav"_s)});
        else
            model.startScanFolders({url(gated.folder)});
        // An analysis is under way and the run knows its files.
        QTRY_VERIFY_WITH_TIMEOUT(gated.recorded().contains("+") && model.totalCount() > 1,
                                 deadlineMs);

        model.stopScan();
        QCOMPARE(messages(model).last(), u"Stopping scan..."_s);
        QVERIFY(!model.isScanning());
        QVERIFY(model.scanStopped());
        gated.open();
        QVERIFY(finished.wait(deadlineMs));
        QCOMPARE(model.items().size(), 1);
        QCOMPARE(model.items().first()->detectionStatus, DetectionStatus::fakeStereo);
        QCOMPARE(model.scannedCount(), 1);
        QVERIFY(!model.showConfetti());
        QCOMPARE(gated.mostAtOnce(), 1);
    }

    // "Clear" empties the list and lets the scan go on; a newer scan (of a
    // folder without audio files) replaces it, and the old one's late results
    // and end never show.
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
        QCOMPARE(messages(model).last(), u"Clearing results"_s);
        QVERIFY(model.items().isEmpty());
        QCOMPARE(model.selectedFolder(), std::nullopt);
        QVERIFY(model.scannedFolders().isEmpty());
        QVERIFY(model.isScanning());

        model.startScanFolders({url(makeFolder(u"Nothing"_s))});
        QVERIFY(finished.wait(deadlineMs));
        QVERIFY(!model.isScanning());
        const QStringList newScan{"Starting scan of 1 folder(s)",
                                  "Found 0 audio files across 1 folder(s)", "No audio files found"};
        QCOMPARE(messages(model).mid(messages(model).size() - 3), newScan);

        // Once the replaced scan's workers have ended and all they posted is
        // handled, nothing of it shows.
        gated.open();
        QVERIFY(waitForDetachedWorkers(std::chrono::milliseconds(deadlineMs)));
        QCoreApplication::sendPostedEvents();
        QCOMPARE(finished.size(), 1);
        QVERIFY(model.items().isEmpty());
        QCOMPARE(messages(model).last(), newScan.last());
        QCOMPARE(oldItem->detectionStatus, DetectionStatus::pending);
        // Of the replaced scan's four files only the one under way was analysed.
        QCOMPARE(gated.recorded().count("+"), 1);
    }

    // Scanned like a folder's files, but without celebration; a file without
    // an audio extension (a video with PCM audio here) is left out, as a
    // folder scan would leave it.
    void droppedFilesAreScanned() {
        ContentViewModel model;
        QSignalSpy finished(&model, &ContentViewModel::scanFinished);
        model.handleDrop({QUrl(u"https://example.com/song.wav"_s)});
        QTRY_COMPARE(messages(model), (QStringList{"Drop: 1 item(s)", "Drop: no valid URLs"}));

        model.handleDrop(
            {url(loose + u"/one.wav"_s), url(loose + u"/clip.mov"_s), url(loose + u"/two.wav"_s)});
        QVERIFY(finished.wait(deadlineMs));
        QVERIFY(messages(model).contains(
            u"Drop: skipped 1 file(s): not a supported audio file type"_s));
        QMap<QString, DetectionStatus> statuses;
        for (const FileItemPtr& row : model.items())
            statuses.insert(row->fileName, row->detectionStatus);
        QCOMPARE(statuses, (QMap<QString, DetectionStatus>{{"one", DetectionStatus::fakeStereo},
                                                           {"two", DetectionStatus::mono}}));
        QVERIFY(!model.isScanning());
        QCOMPARE(model.scannedCount(), 2);
        QCOMPARE(model.totalCount(), 2);
        QCOMPARE(model.selectedFolder(), std::optional(url(loose)));
        QVERIFY(model.scannedFolders().isEmpty());
        QCOMPARE(model.folderOf(*model.items().first()), QString());
        QVERIFY(!model.showConfetti());
    }

    // "Scan" needs a folder, and an empty list of folders starts nothing; the
    // dialog opens where the user last was, even after "Clear".
    void pickingAFolderScansIt() {
        FakeDesktop desktop;
        ContentViewModel model(&desktop);
        model.startScan();
        model.startScanFolders({});
        model.pickFolder();
        QCOMPARE(desktop.startFolders, QStringList{"Select Audio Folder:" + QDir::homePath()});
        QCOMPARE(messages(model), QStringList{u"Scan: no folder selected"_s});

        desktop.answer = url(mixed);
        QSignalSpy finished(&model, &ContentViewModel::scanFinished);
        model.pickFolder();
        QCOMPARE(messages(model).mid(1, 2),
                 (QStringList{"Picked folder: " + mixed, "Starting scan of 1 folder(s)"}));
        QVERIFY(finished.wait(deadlineMs));

        model.clearResults();
        desktop.answer.reset();
        model.pickFolder();
        QCOMPARE(desktop.startFolders.last(), "Select Audio Folder:" + mixed);
    }

    // A run takes the selected fake stereo rows only. A failure reaches its
    // row and the log; progress counts every file; the banner counts only the
    // space the originals' removal saves. With no row left, a click does and
    // logs nothing.
    void aRunWhereTheSecondItemFails() {
        FakeTools tools;
        fixture.install(tools);
        ContentViewModel model;
        fixture.scanFolder(model, 5);
        const FileItemPtr unticked = model.items().at(0);
        const FileItemPtr wide = model.items().at(1);
        const FileItemPtr first = model.items().at(2);
        const FileItemPtr second = model.items().at(3);
        const FileItemPtr third = model.items().at(4);
        model.toggleSelection(unticked);
        wide->detectionStatus = DetectionStatus::realStereo;
        fixture.mark(u"fail"_s, second);

        QList<double> progress{model.convertProgress()};
        connect(&model, &ContentViewModel::changed, &model, [&] {
            if (model.convertProgress() != progress.last())
                progress.append(model.convertProgress());
        });
        QSignalSpy finished(&model, &ContentViewModel::conversionFinished);
        const qsizetype logBefore = model.debugLog().size();
        model.convertSelected();
        QVERIFY(model.isConverting());
        model.convertSelected();
        QCOMPARE(messages(model).at(logBefore), u"Converting 3 files"_s);
        QCOMPARE(messages(model).last(), u"Already converting, ignoring duplicate call"_s);
        QVERIFY(finished.wait(deadlineMs));
        QCOMPARE(finished.size(), 1);

        QVERIFY(!model.isConverting());
        QCOMPARE(model.currentConvertingFile(), std::nullopt);
        QCOMPARE(unticked->detectionStatus, DetectionStatus::fakeStereo);
        QCOMPARE(first->detectionStatus, DetectionStatus::converted);
        QCOMPARE(second->detectionStatus, DetectionStatus::error);
        QCOMPARE(third->detectionStatus, DetectionStatus::converted);
        const QString failure = second->errorMessage.value_or(QString());
        QVERIFY2(failure.contains(u"Invalid data found"_s), qPrintable(failure));
        QVERIFY(messages(model).contains(u"  -> FAILED: "_s + failure));
        QCOMPARE(progress, (QList<double>{0.0, 1.0 / 3, 2.0 / 3, 1.0}));

        // The converted rows now stand for the new files.
        QCOMPARE(first->fileSize, QFileInfo(first->currentUrl().toLocalFile()).size());

        const qint64 saved = first->spaceSaved() + third->spaceSaved();
        QVERIFY(saved < first->convertedSize);
        const QString banner = CompletionSummary::convertedText(
            2, saved, first->originalSize + third->originalSize, ConvertBehavior::trash, true);
        QVERIFY(model.showConversionComplete());
        const QString summary = banner + u"\n1 file could not be converted."_s;
        QCOMPARE(model.conversionCompleteMessage(), summary);
        QCOMPARE(model.conversionFailureCount(), 1);
        QCOMPARE(messages(model).mid(messages(model).size() - 2),
                 (QStringList{u"All conversions complete"_s, summary}));

        const QStringList before = model.debugLog();
        model.convertSelected();
        QCOMPARE(model.debugLog(), before);

        // One row converted on its own is summed up alone: the banner counted
        // every converted row in the list, and a single row showed none.
        model.setShowConversionComplete(false);
        model.convertItem(unticked);
        QTRY_VERIFY_WITH_TIMEOUT(model.showConversionComplete(), deadlineMs);
        QCOMPARE(model.conversionCompleteMessage(),
                 CompletionSummary::convertedText(1, unticked->spaceSaved(), unticked->originalSize,
                                                  ConvertBehavior::trash, true));
    }

    // A row converted on its own leaves the run's state alone. Here the whole
    // file proves the scan wrong, and the row becomes real stereo, unticked.
    void aRowConvertedOnItsOwn() {
        QTemporaryDir folder;
        const QString tone = TestAudio::tone(440, 0.5);
        const QString lateChange =
            u"if(lt(t\\,7)\\,%1\\,%2)"_s.arg(tone, TestAudio::tone(550, 0.5));
        TestAudio::generate(folder.filePath(u"late.wav"_s), {tone, lateChange}, 9);
        ContentViewModel model;
        QSignalSpy scanned(&model, &ContentViewModel::scanFinished);
        model.startScanFolders({url(folder.path())});
        QVERIFY(scanned.wait(deadlineMs));
        const FileItemPtr refused = model.items().first();
        QVERIFY(refused->isSelected);
        QSignalSpy runs(&model, &ContentViewModel::conversionFinished);

        model.convertItem(refused);
        QVERIFY(model.isHeldForConversion(refused) && !model.isConvertible(refused));
        QTRY_VERIFY_WITH_TIMEOUT(!model.hasConversionsInFlight(), deadlineMs);
        const QString refusal = u"Not converted: channels differ at 0:07"_s;
        QCOMPARE(refused->detectionStatus, DetectionStatus::realStereo);
        QVERIFY(!refused->isSelected);
        QCOMPARE(refused->errorMessage, refusal);
        QVERIFY(messages(model).contains(u"  -> NOT CONVERTED: "_s + refusal));
        QVERIFY(messages(model).contains(u"ffmpeg input: "_s + refused->path()));
        QCOMPARE(runs.size(), 0);
        QCOMPARE(model.convertProgress(), 0.0);
    }

    // The row's status follows from what the converter did, whatever the
    // file is called: a name that reads like an outcome changes nothing.
    void aTakenNameIsARefusalWhateverTheFileIsCalled_data() {
        QTest::addColumn<QString>("name");
        for (const char* name :
             {"plain", "timed out", "Skipped x", "Not converted: channels differ"})
            QTest::newRow(name) << QString::fromUtf8(name);
    }

    void aTakenNameIsARefusalWhateverTheFileIsCalled() {
        QFETCH(QString, name);
        Settings::shared().setAppendFilename(true);
        Settings::shared().setSuffix(u"_MONO"_s);
        QTemporaryDir folder;
        const QString original = folder.filePath(name + u".flac"_s);
        const QString taken = folder.filePath(name + u"_MONO.flac"_s);
        TestAudio::fakeStereo(original, 0.5);
        TestFiles::writeFile(taken, "the user's");
        const auto row = std::make_shared<FileItem>(url(original));
        row->detectionStatus = DetectionStatus::fakeStereo;

        ContentViewModel model;
        model.convertItem(row);
        QTRY_VERIFY_WITH_TIMEOUT(!model.hasConversionsInFlight(), deadlineMs);
        QCOMPARE(row->detectionStatus, DetectionStatus::error);
        QCOMPARE(row->errorMessage, u"Not converted: %1_MONO.flac already exists"_s.arg(name));
        QCOMPARE(TestFiles::contentsOf(taken), QByteArray("the user's"));
        QVERIFY(QFile::exists(original));
    }

    void stopConvertDuringTheSecondItem() {
        FakeTools tools;
        fixture.install(tools);
        ContentViewModel model;
        fixture.scanFolder(model);
        const FileItemPtr first = model.items().at(0);
        const FileItemPtr second = model.items().at(1);
        const FileItemPtr third = model.items().at(2);
        fixture.mark(u"hang"_s, second);

        QSignalSpy finished(&model, &ContentViewModel::conversionFinished);
        model.convertSelected();
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(fixture.markerPath(u"started"_s, second)), 30000);
        QCOMPARE(model.currentConvertingFile(), std::optional(second->fileName));
        model.stopConvert();
        QCOMPARE(messages(model).last(), u"Stopping conversion..."_s);
        QVERIFY(!model.isConverting());
        QCOMPARE(model.currentConvertingFile(), std::nullopt);

        // The stopped run still holds the file in hand and the unreached one
        // until its worker lets go: clicking again must not start on them.
        QVERIFY(!model.isConvertible(third));
        model.convertSelected();
        model.convertItem(second);
        const auto skipped = [](const FileItemPtr& item) {
            return u"Already converting %1, skipped"_s.arg(item->fileName);
        };
        QCOMPARE(messages(model).mid(messages(model).size() - 3),
                 (QStringList{skipped(second), skipped(third), skipped(second)}));

        // The file in hand is left as it was, and its row says so (it said
        // "Error: Cancelled" and could not be converted again).
        QVERIFY(finished.wait(30000));
        QCOMPARE(first->detectionStatus, DetectionStatus::converted);
        QCOMPARE(second->detectionStatus, DetectionStatus::fakeStereo);
        QCOMPARE(second->errorMessage, std::nullopt);
        QVERIFY(messages(model).contains(u"  -> STOPPED: left as it was"_s));
        QCOMPARE(third->detectionStatus, DetectionStatus::fakeStereo);
        QCOMPARE(model.convertProgress(), 2.0 / 3);
        QVERIFY(!model.showConversionComplete());
        // Once let go, the files can be taken again.
        QVERIFY(model.isConvertible(second) && model.isConvertible(third));
    }
};

CHANFUSE_TEST_MAIN(ViewModelTest)
#include "tst_viewmodel.moc"
