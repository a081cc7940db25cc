#include "TestMain.h"

#include "ConsoleCapture.h"
#include "FakeTools.h"
#include "TestAudio.h"
#include "TestFiles.h"
#include "Workers.h"
#include "exec/AsyncSemaphore.h"
#include "scanner/AudioScanner.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

using TestAudio::tone;

namespace {

// Generous: tool start-up is slow on a loaded two-core machine under sanitizers.
constexpr int deadlineMs = 120000;

QString failureLine(const QString& name) {
    return QStringLiteral("[DEBUG] Scan failed for %1: Failed to decode audio file. Is ffmpeg "
                          "installed?")
        .arg(name);
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
        deadlineMs);
}

// Silent until `from` seconds, then `tail`.
QString after(double from, const QString& tail) {
    return QStringLiteral("if(gte(t\\,%1)\\,%2\\,0)").arg(from).arg(tail);
}

struct Outcome {
    QString file;
    QString channels;
    DetectionStatus byteExact;
    DetectionStatus statistical;
};

// Files and folders (names ending in '/') below `root`.
void makeTree(const QString& root, const QStringList& entries) {
    for (const QString& entry : entries) {
        if (entry.contains(u'/'))
            QDir().mkpath(root + u'/' + entry.left(entry.lastIndexOf(u'/')));
        if (!entry.endsWith(u'/'))
            TestFiles::writeFile(root + u'/' + entry, {});
    }
}

// The discovery on a worker, as a scan runs it, relative to `root`.
QStringList discover(const QString& root, QStringList* notes = nullptr,
                     const QString& folder = {}) {
    auto found = std::make_shared<DiscoveredFiles>();
    const QUrl url = QUrl::fromLocalFile(folder.isEmpty() ? root : folder);
    if (!TestSupport::finishOnWorker(
            [found, url] { *found = AudioScanner(Settings::shared()).findAudioFiles(url); },
            deadlineMs))
        return {QStringLiteral("<the walk did not end>")};
    QStringList relative;
    const QDir base(QDir(root).canonicalPath());
    for (const QUrl& file : std::as_const(found->audioFiles))
        relative.append(base.relativeFilePath(file.toLocalFile()));
    if (notes)
        *notes = found->notes;
    return relative;
}

QStringList sorted(QStringList list) {
    list.sort();
    return list;
}

} // namespace

class AudioScannerTest : public QObject {
    Q_OBJECT

    QTemporaryDir folder;

    QString file(const QString& name) const { return folder.filePath(name); }

    FileItemPtr itemFor(const QString& name, bool selected = false) const {
        auto item = std::make_shared<FileItem>(QUrl::fromLocalFile(file(name)));
        item->isSelected = selected;
        return item;
    }

    // Shell and option syntax, and the text of ffmpeg's own stream
    // descriptions: the layout must come from the stream parameters.
    const QString awkward = QStringLiteral("-y $(touch pwned) it's \"Audio: mono\" Ça.flac");

    // What every file of the folder must end as with a one-second window.
    QList<Outcome> folderOutcomes() const {
        using DS = DetectionStatus;
        const QString stereo = QStringLiteral("Stereo");
        const QString unknown = QStringLiteral("Unknown");
        QList<Outcome> outcomes{
            {QStringLiteral("mono.wav"), QStringLiteral("Mono"), DS::mono, DS::mono},
            {QStringLiteral("real.wav"), stereo, DS::realStereo, DS::realStereo},
            // Matching front and surround pairs would downmix to identical
            // channels; the centre would be lost.
            {QStringLiteral("surround.wav"), QStringLiteral("6 ch"), DS::multichannel,
             DS::multichannel},
            {QStringLiteral("two streams.m4a"), QStringLiteral("2 audio streams"), DS::multichannel,
             DS::multichannel},
            {QStringLiteral("half level.wav"), stereo, DS::realStereo, DS::fakeStereo},
            {QStringLiteral("inverted.wav"), stereo, DS::realStereo, DS::realStereo},
            {QStringLiteral("no frames.wav"), stereo, DS::realStereo, DS::realStereo},
            {QStringLiteral("Take_MONO.flac"), QStringLiteral("Mono"), DS::mono, DS::mono},
            {QStringLiteral("take_mono.flac"), stereo, DS::realStereo, DS::realStereo},
            // A silent window is no evidence: the whole file decides.
            {QStringLiteral("hidden track.flac"), stereo, DS::realStereo, DS::realStereo},
            {QStringLiteral("late start.wav"), stereo, DS::fakeStereo, DS::fakeStereo},
            {awkward, stereo, DS::fakeStereo, DS::fakeStereo},
            {QStringLiteral("corrupt.wav"), unknown, DS::error, DS::error},
            {QStringLiteral("empty.wav"), unknown, DS::error, DS::error},
            {QStringLiteral("picture.mp4"), unknown, DS::error, DS::error},
            {QStringLiteral("missing.wav"), unknown, DS::error, DS::error},
        };
        for (const char* extension : {"wav", "flac", "mp3", "ogg", "m4a"})
            outcomes.append({QStringLiteral("fake.") + QLatin1String(extension), stereo,
                             DS::fakeStereo, DS::fakeStereo});
        return outcomes;
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
        TestAudio::realStereo(file(QStringLiteral("real.wav")), 3);
        TestAudio::surround(file(QStringLiteral("surround.wav")), 1);
        TestAudio::twoStreams(file(QStringLiteral("two streams.m4a")), 1);
        TestAudio::generate(file(QStringLiteral("half level.wav")), {left, tone(440, 0.25)}, 1);
        TestAudio::generate(file(QStringLiteral("inverted.wav")), {left, tone(440, -0.5)}, 1);
        TestAudio::generate(file(QStringLiteral("no frames.wav")), {left, left}, 0);
        TestAudio::realStereo(file(QStringLiteral("Take_MONO.flac")), 1);
        TestAudio::realStereo(file(QStringLiteral("take_mono.flac")), 1);
        TestAudio::generate(file(QStringLiteral("hidden track.flac")),
                            {after(1.5, tone(440)), after(1.5, tone(660))}, 2.5);
        TestAudio::generate(file(QStringLiteral("late start.wav")),
                            {after(1.5, tone(440)), after(1.5, tone(440))}, 2.5);
        TestAudio::generate(file(awkward), {left, left}, 1,
                            {QStringLiteral("-metadata"),
                             QStringLiteral("title=\nStream #0:0: Audio: pcm_s16le, mono")});
        TestFiles::writeFile(file(QStringLiteral("corrupt.wav")),
                             QByteArray("RIFF????WAVEjunk").repeated(64));
        TestFiles::writeFile(file(QStringLiteral("empty.wav")), {});
        TestAudio::ffmpeg({QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                           QStringLiteral("color=c=black:s=32x32:d=1"), QStringLiteral("-c:v"),
                           QStringLiteral("mpeg4"), file(QStringLiteral("picture.mp4"))});
    }

    void init() {
        Settings& settings = Settings::shared();
        settings.setSuffix(QStringLiteral("_MONO"));
        settings.setAppendFilename(true);
        settings.setScanLimitSeconds(1);
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
        const QStringList printed = console.lines(); // before any failure is printed

        QStringList mismatches, failures;
        for (qsizetype i = 0; i < outcomes.size(); ++i) {
            const Outcome& expected = outcomes[i];
            const FileItem& item = *items[i];
            const DetectionStatus detection =
                method == ComparisonMethod::byteExact ? expected.byteExact : expected.statistical;
            // Mono files and failures keep the selection; every other verdict sets it.
            const bool selected =
                detection == DetectionStatus::mono || detection == DetectionStatus::error
                    ? !autoSelectAll
                    : detection == DetectionStatus::fakeStereo && autoSelectAll;
            if (item.channelLabel() != expected.channels || item.detectionStatus != detection ||
                item.isSelected != selected || item.errorMessage)
                mismatches.append(
                    QStringLiteral("%1: %2 / %3 / %4")
                        .arg(expected.file, item.channelLabel(), rawValue(item.detectionStatus))
                        .arg(item.isSelected));
            if (detection == DetectionStatus::error)
                failures.append(failureLine(expected.file));
        }
        QVERIFY2(mismatches.isEmpty(), qPrintable(mismatches.join(QStringLiteral("; "))));
        QCOMPARE(sorted(printed), sorted(failures));
        QVERIFY(!QFile::exists(file(QStringLiteral("pwned"))));
    }

    // Writes reach the item only through the GUI thread's event queue.
    void writesWaitForTheGuiThread() {
        const FileItemPtr item = itemFor(QStringLiteral("fake.flac"));
        std::thread([item] { AudioScanner(Settings::shared()).analyzeFile(item); }).join();
        QCOMPARE(item->detectionStatus, DetectionStatus::pending);
        QCoreApplication::sendPostedEvents();
        QCOMPARE(item->detectionStatus, DetectionStatus::fakeStereo);
    }

    void decodeGivesTwoChannelPcmOfAtMostTheAskedLength() {
        const AudioScanner scanner(Settings::shared());
        const QUrl url = QUrl::fromLocalFile(file(QStringLiteral("real.wav")));
        constexpr qint64 bytesPerSecond = 176400;
        QCOMPARE(scanner.decodeToRawPCM(url, 30).size(), 3 * bytesPerSecond);
        QCOMPARE(scanner.decodeToRawPCM(url, 1).size(), bytesPerSecond);
    }

    // With an ffprobe that fails, the name alone must decide or the file fails.
    void monoByNameNeedsNoTool_data() {
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<bool>("appendFilename");
        QTest::addColumn<bool>("monoByName");
        QTest::newRow("suffix, not appended") << "_MONO" << false << true;
        QTest::newRow("empty suffix") << "" << true << false;
        QTest::newRow("extension takes no part") << "_MONO.flac" << true << false;
    }

    void monoByNameNeedsNoTool() {
        QFETCH(QString, suffix);
        QFETCH(bool, appendFilename);
        QFETCH(bool, monoByName);
        Settings::shared().setSuffix(suffix);
        Settings::shared().setAppendFilename(appendFilename);
        FakeTools tools;
        tools.realTool(QStringLiteral("ffmpeg"));
        tools.script(QStringLiteral("ffprobe"), QStringLiteral("exit 1"));
        const FileItemPtr item = itemFor(QStringLiteral("Take_MONO.flac"));
        QVERIFY(analyse({item}));
        QCOMPARE(item->detectionStatus,
                 monoByName ? DetectionStatus::mono : DetectionStatus::error);
    }

    // Without a channel count from ffprobe nothing can be shown to be stereo.
    void probeWithoutAWellFormedCountFailsTheFile_data() {
        QTest::addColumn<QString>("ffprobe");
        QTest::newRow("no audio stream") << R"(echo '{"streams": []}')";
        QTest::newRow("no channel count") << R"(echo '{"streams": [{}]}')";
        QTest::newRow("count in words") << R"(echo '{"streams": [{"channels": "stereo"}]}')";
        QTest::newRow("not JSON") << "echo 2";
        QTest::newRow("nothing, failing") << "exit 1";
        QTest::newRow("no ffprobe beside ffmpeg") << "";
        QTest::newRow("no ffmpeg at all") << "-";
    }

    void probeWithoutAWellFormedCountFailsTheFile() {
        QFETCH(QString, ffprobe);
        FakeTools tools;
        tools.realTool(QStringLiteral("ffmpeg"));
        if (ffprobe == u"-")
            FakeTools::hideEveryFFmpeg();
        else if (!ffprobe.isEmpty())
            tools.script(QStringLiteral("ffprobe"), ffprobe);
        const QList<FileItemPtr> items{itemFor(QStringLiteral("fake.flac")),
                                       itemFor(QStringLiteral("Take_MONO.flac"))};
        QVERIFY(analyse(items));
        QCOMPARE(items[0]->detectionStatus, DetectionStatus::error);
        QCOMPARE(items[0]->channelStatus, ChannelStatus::unknown);
        QCOMPARE(items[1]->detectionStatus, DetectionStatus::mono);
    }

    // Only regular files with an audio extension, outside hidden and backup
    // folders, in listing order and one folder at a time; leftovers of a
    // killed conversion and names the tools cannot be handed are noted.
    void discoveryListsTheUserAudioFiles() {
        QTemporaryDir root;
        const QString base = QDir(root.path()).canonicalPath();
        const QStringList audio{"a.WAV", "b.flac", "c.aif", "d.Aiff", "e.MP3",
                                "f.m4A", "g.aac",  "h.WMA", "i.Ogg"};
        makeTree(base, audio + QStringList{"c.txt", "wav", "song.aifc", "x.wav.bak", "trailing.",
                                           ".hidden.wav", ".cache/x.mp3", "v/.also.flac",
                                           "v/seen.ogg", "v/w.wav/deep.mp3", "v/w.wav/x/deeper.wma",
                                           "empty.flac/", "_backup/old.wav", "v/_backup/old.flac",
                                           "v/sonfold_out_1234.flac", "v/.sonfold_orig_5678"});
        QCOMPARE(::mkfifo(QFile::encodeName(base + QStringLiteral("/pipe.wav")).constData(), 0600),
                 0);
        const QByteArray undecodable = QFile::encodeName(base + QStringLiteral("/v/")) + "\xff";
        const QList<QByteArray> undecodableNames{undecodable + ".wav", undecodable + "2.flac"};
        for (const QByteArray& name : undecodableNames)
            ::close(::open(name.constData(), O_WRONLY | O_CREAT, 0600));
        // A link to a file gives that file's own path; links to folders
        // (a loop among them), to backups and to nothing give nothing.
        const QString linked = QDir(base).relativeFilePath(
            QFileInfo(file(QStringLiteral("mono.wav"))).canonicalFilePath());
        QVERIFY(QFile::link(file(QStringLiteral("mono.wav")), base + QStringLiteral("/v/l.mp3")));
        QVERIFY(QFile::link(base, base + QStringLiteral("/v/up.wav")));
        QVERIFY(QFile::link(base + QStringLiteral("/_backup/old.wav"),
                            base + QStringLiteral("/v/backup.wav")));
        QVERIFY(QFile::link(base + QStringLiteral("/gone"), base + QStringLiteral("/dead.ogg")));

        QStringList notes;
        const QStringList found = discover(base, &notes);
        for (const QByteArray& name : undecodableNames)
            QCOMPARE(::unlink(name.constData()), 0);

        QCOMPARE(sorted(found), sorted(audio + QStringList{"v/seen.ogg", "v/w.wav/deep.mp3",
                                                           "v/w.wav/x/deeper.wma", linked}));
        QStringList listed = QDir(base).entryList(QDir::Files, QDir::Unsorted);
        listed.removeIf([&audio](const QString& name) { return !audio.contains(name); });
        QStringList topLevel = found;
        topLevel.removeIf([&audio](const QString& name) { return !audio.contains(name); });
        QCOMPARE(topLevel, listed);
        // A folder is finished before the walk moves on.
        for (const QString prefix : {"v/", "v/w.wav/"}) {
            QList<qsizetype> at;
            for (qsizetype i = 0; i < found.size(); ++i)
                if (found[i].startsWith(prefix) || (prefix == u"v/" && found[i] == linked))
                    at.append(i);
            QVERIFY2(at.last() - at.first() + 1 == at.size(), qPrintable(found.join(u' ')));
        }
        QCOMPARE(sorted(notes),
                 sorted({"Leftover of an interrupted conversion (temporary output): " + base +
                             "/v/sonfold_out_1234.flac",
                         "Leftover of an interrupted conversion (kept original): " + base +
                             "/v/.sonfold_orig_5678",
                         "Skipped 2 name(s) that are not valid UTF-8 in: " + base + "/v"}));
    }

    void discoveryFindsNothingWhereThereIsNoFolder_data() {
        QTest::addColumn<QString>("below");
        QTest::newRow("missing folder") << "missing";
        QTest::newRow("empty folder") << "empty";
        QTest::newRow("through a regular file") << "file.wav/sub";
    }

    void discoveryFindsNothingWhereThereIsNoFolder() {
        QFETCH(QString, below);
        QTemporaryDir root;
        makeTree(root.path(), {"empty/", "file.wav"});
        QCOMPARE(discover(root.path(), nullptr, root.filePath(below)), QStringList());
    }
};

CHANFUSE_TEST_MAIN(AudioScannerTest)
#include "tst_audioscanner.moc"
