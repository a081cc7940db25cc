// SPDX-License-Identifier: GPL-3.0-or-later

#include "TestMain.h"

#include "FakeTools.h"
#include "TestAudio.h"
#include "TestFiles.h"
#include "Workers.h"
#include "exec/AsyncSemaphore.h"
#include "exec/WorkerThreads.h"
#include "scanner/AnalysisEngine.h"
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

using namespace Qt::StringLiterals;

using TestAudio::tone;

namespace {

// Generous: tool start-up is slow on a loaded two-core machine under sanitizers.
constexpr int deadlineMs = 120000;

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
                    const AnalysisVerdict verdict = scanner.analyzeFile(item->url);
                    postToGuiThread([item, verdict] { verdict.applyTo(*item); });
                    permits.signal();
                });
            }
        },
        deadlineMs);
}

// Silent until `from` seconds, then `tail`.
QString after(double from, const QString& tail) {
    return u"if(gte(t\\,%1)\\,%2\\,0)"_s.arg(from).arg(tail);
}

struct Outcome {
    QString file;
    QString channels;
    DetectionStatus byteExact;
    DetectionStatus statistical;
    QString shown = {}; // the failure shown with the item
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
QStringList discover(const QString& root, QStringList* notes = nullptr, const QString& folder = {},
                     const QList<QUrl>& chosen = {}) {
    auto found = std::make_shared<DiscoveredFiles>();
    const QUrl url = QUrl::fromLocalFile(folder.isEmpty() ? root : folder);
    if (!TestSupport::finishOnWorker(
            [found, url, chosen] {
                *found = AudioScanner(Settings::shared()).findAudioFiles(url, chosen);
            },
            deadlineMs))
        return {u"<the walk did not end>"_s};
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
    const QString awkward = u"-y $(touch pwned) it's \"Audio: mono\" Ça.flac"_s;

    // What every file of the folder must end as with a one-second window.
    QList<Outcome> folderOutcomes() const {
        using DS = DetectionStatus;
        const QString stereo = u"Stereo"_s;
        const QString unknown = u"Unknown"_s;
        const QString unreadable = u"ffprobe could not read an audio stream from the file"_s;
        QList<Outcome> outcomes{
            {u"mono.wav"_s, u"Mono"_s, DS::mono, DS::mono},
            {u"real.wav"_s, stereo, DS::realStereo, DS::realStereo},
            // Matching front and surround pairs would downmix to identical
            // channels; the centre would be lost.
            {u"surround.wav"_s, u"6 ch"_s, DS::multichannel, DS::multichannel},
            {u"two streams.m4a"_s, u"2 audio streams"_s, DS::multichannel, DS::multichannel},
            {u"no frames.wav"_s, stereo, DS::error, DS::error, u"No audio to compare"_s},
            // A name proves nothing; the converter's own outputs are mono.
            {u"Take_MONO.flac"_s, stereo, DS::realStereo, DS::realStereo},
            {u"Take2_MONO.flac"_s, u"Mono"_s, DS::mono, DS::mono},
            // A silent window is no evidence: the whole file decides.
            {u"hidden track.flac"_s, stereo, DS::realStereo, DS::realStereo},
            {u"late start.wav"_s, stereo, DS::fakeStereo, DS::fakeStereo},
            {awkward, stereo, DS::fakeStereo, DS::fakeStereo},
            {u"corrupt.wav"_s, unknown, DS::error, DS::error, unreadable},
            {u"picture.mp4"_s, unknown, DS::error, DS::error, unreadable},
            {u"missing.wav"_s, unknown, DS::error, DS::error, unreadable},
        };
        for (const char* extension : {"wav", "flac", "mp3", "ogg", "m4a"})
            outcomes.append(
                {u"fake."_s + QLatin1String(extension), stereo, DS::fakeStereo, DS::fakeStereo});
        return outcomes;
    }

private slots:
    void initTestCase() {
        const QString left = tone(440, 0.5);
        TestAudio::mono(file(u"mono.wav"_s), 1);
        for (const char* extension : {"wav", "flac", "mp3", "ogg"})
            TestAudio::fakeStereo(file(u"fake."_s + QLatin1String(extension)), 1);
        // Noise substitution and intensity stereo would make AAC's channels
        // differ slightly; without them identical input decodes identically.
        TestAudio::generate(file(u"fake.m4a"_s), {left, left}, 1,
                            {u"-aac_pns"_s, u"0"_s, u"-aac_is"_s, u"0"_s, u"-aac_ms"_s, u"1"_s});
        TestAudio::realStereo(file(u"real.wav"_s), 3);
        TestAudio::surround(file(u"surround.wav"_s), 1);
        TestAudio::twoStreams(file(u"two streams.m4a"_s), 1);
        TestAudio::generate(file(u"no frames.wav"_s), {left, left}, 0);
        TestAudio::realStereo(file(u"Take_MONO.flac"_s), 1);
        TestAudio::mono(file(u"Take2_MONO.flac"_s), 1);
        TestAudio::generate(file(u"hidden track.flac"_s),
                            {after(1.5, tone(440)), after(1.5, tone(660))}, 2.5);
        TestAudio::generate(file(u"late start.wav"_s),
                            {after(1.5, tone(440)), after(1.5, tone(440))}, 2.5);
        TestAudio::generate(file(awkward), {left, left}, 1,
                            {u"-metadata"_s, u"title=\nStream #0:0: Audio: pcm_s16le, mono"_s});
        TestFiles::writeFile(file(u"corrupt.wav"_s), QByteArray("RIFF????WAVEjunk").repeated(64));
        TestAudio::ffmpeg({u"-f"_s, u"lavfi"_s, u"-i"_s, u"color=c=black:s=32x32:d=1"_s, u"-c:v"_s,
                           u"mpeg4"_s, file(u"picture.mp4"_s)});
    }

    void init() {
        Settings& settings = Settings::shared();
        settings.setSuffix(u"_MONO"_s);
        settings.setAppendFilename(true);
        settings.setScanLimitSeconds(1);
        settings.setComparisonMethod(ComparisonMethod::byteExact);
        settings.setAutoSelectAll(true);
        qunsetenv("CHANFUSE_ANALYZER");
    }

    // Both engines, the analyser's workers and the tools, on one table.
    void classifiesEveryKindOfFile_data() {
        QTest::addColumn<ComparisonMethod>("method");
        QTest::addColumn<bool>("autoSelectAll");
        QTest::addColumn<bool>("toolsOnly");
        for (ComparisonMethod method : allCases<ComparisonMethod>()) {
            for (bool autoSelect : {true, false}) {
                for (bool tools : {false, true})
                    QTest::addRow("%s, auto-select %s, %s", qPrintable(rawValue(method)),
                                  autoSelect ? "on" : "off", tools ? "tools" : "workers")
                        << method << autoSelect << tools;
            }
        }
    }

    void classifiesEveryKindOfFile() {
        QFETCH(ComparisonMethod, method);
        QFETCH(bool, autoSelectAll);
        QFETCH(bool, toolsOnly);
        if (toolsOnly)
            qputenv("CHANFUSE_ANALYZER", "");
        QCOMPARE(!AnalysisEngine::workerProgram(*FFmpegLocator::ffmpegPath()), toolsOnly);
        Settings::shared().setComparisonMethod(method);
        Settings::shared().setAutoSelectAll(autoSelectAll);

        // Each item starts with the opposite of the setting, so an untouched
        // selection and one written from the setting cannot be mistaken.
        const QList<Outcome> outcomes = folderOutcomes();
        QList<FileItemPtr> items;
        for (const Outcome& outcome : outcomes)
            items.append(itemFor(outcome.file, !autoSelectAll));

        QVERIFY(analyse(items));

        QStringList mismatches;
        for (qsizetype i = 0; i < outcomes.size(); ++i) {
            const Outcome& expected = outcomes[i];
            const FileItem& item = *items[i];
            const DetectionStatus detection =
                method == ComparisonMethod::byteExact ? expected.byteExact : expected.statistical;
            // Mono files and failures keep the selection; every other verdict
            // sets it. Only a failure carries a reason.
            const bool selected =
                detection == DetectionStatus::mono || detection == DetectionStatus::error
                    ? !autoSelectAll
                    : detection == DetectionStatus::fakeStereo && autoSelectAll;
            if (item.channelLabel() != expected.channels || item.detectionStatus != detection ||
                item.isSelected != selected ||
                item.errorMessage.value_or(QString()) != expected.shown)
                mismatches.append(
                    u"%1: %2 / %3 / %4"_s
                        .arg(expected.file, item.channelLabel(), rawValue(item.detectionStatus))
                        .arg(item.isSelected));
        }
        QVERIFY2(mismatches.isEmpty(), qPrintable(mismatches.join(u"; "_s)));
        QVERIFY(!QFile::exists(file(u"pwned"_s)));
    }

    // A link that discovery gives as itself leads outside the chosen
    // folders: listed as skipped, never offered, nothing run on it.
    void aLinkIsNeverFollowed() {
        QTemporaryDir other;
        const QString link = other.filePath(u"link.flac"_s);
        QVERIFY(QFile::link(file(u"fake.flac"_s), link));
        const auto item = std::make_shared<FileItem>(QUrl::fromLocalFile(link));
        QVERIFY(analyse({item}));
        QCOMPARE(item->detectionStatus, DetectionStatus::timedOut);
        QCOMPARE(item->errorMessage, u"Skipped: a link to a file outside the chosen folders"_s);
        QCOMPARE(item->channelStatus, ChannelStatus::unknown);
    }

    // Without a well-formed channel count from ffprobe nothing can be shown
    // to be stereo, whatever the file is named.
    void withoutAChannelCountTheFileFails_data() {
        QTest::addColumn<QString>("ffprobe");
        QTest::newRow("no audio stream") << R"(echo '{"streams": []}')";
        QTest::newRow("no channel count") << R"(echo '{"streams": [{}]}')";
        QTest::newRow("count in words") << R"(echo '{"streams": [{"channels": "stereo"}]}')";
        QTest::newRow("not JSON") << "echo 2";
        QTest::newRow("no ffprobe beside ffmpeg") << "";
        QTest::newRow("no ffmpeg at all") << "-";
    }

    void withoutAChannelCountTheFileFails() {
        QFETCH(QString, ffprobe);
        FakeTools tools;
        tools.realTool(u"ffmpeg"_s);
        if (ffprobe == u"-")
            FakeTools::hideEveryFFmpeg();
        else if (!ffprobe.isEmpty())
            tools.script(u"ffprobe"_s, ffprobe);
        const QList<FileItemPtr> items{itemFor(u"fake.flac"_s), itemFor(u"Take2_MONO.flac"_s)};
        QVERIFY(analyse(items));
        for (const FileItemPtr& item : items) {
            QCOMPARE(item->detectionStatus, DetectionStatus::error);
            QCOMPARE(item->channelStatus, ChannelStatus::unknown);
        }
    }

    // Only regular files with an audio extension, outside hidden and backup
    // folders; leftovers of a killed conversion and names the tools cannot be
    // handed are noted.
    void discoveryListsTheUserAudioFiles() {
        QTemporaryDir root;
        const QString base = QDir(root.path()).canonicalPath();
        const QString uuid = u"0A1B2C3D-4E5F-6789-ABCD-EF0123456789"_s;
        const QStringList audio{"a.WAV", "b.flac", "c.aif", "d.Aiff", "e.MP3",
                                "f.m4A", "g.aac",  "h.WMA", "i.Ogg"};
        makeTree(base, audio + QStringList{"c.txt", "wav", "song.aifc", "x.wav.bak", "trailing.",
                                           ".hidden.wav", ".cache/x.mp3", "v/.also.flac",
                                           "v/seen.ogg", "v/w.wav/deep.mp3", "v/w.wav/x/deeper.wma",
                                           "empty.flac/", "_backup/old.wav", "v/_backup/old.flac",
                                           "v/sonfold_out_" + uuid + ".flac",
                                           "v/.sonfold_orig_" + uuid + ".WAV",
                                           "v/.sonfold_orig_" + uuid, "v/sonfold_out_mine.wav",
                                           "v/sonfold_out_" + uuid + ".flac.part"});
        QCOMPARE(::mkfifo(QFile::encodeName(base + u"/pipe.wav"_s).constData(), 0600), 0);
        const QByteArray undecodable = QFile::encodeName(base + u"/v/"_s) + "\xff";
        const QList<QByteArray> undecodableNames{undecodable + ".wav", undecodable + "2.flac"};
        for (const QByteArray& name : undecodableNames)
            ::close(::open(name.constData(), O_WRONLY | O_CREAT, 0600));
        // A link to a file inside the chosen folders gives that file's own
        // path; one to a file outside them gives the link, to be listed as
        // skipped; links to folders (a loop among them), to backups and to
        // nothing give nothing.
        const QString linked =
            QDir(base).relativeFilePath(QFileInfo(file(u"mono.wav"_s)).canonicalFilePath());
        QVERIFY(QFile::link(file(u"mono.wav"_s), base + u"/v/l.mp3"_s));
        QVERIFY(QFile::link(u"../b.flac"_s, base + u"/v/in.wav"_s));
        QVERIFY(QFile::link(base, base + u"/v/up.wav"_s));
        QVERIFY(QFile::link(base + u"/_backup/old.wav"_s, base + u"/v/backup.wav"_s));
        QVERIFY(QFile::link(base + u"/gone"_s, base + u"/dead.ogg"_s));

        QStringList notes;
        const QStringList found = discover(base, &notes);
        for (const QByteArray& name : undecodableNames)
            QCOMPARE(::unlink(name.constData()), 0);

        const QStringList always =
            audio + QStringList{"v/seen.ogg", "v/sonfold_out_mine.wav", "v/w.wav/deep.mp3",
                                "v/w.wav/x/deeper.wma", "b.flac"};
        QCOMPARE(sorted(found), sorted(always + QStringList{"v/l.mp3"}));
        const QList<QUrl> chosen{QUrl::fromLocalFile(base), QUrl::fromLocalFile(folder.path())};
        QCOMPARE(sorted(discover(base, nullptr, {}, chosen)), sorted(always + QStringList{linked}));
        QCOMPARE(sorted(notes),
                 sorted({"Leftover of an interrupted conversion (temporary output): " + base +
                             "/v/sonfold_out_" + uuid + ".flac",
                         "Leftover of an interrupted conversion (kept original): " + base +
                             "/v/.sonfold_orig_" + uuid + ".WAV",
                         "Leftover of an interrupted conversion (kept original): " + base +
                             "/v/.sonfold_orig_" + uuid,
                         "Skipped 2 name(s) that are not valid UTF-8 in: " + base + "/v"}));
        // Nothing where there is no folder.
        for (const char* below : {"/missing", "/empty.flac", "/c.txt/sub"})
            QCOMPARE(discover(base, nullptr, base + QLatin1String(below)), QStringList());
    }
};

CHANFUSE_TEST_MAIN(AudioScannerTest)
#include "tst_audioscanner.moc"
