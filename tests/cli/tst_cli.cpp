#include "FakeTools.h"
#include "Processes.h"
#include "TestAudio.h"
#include "TestFiles.h"
#include "TestMain.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>

#include <algorithm>
#include <csignal>

#include <sys/types.h>

using TestFiles::contentsOf;

namespace {

const QString fake = QStringLiteral("\u26A0 Fake Stereo");
const QString real = QStringLiteral("\u2713 Real Stereo");
const QString converted = QStringLiteral("\u2713 Converted");

struct Result {
    int exitCode = -1;
    QString out;
    QString err;

    QStringList outLines() const { return out.split(u'\n', Qt::SkipEmptyParts); }
};

// The built chanfuse-cli as a child process with the test's isolated
// settings and data folders; `ffmpeg` becomes its CHANFUSE_FFMPEG.
void start(QProcess& process, const QStringList& arguments, const QString& ffmpeg = {}) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("CHANFUSE_FFMPEG"));
    if (!ffmpeg.isEmpty())
        environment.insert(QStringLiteral("CHANFUSE_FFMPEG"), ffmpeg);
    process.setProcessEnvironment(environment);
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(QStringLiteral(CHANFUSE_CLI), arguments);
    if (!process.waitForStarted())
        qFatal("chanfuse-cli did not start");
}

Result finish(QProcess& process) {
    if (!process.waitForFinished(120000))
        qFatal("chanfuse-cli did not finish");
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

Result run(const QStringList& arguments, const QString& ffmpeg = {}) {
    QProcess process;
    start(process, arguments, ffmpeg);
    return finish(process);
}

// The store of the Chanfuse window, which the child reads.
QString settingsFile() {
    return qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/Chanfuse/Chanfuse.conf");
}

void storeSettings(const QVariantHash& values) {
    QSettings store(settingsFile(), QSettings::IniFormat);
    for (auto value = values.cbegin(); value != values.cend(); ++value)
        store.setValue(value.key(), value.value());
}

// A fake ffmpeg that runs `conversion` (shell) before the real ffmpeg when
// asked to convert, and stays out of the way of the scan's decodes.
QString wrapConversions(FakeTools& tools, const QString& conversion) {
    tools.realTool(QStringLiteral("ffprobe"));
    tools.script(QStringLiteral("ffmpeg"),
                 QStringLiteral("case \" $* \" in *' -ac 1 '*) %1 ;; esac\n"
                                "exec /usr/bin/ffmpeg \"$@\"")
                     .arg(conversion));
    return tools.path(QStringLiteral("ffmpeg"));
}

} // namespace

class CliTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void scanListsEveryFileSortedByPath();
    void jsonListsTheScannedAndTheConverted();
    void controlCharactersInNamesAreEscaped();
    void aFailedFileExitsWithOne_data();
    void aFailedFileExitsWithOne();
    void usageErrorsExitWithTwo_data();
    void usageErrorsExitWithTwo();
    void scanOptionsApplyToThisRunOnly_data();
    void scanOptionsApplyToThisRunOnly();
    void jobsBoundsTheAnalysesAtOnce();
    void convertReportsEachOutcomeAndTheBanner();
    void dryRunTouchesNothing();
    void convertOptionsApplyToThisRunOnly_data();
    void convertOptionsApplyToThisRunOnly();
    void ctrlCStopsTheScanAndASecondQuitsAtOnce();
    void anInterruptLeavesEveryOriginalIntactOrConverted_data();
    void anInterruptLeavesEveryOriginalIntactOrConverted();
    void twoRunsOfOneFolderConvertEachOriginalOnce();
    void ffmpegDiesWithAKilledRun();

private:
    QString file(const QString& name) const { return folder->filePath(name); }

    QTemporaryDir originals;
    std::unique_ptr<QTemporaryDir> folder;
};

// Two fake-stereo files, a mono one and, one folder down, a real-stereo one,
// made once and copied into a fresh folder for each test.
void CliTest::initTestCase() {
    QDir(originals.path()).mkpath(QStringLiteral("sub"));
    TestAudio::fakeStereo(originals.filePath(QStringLiteral("a.wav")), 1);
    TestAudio::fakeStereo(originals.filePath(QStringLiteral("b.flac")), 1);
    TestAudio::mono(originals.filePath(QStringLiteral("mono.wav")), 1);
    TestAudio::realStereo(originals.filePath(QStringLiteral("sub/real.wav")), 1);
}

void CliTest::init() {
    folder = std::make_unique<QTemporaryDir>();
    QDir(folder->path()).mkpath(QStringLiteral("sub"));
    for (const char* name : {"a.wav", "b.flac", "mono.wav", "sub/real.wav"})
        QVERIFY(QFile::copy(originals.filePath(QLatin1String(name)), file(QLatin1String(name))));
}

void CliTest::cleanup() {
    QFile::remove(settingsFile());
}

void CliTest::scanListsEveryFileSortedByPath() {
    const Result result = run({QStringLiteral("scan"), folder->path()});

    QCOMPARE(result.exitCode, 0);
    QStringList expected;
    for (const auto& [status, channels, name] :
         {std::tuple{fake, "Stereo", "a.wav"}, std::tuple{fake, "Stereo", "b.flac"},
          std::tuple{QStringLiteral("\u2713 Mono"), "Mono", "mono.wav"},
          std::tuple{real, "Stereo", "sub/real.wav"}})
        expected.append(QStringList{status, QLatin1String(channels),
                                    QString::number(QFileInfo(file(QLatin1String(name))).size()),
                                    file(QLatin1String(name))}
                            .join(u'\t'));
    QCOMPARE(result.outLines(), expected);
    QVERIFY2(result.err.contains(QStringLiteral("4 files scanned, 2 fake stereo")),
             qPrintable(result.err));
    QVERIFY(!result.err.contains(QStringLiteral("[DEBUG]")));

    // --verbose adds the log on standard error and changes nothing else.
    const Result verbose =
        run({QStringLiteral("scan"), QStringLiteral("--verbose"), folder->path()});
    QCOMPARE(verbose.out, result.out);
    QVERIFY2(verbose.err.contains(QStringLiteral("[DEBUG] Scanned 1/4: ")),
             qPrintable(verbose.err));
}

void CliTest::jsonListsTheScannedAndTheConverted() {
    const Result scan = run({QStringLiteral("scan"), QStringLiteral("--json"), folder->path()});
    QCOMPARE(scan.exitCode, 0);
    const QJsonArray scanned = QJsonDocument::fromJson(scan.out.toUtf8()).array();
    QCOMPARE(scanned.size(), 4);
    QCOMPARE(scanned[0].toObject(),
             (QJsonObject{{"path", file(QStringLiteral("a.wav"))},
                          {"fileName", "a"},
                          {"extension", "wav"},
                          {"channelStatus", "Stereo"},
                          {"detectionStatus", fake},
                          {"selected", true},
                          {"sizeBytes", QFileInfo(file(QStringLiteral("a.wav"))).size()},
                          {"errorMessage", QJsonValue::Null}}));
    QCOMPARE(scanned[2].toObject().value("selected"), QJsonValue(false));

    const Result convert =
        run({QStringLiteral("convert"), QStringLiteral("--json"), folder->path()});
    QCOMPARE(convert.exitCode, 0);
    const QJsonArray outcomes = QJsonDocument::fromJson(convert.out.toUtf8()).array();
    QCOMPARE(outcomes.size(), 2);
    QCOMPARE(outcomes[1].toObject().value("path"), QJsonValue(file(QStringLiteral("b.flac"))));
    QCOMPARE(outcomes[1].toObject().value("detectionStatus"), QJsonValue(converted));
    QVERIFY2(convert.err.contains(QStringLiteral("Congratulations! 2 files converted. ")),
             qPrintable(convert.err));
}

void CliTest::controlCharactersInNamesAreEscaped() {
    QTemporaryDir other;
    const QString root = QDir(other.path()).canonicalPath();
    QVERIFY(QFile::copy(file(QStringLiteral("a.wav")),
                        root + QStringLiteral("/a\\b\a\x1b[2J\nc\td.wav")));
    const Result result = run({QStringLiteral("scan"), root});
    QCOMPARE(result.outLines().size(), 1);
    QCOMPARE(result.outLines().first().split(u'\t').last(),
             root + QStringLiteral("/a\\\\b\\x{07}\\x{1b}[2J\\nc\\td.wav"));
}

// Errors and timeouts, in the scan or a conversion, each make the exit status
// 1 and are listed with their status.
void CliTest::aFailedFileExitsWithOne_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("conversion");
    QTest::addColumn<QString>("listed");

    QTest::newRow("undecodable file") << QStringList{QStringLiteral("scan")} << QString()
                                      << QStringLiteral("\u2717 Error\tUnknown\t16\t%1/broken.wav");
    QTest::newRow("failed conversion")
        << QStringList{QStringLiteral("convert")}
        << QStringLiteral("case \"$*\" in *b.flac*) echo 'disk on fire' >&2; exit 1 ;; esac")
        << QStringLiteral("\u2717 Error\t%1/b.flac\t");
    QTest::newRow("conversion over its time limit")
        << QStringList{QStringLiteral("convert"), QStringLiteral("--timeout"), QStringLiteral("1")}
        << QStringLiteral("case \"$*\" in *b.flac*) exec sleep 30 ;; esac")
        << QStringLiteral("\u23F1 Skipped\t%1/b.flac\t");
}

void CliTest::aFailedFileExitsWithOne() {
    QFETCH(QStringList, arguments);
    QFETCH(QString, conversion);
    QFETCH(QString, listed);
    FakeTools tools;
    QString ffmpeg;
    if (conversion.isEmpty())
        TestFiles::writeFile(file(QStringLiteral("broken.wav")), "not audio at all");
    else
        ffmpeg = wrapConversions(tools, conversion);

    const Result result = run(arguments + QStringList{folder->path()}, ffmpeg);

    QCOMPARE(result.exitCode, 1);
    const QStringList lines = result.outLines();
    QVERIFY2(std::any_of(
                 lines.cbegin(), lines.cend(),
                 [&](const QString& line) { return line.startsWith(listed.arg(folder->path())); }),
             qPrintable(result.out));
}

void CliTest::usageErrorsExitWithTwo_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("ffmpeg");
    QTest::addColumn<QString>("message");

    const QString here = QDir::tempPath();
    const QString missing = here + QStringLiteral("/no such folder");
    const auto row = [&](const char* name, QStringList arguments, const QString& message,
                         const QString& ffmpeg = {}) {
        QTest::newRow(name) << arguments << ffmpeg << message;
    };
    row("nothing", {}, QStringLiteral("no command"));
    row("no folder", {QStringLiteral("scan")}, QStringLiteral("no folder"));
    row("missing folder", {QStringLiteral("scan"), here, missing}, missing);
    row("file for a folder", {QStringLiteral("convert"), QStringLiteral(CHANFUSE_CLI)},
        QStringLiteral("not a folder"));
    row("unknown command", {QStringLiteral("tidy"), here}, QStringLiteral("tidy"));
    row("unknown method", {QStringLiteral("scan"), QStringLiteral("--method=fuzzy"), here},
        QStringLiteral("--method"));
    row("unknown behavior", {QStringLiteral("convert"), QStringLiteral("--behavior=shred"), here},
        QStringLiteral("--behavior"));
    row("no jobs", {QStringLiteral("scan"), QStringLiteral("--jobs=0"), here},
        QStringLiteral("--jobs"));
    row("seconds not a number",
        {QStringLiteral("scan"), QStringLiteral("--scan-seconds=five"), here},
        QStringLiteral("--scan-seconds"));
    row("suffix with a path", {QStringLiteral("convert"), QStringLiteral("--suffix=/../x"), here},
        QStringLiteral("chanfuse-cli: --suffix: The suffix may not contain a path separator"));
    row("chosen ffmpeg missing", {QStringLiteral("scan"), here}, QStringLiteral("CHANFUSE_FFMPEG"),
        missing);
}

void CliTest::usageErrorsExitWithTwo() {
    QFETCH(QStringList, arguments);
    QFETCH(QString, ffmpeg);
    QFETCH(QString, message);

    const Result result = run(arguments, ffmpeg);

    QCOMPARE(result.exitCode, 2);
    QVERIFY2(result.err.contains(message), qPrintable(result.err));
    QVERIFY(result.out.isEmpty());
}

// The stored settings say statistical comparison over one second; options
// replace either for one run, and the file holding them is left byte for
// byte. "late" is equal for two seconds, "near" a faint tone apart.
void CliTest::scanOptionsApplyToThisRunOnly_data() {
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("late");
    QTest::addColumn<QString>("near");

    QTest::newRow("stored") << QStringList{} << fake << fake;
    QTest::newRow("byte-exact") << QStringList{QStringLiteral("--method=byte-exact")} << fake
                                << real;
    QTest::newRow("three seconds")
        << QStringList{QStringLiteral("--scan-seconds"), QStringLiteral("3")} << real << fake;
}

void CliTest::scanOptionsApplyToThisRunOnly() {
    QFETCH(QStringList, options);
    QFETCH(QString, late);
    QFETCH(QString, near);
    QTemporaryDir comparison;
    const QString left = TestAudio::tone(440, 0.5);
    TestAudio::generate(comparison.filePath(QStringLiteral("late.wav")),
                        {left, left + QStringLiteral("+if(gte(t\\,2)\\,0.3*sin(2*PI*660*t)\\,0)")},
                        3);
    TestAudio::generate(comparison.filePath(QStringLiteral("near.wav")),
                        {left, left + QStringLiteral("+0.002*sin(2*PI*7000*t)")}, 3);
    storeSettings({{QStringLiteral("comparisonMethod"), QStringLiteral("Statistical")},
                   {QStringLiteral("scanLimitSeconds"), 1}});
    const QByteArray stored = contentsOf(settingsFile());

    const Result result =
        run(QStringList{QStringLiteral("scan")} + options + QStringList{comparison.path()});

    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.outLines().size(), 2);
    QVERIFY(result.outLines()[0].startsWith(late + u'\t'));
    QVERIFY(result.outLines()[1].startsWith(near + u'\t'));
    QCOMPARE(contentsOf(settingsFile()), stored);
}

// One analysis at a time is stored; each fake ffprobe waits up to two
// seconds for company and notes how many probes were running.
void CliTest::jobsBoundsTheAnalysesAtOnce() {
    storeSettings({{QStringLiteral("parallelScans"), 1}});
    FakeTools tools;
    tools.realTool(QStringLiteral("ffmpeg"));
    const QString running = tools.path(QStringLiteral("running"));
    const QString counts = tools.path(QStringLiteral("counts"));
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
                     .arg(running, counts));

    const Result result =
        run({QStringLiteral("scan"), QStringLiteral("--jobs"), QStringLiteral("2"), folder->path()},
            tools.path(QStringLiteral("ffmpeg")));

    QCOMPARE(result.exitCode, 0);
    QVERIFY2(QString::fromUtf8(contentsOf(counts)).split(u'\n').contains(QStringLiteral("2")),
             contentsOf(counts).constData());
}

void CliTest::convertReportsEachOutcomeAndTheBanner() {
    const Result result = run({QStringLiteral("convert"), folder->path()});

    QCOMPARE(result.exitCode, 0);
    QStringList lines = result.outLines();
    QCOMPARE(lines.size(), 4);
    QVERIFY2(lines[2].startsWith(QStringLiteral("Congratulations! 2 files converted. ")),
             qPrintable(result.out));
    QCOMPARE(lines[3], QStringLiteral("(Original files are moved to the Trash.)"));
    lines = lines.mid(0, 2);
    lines.sort();
    QCOMPARE(lines, (QStringList{converted + u'\t' + file(QStringLiteral("a.wav")),
                                 converted + u'\t' + file(QStringLiteral("b.flac"))}));
    QVERIFY(result.err.contains(QStringLiteral("4 files scanned, 2 fake stereo")));
    QVERIFY(QFile::exists(file(QStringLiteral("a_MONO.wav"))));
}

void CliTest::dryRunTouchesNothing() {
    const auto before = TestFiles::snapshot(folder->path());

    const Result text =
        run({QStringLiteral("convert"), QStringLiteral("--dry-run"), folder->path()});
    const Result json = run({QStringLiteral("convert"), QStringLiteral("--dry-run"),
                             QStringLiteral("--json"), folder->path()});

    QCOMPARE(text.exitCode, 0);
    QCOMPARE(TestFiles::snapshot(folder->path()), before);
    const QStringList lines = text.outLines();
    QCOMPARE(lines.size(), 2);
    QVERIFY(lines[0].startsWith(fake + QStringLiteral("\tStereo\t")));
    QVERIFY(lines[1].endsWith(u'\t' + file(QStringLiteral("b.flac"))));
    QVERIFY(text.err.contains(QStringLiteral("Dry run: 2 files would be converted")));
    QCOMPARE(QJsonDocument::fromJson(json.out.toUtf8()).array().size(), 2);
}

// The stored settings say "keep a backup, suffix _STORED"; each row's options
// replace them for one run, and the file holding them is left byte for byte.
void CliTest::convertOptionsApplyToThisRunOnly_data() {
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("output");
    QTest::addColumn<QString>("banner");

    const QString backedUp = QStringLiteral("Original files are kept, with copies in the _backup");
    QTest::newRow("stored") << QStringList{} << "a_STORED.wav" << backedUp;
    QTest::newRow("suffix") << QStringList{QStringLiteral("--suffix"), QStringLiteral("_ONE")}
                            << "a_ONE.wav" << backedUp;
    QTest::newRow("overwrite in place")
        << QStringList{QStringLiteral("--behavior"), QStringLiteral("overwrite"),
                       QStringLiteral("--no-suffix")}
        << "a.wav" << QStringLiteral("(Original files are overwritten.)");
    QTest::newRow("trash") << QStringList{QStringLiteral("--behavior=trash")} << "a_STORED.wav"
                           << QStringLiteral("(Original files are moved to the Trash.)");
}

void CliTest::convertOptionsApplyToThisRunOnly() {
    QFETCH(QStringList, options);
    QFETCH(QString, output);
    QFETCH(QString, banner);
    storeSettings({{QStringLiteral("convertBehavior"), QStringLiteral("Copy to Backup")},
                   {QStringLiteral("suffix"), QStringLiteral("_STORED")}});
    const QByteArray stored = contentsOf(settingsFile());

    const Result result =
        run(QStringList{QStringLiteral("convert")} + options + QStringList{folder->path()});

    QCOMPARE(result.exitCode, 0);
    QVERIFY2(result.out.contains(banner), qPrintable(result.out));
    QCOMPARE(TestAudio::channelsOf(file(output)), 1);
    QCOMPARE(contentsOf(settingsFile()), stored);
}

// Probes that take a second each, one at a time: Ctrl-C during the first
// leaves the queued files unscanned and lists what was scanned; with a probe
// that never ends, a second Ctrl-C quits now and the probe ends with us.
void CliTest::ctrlCStopsTheScanAndASecondQuitsAtOnce() {
    FakeTools tools;
    tools.realTool(QStringLiteral("ffmpeg"));
    const QString started = tools.path(QStringLiteral("started"));
    const QString hung = tools.path(QStringLiteral("hung"));
    tools.script(QStringLiteral("ffprobe"),
                 QStringLiteral("case \"$*\" in *hang.wav*)\n"
                                "  echo $$ > '%2.part' && mv '%2.part' '%2'; exec sleep 300 ;;\n"
                                "esac\n"
                                "touch '%1'; sleep 1; exec /usr/bin/ffprobe \"$@\"")
                     .arg(started, hung));
    QProcess process;
    start(process, {QStringLiteral("scan"), QStringLiteral("--jobs=1"), folder->path()},
          tools.path(QStringLiteral("ffmpeg")));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(started), 30000);
    ::kill(pid_t(process.processId()), SIGINT);
    const Result stopped = finish(process);
    QCOMPARE(stopped.exitCode, 130);
    QVERIFY2(!stopped.outLines().isEmpty() && stopped.outLines().size() < 4,
             qPrintable(stopped.out));
    QVERIFY(stopped.err.contains(QStringLiteral("Interrupted")));

    TestAudio::mono(file(QStringLiteral("sub/hang.wav")), 0.5);
    start(process, {QStringLiteral("scan"), file(QStringLiteral("sub"))},
          tools.path(QStringLiteral("ffmpeg")));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(hung), 30000);
    const pid_t probe = pid_t(contentsOf(hung).trimmed().toInt());
    QVERIFY(TestSupport::isLive(probe));
    ::kill(pid_t(process.processId()), SIGINT);
    QByteArray told;
    QTRY_VERIFY((told += process.readAllStandardError()).contains("Ctrl-C again to quit now"));
    ::kill(pid_t(process.processId()), SIGINT);
    QCOMPARE(finish(process).exitCode, 130);
    QTRY_VERIFY_WITH_TIMEOUT(!TestSupport::isLive(probe), 5000);
}

void CliTest::anInterruptLeavesEveryOriginalIntactOrConverted_data() {
    QTest::addColumn<int>("signal");
    QTest::newRow("Ctrl-C") << SIGINT;
    QTest::newRow("SIGTERM") << SIGTERM;
}

// Every conversion dawdles two seconds before the real ffmpeg starts, and
// replaces its original in place, the case where a half-done step would
// lose audio. The signal arrives while the first one runs.
void CliTest::anInterruptLeavesEveryOriginalIntactOrConverted() {
    QFETCH(int, signal);
    FakeTools tools;
    const QString started = tools.path(QStringLiteral("started"));
    const QString ffmpeg =
        wrapConversions(tools, QStringLiteral("touch '%1'; sleep 2").arg(started));
    const auto before = TestFiles::snapshot(folder->path());

    QProcess process;
    start(process,
          {QStringLiteral("convert"), QStringLiteral("--behavior=overwrite"),
           QStringLiteral("--no-suffix"), folder->path()},
          ffmpeg);
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(started), 60000);
    ::kill(pid_t(process.processId()), signal);
    const Result result = finish(process);

    QCOMPARE(result.exitCode, 130);
    QVERIFY(!result.out.contains(QStringLiteral("Congratulations")));
    const auto after = TestFiles::snapshot(folder->path());
    QCOMPARE(after.keys(), before.keys());
    int untouched = 0;
    for (auto entry = before.cbegin(); entry != before.cend(); ++entry) {
        if (after.value(entry.key()) == entry.value())
            untouched += 1;
        else
            QCOMPARE(TestAudio::channelsOf(file(entry.key())), 1);
    }
    QVERIFY2(untouched >= 3, qPrintable(result.out));
}

// Two runs with backups in place (the window and a scheduled run, say): each
// original is converted by one of them, and its backup is the stereo original.
void CliTest::twoRunsOfOneFolderConvertEachOriginalOnce() {
    const QStringList names{QStringLiteral("a.wav"), QStringLiteral("b.flac")};
    const auto before = TestFiles::snapshot(folder->path());
    const QStringList arguments{QStringLiteral("convert"), QStringLiteral("--behavior=backup"),
                                QStringLiteral("--no-suffix"), folder->path()};

    QProcess first;
    QProcess second;
    start(first, arguments);
    start(second, arguments);
    const QString output = finish(first).out + finish(second).out;

    QStringList expected = before.keys();
    for (const QString& name : names)
        expected.append(QStringLiteral("_backup/") + name);
    expected.append(QStringLiteral("_backup"));
    expected.sort();
    QCOMPARE(TestFiles::snapshot(folder->path()).keys(), expected);
    for (const QString& name : names) {
        QCOMPARE(contentsOf(file(QStringLiteral("_backup/") + name)), before.value(name));
        QCOMPARE(TestAudio::channelsOf(file(name)), 1);
        QCOMPARE(output.count(converted + u'\t' + file(name) + u'\n'), 1);
    }
}

// A run killed outright (SIGKILL, out of memory) takes its ffmpeg with it,
// so nothing finishes a file for a run that no longer exists.
void CliTest::ffmpegDiesWithAKilledRun() {
    FakeTools tools;
    const QString pidFile = tools.path(QStringLiteral("ffmpeg.pid"));
    const QString ffmpeg = wrapConversions(
        tools, QStringLiteral("echo $$ > '%1.new'; mv '%1.new' '%1'; exec sleep 30").arg(pidFile));
    QProcess process;
    start(process, {QStringLiteral("convert"), folder->path()}, ffmpeg);
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(pidFile), 60000);
    const pid_t child = pid_t(contentsOf(pidFile).trimmed().toInt());
    QVERIFY(TestSupport::isLive(child));

    ::kill(pid_t(process.processId()), SIGKILL);
    QVERIFY(process.waitForFinished());
    QTRY_VERIFY_WITH_TIMEOUT(!TestSupport::isLive(child), 5000);
}

CHANFUSE_TEST_MAIN(CliTest)
#include "tst_cli.moc"
