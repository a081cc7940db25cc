#include "CliProcess.h"
#include "FakeTools.h"
#include "Processes.h"
#include "TestAudio.h"
#include "TestMain.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <algorithm>
#include <csignal>

#include <sys/types.h>

using CliProcess::run;

namespace {

const QString converted = QStringLiteral("\u2713 Converted");

// A fake ffmpeg that runs `conversion` (shell) before the real ffmpeg when
// asked to convert, and stays out of the way of the scan's decodes.
void wrapConversions(FakeTools& tools, const QString& conversion) {
    tools.realTool(QStringLiteral("ffprobe"));
    tools.script(QStringLiteral("ffmpeg"), QStringLiteral("case \" $* \" in\n"
                                                          "  *' -ac 1 '*) %1 ;;\n"
                                                          "esac\n"
                                                          "exec /usr/bin/ffmpeg \"$@\"")
                                               .arg(conversion));
}

QStringList filesIn(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

} // namespace

class TestCliConvert : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void convertsEveryFakeStereoFileAndPrintsTheBanner();
    void printsTheConvertedItemsAsJson();
    void dryRunTouchesNothing();
    void behaviorAndSuffixApplyToThisRunOnly_data();
    void behaviorAndSuffixApplyToThisRunOnly();
    void failedConversionExitsWithOne();
    void timeoutLimitsEachConversion();
    void anInterruptLeavesEveryOriginalIntactOrConverted_data();
    void anInterruptLeavesEveryOriginalIntactOrConverted();
    void anUnusableSuffixIsAUsageError();
    void twoRunsOfOneFolderConvertEachOriginalOnce();
    void ffmpegDiesWithAKilledRun();

private:
    QString file(const QString& name) const { return folder->filePath(name); }

    std::unique_ptr<QTemporaryDir> folder;
};

// Two fake-stereo files among a real-stereo and a mono one.
void TestCliConvert::init() {
    folder = std::make_unique<QTemporaryDir>();
    TestAudio::fakeStereo(file(QStringLiteral("a.wav")), 1);
    TestAudio::fakeStereo(file(QStringLiteral("b.flac")), 1);
    TestAudio::realStereo(file(QStringLiteral("real.wav")), 1);
    TestAudio::mono(file(QStringLiteral("mono.wav")), 1);
}

void TestCliConvert::cleanup() {
    QFile::remove(CliProcess::settingsFile());
    QDir(qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/Trash")).removeRecursively();
}

void TestCliConvert::convertsEveryFakeStereoFileAndPrintsTheBanner() {
    const auto result = run({QStringLiteral("convert"), folder->path()});

    QCOMPARE(result.exitCode, 0);
    const QStringList lines = result.outLines();
    QCOMPARE(lines.size(), 4);
    QStringList outcomes = lines.mid(0, 2);
    outcomes.sort();
    QCOMPARE(outcomes, (QStringList{converted + u'\t' + file(QStringLiteral("a.wav")),
                                    converted + u'\t' + file(QStringLiteral("b.flac"))}));
    QVERIFY2(lines[2].startsWith(QStringLiteral("Congratulations! 2 files converted. ")),
             qPrintable(result.out));
    QCOMPARE(lines[3], QStringLiteral("(Original files are moved to the Trash.)"));
    QVERIFY(result.err.contains(QStringLiteral("4 files scanned, 2 fake stereo")));

    QCOMPARE(filesIn(folder->path()),
             (QStringList{QStringLiteral("a_MONO.wav"), QStringLiteral("b_MONO.flac"),
                          QStringLiteral("mono.wav"), QStringLiteral("real.wav")}));
    QCOMPARE(TestAudio::channelsOf(file(QStringLiteral("a_MONO.wav"))), 1);
    QCOMPARE(TestAudio::channelsOf(file(QStringLiteral("b_MONO.flac"))), 1);
    QCOMPARE(filesIn(qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/Trash/files")),
             (QStringList{QStringLiteral("a.wav"), QStringLiteral("b.flac")}));
}

void TestCliConvert::printsTheConvertedItemsAsJson() {
    const auto result = run({QStringLiteral("convert"), QStringLiteral("--json"), folder->path()});

    QCOMPARE(result.exitCode, 0);
    const QJsonArray array = QJsonDocument::fromJson(result.out.toUtf8()).array();
    QCOMPARE(array.size(), 2);
    QCOMPARE(array[0].toObject().value(QStringLiteral("path")).toString(),
             file(QStringLiteral("a.wav")));
    QCOMPARE(array[1].toObject().value(QStringLiteral("path")).toString(),
             file(QStringLiteral("b.flac")));
    for (const QJsonValue& item : array)
        QCOMPARE(item.toObject().value(QStringLiteral("detectionStatus")).toString(), converted);
    QVERIFY2(result.err.contains(QStringLiteral("Congratulations! 2 files converted. ")),
             qPrintable(result.err));
}

void TestCliConvert::dryRunTouchesNothing() {
    const auto before = CliProcess::contentsBelow(folder->path());

    const auto text = run({QStringLiteral("convert"), QStringLiteral("--dry-run"), folder->path()});
    const auto json = run({QStringLiteral("convert"), QStringLiteral("--dry-run"),
                           QStringLiteral("--json"), QStringLiteral("--behavior=overwrite"),
                           QStringLiteral("--no-suffix"), folder->path()});

    QCOMPARE(text.exitCode, 0);
    QCOMPARE(json.exitCode, 0);
    QCOMPARE(CliProcess::contentsBelow(folder->path()), before);
    const QStringList lines = text.outLines();
    QCOMPARE(lines.size(), 2);
    QVERIFY(lines[0].startsWith(QStringLiteral("\u26A0 Fake Stereo\tStereo\t")));
    QVERIFY(lines[0].endsWith(u'\t' + file(QStringLiteral("a.wav"))));
    QVERIFY(lines[1].endsWith(u'\t' + file(QStringLiteral("b.flac"))));
    QVERIFY(!text.out.contains(QStringLiteral("Congratulations")));
    const QJsonArray array = QJsonDocument::fromJson(json.out.toUtf8()).array();
    QCOMPARE(array.size(), 2);
    QCOMPARE(array[1].toObject().value(QStringLiteral("selected")).toBool(), true);
}

// The stored settings say "keep a backup, suffix _STORED"; each row's options
// replace them for one run, and the file holding them is left byte for byte.
void TestCliConvert::behaviorAndSuffixApplyToThisRunOnly_data() {
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QStringList>("outputs");
    QTest::addColumn<QStringList>("originalsLeft");
    QTest::addColumn<QString>("banner");

    const QStringList originals{QStringLiteral("a.wav"), QStringLiteral("b.flac")};
    // Kept originals: the banner says what deleting them would free.
    const QString backedUp = QStringLiteral(
        "Original files are kept, with copies in the _backup folder:\ndeleting the originals "
        "would free ");
    QTest::newRow("stored") << QStringList{}
                            << QStringList{QStringLiteral("a_STORED.wav"),
                                           QStringLiteral("b_STORED.flac")}
                            << originals << backedUp;
    QTest::newRow("suffix") << QStringList{QStringLiteral("--suffix"), QStringLiteral("_ONE")}
                            << QStringList{QStringLiteral("a_ONE.wav"),
                                           QStringLiteral("b_ONE.flac")}
                            << originals << backedUp;
    QTest::newRow("overwrite in place")
        << QStringList{QStringLiteral("--behavior"), QStringLiteral("overwrite"),
                       QStringLiteral("--no-suffix")}
        << originals << QStringList{} << QStringLiteral("(Original files are overwritten.)");
    QTest::newRow("trash") << QStringList{QStringLiteral("--behavior=trash")}
                           << QStringList{QStringLiteral("a_STORED.wav"),
                                          QStringLiteral("b_STORED.flac")}
                           << QStringList{}
                           << QStringLiteral("(Original files are moved to the Trash.)");
}

void TestCliConvert::behaviorAndSuffixApplyToThisRunOnly() {
    QFETCH(QStringList, options);
    QFETCH(QStringList, outputs);
    QFETCH(QStringList, originalsLeft);
    QFETCH(QString, banner);
    CliProcess::storeSetting(QStringLiteral("convertBehavior"), QStringLiteral("Copy to Backup"));
    CliProcess::storeSetting(QStringLiteral("suffix"), QStringLiteral("_STORED"));
    const QByteArray storedBefore = CliProcess::fileContents(CliProcess::settingsFile());
    const QByteArray originalA = CliProcess::fileContents(file(QStringLiteral("a.wav")));

    const auto result =
        run(QStringList{QStringLiteral("convert")} + options + QStringList{folder->path()});

    QCOMPARE(result.exitCode, 0);
    const QString bannerEnd = result.outLines().mid(result.outLines().size() - 2).join(u'\n');
    QVERIFY2(bannerEnd.contains(banner), qPrintable(bannerEnd));
    QStringList expectedFiles = outputs + originalsLeft +
                                QStringList{QStringLiteral("mono.wav"), QStringLiteral("real.wav")};
    expectedFiles.removeDuplicates();
    expectedFiles.sort();
    QStringList files = filesIn(folder->path());
    files.sort();
    QCOMPARE(files, expectedFiles);
    for (const QString& output : outputs)
        QCOMPARE(TestAudio::channelsOf(file(output)), 1);
    for (const QString& original : originalsLeft)
        QCOMPARE(TestAudio::channelsOf(file(original)), 2);
    QCOMPARE(CliProcess::fileContents(file(QStringLiteral("_backup/a.wav"))),
             banner.contains(QStringLiteral("_backup")) ? originalA : QByteArray());
    QCOMPARE(CliProcess::fileContents(CliProcess::settingsFile()), storedBefore);
}

void TestCliConvert::failedConversionExitsWithOne() {
    FakeTools tools;
    wrapConversions(tools, QStringLiteral("case \"$*\" in *b.flac*) echo 'Error opening output "
                                          "files: disk on fire' >&2; exit 1 ;; esac"));
    const QByteArray originalB = CliProcess::fileContents(file(QStringLiteral("b.flac")));

    const auto result =
        run({QStringLiteral("convert"), folder->path()}, tools.path(QStringLiteral("ffmpeg")));

    QCOMPARE(result.exitCode, 1);
    const QStringList lines = result.outLines();
    QVERIFY(lines.contains(converted + u'\t' + file(QStringLiteral("a.wav"))));
    const QString failure =
        QStringLiteral("\u2717 Error\t") + file(QStringLiteral("b.flac")) + u'\t';
    QVERIFY2(std::any_of(lines.cbegin(), lines.cend(),
                         [&](const QString& line) { return line.startsWith(failure); }),
             qPrintable(result.out));
    QVERIFY(result.out.contains(QStringLiteral("Congratulations! 1 files converted. ")));
    QCOMPARE(CliProcess::fileContents(file(QStringLiteral("b.flac"))), originalB);
}

void TestCliConvert::timeoutLimitsEachConversion() {
    FakeTools tools;
    wrapConversions(tools, QStringLiteral("case \"$*\" in *a.wav*) exec sleep 30 ;; esac"));
    const QByteArray originalA = CliProcess::fileContents(file(QStringLiteral("a.wav")));

    const auto result = run({QStringLiteral("convert"), QStringLiteral("--timeout"),
                             QStringLiteral("1"), folder->path()},
                            tools.path(QStringLiteral("ffmpeg")));

    QCOMPARE(result.exitCode, 1);
    const QString skipped =
        QStringLiteral("\u23F1 Skipped\t") + file(QStringLiteral("a.wav")) + u'\t';
    const QStringList lines = result.outLines();
    QVERIFY2(std::any_of(lines.cbegin(), lines.cend(),
                         [&](const QString& line) {
                             return line.startsWith(skipped) &&
                                    line.contains(QStringLiteral("timed out"));
                         }),
             qPrintable(result.out));
    QVERIFY(lines.contains(converted + u'\t' + file(QStringLiteral("b.flac"))));
    QCOMPARE(CliProcess::fileContents(file(QStringLiteral("a.wav"))), originalA);
}

void TestCliConvert::anInterruptLeavesEveryOriginalIntactOrConverted_data() {
    QTest::addColumn<int>("signal");
    QTest::newRow("Ctrl-C") << SIGINT;
    QTest::newRow("SIGTERM") << SIGTERM;
}

// Every conversion dawdles two seconds before the real ffmpeg starts, and
// replaces its original in place, the case where a half-done step would
// lose audio. The signal arrives while the first one runs.
void TestCliConvert::anInterruptLeavesEveryOriginalIntactOrConverted() {
    QFETCH(int, signal);
    FakeTools tools;
    const QString started = tools.path(QStringLiteral("started"));
    wrapConversions(tools, QStringLiteral("touch '%1'; sleep 2").arg(started));
    TestAudio::fakeStereo(file(QStringLiteral("c.wav")), 1);
    TestAudio::fakeStereo(file(QStringLiteral("d.wav")), 1);
    const QStringList names{QStringLiteral("a.wav"), QStringLiteral("b.flac"),
                            QStringLiteral("c.wav"), QStringLiteral("d.wav")};
    QMap<QString, QByteArray> originals;
    for (const QString& name : names)
        originals.insert(name, CliProcess::fileContents(file(name)));
    const QStringList filesBefore = filesIn(folder->path());

    QProcess process;
    CliProcess::start(process,
                      {QStringLiteral("convert"), QStringLiteral("--behavior=overwrite"),
                       QStringLiteral("--no-suffix"), folder->path()},
                      tools.path(QStringLiteral("ffmpeg")));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(started), 60000);
    ::kill(pid_t(process.processId()), signal);
    const auto result = CliProcess::finish(process);

    QCOMPARE(result.exitCode, 130);
    QVERIFY(!result.out.contains(QStringLiteral("Congratulations")));
    QCOMPARE(filesIn(folder->path()), filesBefore);
    int untouched = 0;
    for (const QString& name : names) {
        if (CliProcess::fileContents(file(name)) == originals.value(name))
            untouched += 1;
        else
            QCOMPARE(TestAudio::channelsOf(file(name)), 1);
    }
    QVERIFY2(untouched >= 1, qPrintable(result.out));
}

void TestCliConvert::anUnusableSuffixIsAUsageError() {
    const auto before = CliProcess::contentsBelow(folder->path());
    const auto result = run({QStringLiteral("convert"), QStringLiteral("--suffix"),
                             QStringLiteral("/../../outside"), folder->path()});
    QCOMPARE(result.exitCode, 2);
    QVERIFY2(result.err.contains(QStringLiteral(
                 "chanfuse-cli: --suffix: The suffix may not contain a path separator")),
             qPrintable(result.err));
    QCOMPARE(CliProcess::contentsBelow(folder->path()), before);
}

// Two runs with backups in place (the window and a scheduled run, say): each
// original is converted by one of them, and its backup is the stereo original.
void TestCliConvert::twoRunsOfOneFolderConvertEachOriginalOnce() {
    TestAudio::fakeStereo(file(QStringLiteral("c.wav")), 1);
    const QStringList names{QStringLiteral("a.wav"), QStringLiteral("b.flac"),
                            QStringLiteral("c.wav")};
    QMap<QString, QByteArray> originals;
    for (const QString& name : names)
        originals.insert(name, CliProcess::fileContents(file(name)));
    const QStringList arguments{QStringLiteral("convert"), QStringLiteral("--behavior=backup"),
                                QStringLiteral("--no-suffix"), folder->path()};

    QProcess first;
    QProcess second;
    CliProcess::start(first, arguments);
    CliProcess::start(second, arguments);
    const QString output = CliProcess::finish(first).out + CliProcess::finish(second).out;

    QStringList expected =
        names + QStringList{QStringLiteral("mono.wav"), QStringLiteral("real.wav")};
    for (const QString& name : names)
        expected.append(QStringLiteral("_backup/") + name);
    expected.sort();
    QCOMPARE(CliProcess::contentsBelow(folder->path()).keys(), expected);
    for (const QString& name : names) {
        QCOMPARE(CliProcess::fileContents(file(QStringLiteral("_backup/") + name)),
                 originals.value(name));
        QCOMPARE(TestAudio::channelsOf(file(name)), 1);
        QCOMPARE(output.count(converted + u'\t' + file(name) + u'\n'), 1);
    }
}

// A run killed outright (SIGKILL, out of memory) takes its ffmpeg with it,
// so nothing finishes a file for a run that no longer exists.
void TestCliConvert::ffmpegDiesWithAKilledRun() {
    FakeTools tools;
    const QString pidFile = tools.path(QStringLiteral("ffmpeg.pid"));
    wrapConversions(
        tools, QStringLiteral("echo $$ > '%1.new'; mv '%1.new' '%1'; exec sleep 30").arg(pidFile));
    QProcess process;
    CliProcess::start(process, {QStringLiteral("convert"), folder->path()},
                      tools.path(QStringLiteral("ffmpeg")));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(pidFile), 60000);
    const pid_t ffmpeg = CliProcess::fileContents(pidFile).trimmed().toInt();
    QVERIFY(TestSupport::isLive(ffmpeg));

    ::kill(pid_t(process.processId()), SIGKILL);
    QVERIFY(process.waitForFinished());
    QTRY_VERIFY_WITH_TIMEOUT(!TestSupport::isLive(ffmpeg), 5000);
}

CHANFUSE_TEST_MAIN(TestCliConvert)
#include "tst_cliconvert.moc"
