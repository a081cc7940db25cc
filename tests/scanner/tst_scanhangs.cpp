// SPDX-License-Identifier: GPL-3.0-or-later

#include "TestMain.h"

#include "FakeTools.h"
#include "Processes.h"
#include "TestAudio.h"
#include "TestFiles.h"
#include "Workers.h"
#include "exec/TimeLimits.h"
#include "scanner/AudioScanner.h"

#include <QElapsedTimer>
#include <QTemporaryDir>

#include <future>

using namespace Qt::StringLiterals;

// Kept apart from the other scanner tests: these leave the tool queues busy
// for as long as their limits.
class ScanHangsTest : public QObject {
    Q_OBJECT

private slots:
    // A decoder that hangs, with a helper process of its own, is killed with
    // that helper when its limit passes, and its scan queue is free again.
    void hangingDecoderIsKilledAtItsLimit() {
        QTemporaryDir folder;
        const QString path = folder.filePath(u"stuck.wav"_s);
        TestAudio::fakeStereo(path, 1);
        const QString helperPid = folder.filePath(u"helper.pid"_s);

        constexpr qint64 scanLimit = 1;
        constexpr qint64 grace = 10;
        Settings::shared().setScanLimitSeconds(scanLimit);
        FakeTools tools;
        tools.realTool(u"ffprobe"_s);
        tools.script(u"ffmpeg"_s, u"sleep 300 &\necho $! > '%1'\nexec sleep 300"_s.arg(helperPid));

        const auto item = std::make_shared<FileItem>(QUrl::fromLocalFile(path));
        QElapsedTimer clock;
        clock.start();
        QVERIFY(TestSupport::finishOnWorker(
            [item] { AudioScanner(Settings::shared()).analyzeFile(item->url).applyTo(*item); },
            int(scanLimit + grace + 5) * 1000));
        QVERIFY2(clock.elapsed() < (scanLimit + grace + 2) * 1000,
                 qPrintable(QString::number(clock.elapsed())));

        QCOMPARE(item->detectionStatus, DetectionStatus::error);
        QCOMPARE(item->channelStatus, ChannelStatus::stereo);

        const pid_t helper = pid_t(TestFiles::contentsOf(helperPid).trimmed().toInt());
        QTRY_VERIFY_WITH_TIMEOUT(!TestSupport::isLive(helper), 2000);
        QTRY_VERIFY_WITH_TIMEOUT(TestSupport::liveChildren().isEmpty(), 2000);
        for (int i = 0; i < scanOpQueueCount; ++i)
            withHardTimeout(scanOpQueue(i), 1, [] {});
    }

    // A volume that stops answering: the discovery gives up after the
    // existence test's limit instead of waiting for ever.
    void discoveryGivesUpWhenFileOperationsHang() {
        QTemporaryDir root;
        TestFiles::writeFile(root.filePath(u"a.wav"_s), {});
        std::promise<void> answer;
        fileOpQueue().submit(
            [stuck = answer.get_future().share()] { stuck.wait_for(std::chrono::seconds(30)); });
        QElapsedTimer clock;
        clock.start();
        auto found = std::make_shared<DiscoveredFiles>();
        const QUrl url = QUrl::fromLocalFile(root.path());
        QVERIFY(TestSupport::finishOnWorker(
            [found, url] { *found = AudioScanner(Settings::shared()).findAudioFiles(url); },
            30000));
        answer.set_value();
        QVERIFY(found->audioFiles.isEmpty());
        QVERIFY(clock.elapsed() >= 9000);
    }
};

CHANFUSE_TEST_MAIN(ScanHangsTest)
#include "tst_scanhangs.moc"
