#include "FakeTools.h"
#include "LogLines.h"
#include "TestAudio.h"
#include "TestMain.h"
#include "Workers.h"

#include "converter/AudioConverter.h"
#include "converter/StuckProcesses.h"
#include "exec/ChildProcess.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <csignal>
#include <thread>

namespace {

// The output path is ffmpeg's last argument.
const QString lastArgument = QStringLiteral("for last; do :; done; ");

QStringList leftovers(const QString& folder, const QString& pattern) {
    return QDir(folder).entryList({pattern}, QDir::Files | QDir::Hidden);
}

pid_t launchedPid(const LogLines& log) {
    return log.startingWith(QStringLiteral("ffmpeg launched, PID: ")).section(u' ', -1).toInt();
}

} // namespace

// ffmpeg runs that fail, hang, ignore signals or are stopped, made by small
// stand-in scripts. Each test checks the result text, the log lines, the files
// left in the folder and that no child process outlives the run.
class FFmpegRunTest : public QObject {
    Q_OBJECT

    QTemporaryDir privateTemp;
    std::unique_ptr<QTemporaryDir> folder;

    // Real fake-stereo audio, so the whole-file check before converting passes
    // and the stand-in ffmpeg is what the run meets; or these bytes instead.
    FileItemPtr makeInput(const QString& name,
                          const std::optional<QByteArray>& content = std::nullopt) {
        const QString path = folder->filePath(name);
        if (content) {
            QFile file(path);
            if (!file.open(QIODevice::WriteOnly))
                qFatal("cannot write %s", qPrintable(path));
            file.write(*content);
        } else {
            TestAudio::fakeStereo(path, 1);
        }
        return std::make_shared<FileItem>(QUrl::fromLocalFile(path));
    }

    std::optional<QString> convert(const FileItemPtr& item, const LogLines& log) {
        std::optional<QString> result;
        const bool finished = TestSupport::finishOnWorker(
            [&] {
                result = AudioConverter(Settings::shared()).convertToMono(item, log.callback());
            },
            30000);
        if (!finished)
            qFatal("conversion did not finish");
        return result;
    }

private slots:
    void initTestCase() {
        // Diagnostic files are looked for in a temporary folder of our own.
        qputenv("TMPDIR", QFile::encodeName(privateTemp.path()));
        QCOMPARE(QDir::tempPath(), privateTemp.path());
    }

    void init() {
        folder = std::make_unique<QTemporaryDir>();
        Settings::shared().setAppendFilename(true);
        Settings::shared().setSuffix(QStringLiteral("_MONO"));
        Settings::shared().setConvertBehavior(ConvertBehavior::trash);
        Settings::shared().setConvertTimeoutSeconds(60);
        // AAC does not decode the two channels of fake stereo bit for bit alike.
        Settings::shared().setComparisonMethod(ComparisonMethod::statistical);
    }

    void cleanup() {
        QVERIFY2(leftovers(privateTemp.path(), QStringLiteral("sonfold_ffmpeg_*")).isEmpty(),
                 "a diagnostic log file was left behind");
    }

    void missingToolAndInputFailBeforeAnyLaunch() {
        FakeTools tools;
        FakeTools::hideEveryFFmpeg();
        const FileItemPtr item = makeInput(QStringLiteral("song.flac"));
        LogLines log;
        QCOMPARE(convert(item, log), QStringLiteral("ffmpeg not found"));
        QCOMPARE(log.all().size(), 2);
        QCOMPARE(log.all().first(), QStringLiteral("ffmpeg input: ") + item->path());
        QVERIFY(log.all().last().startsWith(QStringLiteral("ffmpeg output: ") +
                                            folder->filePath(QStringLiteral("sonfold_out_"))));
        QVERIFY(log.all().last().endsWith(QStringLiteral(".flac (temp=false)")));
        QCOMPARE(item->originalSize, 0);
        QCOMPARE(item->convertedSize, 0);

        tools.conversionScript(QStringLiteral("exit 0"));
        FFmpegLocator::setFixedCandidates({tools.path(QStringLiteral("ffmpeg"))});
        const FileItemPtr empty = makeInput(QStringLiteral("empty.flac"), QByteArray());
        QCOMPARE(convert(empty, log), QStringLiteral("Input file is empty: ") + empty->path());
        QVERIFY(QFile::remove(item->path()));
        QCOMPARE(convert(item, log), QStringLiteral("Input file not found: ") + item->path());
        QVERIFY(log.startingWith(QStringLiteral("Launching")).isEmpty());
    }

    void failedRunGivesItsKeywordLines_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("suffix");
        QTest::addColumn<QString>("codecArguments");
        QTest::newRow("flac, suffixed") << "song.flac" << true << " -c:a flac -sample_fmt s32 ";
        QTest::newRow("wav, in place") << "take.WAV" << false << " -c:a pcm_s16le -sample_fmt s16 ";
    }
    void failedRunGivesItsKeywordLines() {
        QFETCH(QString, name);
        QFETCH(bool, suffix);
        QFETCH(QString, codecArguments);
        Settings::shared().setAppendFilename(suffix);
        FakeTools tools;
        tools.conversionScript(lastArgument +
                               QStringLiteral("echo partial > \"$last\"\n"
                                              "printf 'frame=1\\n[in] Invalid data found\\n"
                                              "Conversion failed!\\n' >&2\nexit 1"));
        const FileItemPtr item = makeInput(name);
        LogLines log;
        QCOMPARE(convert(item, log), QStringLiteral("[in] Invalid data found"));

        const QString output =
            log.startingWith(QStringLiteral("ffmpeg output: ")).section(u' ', 2, 2);
        QCOMPARE(log.startingWith(QStringLiteral("ffmpeg binary: ")),
                 QStringLiteral("ffmpeg binary: ") + tools.path(QStringLiteral("ffmpeg")));
        QCOMPARE(log.startingWith(QStringLiteral("Launching ffmpeg: ")),
                 QStringLiteral("Launching ffmpeg: ") + tools.path(QStringLiteral("ffmpeg")) +
                     QStringLiteral(" -n -i ") + item->path() +
                     QStringLiteral(" -map 0:a:0 -ac 1") + codecArguments +
                     QStringLiteral("-map_metadata 0 ") + output);
        QVERIFY(launchedPid(log) > 0);
        QVERIFY(log.all().contains(QStringLiteral("ffmpeg exited with status 1")));
        QVERIFY(log.all().contains(QStringLiteral("ffmpeg stderr (last 5 lines): frame=1\n[in] "
                                                  "Invalid data found\nConversion failed!\n")));
        QVERIFY(!QFile::exists(output));
        QVERIFY(QFile::exists(item->path()));
        QVERIFY(leftovers(folder->path(), QStringLiteral("sonfold_out_*")).isEmpty());
    }

    void successfulRunWithoutUsableOutputIsAFailure() {
        FakeTools tools;
        const FileItemPtr item = makeInput(QStringLiteral("song.mp3"));
        LogLines log;

        tools.conversionScript(QStringLiteral("exit 0"));
        QCOMPARE(convert(item, log),
                 QStringLiteral("Output file not created despite ffmpeg success"));
        // Each conversion writes to a fresh temporary name.
        const auto lastOutput = [&log] {
            QString line;
            for (const QString& each : log.all())
                if (each.startsWith(QStringLiteral("ffmpeg output: ")))
                    line = each;
            return line.section(u' ', 2, 2);
        };
        QVERIFY(log.all().contains(
            QStringLiteral("Output file missing after ffmpeg reported success: ") + lastOutput()));

        tools.conversionScript(lastArgument + QStringLiteral(": > \"$last\""));
        QCOMPARE(convert(item, log), QStringLiteral("Output file is empty"));
        const QString output = lastOutput();
        QVERIFY(log.all().contains(QStringLiteral("Output file is empty: ") + output));
        QVERIFY2(QFile::exists(output), "the empty output is kept for inspection");
        QVERIFY(QFile::exists(item->path()));
        QCOMPARE(item->originalSize, 0);
    }

    void runPastTheLimitIsTerminated() {
        Settings::shared().setConvertTimeoutSeconds(1);
        Settings::shared().setAppendFilename(false);
        FakeTools tools;
        tools.conversionScript(QStringLiteral("echo 'frame=1 size=0kB' >&2\n"
                                              "exec sleep 30"));
        const FileItemPtr item = makeInput(QStringLiteral("song.m4a"));
        LogLines log;
        QCOMPARE(convert(item, log),
                 QStringLiteral("Conversion timed out after 1s; frame=1 size=0kB"));
        QVERIFY(log.all().contains(QStringLiteral("ffmpeg TIMEOUT after 1s, terminating...")));
        QVERIFY2(log.startingWith(QStringLiteral("Sent SIGKILL")).isEmpty(),
                 "a polite request was enough");
        QVERIFY(!processExists(launchedPid(log)));
        QVERIFY(leftovers(folder->path(), QStringLiteral("sonfold_out_*")).isEmpty());
    }

    void childIgnoringTerminationIsKilled() {
        Settings::shared().setConvertTimeoutSeconds(1);
        FakeTools tools;
        // An ignored signal stays ignored across exec, so sleep itself ignores it.
        tools.conversionScript(QStringLiteral("trap '' TERM\nexec sleep 30"));
        const FileItemPtr item = makeInput(QStringLiteral("song.flac"));
        LogLines log;
        const std::optional<QString> result = convert(item, log);
        QVERIFY(result && result->startsWith(QStringLiteral("Conversion timed out after 1s")));
        const QString pid = QString::number(launchedPid(log));
        QVERIFY(log.all().contains(QStringLiteral("Sent SIGKILL to ffmpeg PID ") + pid +
                                   QStringLiteral(", waiting up to 3s...")));
        QVERIFY(log.all().contains(QStringLiteral("ffmpeg PID ") + pid +
                                   QStringLiteral(" died after 0s")));
        QVERIFY(!processExists(pid.toInt()));
        QVERIFY(stuckPIDs().isEmpty());
    }

    void stopRequestEndsTheRunAtOnce() {
        Settings::shared().setAppendFilename(false);
        FakeTools tools;
        tools.conversionScript(QStringLiteral("exec sleep 30"));
        const FileItemPtr item = makeInput(QStringLiteral("song.wav"));
        LogLines log;
        std::stop_source stop;
        std::optional<QString> result;
        std::atomic_bool finished = false;
        std::jthread worker([&] {
            result = AudioConverter(Settings::shared())
                         .convertToMono(item, log.callback(), stop.get_token());
            finished = true;
        });
        QTRY_VERIFY_WITH_TIMEOUT(launchedPid(log) > 0, 10000);
        const pid_t pid = launchedPid(log);
        QVERIFY(processExists(pid));

        stop.request_stop();
        QTRY_VERIFY_WITH_TIMEOUT(!processExists(pid), 500);
        QTRY_VERIFY_WITH_TIMEOUT(finished.load(), 5000);
        QCOMPARE(result, QStringLiteral("Cancelled"));
        QVERIFY(log.all().contains(QStringLiteral("Task cancelled, killing ffmpeg PID ") +
                                   QString::number(pid)));
        QVERIFY(log.startingWith(QStringLiteral("ffmpeg TIMEOUT")).isEmpty());
        QVERIFY(leftovers(folder->path(), QStringLiteral("sonfold_out_*")).isEmpty());
        QVERIFY(QFile::exists(item->path()));
    }

    void anFFmpegThatCannotStartConvertsNothing() {
        FakeTools tools;
        tools.script(QStringLiteral("ffmpeg"), QString());
        QFile script(tools.path(QStringLiteral("ffmpeg")));
        QVERIFY(script.open(QIODevice::WriteOnly | QIODevice::Truncate));
        script.write("#!/nonexistent/interpreter\n");
        script.close();
        const FileItemPtr item = makeInput(QStringLiteral("song.flac"));
        LogLines log;
        // The whole-file check before converting is its first start.
        QCOMPARE(convert(item, log),
                 QStringLiteral("Not converted: could not verify the whole file"));
        QVERIFY(log.startingWith(QStringLiteral("Launching")).isEmpty());
        QVERIFY(QFile::exists(item->path()));
    }

    void stuckProcessesAreKilledBeforeTheNextLaunch() {
        ChildProcess stuck;
        QVERIFY(!stuck.start(QStringLiteral("/bin/sleep"), {QStringLiteral("30")},
                             ChildProcess::Output::nullDevice(),
                             ChildProcess::Output::nullDevice()));
        trackStuckPID(stuck.pid());
        QCOMPARE(stuckPIDs(), QList<pid_t>{stuck.pid()});

        FakeTools tools;
        tools.conversionScript(QStringLiteral("exit 1"));
        LogLines log;
        QCOMPARE(convert(makeInput(QStringLiteral("song.flac")), log),
                 QStringLiteral("ffmpeg failed"));
        QCOMPARE(stuck.waitForExit(), SIGKILL);
        QVERIFY(stuckPIDs().isEmpty());
    }
};

CHANFUSE_TEST_MAIN(FFmpegRunTest)
#include "tst_ffmpegrun.moc"
