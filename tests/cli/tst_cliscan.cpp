#include "CliProcess.h"
#include "FakeTools.h"
#include "Processes.h"
#include "TestAudio.h"
#include "TestMain.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <algorithm>
#include <csignal>

#include <sys/types.h>

using CliProcess::run;

class TestCliScan : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void listsEveryFileSortedByPath();
    void printsOneJsonArray();
    void controlCharactersInNamesAreEscaped();
    void verboseSendsTheLogToStandardError();
    void failedFileExitsWithOne();
    void usageErrorsExitWithTwo_data();
    void usageErrorsExitWithTwo();
    void helpAndVersion();
    void comparisonOptionsOverrideStoredSettingsForThisRunOnly_data();
    void comparisonOptionsOverrideStoredSettingsForThisRunOnly();
    void suffixMarksFilesAsAlreadyMono();
    void jobsBoundsTheAnalysesAtOnce();
    void ctrlCStopsTheScan();
    void secondCtrlCQuitsAtOnceAndTakesItsToolsAlong();

private:
    QString library() const { return libraryFolder.path(); }
    QMap<QString, QString> statusesByName(const CliProcess::Result& result) const;
    int mostProbesAtOnce(const QStringList& arguments, const FakeTools& tools);

    QTemporaryDir libraryFolder;
    QTemporaryDir comparisonFolder;
};

void TestCliScan::initTestCase() {
    QDir(library()).mkpath(QStringLiteral("sub"));
    TestAudio::fakeStereo(library() + QStringLiteral("/fake.wav"));
    TestAudio::realStereo(library() + QStringLiteral("/sub/real.flac"));
    TestAudio::mono(library() + QStringLiteral("/mono.mp3"));

    // Channels equal for two seconds, different after; and channels a faint
    // tone apart, which only the statistical comparison calls equal.
    const QString left = TestAudio::tone(440, 0.5);
    TestAudio::generate(comparisonFolder.filePath(QStringLiteral("late.wav")),
                        {left, left + QStringLiteral("+if(gte(t\\,2)\\,0.3*sin(2*PI*660*t)\\,0)")},
                        3);
    TestAudio::generate(comparisonFolder.filePath(QStringLiteral("near.wav")),
                        {left, left + QStringLiteral("+0.002*sin(2*PI*7000*t)")}, 3);
}

void TestCliScan::cleanup() {
    QFile::remove(CliProcess::settingsFile());
}

QMap<QString, QString> TestCliScan::statusesByName(const CliProcess::Result& result) const {
    QMap<QString, QString> statuses;
    for (const QString& line : result.outLines()) {
        const QStringList fields = line.split(u'\t');
        statuses.insert(QFileInfo(fields.last()).fileName(), fields.first());
    }
    return statuses;
}

void TestCliScan::listsEveryFileSortedByPath() {
    const auto result = run({QStringLiteral("scan"), library()});

    QCOMPARE(result.exitCode, 0);
    const QStringList lines = result.outLines();
    const QStringList expectedFiles{library() + QStringLiteral("/fake.wav"),
                                    library() + QStringLiteral("/mono.mp3"),
                                    library() + QStringLiteral("/sub/real.flac")};
    const QStringList expectedStatuses{QStringLiteral("\u26A0 Fake Stereo"),
                                       QStringLiteral("\u2713 Mono"),
                                       QStringLiteral("\u2713 Real Stereo")};
    const QStringList expectedChannels{QStringLiteral("Stereo"), QStringLiteral("Mono"),
                                       QStringLiteral("Stereo")};
    QCOMPARE(lines.size(), expectedFiles.size());
    for (qsizetype index = 0; index < lines.size(); ++index) {
        const QStringList fields = lines[index].split(u'\t');
        QCOMPARE(fields, (QStringList{expectedStatuses[index], expectedChannels[index],
                                      QString::number(QFileInfo(expectedFiles[index]).size()),
                                      expectedFiles[index]}));
    }
    QVERIFY2(result.err.contains(QStringLiteral("3 files scanned, 1 fake stereo")),
             qPrintable(result.err));
}

void TestCliScan::printsOneJsonArray() {
    const auto result = run({QStringLiteral("scan"), QStringLiteral("--json"), library()});

    QCOMPARE(result.exitCode, 0);
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(result.out.toUtf8(), &error);
    QCOMPARE(error.error, QJsonParseError::NoError);
    QVERIFY(document.isArray());
    const QJsonArray array = document.array();
    QCOMPARE(array.size(), 3);

    const QJsonObject fake = array[0].toObject();
    QCOMPARE(fake.value(QStringLiteral("path")).toString(),
             library() + QStringLiteral("/fake.wav"));
    QCOMPARE(fake.value(QStringLiteral("fileName")).toString(), QStringLiteral("fake"));
    QCOMPARE(fake.value(QStringLiteral("extension")).toString(), QStringLiteral("wav"));
    QCOMPARE(fake.value(QStringLiteral("channelStatus")).toString(), QStringLiteral("Stereo"));
    QCOMPARE(fake.value(QStringLiteral("detectionStatus")).toString(),
             QStringLiteral("\u26A0 Fake Stereo"));
    QCOMPARE(fake.value(QStringLiteral("selected")).toBool(), true);
    QCOMPARE(fake.value(QStringLiteral("sizeBytes")).toInteger(),
             QFileInfo(library() + QStringLiteral("/fake.wav")).size());
    QVERIFY(fake.value(QStringLiteral("errorMessage")).isNull());

    const QJsonObject mono = array[1].toObject();
    QCOMPARE(mono.value(QStringLiteral("extension")).toString(), QStringLiteral("mp3"));
    QCOMPARE(mono.value(QStringLiteral("detectionStatus")).toString(),
             QStringLiteral("\u2713 Mono"));
    QCOMPARE(mono.value(QStringLiteral("selected")).toBool(), false);
    QCOMPARE(array[2].toObject().value(QStringLiteral("path")).toString(),
             library() + QStringLiteral("/sub/real.flac"));
    QVERIFY(result.err.contains(QStringLiteral("3 files scanned, 1 fake stereo")));
}

void TestCliScan::controlCharactersInNamesAreEscaped() {
    QTemporaryDir folder;
    const QString root = QDir(folder.path()).canonicalPath();
    QVERIFY(QFile::copy(library() + QStringLiteral("/fake.wav"),
                        root + QStringLiteral("/a\\b\a\x1b[2J\nc\td.wav")));
    const auto result = run({QStringLiteral("scan"), root});
    QCOMPARE(result.outLines().size(), 1);
    QCOMPARE(result.outLines().first().split(u'\t').last(),
             root + QStringLiteral("/a\\\\b\\x{07}\\x{1b}[2J\\nc\\td.wav"));
}

void TestCliScan::verboseSendsTheLogToStandardError() {
    const auto quiet = run({QStringLiteral("scan"), library()});
    const auto verbose = run({QStringLiteral("scan"), QStringLiteral("--verbose"), library()});

    QCOMPARE(verbose.exitCode, 0);
    QCOMPARE(verbose.out, quiet.out);
    QVERIFY(!quiet.err.contains(QStringLiteral("[DEBUG]")));
    QVERIFY2(verbose.err.contains(QStringLiteral("[DEBUG] Scan complete: 3 files processed")),
             qPrintable(verbose.err));
    QVERIFY(verbose.err.contains(QStringLiteral("[DEBUG] Scanned 1/3: ")));
}

void TestCliScan::failedFileExitsWithOne() {
    QTemporaryDir folder;
    TestAudio::mono(folder.filePath(QStringLiteral("good.wav")));
    QFile broken(folder.filePath(QStringLiteral("broken.wav")));
    QVERIFY(broken.open(QIODevice::WriteOnly));
    broken.write("not audio at all");
    broken.close();

    const auto result = run({QStringLiteral("scan"), folder.path()});

    QCOMPARE(result.exitCode, 1);
    QCOMPARE(result.outLines().size(), 2);
    QVERIFY2(result.outLines().first().startsWith(QStringLiteral("\u2717 Error\tUnknown\t16\t")),
             qPrintable(result.out));
    QVERIFY(result.outLines().last().startsWith(QStringLiteral("\u2713 Mono\t")));
}

void TestCliScan::usageErrorsExitWithTwo_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("ffmpeg");
    QTest::addColumn<QString>("message");

    const QString folder = library();
    const QString missing = library() + QStringLiteral("/no such folder");
    QTest::newRow("nothing") << QStringList{} << QString() << QStringLiteral("no command");
    QTest::newRow("no folder") << QStringList{QStringLiteral("scan")} << QString()
                               << QStringLiteral("no folder");
    QTest::newRow("missing folder")
        << QStringList{QStringLiteral("scan"), folder, missing} << QString() << missing;
    QTest::newRow("file for a folder")
        << QStringList{QStringLiteral("convert"), folder + QStringLiteral("/fake.wav")} << QString()
        << QStringLiteral("not a folder");
    QTest::newRow("unknown option")
        << QStringList{QStringLiteral("scan"), QStringLiteral("--fast"), folder} << QString()
        << QStringLiteral("fast");
    QTest::newRow("unknown command")
        << QStringList{QStringLiteral("tidy"), folder} << QString() << QStringLiteral("tidy");
    QTest::newRow("unknown method")
        << QStringList{QStringLiteral("scan"), QStringLiteral("--method"), QStringLiteral("fuzzy"),
                       folder}
        << QString() << QStringLiteral("--method");
    QTest::newRow("unknown behavior")
        << QStringList{QStringLiteral("convert"), QStringLiteral("--behavior"),
                       QStringLiteral("shred"), folder}
        << QString() << QStringLiteral("--behavior");
    QTest::newRow("no jobs") << QStringList{QStringLiteral("scan"), QStringLiteral("--jobs"),
                                            QStringLiteral("0"), folder}
                             << QString() << QStringLiteral("--jobs");
    QTest::newRow("seconds not a number")
        << QStringList{QStringLiteral("scan"), QStringLiteral("--scan-seconds"),
                       QStringLiteral("five"), folder}
        << QString() << QStringLiteral("--scan-seconds");
    QTest::newRow("chosen ffmpeg missing") << QStringList{QStringLiteral("scan"), folder} << missing
                                           << QStringLiteral("CHANFUSE_FFMPEG");
}

void TestCliScan::usageErrorsExitWithTwo() {
    QFETCH(QStringList, arguments);
    QFETCH(QString, ffmpeg);
    QFETCH(QString, message);

    const auto result = run(arguments, ffmpeg);

    QCOMPARE(result.exitCode, 2);
    QVERIFY2(result.err.contains(message), qPrintable(result.err));
    QVERIFY(result.out.isEmpty());
}

void TestCliScan::helpAndVersion() {
    const auto help = run({QStringLiteral("--help")});
    QCOMPARE(help.exitCode, 0);
    for (const char* mentioned :
         {"scan FOLDER", "convert FOLDER", "--dry-run", "--no-suffix", "CHANFUSE_FFMPEG", "130"})
        QVERIFY2(help.out.contains(QLatin1String(mentioned)), mentioned);

    const auto version = run({QStringLiteral("--version")});
    QCOMPARE(version.exitCode, 0);
    QVERIFY2(QRegularExpression(QStringLiteral("^chanfuse-cli \\d+\\.\\d+\\.\\d+\n$"))
                 .match(version.out)
                 .hasMatch(),
             qPrintable(version.out));
}

// The stored settings say statistical comparison over one second; options
// replace either for one run, and the file holding them is left byte for byte.
void TestCliScan::comparisonOptionsOverrideStoredSettingsForThisRunOnly_data() {
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("late");
    QTest::addColumn<QString>("near");

    const QString fake = QStringLiteral("\u26A0 Fake Stereo");
    const QString real = QStringLiteral("\u2713 Real Stereo");
    QTest::newRow("stored") << QStringList{} << fake << fake;
    QTest::newRow("byte-exact") << QStringList{QStringLiteral("--method"),
                                               QStringLiteral("byte-exact")}
                                << fake << real;
    QTest::newRow("three seconds")
        << QStringList{QStringLiteral("--scan-seconds"), QStringLiteral("3")} << real << fake;
    QTest::newRow("both") << QStringList{QStringLiteral("--method=byte-exact"),
                                         QStringLiteral("--scan-seconds=3")}
                          << real << real;
}

void TestCliScan::comparisonOptionsOverrideStoredSettingsForThisRunOnly() {
    QFETCH(QStringList, options);
    QFETCH(QString, late);
    QFETCH(QString, near);
    CliProcess::storeSetting(QStringLiteral("comparisonMethod"), QStringLiteral("Statistical"));
    CliProcess::storeSetting(QStringLiteral("scanLimitSeconds"), 1);
    const QByteArray storedBefore = CliProcess::fileContents(CliProcess::settingsFile());

    const auto result =
        run(QStringList{QStringLiteral("scan")} + options + QStringList{comparisonFolder.path()});

    QCOMPARE(result.exitCode, 0);
    const auto statuses = statusesByName(result);
    QCOMPARE(statuses.value(QStringLiteral("late.wav")), late);
    QCOMPARE(statuses.value(QStringLiteral("near.wav")), near);
    QCOMPARE(CliProcess::fileContents(CliProcess::settingsFile()), storedBefore);
}

void TestCliScan::suffixMarksFilesAsAlreadyMono() {
    QTemporaryDir folder;
    TestAudio::fakeStereo(folder.filePath(QStringLiteral("take_DONE.wav")));

    const auto plain = run({QStringLiteral("scan"), folder.path()});
    const auto suffixed = run({QStringLiteral("scan"), QStringLiteral("--suffix"),
                               QStringLiteral("_DONE"), folder.path()});

    QVERIFY(plain.out.startsWith(QStringLiteral("\u26A0 Fake Stereo\t")));
    QVERIFY2(suffixed.out.startsWith(QStringLiteral("\u2713 Mono\tMono\t")),
             qPrintable(suffixed.out));
    QVERIFY(!QFile::exists(CliProcess::settingsFile()));
}

// Each fake ffprobe waits up to two seconds for company before probing, and
// notes how many probes were running; the waiting makes overlap certain
// whenever it is allowed.
int TestCliScan::mostProbesAtOnce(const QStringList& arguments, const FakeTools& tools) {
    QFile::remove(tools.path(QStringLiteral("counts")));
    const auto result = run(arguments, tools.path(QStringLiteral("ffmpeg")));
    if (result.exitCode != 0)
        qWarning("%s", qPrintable(result.err));
    const QStringList counts =
        QString::fromUtf8(CliProcess::fileContents(tools.path(QStringLiteral("counts"))))
            .split(u'\n', Qt::SkipEmptyParts);
    int most = 0;
    for (const QString& count : counts)
        most = std::max(most, count.trimmed().toInt());
    return most;
}

void TestCliScan::jobsBoundsTheAnalysesAtOnce() {
    QTemporaryDir folder;
    for (const char* name : {"a.wav", "b.wav"})
        TestAudio::mono(folder.filePath(QLatin1String(name)), 0.5);
    FakeTools tools;
    tools.realTool(QStringLiteral("ffmpeg"));
    const QString running = tools.path(QStringLiteral("running"));
    QDir().mkpath(running);
    // Counting with a glob inside a function keeps the loop free of forks.
    tools.script(QStringLiteral("ffprobe"),
                 QStringLiteral("count() { set -- '%1'/*; running=$#; }\n"
                                "touch '%1/'$$\n"
                                "i=0; count\n"
                                "while [ $running -lt 2 ] && [ $i -lt 20 ]; do\n"
                                "  sleep 0.1; i=$((i+1)); count\n"
                                "done\n"
                                "count; echo $running >> '%2'\n"
                                "rm '%1/'$$\n"
                                "exec /usr/bin/ffprobe \"$@\"")
                     .arg(running, tools.path(QStringLiteral("counts"))));

    QCOMPARE(mostProbesAtOnce({QStringLiteral("scan"), QStringLiteral("--jobs"),
                               QStringLiteral("2"), folder.path()},
                              tools),
             2);
    QCOMPARE(mostProbesAtOnce({QStringLiteral("scan"), QStringLiteral("--jobs"),
                               QStringLiteral("1"), folder.path()},
                              tools),
             1);
}

// Probes that take a second each, one at a time: Ctrl-C during the first
// leaves the queued files unscanned, and what was scanned is still listed.
void TestCliScan::ctrlCStopsTheScan() {
    QTemporaryDir folder;
    for (const char* name : {"a.wav", "b.wav", "c.wav", "d.wav", "e.wav"})
        TestAudio::mono(folder.filePath(QLatin1String(name)), 0.5);
    FakeTools tools;
    tools.realTool(QStringLiteral("ffmpeg"));
    const QString started = tools.path(QStringLiteral("started"));
    tools.script(QStringLiteral("ffprobe"),
                 QStringLiteral("touch '%1'\nsleep 1\nexec /usr/bin/ffprobe \"$@\"").arg(started));

    QProcess process;
    CliProcess::start(
        process,
        {QStringLiteral("scan"), QStringLiteral("--jobs"), QStringLiteral("1"), folder.path()},
        tools.path(QStringLiteral("ffmpeg")));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(started), 30000);
    ::kill(pid_t(process.processId()), SIGINT);
    const auto result = CliProcess::finish(process);

    QCOMPARE(result.exitCode, 130);
    const QStringList lines = result.outLines();
    QVERIFY2(!lines.isEmpty() && lines.size() < 5, qPrintable(result.out));
    for (const QString& line : lines)
        QVERIFY2(line.startsWith(QStringLiteral("\u2713 Mono\t")), qPrintable(line));
    QVERIFY(result.err.contains(QStringLiteral("Interrupted")));
}

// A probe that never ends: the first Ctrl-C waits for the file in hand, the
// second quits now, and the hung probe must not live on without us.
void TestCliScan::secondCtrlCQuitsAtOnceAndTakesItsToolsAlong() {
    QTemporaryDir folder;
    TestAudio::mono(folder.filePath(QStringLiteral("a.wav")), 0.5);
    FakeTools tools;
    tools.realTool(QStringLiteral("ffmpeg"));
    const QString probePid = tools.path(QStringLiteral("probe-pid"));
    tools.script(
        QStringLiteral("ffprobe"),
        QStringLiteral("echo $$ > '%1.part' && mv '%1.part' '%1'\nexec sleep 300").arg(probePid));

    QProcess process;
    CliProcess::start(process, {QStringLiteral("scan"), folder.path()},
                      tools.path(QStringLiteral("ffmpeg")));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(probePid), 30000);
    QFile pidFile(probePid);
    QVERIFY(pidFile.open(QIODevice::ReadOnly));
    const pid_t probe = pid_t(pidFile.readAll().trimmed().toInt());
    QVERIFY(TestSupport::isLive(probe));

    ::kill(pid_t(process.processId()), SIGINT);
    QByteArray told;
    QTRY_VERIFY((told += process.readAllStandardError()).contains("Ctrl-C again to quit now"));
    ::kill(pid_t(process.processId()), SIGINT);
    const auto result = CliProcess::finish(process);

    QCOMPARE(result.exitCode, 130);
    QTRY_VERIFY_WITH_TIMEOUT(!TestSupport::isLive(probe), 5000);
}

CHANFUSE_TEST_MAIN(TestCliScan)
#include "tst_cliscan.moc"
