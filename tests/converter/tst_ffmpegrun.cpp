#include "ConverterFixture.h"
#include "FakeTools.h"
#include "Processes.h"
#include "TestAudio.h"
#include "TestMain.h"

#include "converter/FFmpegRun.h"
#include "exec/ChildProcess.h"

#include <QElapsedTimer>
#include <QFileSystemWatcher>
#include <QProcess>

#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

// Where a row makes the conversion fail.
enum class Fault {
    ffmpegFails,
    truncatedOutput,
    stereoOutput,
    decodeFailsMidway,
    channelsDiffer,
    cannotStart,
    timesOut,
    stopDuringFFmpeg,
    lockedByAnotherRun,
    noLongerStereo,
    unusableSuffix,
};

} // namespace

// A conversion that fails at any point leaves the folder exactly as it was:
// same entries, same bytes, nothing in the trash, no child left running.
// Faults are made with stand-in ffmpeg scripts over real audio.
class FFmpegRunTest : public QObject {
    Q_OBJECT

    QTemporaryDir privateTemp;
    ConverterFixture fixture;

private slots:
    void initTestCase() {
        // Diagnostic files are looked for in a temporary folder of our own.
        qputenv("TMPDIR", QFile::encodeName(privateTemp.path()));
    }

    void init() { fixture.reset(); }

    void cleanup() {
        QVERIFY2(QDir(privateTemp.path()).entryList({QStringLiteral("sonfold_ffmpeg_*")}).isEmpty(),
                 "a diagnostic log file was left behind");
        QTRY_VERIFY_WITH_TIMEOUT(TestSupport::liveChildren().isEmpty(), 5000);
    }

    // Every fault strikes before the original is touched, so the way of
    // disposing of it and the naming only rotate through the rows.
    void everyFailureLeavesTheFolderAsItWas_data() {
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<ConvertBehavior>("behavior");
        QTest::addColumn<bool>("suffix");
        QTest::addColumn<QString>("expected"); // the start of the result
        const auto behaviors = allCases<ConvertBehavior>();
        std::size_t count = 0;
        const auto row = [&](const char* tag, Fault fault, const QString& expected) {
            const ConvertBehavior behavior = behaviors[count % behaviors.size()];
            const bool suffix = fault == Fault::unusableSuffix || ++count % 2 == 0;
            QTest::addRow("%s, %s, suffix %s", tag, qPrintable(rawValue(behavior)),
                          suffix ? "on" : "off")
                << fault << behavior << suffix << expected;
        };
        row("ffmpeg fails", Fault::ffmpegFails, "[in] Invalid data found");
        row("decode fails midway", Fault::decodeFailsMidway,
            "[flac @ 0x1] decoding error: invalid frame header");
        row("channels differ", Fault::channelsDiffer, "Not converted: channels differ at 0:02");
        row("cannot start", Fault::cannotStart, "Could not start ");
        row("truncated output", Fault::truncatedOutput, "Output lasts 0.50 s instead of 1.00 s");
        row("stereo output", Fault::stereoOutput, "Output has 2 channels instead of 1");
        row("time-out", Fault::timesOut, "Conversion timed out after 12s");
        row("stop in ffmpeg", Fault::stopDuringFFmpeg, "Cancelled");
        row("locked", Fault::lockedByAnotherRun,
            "Skipped: being converted by another Chanfuse run");
        row("now mono", Fault::noLongerStereo, "Skipped: the file no longer has two channels");
        row("unusable suffix", Fault::unusableSuffix,
            "Not converted: The suffix may not contain a path separator (/ or \\)");
    }
    void everyFailureLeavesTheFolderAsItWas() {
        QFETCH(Fault, fault);
        QFETCH(ConvertBehavior, behavior);
        QFETCH(bool, suffix);
        QFETCH(QString, expected);
        Settings::shared().setConvertBehavior(behavior);
        Settings::shared().setAppendFilename(suffix);
        FakeTools tools;
        const QString song = fixture.pathOf(QStringLiteral("song.flac"));
        TestAudio::fakeStereo(song, 1);
        QFileSystemWatcher watcher;
        std::stop_source stop;
        QElapsedTimer sinceStop;
        int otherRun = -1;

        switch (fault) {
        case Fault::ffmpegFails:
            tools.conversionScript(
                QStringLiteral("for last; do :; done; echo partial > \"$last\"\n"
                               "printf 'Stream #0:0: Audio: flac\\n[in] Invalid data found\\n"
                               "Conversion failed!\\n' >&2\nexit 1"));
            break;
        case Fault::truncatedOutput:
            tools.conversionScript(FakeTools::realConversion(QStringLiteral("-ac 1 -t 0.5")));
            break;
        case Fault::stereoOutput:
            tools.conversionScript(FakeTools::realConversion(QStringLiteral("-ac 2")));
            break;
        case Fault::decodeFailsMidway:
            // Matching channels for a second, then the decoder gives up.
            tools.conversionScript(
                QStringLiteral("for last; do :; done; echo partial > \"$last\"\n"
                               "head -c 176400 /dev/zero\n"
                               "echo '[flac @ 0x1] decoding error: invalid frame header' >&2\n"
                               "exit 1"));
            break;
        case Fault::channelsDiffer:
            // Fake stereo for the first seconds, which is all a scan looks at:
            // the run is killed at the difference, long before its end.
            tools.realTool(QStringLiteral("ffmpeg"));
            tools.realTool(QStringLiteral("ffprobe"));
            TestAudio::generate(song,
                                {TestAudio::tone(440, 0.5),
                                 QStringLiteral("if(lt(t\\,2)\\,%1\\,%2)")
                                     .arg(TestAudio::tone(440, 0.5), TestAudio::tone(660, 0.5))},
                                6);
            break;
        case Fault::cannotStart:
            tools.realTool(QStringLiteral("ffprobe"));
            TestFiles::writeFile(tools.path(QStringLiteral("ffmpeg")),
                                 "#!/nonexistent/interpreter\n");
            QFile::setPermissions(tools.path(QStringLiteral("ffmpeg")),
                                  QFile::ReadOwner | QFile::ExeOwner);
            break;
        case Fault::timesOut:
            Settings::shared().setConvertTimeoutSeconds(1);
            tools.conversionScript(QStringLiteral("exec sleep 30"));
            break;
        case Fault::stopDuringFFmpeg: {
            const QString started = tools.path(QStringLiteral("started"));
            tools.conversionScript(QStringLiteral("touch '%1'; exec sleep 30").arg(started));
            watcher.addPath(QFileInfo(started).path());
            connect(&watcher, &QFileSystemWatcher::directoryChanged, this, [&, started] {
                if (QFile::exists(started) && stop.request_stop())
                    sinceStop.start();
            });
            break;
        }
        case Fault::lockedByAnotherRun:
            tools.conversionScript(FakeTools::realConversion(QStringLiteral("-ac 1")));
            otherRun = ::open(QFile::encodeName(song).constData(), O_RDONLY | O_CLOEXEC);
            QCOMPARE(::flock(otherRun, LOCK_EX), 0);
            break;
        case Fault::noLongerStereo:
            tools.conversionScript(FakeTools::realConversion(QStringLiteral("-ac 1")));
            TestAudio::mono(song, 1);
            break;
        case Fault::unusableSuffix:
            tools.conversionScript(FakeTools::realConversion(QStringLiteral("-ac 1")));
            Settings::shared().setSuffix(QStringLiteral("/../outside"));
            break;
        }
        const auto item = std::make_shared<FileItem>(QUrl::fromLocalFile(song));
        const auto before = fixture.left();

        LogLines log;
        const std::optional<QString> result = fixture.convert(item, log, stop.get_token());
        if (otherRun >= 0)
            ::close(otherRun);

        QVERIFY(result);
        QVERIFY2(result->startsWith(expected), qPrintable(*result));
        QCOMPARE(fixture.left(), before);
        QCOMPARE(item->convertedSize, 0);
        if (fault == Fault::stopDuringFFmpeg)
            QVERIFY2(sinceStop.elapsed() < 3000, "the stop was not answered at once");
        if (fault == Fault::timesOut || fault == Fault::stopDuringFFmpeg ||
            fault == Fault::channelsDiffer) {
            // Killed at once, not left to finish its file.
            const QString pid =
                log.startingWith(QStringLiteral("ffmpeg launched, PID: ")).section(u' ', -1);
            QVERIFY(log.all().contains(QStringLiteral("ffmpeg PID ") + pid +
                                       QStringLiteral(" died after 0s")));
            QVERIFY(log.startingWith(QStringLiteral("ffmpeg exited with status")).isEmpty());
            QVERIFY(stuckPIDs().isEmpty());
        }
    }

    void onlyOurOwnStuckChildrenAreKilledBeforeTheNextLaunch() {
        ChildProcess stuck;
        QVERIFY(!stuck.start(QStringLiteral("/bin/sleep"), {QStringLiteral("30")},
                             ChildProcess::Output::nullDevice(),
                             ChildProcess::Output::nullDevice()));
        // A process that is not a child of ours (its number may be a reused one).
        QProcess stranger;
        stranger.start(QStringLiteral("/bin/sleep"), {QStringLiteral("30")});
        QVERIFY(stranger.waitForStarted());
        trackStuckPID(stuck.pid());
        trackStuckPID(pid_t(stranger.processId()));

        FakeTools tools;
        tools.conversionScript(QStringLiteral("exit 1"));
        TestAudio::fakeStereo(fixture.pathOf(QStringLiteral("song.flac")), 1);
        LogLines log;
        QCOMPARE(
            fixture.convert(
                std::make_shared<FileItem>(QUrl::fromLocalFile(fixture.pathOf("song.flac"))), log),
            QStringLiteral("ffmpeg failed"));
        QCOMPARE(stuck.waitForExit(), SIGKILL);
        QVERIFY(stuckPIDs().isEmpty());
        QCOMPARE(stranger.state(), QProcess::Running);
        stranger.kill();
        stranger.waitForFinished();
    }
};

CHANFUSE_TEST_MAIN(FFmpegRunTest)
#include "tst_ffmpegrun.moc"
