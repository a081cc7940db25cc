#include "FakeTools.h"
#include "LogLines.h"
#include "Processes.h"
#include "TestAudio.h"
#include "TestFiles.h"
#include "TestMain.h"

#include "converter/AudioConverter.h"
#include "converter/FFmpegRun.h"
#include "exec/ChildProcess.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

using namespace TestFiles;

namespace {

QString trashFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/Trash");
}

pid_t launchedPid(const LogLines& log) {
    return log.startingWith(QStringLiteral("ffmpeg launched, PID: ")).section(u' ', -1).toInt();
}

// Where a row makes the conversion fail.
enum class Fault {
    ffmpegFails,
    truncatedOutput,
    stereoOutput,
    decodeFailsMidway,
    cannotStart,
    timesOut,
    stopDuringFFmpeg,
    lockedByAnotherRun,
    changedSinceScan,
    grownSinceScan,
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
    std::unique_ptr<QTemporaryDir> folder;

    QString inFolder(const QString& name) const { return folder->filePath(name); }

    FileItemPtr itemFor(const QString& name) {
        return std::make_shared<FileItem>(QUrl::fromLocalFile(inFolder(name)));
    }

    // Runs the conversion on a worker; `stopWhen` (if given) is awaited and
    // then answered with a stop request.
    std::optional<QString> convert(const FileItemPtr& item, const LogLines& log,
                                   const QString& stopWhen = {}) {
        std::stop_source stop;
        std::optional<QString> result;
        std::atomic_bool finished = false;
        std::jthread worker([&] {
            result = AudioConverter(Settings::shared())
                         .convertToMono(item, log.callback(), stop.get_token());
            finished = true;
        });
        if (!stopWhen.isEmpty()) {
            if (!QTest::qWaitFor([&] { return QFile::exists(stopWhen); }, 20000))
                qFatal("the stand-in ffmpeg never started");
            stop.request_stop();
            // Stop answers at once, not at the end of the work in hand.
            if (!QTest::qWaitFor([&] { return finished.load(); }, 3000))
                qFatal("the stop was not answered at once");
        }
        if (!QTest::qWaitFor([&] { return finished.load(); }, 30000))
            qFatal("conversion did not finish");
        return result;
    }

private slots:
    void initTestCase() {
        // Diagnostic files are looked for in a temporary folder of our own.
        qputenv("TMPDIR", QFile::encodeName(privateTemp.path()));
    }

    void init() {
        folder = std::make_unique<QTemporaryDir>();
        QDir(trashFolder()).removeRecursively();
        Settings::shared().setSuffix(QStringLiteral("_MONO"));
        Settings::shared().setConvertTimeoutSeconds(60);
        Settings::shared().setComparisonMethod(ComparisonMethod::byteExact);
    }

    void cleanup() {
        QVERIFY2(QDir(privateTemp.path()).entryList({QStringLiteral("sonfold_ffmpeg_*")}).isEmpty(),
                 "a diagnostic log file was left behind");
        QTRY_VERIFY_WITH_TIMEOUT(TestSupport::liveChildren().isEmpty(), 5000);
    }

    // Every fault strikes before the original is touched, so the way of
    // disposing of it only rotates through the rows.
    void everyFailureLeavesTheFolderAsItWas_data() {
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<ConvertBehavior>("behavior");
        QTest::addColumn<bool>("suffix");
        QTest::addColumn<QString>("expected"); // the start of the result
        enum Suffixes { both, on, off };
        const QList<std::tuple<const char*, Fault, Suffixes, QString>> faults{
            {"ffmpeg fails", Fault::ffmpegFails, both, "[in] Invalid data found"},
            {"decode fails midway", Fault::decodeFailsMidway, both,
             "[flac @ 0x1] decoding error: invalid frame header"},
            {"cannot start", Fault::cannotStart, off, "Could not start "},
            {"truncated output", Fault::truncatedOutput, both,
             "Output lasts 0.50 s instead of 1.00 s"},
            {"stereo output", Fault::stereoOutput, both, "Output has 2 channels instead of 1"},
            {"time-out", Fault::timesOut, off, "Conversion timed out after 12s"},
            {"stop in ffmpeg", Fault::stopDuringFFmpeg, both, "Cancelled"},
            {"locked", Fault::lockedByAnotherRun, both,
             "Skipped: being converted by another Chanfuse run"},
            {"changed", Fault::changedSinceScan, both,
             "Skipped: the file changed since it was scanned"},
            {"grown", Fault::grownSinceScan, off, "Skipped: the file changed since it was scanned"},
            {"now mono", Fault::noLongerStereo, both,
             "Skipped: the file no longer has two channels"},
            {"unusable suffix", Fault::unusableSuffix, on,
             "Not converted: The suffix may not contain a path separator (/ or \\)"},
        };
        const auto behaviors = allCases<ConvertBehavior>();
        std::size_t row = 0;
        for (const auto& [name, fault, suffixes, expected] : faults)
            for (bool suffix : {true, false})
                if (suffixes == both || suffix == (suffixes == on)) {
                    const ConvertBehavior behavior = behaviors[row++ % behaviors.size()];
                    QTest::addRow("%s, %s, suffix %s", name, qPrintable(rawValue(behavior)),
                                  suffix ? "on" : "off")
                        << fault << behavior << suffix << expected;
                }
    }
    void everyFailureLeavesTheFolderAsItWas() {
        QFETCH(Fault, fault);
        QFETCH(ConvertBehavior, behavior);
        QFETCH(bool, suffix);
        QFETCH(QString, expected);
        Settings::shared().setConvertBehavior(behavior);
        Settings::shared().setAppendFilename(suffix);
        FakeTools tools;
        const QString started = tools.path(QStringLiteral("started"));
        const QString song = inFolder(QStringLiteral("song.flac"));
        TestAudio::fakeStereo(song, 1);
        FileItemPtr item = itemFor(QStringLiteral("song.flac"));
        QString stopWhen;
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
        case Fault::stopDuringFFmpeg:
            tools.conversionScript(QStringLiteral("touch '%1'; exec sleep 30").arg(started));
            stopWhen = started;
            break;
        case Fault::lockedByAnotherRun:
            tools.conversionScript(FakeTools::realConversion(QStringLiteral("-ac 1")));
            otherRun = ::open(QFile::encodeName(song).constData(), O_RDONLY | O_CLOEXEC);
            QCOMPARE(::flock(otherRun, LOCK_EX), 0);
            break;
        case Fault::changedSinceScan:
            // Same bytes, newer time: rewritten in place since the scan.
            tools.conversionScript(FakeTools::realConversion(QStringLiteral("-ac 1")));
            {
                QFile rewritten(song);
                QVERIFY(rewritten.open(QIODevice::ReadWrite | QIODevice::ExistingOnly));
                QVERIFY(rewritten.setFileTime(QFileInfo(song).lastModified().addSecs(3600),
                                              QFileDevice::FileModificationTime));
            }
            break;
        case Fault::grownSinceScan:
            tools.conversionScript(FakeTools::realConversion(QStringLiteral("-ac 1")));
            TestAudio::fakeStereo(song, 2);
            break;
        case Fault::noLongerStereo:
            tools.conversionScript(FakeTools::realConversion(QStringLiteral("-ac 1")));
            TestAudio::mono(song, 1);
            item = itemFor(QStringLiteral("song.flac"));
            break;
        case Fault::unusableSuffix:
            tools.conversionScript(FakeTools::realConversion(QStringLiteral("-ac 1")));
            Settings::shared().setSuffix(QStringLiteral("/../outside"));
            break;
        }
        const auto before = snapshot(folder->path());

        LogLines log;
        const std::optional<QString> result = convert(item, log, stopWhen);
        if (otherRun >= 0)
            ::close(otherRun);

        QVERIFY(result);
        QVERIFY2(result->startsWith(expected), qPrintable(*result));
        QCOMPARE(snapshot(folder->path()), before);
        QVERIFY(snapshot(trashFolder()).isEmpty());
        QCOMPARE(item->convertedSize, 0);
        if (fault == Fault::timesOut || fault == Fault::stopDuringFFmpeg) {
            // Killed at once, not left to finish its file.
            const QString pid = QString::number(launchedPid(log));
            QVERIFY(log.all().contains(QStringLiteral("ffmpeg PID ") + pid +
                                       QStringLiteral(" died after 0s")));
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
        TestAudio::fakeStereo(inFolder(QStringLiteral("song.flac")), 1);
        LogLines log;
        QCOMPARE(convert(itemFor(QStringLiteral("song.flac")), log),
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
