#include "TestMain.h"

#include "ConversionFixture.h"
#include "ViewModelLog.h"
#include "model/FileItem.h"

#include <QElapsedTimer>
#include <QFileInfo>

using namespace ViewModelLog;

namespace {

constexpr int deadlineMs = 60000;

} // namespace

// Conversion runs and single rows through the view model: what each item
// ends as, the progress, the banner and the log. What a conversion leaves on
// disk, and why a file is refused, is proven in the converter's tests.
class ViewModelConversionTest : public QObject {
    Q_OBJECT

    ConversionFixture fixture;

private slots:
    void init() { fixture.reset(); }

    void aRunWhereTheSecondItemFails() {
        FakeTools tools;
        fixture.install(tools);
        ContentViewModel model;
        const QString folder = fixture.scannedFolder(model);
        const FileItemPtr first = model.items().at(0);
        const FileItemPtr second = model.items().at(1);
        const FileItemPtr third = model.items().at(2);
        fixture.mark(QStringLiteral("fail"), second);

        QList<double> progress{model.convertProgress()};
        connect(&model, &ContentViewModel::changed, &model, [&] {
            if (model.convertProgress() != progress.last())
                progress.append(model.convertProgress());
        });
        QSignalSpy finished(&model, &ContentViewModel::conversionFinished);
        const qsizetype logBefore = model.debugLog().size();
        model.convertSelected();
        QVERIFY(model.isConverting());
        model.convertSelected();
        QCOMPARE(messages(model).at(logBefore), QStringLiteral("Converting 3 files"));
        QCOMPARE(messages(model).last(),
                 QStringLiteral("Already converting, ignoring duplicate call"));
        QVERIFY(finished.wait(deadlineMs));
        QCOMPARE(finished.size(), 1);

        QVERIFY(!model.isConverting());
        QCOMPARE(model.currentConvertingFile(), std::nullopt);
        QCOMPARE(first->detectionStatus, DetectionStatus::converted);
        QCOMPARE(second->detectionStatus, DetectionStatus::error);
        QCOMPARE(third->detectionStatus, DetectionStatus::converted);
        const QString failure = second->errorMessage.value_or(QString());
        QVERIFY2(failure.contains(QStringLiteral("Invalid data found")), qPrintable(failure));
        QVERIFY(messages(model).contains(QStringLiteral("  -> FAILED: ") + failure));
        QCOMPARE(messages(model).filter(QStringLiteral("  -> success")).size(), 2);
        QCOMPARE(progress, (QList<double>{0.0, 1.0 / 3, 2.0 / 3, 1.0}));

        // The converted rows now stand for the new files.
        const QString output = folder + u'/' + first->fileName + QStringLiteral("_MONO.flac");
        QCOMPARE(first->currentUrl(), QUrl::fromLocalFile(output));
        QCOMPARE(first->fileSize, QFileInfo(output).size());
        // The failed row stays in the default filter.
        QCOMPARE(model.visibleItems(), QList<FileItemPtr>{second});

        const qint64 saved = first->spaceSaved() + third->spaceSaved();
        QVERIFY(saved < first->convertedSize);
        const QString banner = ContentViewModel::conversionCompleteText(
            2, saved, first->originalSize + third->originalSize, ConvertBehavior::trash, true);
        QVERIFY(model.showConversionComplete());
        QCOMPARE(model.conversionCompleteMessage(), banner);
        QCOMPARE(messages(model).mid(messages(model).size() - 2),
                 (QStringList{QStringLiteral("All conversions complete"), banner}));

        QElapsedTimer shown;
        shown.start();
        QTRY_VERIFY_WITH_TIMEOUT(!model.showConversionComplete(), 12000);
        QVERIFY2(shown.elapsed() >= 6000, "the banner went away far too early");
    }

    // A run takes the selected fake stereo rows only; with none converted,
    // there is no banner, and with none left, a click does and logs nothing.
    void onlySelectedFakeStereoRowsAreTaken() {
        FakeTools tools;
        fixture.install(tools);
        ContentViewModel model;
        fixture.scannedFolder(model);
        const FileItemPtr unticked = model.items().at(0);
        const FileItemPtr wide = model.items().at(1);
        const FileItemPtr taken = model.items().at(2);
        model.toggleSelection(unticked);
        wide->detectionStatus = DetectionStatus::realStereo;
        fixture.mark(QStringLiteral("fail"), taken);
        QVERIFY(!model.isConvertible(unticked) && !model.isConvertible(wide));
        QVERIFY(model.isConvertible(taken));

        QSignalSpy finished(&model, &ContentViewModel::conversionFinished);
        model.convertSelected();
        QVERIFY(finished.wait(deadlineMs));
        QCOMPARE(messages(model).filter(QStringLiteral("Converting")),
                 (QStringList{QStringLiteral("Converting 1 files"),
                              QStringLiteral("Converting: ") + taken->fileName}));
        QCOMPARE(taken->detectionStatus, DetectionStatus::error);
        QCOMPARE(unticked->detectionStatus, DetectionStatus::fakeStereo);
        QCOMPARE(messages(model).last(), QStringLiteral("All conversions complete"));
        QVERIFY(!model.showConversionComplete());
        QCOMPARE(model.convertProgress(), 1.0);

        const QStringList before = model.debugLog();
        model.convertSelected();
        QCOMPARE(model.debugLog(), before);
        QVERIFY(!model.isConverting());
    }

    // Rows converted one by one, side by side, leave the run's state alone.
    void singleRowsRecordTheirOutcome() {
        FakeTools tools;
        fixture.install(tools);
        ContentViewModel model;
        fixture.scannedFolder(model, 3);
        const FileItemPtr converted = model.items().at(0);
        const FileItemPtr failed = model.items().at(1);
        fixture.mark(QStringLiteral("fail"), failed);
        bool everConverting = false;
        connect(&model, &ContentViewModel::changed, &model,
                [&] { everConverting = everConverting || model.isConverting(); });
        QSignalSpy runs(&model, &ContentViewModel::conversionFinished);
        model.convertItem(converted);
        model.convertItem(failed);
        QVERIFY(model.isHeldForConversion(converted) && !model.isConvertible(converted));
        QTRY_VERIFY_WITH_TIMEOUT(!model.hasConversionsInFlight(), deadlineMs);

        QCOMPARE(converted->detectionStatus, DetectionStatus::converted);
        QCOMPARE(failed->detectionStatus, DetectionStatus::error);
        const QStringList log = messages(model);
        QVERIFY(log.contains(QStringLiteral("Converting: ") + converted->fileName));
        QVERIFY(log.contains(QStringLiteral("  -> success")));
        QVERIFY(log.contains(QStringLiteral("  -> FAILED: ") + failed->errorMessage.value_or("")));
        QVERIFY(!messages(model).filter(QStringLiteral("ffmpeg input: ")).isEmpty());
        QVERIFY(!everConverting);
        QCOMPARE(runs.size(), 0);
        QCOMPARE(model.convertProgress(), 0.0);
        QVERIFY(!model.showConversionComplete());
        QCOMPARE(model.items().at(2)->detectionStatus, DetectionStatus::fakeStereo);
    }

    // The whole file proved the scan wrong: the row becomes real stereo.
    void aRefusedRowEndsRealStereoAndUnselected() {
        QTemporaryDir folder;
        const QString intro = TestAudio::tone(330, 0.5);
        TestAudio::generate(
            folder.filePath(QStringLiteral("intro.wav")),
            {QStringLiteral("if(lt(t\\,7)\\,%1\\,%2)").arg(intro, TestAudio::tone(440, 0.5)),
             QStringLiteral("if(lt(t\\,7)\\,%1\\,%2)").arg(intro, TestAudio::tone(550, 0.5))},
            9);
        ContentViewModel model;
        QSignalSpy scanned(&model, &ContentViewModel::scanFinished);
        model.startScanFolders({QUrl::fromLocalFile(folder.path())});
        QVERIFY(scanned.wait(deadlineMs));
        const FileItemPtr item = model.items().first();
        QVERIFY(item->isSelected);

        model.convertItem(item);
        QTRY_VERIFY_WITH_TIMEOUT(!model.hasConversionsInFlight(), deadlineMs);
        const QString refusal = QStringLiteral("Not converted: channels differ at 0:07");
        QCOMPARE(item->detectionStatus, DetectionStatus::realStereo);
        QVERIFY(!item->isSelected);
        QCOMPARE(item->errorMessage, refusal);
        QCOMPARE(messages(model).last(), QStringLiteral("  -> NOT CONVERTED: ") + refusal);
    }
};

CHANFUSE_TEST_MAIN(ViewModelConversionTest)
#include "tst_viewmodelconversion.moc"
