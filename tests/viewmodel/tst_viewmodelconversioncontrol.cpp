#include "TestMain.h"

#include "ConversionFixture.h"

using namespace ViewModelLog;

// Stopping, refusing and single-row conversions.
class ViewModelConversionControlTest : public QObject {
    Q_OBJECT

    ConversionFixture fixture;

private slots:
    void init() { fixture.reset(); }

    void stopConvertDuringTheSecondItem() {
        FakeTools tools;
        fixture.install(tools);
        ContentViewModel model;
        const QString folder = fixture.scannedFolder(model);
        const FileItemPtr first = model.items().at(0);
        const FileItemPtr second = model.items().at(1);
        const FileItemPtr third = model.items().at(2);
        fixture.mark(QStringLiteral("hang"), second);

        model.convertSelected();
        QTRY_VERIFY_WITH_TIMEOUT(
            QFile::exists(fixture.markerPath(QStringLiteral("started"), second)), 30000);
        QCOMPARE(model.currentConvertingFile(), std::optional(second->fileName));
        model.stopConvert();
        QCOMPARE(messages(model).last(), QStringLiteral("Stopping conversion..."));
        QVERIFY(!model.isConverting());
        QCOMPARE(model.currentConvertingFile(), std::nullopt);

        // The stopped run still holds the file in hand and the unreached one
        // until its worker lets go: clicking again must not start on them.
        model.convertSelected();
        model.convertItem(second);
        const auto skipped = [](const FileItemPtr& item) {
            return QStringLiteral("Already converting ") + item->fileName +
                   QStringLiteral(", skipped");
        };
        QCOMPARE(messages(model).mid(messages(model).size() - 3),
                 (QStringList{skipped(second), skipped(third), skipped(second)}));
        QVERIFY(!model.isConverting());

        QVERIFY(waitFor(model, QStringLiteral("All conversions complete")));
        QCOMPARE(first->detectionStatus, DetectionStatus::converted);
        QCOMPARE(second->detectionStatus, DetectionStatus::error);
        QCOMPARE(second->errorMessage, std::optional(QStringLiteral("Cancelled")));
        QCOMPARE(third->detectionStatus, DetectionStatus::fakeStereo);
        QVERIFY(!QFile::exists(folder + u'/' + third->fileName + QStringLiteral("_MONO.wav")));
        QVERIFY(!messages(model).contains(QStringLiteral("Converting: ") + third->fileName));
        QCOMPARE(model.convertProgress(), 2.0 / 3);
        QVERIFY(!model.isConverting());
        QVERIFY(!model.showConversionComplete());

        // Once let go, the unreached file converts on the next click.
        model.convertSelected();
        QTRY_COMPARE_WITH_TIMEOUT(messages(model).count(QStringLiteral("All conversions complete")),
                                  2, 30000);
        QCOMPARE(third->detectionStatus, DetectionStatus::converted);
    }

    void aSecondConvertSelectedIsRefused() {
        ContentViewModel model;
        fixture.scannedFolder(model, 2);
        model.convertSelected();
        model.convertSelected();
        QCOMPARE(messages(model).last(),
                 QStringLiteral("Already converting, ignoring duplicate call"));
        QVERIFY(waitFor(model, QStringLiteral("All conversions complete")));
        QCOMPARE(messagesStartingWith(model, QStringLiteral("Converting: ")).size(), 2);
        for (const FileItemPtr& item : model.items())
            QCOMPARE(item->detectionStatus, DetectionStatus::converted);
        QCOMPARE(model.conversionCompleteMessage().section(u'.', 0, 0),
                 QStringLiteral("Congratulations! 2 files converted"));
    }

    void nothingSelectedConvertsNothing() {
        ContentViewModel model;
        fixture.scannedFolder(model, 1);
        for (const FileItemPtr& item : model.items())
            model.toggleSelection(item);
        const QStringList before = model.debugLog();
        model.convertSelected();
        QCOMPARE(model.debugLog(), before);
        QVERIFY(!model.isConverting());
    }

    void aSingleRowLeavesTheRunStateAlone() {
        ContentViewModel model;
        fixture.scannedFolder(model, 2);
        bool everConverting = false;
        connect(&model, &ContentViewModel::changed, &model,
                [&] { everConverting = everConverting || model.isConverting(); });
        const FileItemPtr item = model.items().at(0);
        model.convertItem(item);
        QVERIFY(waitFor(model, QStringLiteral("  -> success")));
        QCOMPARE(item->detectionStatus, DetectionStatus::converted);
        QVERIFY(messages(model).contains(QStringLiteral("Converting: ") + item->fileName));
        QVERIFY(!messagesStartingWith(model, QStringLiteral("ffmpeg input: ")).isEmpty());
        QVERIFY(!everConverting);
        QCOMPARE(model.convertProgress(), 0.0);
        QVERIFY(!model.showConversionComplete());
        QCOMPARE(model.items().at(1)->detectionStatus, DetectionStatus::fakeStereo);
    }

    void aConversionPastItsTimeLimitIsSkipped() {
        Settings::shared().setConvertTimeoutSeconds(1);
        FakeTools tools;
        fixture.install(tools);
        ContentViewModel model;
        fixture.scannedFolder(model, 1);
        const FileItemPtr item = model.items().at(0);
        fixture.mark(QStringLiteral("hang"), item);
        model.convertItem(item);
        QVERIFY(waitForPrefix(model, QStringLiteral("  -> TIMED OUT: ")));
        QCOMPARE(item->detectionStatus, DetectionStatus::timedOut);
        const QString reason = item->errorMessage.value_or(QString());
        QVERIFY2(reason.contains(QStringLiteral("timed out")), qPrintable(reason));
        QVERIFY(messages(model).contains(QStringLiteral("  -> TIMED OUT: ") + reason));
    }
};

CHANFUSE_TEST_MAIN(ViewModelConversionControlTest)
#include "tst_viewmodelconversioncontrol.moc"
