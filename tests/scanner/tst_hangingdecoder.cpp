#include "TestMain.h"

#include "ConsoleCapture.h"
#include "FakeTools.h"
#include "TestAudio.h"
#include "Workers.h"
#include "scanner/AudioScanner.h"

#include <QTemporaryDir>

// On its own: the abandoned decoder keeps a scan queue busy until it ends,
// which would hold up any test that came after it.
class HangingDecoderTest : public QObject {
    Q_OBJECT

private slots:
    void hangingDecoderEndsAsError() {
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("stuck.wav"));
        TestAudio::fakeStereo(path, 1);

        constexpr qint64 scanLimit = 1;
        constexpr qint64 grace = 10;
        Settings::shared().setScanLimitSeconds(scanLimit);
        FakeTools tools;
        // Outlasts the decode limit, but not by much: it holds its queue.
        tools.script(QStringLiteral("ffmpeg"),
                     QStringLiteral("exec sleep %1").arg(scanLimit + grace + 4));

        const auto item = std::make_shared<FileItem>(QUrl::fromLocalFile(path));
        TestSupport::ConsoleCapture console;
        QVERIFY(TestSupport::finishOnWorker(
            [item] { AudioScanner(Settings::shared()).analyzeFile(item); },
            int(scanLimit + grace + 3) * 1000));

        QCOMPARE(item->detectionStatus, DetectionStatus::error);
        QCOMPARE(item->channelStatus, ChannelStatus::unknown);
        QCOMPARE(console.lines(),
                 QStringList{QStringLiteral("[DEBUG] Scan failed for stuck.wav: Failed to decode "
                                            "audio file. Is ffmpeg installed?")});
    }
};

CHANFUSE_TEST_MAIN(HangingDecoderTest)
#include "tst_hangingdecoder.moc"
