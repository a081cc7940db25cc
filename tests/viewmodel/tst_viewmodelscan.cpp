#include "TestMain.h"

#include "FakeTools.h"
#include "Processes.h"
#include "TestAudio.h"
#include "ViewModelLog.h"
#include "model/Settings.h"
#include "viewmodel/ContentViewModel.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>

#include <sys/stat.h>

using namespace ViewModelLog;

namespace {

void writeText(const QString& path, const QByteArray& text) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        qFatal("cannot write %s", qPrintable(path));
    file.write(text);
}

QString statusOf(const ContentViewModel& model, const QString& fileName) {
    for (const FileItemPtr& item : model.items()) {
        if (item->fileName == fileName)
            return rawValue(item->detectionStatus);
    }
    return QStringLiteral("(missing)");
}

// The largest number of analyses that were running at once, from the "+"
// (probe started) and "-" (decode ended) lines the fake tools write.
int mostAtOnce(const QString& toolLog) {
    QFile file(toolLog);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    int running = 0;
    int most = 0;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line == "+")
            most = std::max(most, ++running);
        else if (line == "-")
            --running;
    }
    return most;
}

int probesStarted(const QString& toolLog) {
    QFile file(toolLog);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    return int(file.readAll().split('\n').count("+"));
}

} // namespace

class ViewModelScanTest : public QObject {
    Q_OBJECT

    QTemporaryDir root;
    QString mixed;    // two fake stereo, real stereo, mono, broken, and a text file
    QString pair;     // one fake stereo, one mono
    QString noAudio;  // a text file only
    QString gated;    // four fake stereo files whose probe waits for a release file
    QString suffixed; // two files that are mono by name, analysed without any tool
    QString toolLog;  // lines written by the fake tools
    QString release;  // lets a gated probe go on

    QString makeFolder(const QString& name) {
        const QString path = root.filePath(name);
        QDir().mkpath(path);
        return path;
    }

    // Fake tools that record each analysis and hold the probe of any file
    // under the gated folder until the release file exists.
    void recordingTools(FakeTools& tools) {
        tools.script(QStringLiteral("ffprobe"),
                     QStringLiteral("echo + >> '%1'\n"
                                    "case \"$*\" in *gated*)\n"
                                    "  while [ ! -e '%2' ]; do sleep 0.05; done;;\n"
                                    "esac\n"
                                    "sleep 0.2\n"
                                    "exec /usr/bin/ffprobe \"$@\"")
                         .arg(toolLog, release));
        tools.script(QStringLiteral("ffmpeg"), QStringLiteral("/usr/bin/ffmpeg \"$@\"\n"
                                                              "status=$?\n"
                                                              "echo - >> '%1'\n"
                                                              "exit $status")
                                                   .arg(toolLog));
    }

private slots:
    void initTestCase() {
        QVERIFY(root.isValid());
        mixed = makeFolder(QStringLiteral("Mixed"));
        TestAudio::fakeStereo(mixed + QStringLiteral("/twins.wav"), 0.5);
        TestAudio::realStereo(mixed + QStringLiteral("/wide.flac"), 0.5);
        TestAudio::mono(mixed + QStringLiteral("/single.wav"), 0.5);
        makeFolder(QStringLiteral("Mixed/deeper"));
        TestAudio::fakeStereo(mixed + QStringLiteral("/deeper/copy.flac"), 0.5);
        writeText(mixed + QStringLiteral("/broken.wav"), QByteArray(4000, 'x'));
        writeText(mixed + QStringLiteral("/notes.txt"), "not audio");

        pair = makeFolder(QStringLiteral("Pair"));
        TestAudio::fakeStereo(pair + QStringLiteral("/left.wav"), 0.5);
        TestAudio::mono(pair + QStringLiteral("/right.wav"), 0.5);

        noAudio = makeFolder(QStringLiteral("Nothing"));
        writeText(noAudio + QStringLiteral("/readme.txt"), "no audio here");

        gated = makeFolder(QStringLiteral("gated"));
        for (int index = 1; index <= 4; ++index)
            QFile::copy(pair + QStringLiteral("/left.wav"),
                        gated + QStringLiteral("/take%1.wav").arg(index));

        suffixed = makeFolder(QStringLiteral("Suffixed"));
        for (const QString& name : {QStringLiteral("one_MONO.wav"), QStringLiteral("two_MONO.wav")})
            QFile::copy(pair + QStringLiteral("/left.wav"), suffixed + u'/' + name);

        toolLog = root.filePath(QStringLiteral("tools.log"));
        release = root.filePath(QStringLiteral("release"));
    }

    void init() {
        Settings::shared().setParallelScans(2);
        Settings::shared().setAutoSelectAll(false);
        Settings::shared().setSuffix(QStringLiteral("_MONO"));
        QFile::remove(toolLog);
        QFile::remove(release);
    }

    void startScanWithoutAFolderOnlyLogs() {
        ContentViewModel model;
        model.startScan();
        QCOMPARE(messages(model), QStringList{QStringLiteral("Scan: no folder selected")});
        QVERIFY(!model.isScanning());
        QVERIFY(model.items().isEmpty());
        QVERIFY(model.scannedFolders().isEmpty());
        model.startScanFolders({});
        QCOMPARE(model.debugLog().size(), 1);
    }

    void scanOfAMixedFolder() {
        ContentViewModel model;
        model.startScanFolders({QUrl::fromLocalFile(mixed)});
        QVERIFY(model.isScanning());
        QCOMPARE(model.scannedFolders(), QStringList{QStringLiteral("Mixed")});
        QCOMPARE(model.selectedFolder(), std::optional(QUrl::fromLocalFile(mixed)));
        QCOMPARE(model.totalCount(), 0);

        QVERIFY(waitForPrefix(model, QStringLiteral("Scan complete: ")));
        QVERIFY(!model.isScanning());
        QCOMPARE(model.totalCount(), 5);
        QCOMPARE(model.scannedCount(), 5);
        QCOMPARE(model.items().size(), 5);
        QCOMPARE(model.currentScanningFile(), std::nullopt);

        QCOMPARE(statusOf(model, QStringLiteral("twins")), QStringLiteral("\u26A0 Fake Stereo"));
        QCOMPARE(statusOf(model, QStringLiteral("copy")), QStringLiteral("\u26A0 Fake Stereo"));
        QCOMPARE(statusOf(model, QStringLiteral("wide")), QStringLiteral("\u2713 Real Stereo"));
        QCOMPARE(statusOf(model, QStringLiteral("single")), QStringLiteral("\u2713 Mono"));
        QCOMPARE(statusOf(model, QStringLiteral("broken")), QStringLiteral("\u2717 Error"));

        // With autoSelectAll off the analysis selects nothing; the scan's end
        // selects exactly the fake stereo items.
        for (const FileItemPtr& item : model.items())
            QCOMPARE(item->isSelected, item->detectionStatus == DetectionStatus::fakeStereo);
        QCOMPARE(model.fakeStereoCount(), 2);

        const QStringList log = messages(model);
        QCOMPARE(log.first(), QStringLiteral("Starting scan of 1 folder(s)"));
        QCOMPARE(log.at(1), QStringLiteral("Found 5 audio files across 1 folder(s)"));
        const QStringList scanned = messagesStartingWith(model, QStringLiteral("Scanned "));
        QCOMPARE(scanned.size(), 5);
        QSet<QString> namesSeen;
        for (int index = 0; index < scanned.size(); ++index) {
            const QString line = scanned.at(index);
            const QString prefix = QStringLiteral("Scanned %1/5: ").arg(index + 1);
            QVERIFY2(line.startsWith(prefix), qPrintable(line));
            const QStringList parts = line.mid(prefix.size()).split(QStringLiteral(" -> "));
            QCOMPARE(parts.size(), 2);
            QCOMPARE(parts.at(1), statusOf(model, parts.at(0).section(u'.', 0, 0)));
            namesSeen.insert(parts.at(0));
        }
        QCOMPARE(namesSeen, (QSet<QString>{"twins.wav", "wide.flac", "single.wav", "copy.flac",
                                           "broken.wav"}));
        QCOMPARE(log.mid(2, 5), scanned);
        QCOMPARE(log.mid(7), (QStringList{QStringLiteral("Scan complete: 5 files processed"),
                                          QStringLiteral("Selecting all fake stereo files")}));

        QVERIFY(model.showConfetti());
        QElapsedTimer sinceEnd;
        sinceEnd.start();
        QTRY_VERIFY_WITH_TIMEOUT(!model.showConfetti(), 8000);
        QVERIFY2(sinceEnd.elapsed() >= 3000, "the celebration ended far too early");
    }

    void aFolderWithoutAudioFiles() {
        ContentViewModel model;
        model.startScanFolders({QUrl::fromLocalFile(noAudio)});
        QVERIFY(waitFor(model, QStringLiteral("No audio files found")));
        QCOMPARE(messages(model),
                 (QStringList{QStringLiteral("Starting scan of 1 folder(s)"),
                              QStringLiteral("Found 0 audio files across 1 folder(s)"),
                              QStringLiteral("No audio files found")}));
        QVERIFY(!model.isScanning());
        QVERIFY(model.items().isEmpty());
        QVERIFY(!model.showConfetti());
    }

    // The same folder given twice, and once more through a link to it.
    void aFileReachedTwiceIsListedOnce() {
        const QString link = root.filePath(QStringLiteral("Pair link"));
        QFile::remove(link);
        QVERIFY(QFile::link(pair, link));
        ContentViewModel model;
        model.startScanFolders(
            {QUrl::fromLocalFile(pair), QUrl::fromLocalFile(pair), QUrl::fromLocalFile(link)});
        QVERIFY(waitForPrefix(model, QStringLiteral("Scan complete: ")));
        QVERIFY(messages(model).contains(QStringLiteral("Found 2 audio files across 3 folder(s)")));
        QStringList paths;
        for (const FileItemPtr& item : model.items())
            paths.append(item->path());
        paths.sort();
        const QString canonical = QDir(pair).canonicalPath();
        QCOMPARE(paths, (QStringList{canonical + QStringLiteral("/left.wav"),
                                     canonical + QStringLiteral("/right.wav")}));
    }

    // Its probe would wait for a writer for good; it is never handed to one.
    void aNamedPipeIsPassedOver() {
        const QString folder = makeFolder(QStringLiteral("Piped"));
        QFile::copy(pair + QStringLiteral("/left.wav"), folder + QStringLiteral("/left.wav"));
        QFile::copy(mixed + QStringLiteral("/wide.flac"), folder + QStringLiteral("/wide.flac"));
        QCOMPARE(
            ::mkfifo(QFile::encodeName(folder + QStringLiteral("/pipe.wav")).constData(), 0600), 0);
        ContentViewModel model;
        model.startScanFolders({QUrl::fromLocalFile(folder)});
        // Well within the probe's own limit, had it been started.
        QVERIFY(waitFor(model, QStringLiteral("Scan complete: 2 files processed"), 8000));
        QCOMPARE(statusOf(model, QStringLiteral("left")), QStringLiteral("\u26A0 Fake Stereo"));
        QCOMPARE(statusOf(model, QStringLiteral("wide")), QStringLiteral("\u2713 Real Stereo"));
        QCOMPARE(statusOf(model, QStringLiteral("pipe")), QStringLiteral("(missing)"));
        QTRY_VERIFY_WITH_TIMEOUT(TestSupport::liveChildren().isEmpty(), 2000);
    }

    void parallelScansBoundsTheAnalysesRunningAtOnce() {
        FakeTools tools;
        recordingTools(tools);
        QDir().mkpath(root.filePath(QStringLiteral("Five")));
        for (int index = 1; index <= 5; ++index)
            QFile::copy(pair + QStringLiteral("/left.wav"),
                        root.filePath(QStringLiteral("Five/%1.wav").arg(index)));

        ContentViewModel model;
        model.startScanFolders({QUrl::fromLocalFile(root.filePath(QStringLiteral("Five")))});
        QVERIFY(waitForPrefix(model, QStringLiteral("Scan complete: ")));
        QVERIFY(messages(model).contains(QStringLiteral("Scan complete: 5 files processed")));
        QCOMPARE(mostAtOnce(toolLog), 2);
    }

    void aStoredParallelScansOfZeroStillScans() {
        Settings::shared().setParallelScans(0);
        ContentViewModel model;
        model.startScanFolders({QUrl::fromLocalFile(pair)});
        QVERIFY(waitForPrefix(model, QStringLiteral("Scan complete: ")));
        QVERIFY(messages(model).contains(QStringLiteral("Scan complete: 2 files processed")));
        QCOMPARE(Settings::shared().parallelScans(), 0);
    }

    void stopScanLetsTheRunningAnalysisFinish_data() {
        QTest::addColumn<bool>("dropFiles");
        QTest::addColumn<QString>("lastLine");
        QTest::newRow("folder scan") << false << "Scan complete: 1 files processed";
        QTest::newRow("file drop") << true << "  -> \u26A0 Fake Stereo";
    }

    // The stop leaves what was analysed, counts it, and celebrates nothing.
    void stopScanLetsTheRunningAnalysisFinish() {
        QFETCH(bool, dropFiles);
        QFETCH(QString, lastLine);
        Settings::shared().setParallelScans(1);
        FakeTools tools;
        recordingTools(tools);
        ContentViewModel model;
        if (dropFiles) {
            QList<QUrl> files;
            for (int index = 1; index <= 4; ++index)
                files.append(QUrl::fromLocalFile(gated + QStringLiteral("/take%1.wav").arg(index)));
            model.handleDrop(files);
            QVERIFY(waitForPrefix(model, QStringLiteral("Analyzing: ")));
        } else {
            model.startScanFolders({QUrl::fromLocalFile(gated)});
            QTRY_COMPARE_WITH_TIMEOUT(model.items().size(), 1, 30000);
        }
        QVERIFY(model.isScanning());
        QCOMPARE(model.totalCount(), 4);

        model.stopScan();
        QCOMPARE(messages(model).last(), QStringLiteral("Stopping scan..."));
        QVERIFY(!model.isScanning());
        QVERIFY(model.scanStopped());
        writeText(release, "go");

        QVERIFY(waitFor(model, lastLine));
        QVERIFY(messages(model).indexOf(QStringLiteral("Stopping scan...")) <
                messages(model).indexOf(lastLine));
        QTRY_COMPARE(model.items().size(), 1);
        QCOMPARE(model.items().first()->detectionStatus, DetectionStatus::fakeStereo);
        QCOMPARE(model.scannedCount(), 1);
        QCOMPARE(model.totalCount(), 4);
        QVERIFY(!model.isScanning());
        QVERIFY(!model.showConfetti());
        QCOMPARE(mostAtOnce(toolLog), 1);
    }

    void clearResultsDuringAndAfterAScan() {
        Settings::shared().setParallelScans(1);
        FakeTools tools;
        recordingTools(tools);
        ContentViewModel model;
        model.startScanFolders({QUrl::fromLocalFile(gated)});
        QTRY_COMPARE_WITH_TIMEOUT(model.items().size(), 1, 30000);

        model.clearResults();
        QCOMPARE(messages(model).last(), QStringLiteral("Clearing results"));
        QVERIFY(model.items().isEmpty());
        QCOMPARE(model.scannedCount(), 0);
        QCOMPARE(model.totalCount(), 0);
        QCOMPARE(model.selectedFolder(), std::nullopt);
        QVERIFY(model.scannedFolders().isEmpty());
        QVERIFY(model.isScanning());

        // The scan goes on: the files analysed after the clear come back.
        writeText(release, "go");
        QVERIFY(waitForPrefix(model, QStringLiteral("Scan complete: ")));
        QVERIFY(messages(model).contains(QStringLiteral("Scan complete: 4 files processed")));
        QCOMPARE(model.items().size(), 3);
        QVERIFY(!model.isScanning());

        model.clearResults();
        QVERIFY(model.items().isEmpty());
        QCOMPARE(model.scannedCount(), 0);
        QCOMPARE(model.totalCount(), 0);
        QVERIFY(!model.isScanning());
    }

    void anOldScanDoesNotDisturbTheNewerOne() {
        Settings::shared().setParallelScans(1);
        FakeTools tools;
        recordingTools(tools);
        ContentViewModel model;
        model.startScanFolders({QUrl::fromLocalFile(gated)});
        QTRY_COMPARE_WITH_TIMEOUT(model.items().size(), 1, 30000);
        const FileItemPtr oldItem = model.items().first();

        // Files that are mono by name need no tool, so the probe held by the
        // old scan cannot hold this one up.
        model.startScanFolders({QUrl::fromLocalFile(suffixed)});
        QVERIFY(waitFor(model, QStringLiteral("Scan complete: 2 files processed")));
        QCOMPARE(model.items().size(), 2);

        writeText(release, "go");
        QTRY_VERIFY_WITH_TIMEOUT(oldItem->detectionStatus != DetectionStatus::pending, 30000);
        // Its late bookkeeping and end would show up as another line or item.
        QVERIFY(!QTest::qWaitFor(
            [&] {
                return messagesStartingWith(model, QStringLiteral("Scan complete: ")).size() > 1 ||
                       model.items().size() != 2 || model.scannedCount() != 2;
            },
            1500));
        QVERIFY(!model.isScanning());
        // Of the replaced scan's four files only the one under way was analysed.
        QCOMPARE(probesStarted(toolLog), 1);
    }
};

CHANFUSE_TEST_MAIN(ViewModelScanTest)
#include "tst_viewmodelscan.moc"
