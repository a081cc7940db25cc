// SPDX-License-Identifier: GPL-3.0-or-later

#include "ConverterFixture.h"
#include "FakeTools.h"
#include "Processes.h"
#include "TestAudio.h"
#include "TestMain.h"

#include "converter/StuckProcesses.h"
#include "exec/ChildProcess.h"

#include <QElapsedTimer>
#include <QFileSystemWatcher>
#include <QProcess>

#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// What a row sets up besides its stand-in ffmpeg.
enum class Setup {
    none,
    realStereoLater,
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
        QVERIFY2(QDir(privateTemp.path()).entryList({u"sonfold_ffmpeg_*"_s}).isEmpty(),
                 "a diagnostic log file was left behind");
        QTRY_VERIFY_WITH_TIMEOUT(TestSupport::liveChildren().isEmpty(), 5000);
    }

    // Every fault strikes before the original is touched, so the way of
    // disposing of it and the naming only rotate through the rows. `script`
    // is the stand-in ffmpeg's conversion run.
    void everyFailureLeavesTheFolderAsItWas_data() {
        QTest::addColumn<Setup>("setup");
        QTest::addColumn<QString>("script");
        QTest::addColumn<ConvertBehavior>("behavior");
        QTest::addColumn<bool>("suffix");
        QTest::addColumn<QString>("expected"); // the start of the result
        const auto behaviors = allCases<ConvertBehavior>();
        std::size_t count = 0;
        const auto row = [&](const char* tag, Setup setup, const QString& script,
                             const QString& expected) {
            const ConvertBehavior behavior = behaviors[count % behaviors.size()];
            const bool suffix = setup == Setup::unusableSuffix || ++count % 2 == 0;
            QTest::addRow("%s, %s, suffix %s", tag, qPrintable(rawValue(behavior)),
                          suffix ? "on" : "off")
                << setup << script << behavior << suffix << expected;
        };
        const QString partialOutput = u"for last; do :; done; echo x > \"$last\"\n"_s;
        row("ffmpeg fails", Setup::none,
            partialOutput + "printf 'Stream #0:0: Audio: flac\\n[in] Invalid data found\\n"
                            "Conversion failed!\\n' >&2\nexit 1",
            "[in] Invalid data found");
        // Matching channels for a second, then the decoder gives up.
        row("decode fails midway", Setup::none,
            partialOutput + "head -c 705600 /dev/zero\n"
                            "echo '[flac @ 0x1] decoding error: invalid frame header' >&2\nexit 1",
            "[flac @ 0x1] decoding error: invalid frame header");
        row("truncated output", Setup::none, FakeTools::realConversion("-ac 1 -t 0.5"),
            "Output lasts 0.50 s instead of 1.00 s");
        row("stereo output", Setup::none, FakeTools::realConversion("-ac 2"),
            "Output has 2 channels instead of 1");
        row("channels differ", Setup::realStereoLater, "exec /usr/bin/ffmpeg \"$@\"",
            "Not converted: channels differ at 0:02");
        row("cannot start", Setup::cannotStart, "", "Could not start ");
        row("time-out", Setup::timesOut, "exec sleep 30", "Conversion timed out after 12s");
        row("stop in ffmpeg", Setup::stopDuringFFmpeg, "touch \"$0.started\"; exec sleep 30",
            "Cancelled");
        row("locked", Setup::lockedByAnotherRun, "",
            "Skipped: being converted by another Chanfuse run");
        row("now mono", Setup::noLongerStereo, FakeTools::realConversion("-ac 1"),
            "Skipped: the file no longer has two channels");
        row("unusable suffix", Setup::unusableSuffix, "",
            "Not converted: The suffix may not contain a path separator (/ or \\)");
    }
    void everyFailureLeavesTheFolderAsItWas() {
        QFETCH(Setup, setup);
        QFETCH(QString, script);
        QFETCH(ConvertBehavior, behavior);
        QFETCH(bool, suffix);
        QFETCH(QString, expected);
        Settings::shared().setConvertBehavior(behavior);
        Settings::shared().setAppendFilename(suffix);
        FakeTools tools;
        if (!script.isEmpty())
            tools.conversionScript(script);
        const QString song = fixture.pathOf(u"song.flac"_s);
        TestAudio::fakeStereo(song, 1);
        QFileSystemWatcher watcher;
        std::stop_source stop;
        QElapsedTimer sinceStop;
        int otherRun = -1;

        switch (setup) {
        case Setup::none:
            break;
        case Setup::realStereoLater:
            // Fake stereo for the first seconds, which is all a scan looks at:
            // the run is killed at the difference, long before its end.
            TestAudio::generate(song,
                                {TestAudio::tone(440, 0.5),
                                 u"if(lt(t\\,2)\\,%1\\,%2)"_s.arg(TestAudio::tone(440, 0.5),
                                                                  TestAudio::tone(660, 0.5))},
                                6);
            break;
        case Setup::cannotStart:
            tools.realTool(u"ffprobe"_s);
            TestFiles::writeFile(tools.path(u"ffmpeg"_s), "#!/nonexistent/interpreter\n");
            QFile::setPermissions(tools.path(u"ffmpeg"_s), QFile::ReadOwner | QFile::ExeOwner);
            break;
        case Setup::timesOut:
            Settings::shared().setConvertTimeoutSeconds(1);
            break;
        case Setup::stopDuringFFmpeg:
            watcher.addPath(QFileInfo(tools.path(u"ffmpeg"_s)).path());
            connect(&watcher, &QFileSystemWatcher::directoryChanged, this, [&] {
                if (QFile::exists(tools.path(u"ffmpeg.started"_s)) && stop.request_stop())
                    sinceStop.start();
            });
            break;
        case Setup::lockedByAnotherRun:
            otherRun = ::open(QFile::encodeName(song).constData(), O_RDONLY | O_CLOEXEC);
            QCOMPARE(::flock(otherRun, LOCK_EX), 0);
            break;
        case Setup::noLongerStereo:
            TestAudio::mono(song, 1);
            break;
        case Setup::unusableSuffix:
            Settings::shared().setSuffix(u"/../outside"_s);
            break;
        }
        const auto item = std::make_shared<FileItem>(QUrl::fromLocalFile(song));
        const auto before = fixture.left();

        const std::optional<QString> result = fixture.convert(item, stop.get_token());
        if (otherRun >= 0)
            ::close(otherRun);

        QVERIFY2(result.value_or(QString()).startsWith(expected), qPrintable(result.value_or("")));
        QCOMPARE(fixture.left(), before);
        QCOMPARE(item->convertedSize, 0);
        if (setup == Setup::stopDuringFFmpeg)
            QVERIFY2(sinceStop.elapsed() < 3000, "the stop was not answered at once");
        if (setup == Setup::timesOut || setup == Setup::stopDuringFFmpeg ||
            setup == Setup::realStereoLater) {
            // Killed at once, not left to finish its file.
            const QString pid =
                fixture.log.startingWith(u"ffmpeg launched, PID: "_s).section(u' ', -1);
            QVERIFY(fixture.log.all().contains(u"ffmpeg PID "_s + pid + u" died after 0s"_s));
        }
    }

    void onlyOurOwnStuckChildrenAreKilledBeforeTheNextLaunch() {
        ChildProcess stuck;
        QVERIFY(!stuck.start(u"/bin/sleep"_s, {u"30"_s}, ChildProcess::Output::nullDevice(),
                             ChildProcess::Output::nullDevice()));
        // A process that is not a child of ours (its number may be a reused one).
        QProcess stranger;
        stranger.start(u"/bin/sleep"_s, {u"30"_s});
        QVERIFY(stranger.waitForStarted());
        trackStuckPID(stuck.pid());
        trackStuckPID(pid_t(stranger.processId()));

        FakeTools tools;
        tools.conversionScript(u"exit 1"_s);
        TestAudio::fakeStereo(fixture.pathOf(u"song.flac"_s), 1);
        const auto item =
            std::make_shared<FileItem>(QUrl::fromLocalFile(fixture.pathOf("song.flac")));
        QCOMPARE(fixture.convert(item), u"ffmpeg failed"_s);
        QCOMPARE(stuck.waitForExit(), SIGKILL);
        QCOMPARE(stranger.state(), QProcess::Running);
        stranger.kill();
        stranger.waitForFinished();
    }
};

CHANFUSE_TEST_MAIN(FFmpegRunTest)
#include "tst_ffmpegrun.moc"
