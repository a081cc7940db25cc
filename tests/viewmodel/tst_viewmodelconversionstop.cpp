#include "TestMain.h"

#include "ViewModelFixture.h"

// Conversions whose ffmpeg hangs: stopped by the user, or past their limit.
class ViewModelConversionStopTest : public QObject {
    Q_OBJECT

    ConversionFixture fixture;

private slots:
    void init() { fixture.reset(); }

    void stopConvertDuringTheSecondItem() {
        FakeTools tools;
        fixture.install(tools);
        ContentViewModel model;
        fixture.scanFolder(model);
        const FileItemPtr first = model.items().at(0);
        const FileItemPtr second = model.items().at(1);
        const FileItemPtr third = model.items().at(2);
        fixture.mark(QStringLiteral("hang"), second);

        QSignalSpy finished(&model, &ContentViewModel::conversionFinished);
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
        QVERIFY(!model.isConvertible(third));
        model.convertSelected();
        model.convertItem(second);
        const auto skipped = [](const FileItemPtr& item) {
            return QStringLiteral("Already converting %1, skipped").arg(item->fileName);
        };
        QCOMPARE(messages(model).mid(messages(model).size() - 3),
                 (QStringList{skipped(second), skipped(third), skipped(second)}));

        QVERIFY(finished.wait(30000));
        QCOMPARE(first->detectionStatus, DetectionStatus::converted);
        QCOMPARE(second->detectionStatus, DetectionStatus::error);
        QCOMPARE(second->errorMessage, std::optional(QStringLiteral("Cancelled")));
        QCOMPARE(third->detectionStatus, DetectionStatus::fakeStereo);
        QCOMPARE(model.convertProgress(), 2.0 / 3);
        QVERIFY(!model.showConversionComplete());
        // Once let go, the unreached file can be taken again.
        QVERIFY(model.isConvertible(third));
    }

    void aConversionPastItsTimeLimitIsSkipped() {
        Settings::shared().setConvertTimeoutSeconds(1);
        FakeTools tools;
        fixture.install(tools);
        ContentViewModel model;
        fixture.scanFolder(model, 1);
        const FileItemPtr item = model.items().at(0);
        fixture.mark(QStringLiteral("hang"), item);
        model.convertItem(item);
        QTRY_VERIFY_WITH_TIMEOUT(!model.hasConversionsInFlight(), 30000);
        QCOMPARE(item->detectionStatus, DetectionStatus::timedOut);
        QCOMPARE(messages(model).last(),
                 QStringLiteral("  -> TIMED OUT: ") + item->errorMessage.value_or(QString()));
    }
};

CHANFUSE_TEST_MAIN(ViewModelConversionStopTest)
#include "tst_viewmodelconversionstop.moc"
