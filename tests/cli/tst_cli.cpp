// SPDX-License-Identifier: GPL-3.0-or-later

#include "FakeTools.h"
#include "Processes.h"
#include "TestAudio.h"
#include "TestFiles.h"
#include "TestMain.h"
#include "model/Settings.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>

#include <csignal>

#include <sys/types.h>

using namespace Qt::StringLiterals;

using TestFiles::contentsOf;

namespace {

const QString fake = u"\u26A0 Fake Stereo"_s;
const QString real = u"\u2713 Real Stereo"_s;
const QString converted = u"\u2713 Converted"_s;

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
    environment.remove(u"CHANFUSE_FFMPEG"_s);
    if (!ffmpeg.isEmpty())
        environment.insert(u"CHANFUSE_FFMPEG"_s, ffmpeg);
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

// Lines in the children's log file, in their own data folder (this process
// runs in Qt's test mode, which moves its own).
qsizetype logFileLines() {
    return TestFiles::contentsOf(qEnvironmentVariable("XDG_DATA_HOME") + u"/Chanfuse/debug.log"_s)
        .count('\n');
}

// The store of the Chanfuse window, which the child reads.
QString settingsFile() {
    return qEnvironmentVariable("XDG_CONFIG_HOME") + u"/Chanfuse/Chanfuse.conf"_s;
}

void storeSettings(const QVariantHash& values) {
    QSettings store(settingsFile(), QSettings::IniFormat);
    for (auto value = values.cbegin(); value != values.cend(); ++value)
        store.setValue(value.key(), value.value());
}

// A fake ffmpeg that runs `conversion` (shell) before the real ffmpeg when
// asked to convert, and stays out of the way of the scan's decodes.
QString wrapConversions(FakeTools& tools, const QString& conversion) {
    tools.conversionScript(conversion + u"\nexec /usr/bin/ffmpeg \"$@\""_s);
    return tools.path(u"ffmpeg"_s);
}

} // namespace

class CliTest : public QObject {
    Q_OBJECT

private slots:
    // Two fake-stereo files, a mono one and, one folder down, a real-stereo one,
    // made once and copied into a fresh folder for each test.
    void initTestCase() {
        QDir(originals.path()).mkpath(u"sub"_s);
        TestAudio::fakeStereo(originals.filePath(u"a.wav"_s), 1);
        TestAudio::fakeStereo(originals.filePath(u"b.flac"_s), 1);
        TestAudio::mono(originals.filePath(u"mono.wav"_s), 1);
        TestAudio::realStereo(originals.filePath(u"sub/real.wav"_s), 1);
    }

    void init() {
        folder = std::make_unique<QTemporaryDir>();
        QDir(folder->path()).mkpath(u"sub"_s);
        for (const char* name : {"a.wav", "b.flac", "mono.wav", "sub/real.wav"})
            QVERIFY(
                QFile::copy(originals.filePath(QLatin1String(name)), file(QLatin1String(name))));
    }

    void cleanup() { QFile::remove(settingsFile()); }

    void scanListsEveryFileSortedByPath() {
        const qsizetype linesBefore = logFileLines();
        const Result result = run({u"scan"_s, folder->path()});

        QCOMPARE(result.exitCode, 0);
        QCOMPARE(result.outLines(), (QStringList{listed(fake, "Stereo", u"a.wav"_s),
                                                 listed(fake, "Stereo", u"b.flac"_s),
                                                 listed(u"\u2713 Mono"_s, "Mono", u"mono.wav"_s),
                                                 listed(real, "Stereo", u"sub/real.wav"_s)}));
        QVERIFY2(result.err.contains(u"4 files scanned, 2 fake stereo"_s), qPrintable(result.err));
        QVERIFY(!result.err.contains(u"[DEBUG]"_s));

        // --verbose adds the log on standard error and changes nothing else.
        const Result verbose = run({u"scan"_s, u"--verbose"_s, folder->path()});
        QCOMPARE(verbose.out, result.out);
        QVERIFY2(verbose.err.contains(u"[DEBUG] Scanned 1/4: "_s), qPrintable(verbose.err));

        // The log file gains every line of both runs, the last ones included:
        // neither process ended before its lines were written.
        const qsizetype loggedLines = verbose.err.count(u"[DEBUG] "_s);
        QVERIFY(loggedLines > 0);
        QCOMPARE(logFileLines(), linesBefore + 2 * loggedLines);
    }

    // Whether the analyser's workers serve an ffmpeg is learnt once per build
    // of the two: later runs start neither program to learn it again, until
    // one of them changes.
    void theEngineIsLearntOncePerBuild_data() {
        QTest::addColumn<bool>("replaced");
        QTest::addColumn<qsizetype>("versionRuns");
        QTest::newRow("same ffmpeg") << false << qsizetype(0);
        QTest::newRow("ffmpeg replaced in place") << true << qsizetype(1);
    }
    void theEngineIsLearntOncePerBuild() {
        QFETCH(bool, replaced);
        QFETCH(qsizetype, versionRuns);
        FakeTools tools;
        qunsetenv("CHANFUSE_ANALYZER"); // the analyser of the build tree serves
        const QString runs = tools.path(u"runs"_s);
        const auto writeFFmpeg = [&](const QString& comment) {
            tools.script(
                u"ffmpeg"_s,
                u"echo \"$*\" >> '%1'\nexec /usr/bin/ffmpeg \"$@\" # %2"_s.arg(runs, comment));
        };
        writeFFmpeg(u"first"_s);
        const auto scan = [&] {
            const Result result =
                run({u"scan"_s, u"--verbose"_s, folder->path()}, tools.path(u"ffmpeg"_s));
            QVERIFY2(result.err.contains(u"Analysis: built-in FFmpeg libraries"_s),
                     qPrintable(result.err));
        };
        scan();
        const qsizetype first = TestFiles::contentsOf(runs).count("-version");
        QCOMPARE(first, 1);
        if (replaced)
            writeFFmpeg(u"upgraded"_s);
        scan();
        QCOMPARE(TestFiles::contentsOf(runs).count("-version"), first + versionRuns);
    }

    // A dry run lists what a conversion would take and changes nothing; --json
    // prints the same files as one array.
    void dryRunAndJson() {
        const auto before = TestFiles::snapshot(folder->path());
        const Result dryRun = run({u"convert"_s, u"--dry-run"_s, folder->path()});
        const Result dryJson = run({u"convert"_s, u"--dry-run"_s, u"--json"_s, folder->path()});
        QCOMPARE(dryRun.exitCode, 0);
        QCOMPARE(dryRun.outLines(), (QStringList{listed(fake, "Stereo", u"a.wav"_s),
                                                 listed(fake, "Stereo", u"b.flac"_s)}));
        QVERIFY(dryRun.err.contains(u"Dry run: 2 files would be converted"_s));
        QCOMPARE(QJsonDocument::fromJson(dryJson.out.toUtf8()).array().size(), 2);
        QCOMPARE(TestFiles::snapshot(folder->path()), before);

        const Result scan = run({u"scan"_s, u"--json"_s, folder->path()});
        QCOMPARE(scan.exitCode, 0);
        const QJsonArray scanned = QJsonDocument::fromJson(scan.out.toUtf8()).array();
        QCOMPARE(scanned.size(), 4);
        QCOMPARE(scanned[0].toObject(),
                 (QJsonObject{{"path", file(u"a.wav"_s)},
                              {"fileName", "a"},
                              {"extension", "wav"},
                              {"channelStatus", "Stereo"},
                              {"detectionStatus", fake},
                              {"selected", true},
                              {"sizeBytes", QFileInfo(file(u"a.wav"_s)).size()},
                              {"errorMessage", QJsonValue::Null}}));
        QCOMPARE(scanned[2].toObject().value("selected"), QJsonValue(false));
    }

    void controlCharactersInNamesAreEscaped() {
        QTemporaryDir other;
        const QString root = QDir(other.path()).canonicalPath();
        QVERIFY(QFile::copy(file(u"a.wav"_s), root + u"/a\\b\a\x1b[2J\nc\td.wav"_s));
        const Result result = run({u"scan"_s, root});
        QCOMPARE(result.outLines().size(), 1);
        QCOMPARE(result.outLines().first().split(u'\t').last(),
                 root + u"/a\\\\b\\x{07}\\x{1b}[2J\\nc\\td.wav"_s);
    }

    // Errors and timeouts, in the scan or a conversion, each make the exit status
    // 1 and are listed with their status.
    // A converted folder taken back: the run listed, a dry run that changes
    // nothing, the originals back, then nothing left; a refused file exits 1.
    void historyAndUndo() {
        const auto before = TestFiles::snapshot(folder->path());
        QCOMPARE(run({u"convert"_s, folder->path()}).exitCode, 0);
        const QStringList newest = run({u"history"_s}).outLines().value(0).split(u'\t');
        QCOMPARE(newest.mid(2), (QStringList{u"2"_s, newest.value(3), u"Move to Trash"_s}));
        QVERIFY(newest.value(3).toLongLong() > 0);

        const QJsonObject listed =
            QJsonDocument::fromJson(run({u"history"_s, u"--json"_s}).out.toUtf8())[0].toObject();
        QCOMPARE(listed.keys(), (QStringList{"behavior", "files", "run", "spaceSaved", "started"}));
        QCOMPARE(listed["run"].toInteger(), newest[0].toLongLong());
        const QJsonObject first = listed["files"][0].toObject();
        QCOMPARE(first["original"].toString(), file(u"a.wav"_s));
        QCOMPARE(first["converted"].toString(), file(u"a_MONO.wav"_s));
        QCOMPARE(first["originalWentTo"].toString(), u"trash"_s);
        QVERIFY(first["keptAt"].toString().endsWith(u"/Trash/files/a.wav"_s));
        QCOMPARE(first["undone"], QJsonValue(false));

        const auto converted = TestFiles::snapshot(folder->path());
        const Result dry = run({u"undo"_s, u"--last"_s, u"--dry-run"_s, u"--json"_s});
        QCOMPARE(dry.exitCode, 0);
        const QJsonObject wouldUndo = QJsonDocument::fromJson(dry.out.toUtf8()).object();
        QCOMPARE(wouldUndo["dryRun"], QJsonValue(true));
        QCOMPARE(wouldUndo["files"][1].toObject(),
                 (QJsonObject{{"original", file(u"b.flac"_s)},
                              {"converted", file(u"b_MONO.flac"_s)},
                              {"outcome", "would undo"},
                              {"reason", QJsonValue::Null}}));
        QCOMPARE(TestFiles::snapshot(folder->path()), converted);

        const Result undo = run({u"undo"_s, newest[0]});
        QCOMPARE(undo.exitCode, 0);
        QCOMPARE(undo.outLines(), (QStringList{u"undone\t"_s + file(u"a.wav"_s),
                                               u"undone\t"_s + file(u"b.flac"_s)}));
        QCOMPARE(TestFiles::snapshot(folder->path()), before);
        QVERIFY(run({u"history"_s}).outLines().value(0).endsWith(u"\tundone"_s));
        const Result nothing = run({u"undo"_s, u"--last"_s});
        QCOMPARE(nothing.exitCode, 2);
        QVERIFY2(nothing.err.contains(u"nothing left to undo"_s), qPrintable(nothing.err));

        QCOMPARE(run({u"convert"_s, folder->path()}).exitCode, 0);
        TestFiles::writeFile(file(u"a.wav"_s), "another a.wav");
        const Result refused = run({u"undo"_s, u"--last"_s});
        QCOMPARE(refused.exitCode, 1);
        QCOMPARE(refused.outLines(),
                 (QStringList{
                     u"refused\t%1\tNot undone: another file now holds %1"_s.arg(file(u"a.wav"_s)),
                     u"undone\t"_s + file(u"b.flac"_s)}));
    }

    void aFailedFileExitsWithOne_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("conversion");
        QTest::addColumn<QString>("listed");

        QTest::newRow("undecodable file")
            << QStringList{u"scan"_s} << QString()
            << u"\u2717 Error\tUnknown\t16\t%1/broken.wav\tffprobe could not read an audio "
               "stream from the file\n"_s;
        QTest::newRow("failed conversion")
            << QStringList{u"convert"_s}
            << u"case \"$*\" in *b.flac*) echo 'disk on fire' >&2; exit 1 ;; esac"_s
            << u"\u2717 Error\t%1/b.flac\t"_s;
        QTest::newRow("conversion over its time limit")
            << QStringList{u"convert"_s, u"--timeout"_s, u"1"_s}
            << u"case \"$*\" in *b.flac*) exec sleep 30 ;; esac"_s
            << u"\u23F1 Skipped\t%1/b.flac\t"_s;
    }

    void aFailedFileExitsWithOne() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, conversion);
        QFETCH(QString, listed);
        FakeTools tools;
        QString ffmpeg;
        if (conversion.isEmpty())
            TestFiles::writeFile(file(u"broken.wav"_s), "not audio at all");
        else
            ffmpeg = wrapConversions(tools, conversion);

        const Result result = run(arguments + QStringList{folder->path()}, ffmpeg);

        QCOMPARE(result.exitCode, 1);
        QVERIFY2((u'\n' + result.out).contains(u'\n' + listed.arg(folder->path())),
                 qPrintable(result.out));
    }

    void usageErrorsExitWithTwo_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("ffmpeg");
        QTest::addColumn<QString>("message");

        const QString here = QDir::tempPath();
        const QString missing = here + u"/no such folder"_s;
        const auto row = [&](const char* name, QStringList arguments, const QString& message,
                             const QString& ffmpeg = {}) {
            QTest::newRow(name) << arguments << ffmpeg << message;
        };
        row("nothing", {}, u"no command"_s);
        row("no folder", {u"scan"_s}, u"no folder"_s);
        row("missing folder", {u"scan"_s, here, missing}, missing);
        row("file for a folder", {u"convert"_s, QStringLiteral(CHANFUSE_CLI)}, u"not a folder"_s);
        row("unknown command", {u"tidy"_s, here}, u"tidy"_s);
        row("unknown method", {u"scan"_s, u"--method=fuzzy"_s, here}, u"--method"_s);
        row("unknown behavior", {u"convert"_s, u"--behavior=shred"_s, here}, u"--behavior"_s);
        row("seconds not a number", {u"scan"_s, u"--scan-seconds=five"_s, here},
            u"--scan-seconds"_s);
        row("suffix with a path", {u"convert"_s, u"--suffix=/../x"_s, here},
            u"chanfuse-cli: --suffix: The suffix may not contain a path separator"_s);
        row("chosen ffmpeg missing", {u"scan"_s, here}, u"CHANFUSE_FFMPEG"_s, missing);
        // Nothing the window could not set either.
        for (const auto& [option, range] :
             {std::pair{"--scan-seconds", Settings::scanLimitSecondsRange},
              std::pair{"--jobs", Settings::parallelScansRange},
              std::pair{"--timeout", Settings::convertTimeoutSecondsRange}}) {
            for (const qint64 value : {range.minimum - 1, range.maximum + 1})
                QTest::addRow("%s=%lld", option, value)
                    << QStringList{u"scan"_s, u"%1=%2"_s.arg(QLatin1String(option)).arg(value),
                                   originals.path()}
                    << QString() << QString::fromLatin1(option);
        }
    }

    void usageErrorsExitWithTwo() {
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
    // byte. "late" is equal for two seconds; "near" is Opus, whose decoder
    // leaves identical channels a float rounding apart.
    void scanOptionsApplyToThisRunOnly_data() {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("late");
        QTest::addColumn<QString>("near");

        QTest::newRow("stored") << QStringList{} << fake << fake;
        QTest::newRow("byte-exact") << QStringList{u"--method=byte-exact"_s} << fake << real;
        QTest::newRow("three seconds") << QStringList{u"--scan-seconds"_s, u"3"_s} << real << fake;
    }

    void scanOptionsApplyToThisRunOnly() {
        QFETCH(QStringList, options);
        QFETCH(QString, late);
        QFETCH(QString, near);
        QTemporaryDir comparison;
        const QString left = TestAudio::tone(440, 0.5);
        TestAudio::generate(comparison.filePath(u"late.wav"_s),
                            {left, left + u"+if(gte(t\\,2)\\,0.3*sin(2*PI*660*t)\\,0)"_s}, 3);
        TestAudio::generate(comparison.filePath(u"near.ogg"_s), {left, left}, 3,
                            {u"-c:a"_s, u"libopus"_s, u"-b:a"_s, u"64k"_s});
        storeSettings({{u"comparisonMethod"_s, u"Statistical"_s}, {u"scanLimitSeconds"_s, 1}});
        const QByteArray stored = contentsOf(settingsFile());

        const Result result =
            run(QStringList{u"scan"_s} + options + QStringList{comparison.path()});

        QCOMPARE(result.exitCode, 0);
        QCOMPARE(result.outLines().size(), 2);
        QVERIFY(result.outLines()[0].startsWith(late + u'\t'));
        QVERIFY(result.outLines()[1].startsWith(near + u'\t'));
        QCOMPARE(contentsOf(settingsFile()), stored);
    }

    // The stored settings say "keep a backup, suffix _STORED"; each row's options
    // replace them for one run, and the file holding them is left byte for byte.
    void convertOptionsApplyToThisRunOnly_data() {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("banner");

        const QString backedUp = u"Original files are kept, with copies in the _backup"_s;
        QTest::newRow("stored") << QStringList{} << "a_STORED.wav" << backedUp;
        QTest::newRow("suffix") << QStringList{u"--suffix"_s, u"_ONE"_s} << "a_ONE.wav" << backedUp;
        QTest::newRow("overwrite in place")
            << QStringList{u"--behavior"_s, u"overwrite"_s, u"--no-suffix"_s} << "a.wav"
            << u"(Original files are overwritten.)"_s;
    }

    void convertOptionsApplyToThisRunOnly() {
        QFETCH(QStringList, options);
        QFETCH(QString, output);
        QFETCH(QString, banner);
        storeSettings({{u"convertBehavior"_s, u"Copy to Backup"_s}, {u"suffix"_s, u"_STORED"_s}});
        const QByteArray stored = contentsOf(settingsFile());

        const Result result =
            run(QStringList{u"convert"_s} + options + QStringList{folder->path()});

        QCOMPARE(result.exitCode, 0);
        // Each original is listed by its own path, then the banner.
        for (const QString& listed : {converted + u'\t' + file(u"a.wav"_s) + u'\n',
                                      converted + u'\t' + file(u"b.flac"_s) + u'\n',
                                      u"Congratulations! 2 files converted. "_s, banner})
            QVERIFY2(result.out.contains(listed), qPrintable(result.out));
        QCOMPARE(TestAudio::channelsOf(file(output)), 1);
        QCOMPARE(contentsOf(settingsFile()), stored);
    }

    // Probes that take a second each, one at a time though four are stored:
    // Ctrl-C during the first leaves the queued files unscanned and lists the
    // one scanned; with a probe that never ends, a second Ctrl-C quits now and
    // the probe ends with us.
    void ctrlCStopsTheScanAndASecondQuitsAtOnce() {
        storeSettings({{u"parallelScans"_s, 4}});
        FakeTools tools;
        tools.realTool(u"ffmpeg"_s);
        const QString started = tools.path(u"started"_s);
        const QString hung = tools.path(u"hung"_s);
        tools.script(
            u"ffprobe"_s,
            QStringLiteral("case \"$*\" in *hang.wav*)\n"
                           "  echo $$ > '%2.part' && mv '%2.part' '%2'; exec sleep 300 ;;\n"
                           "esac\n"
                           "touch '%1'; sleep 1; exec /usr/bin/ffprobe \"$@\"")
                .arg(started, hung));
        QProcess process;
        start(process, {u"scan"_s, u"--jobs=1"_s, folder->path()}, tools.path(u"ffmpeg"_s));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(started), 30000);
        ::kill(pid_t(process.processId()), SIGINT);
        const Result stopped = finish(process);
        QCOMPARE(stopped.exitCode, 130);
        QCOMPARE(stopped.outLines().size(), 1);
        QVERIFY(stopped.err.contains(u"Interrupted"_s));

        TestAudio::mono(file(u"sub/hang.wav"_s), 0.5);
        start(process, {u"scan"_s, file(u"sub"_s)}, tools.path(u"ffmpeg"_s));
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

    // A termination is a Ctrl-C: mid-conversion, the file in hand is cancelled
    // and the run stops before the next; each file is left intact or converted.
    void sigtermMidConversionStopsTheRun() {
        FakeTools tools;
        const QString pidFile = tools.path(u"ffmpeg.pid"_s);
        const QString ffmpeg =
            wrapConversions(tools, u"echo $$ > '%1.new'; mv '%1.new' '%1'; sleep 2"_s.arg(pidFile));
        const auto before = TestFiles::snapshot(folder->path());
        QProcess process;
        start(process, {u"convert"_s, u"--behavior=overwrite"_s, u"--no-suffix"_s, folder->path()},
              ffmpeg);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(pidFile), 60000);
        ::kill(pid_t(process.processId()), SIGTERM);
        const Result result = finish(process);

        QCOMPARE(result.exitCode, 130);
        QVERIFY(result.err.contains(u"Interrupted: cancelling the file in hand"_s));
        QVERIFY(!result.out.contains(u"Congratulations"_s));
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

private:
    QString file(const QString& name) const { return folder->filePath(name); }

    // A file's line in a listing: status, channels, size in bytes, path.
    QString listed(const QString& status, const char* channels, const QString& name) const {
        return QStringList{status, QLatin1String(channels),
                           QString::number(QFileInfo(file(name)).size()), file(name)}
            .join(u'\t');
    }

    QTemporaryDir originals;
    std::unique_ptr<QTemporaryDir> folder;
};

CHANFUSE_TEST_MAIN(CliTest)
#include "tst_cli.moc"
