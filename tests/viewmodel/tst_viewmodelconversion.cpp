#include "TestMain.h"

#include "ConversionFixture.h"
#include "model/FileSize.h"
#include "model/PathParts.h"
#include "viewmodel/ContentViewModel.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QMap>

using namespace ViewModelLog;

Q_DECLARE_METATYPE(ConvertBehavior)

// Conversion runs of three items: what each item ends as, the progress, and
// the banner's text for every way of disposing of originals.
class ViewModelConversionTest : public QObject {
    Q_OBJECT

    ConversionFixture fixture;

private slots:
    void init() { fixture.reset(); }

    // Every behaviour with and without a suffix: the space is called
    // recovered only where the originals are gone.
    void bannerText_data() {
        QTest::addColumn<ConvertBehavior>("behavior");
        QTest::addColumn<bool>("suffix");
        QTest::addColumn<QString>("expected");
        const QString converted = QStringLiteral("Congratulations! 2 files converted. ");
        const QString recovered = QStringLiteral("1.5 mb disk space recovered.\n");
        QTest::newRow("trash, suffix")
            << ConvertBehavior::trash << true
            << converted + recovered + "(Original files are moved to the Trash.)";
        QTest::newRow("trash, no suffix")
            << ConvertBehavior::trash << false
            << converted + recovered + "(Original files are moved to the Trash.)";
        QTest::newRow("overwrite, no suffix")
            << ConvertBehavior::overwrite << false
            << converted + recovered + "(Original files are overwritten.)";
        QTest::newRow("overwrite, suffix")
            << ConvertBehavior::overwrite << true
            << converted + "Original files are kept beside them:\ndeleting them would free 3.2 mb.";
        QTest::newRow("backup, no suffix")
            << ConvertBehavior::backup << false
            << converted + "Original files are kept in the _backup folder:\n"
                           "deleting them would free 3.2 mb.";
        QTest::newRow("backup, suffix")
            << ConvertBehavior::backup << true
            << converted + "Original files are kept, with copies in the _backup folder:\n"
                           "deleting the originals would free 3.2 mb.";
    }

    void bannerText() {
        QFETCH(ConvertBehavior, behavior);
        QFETCH(bool, suffix);
        QFETCH(QString, expected);
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        QCOMPARE(ContentViewModel::conversionCompleteText(2, 1'500'000, 3'200'000, behavior, suffix), expected);
    }

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
        const qsizetype logBefore = model.debugLog().size();
        model.convertSelected();
        QVERIFY(model.isConverting());
        QCOMPARE(messages(model).at(logBefore), QStringLiteral("Converting 3 files"));
        QVERIFY(waitFor(model, QStringLiteral("All conversions complete")));

        QVERIFY(!model.isConverting());
        QCOMPARE(model.currentConvertingFile(), std::nullopt);
        QCOMPARE(first->detectionStatus, DetectionStatus::converted);
        QCOMPARE(second->detectionStatus, DetectionStatus::error);
        QCOMPARE(third->detectionStatus, DetectionStatus::converted);
        const QString failure = second->errorMessage.value_or(QString());
        QVERIFY2(failure.contains(QStringLiteral("Invalid data found")), qPrintable(failure));
        QVERIFY(messages(model).contains(QStringLiteral("  -> FAILED: ") + failure));
        QCOMPARE(messagesStartingWith(model, QStringLiteral("  -> success")).size(), 2);
        QCOMPARE(progress.size(), 4);
        QCOMPARE(progress.at(1), 1.0 / 3);
        QCOMPARE(progress.at(2), 2.0 / 3);
        QCOMPARE(progress.at(3), 1.0);

        // The converted rows now stand for the new files.
        const QString output = folder + u'/' + first->fileName + QStringLiteral("_MONO.wav");
        QCOMPARE(first->currentUrl(), QUrl::fromLocalFile(output));
        QCOMPARE(first->fileSize, QFileInfo(output).size());
        // The failed row stays in the default filter.
        QCOMPARE(model.visibleItems(), QList<FileItemPtr>{second});

        const qint64 saved = first->spaceSaved() + third->spaceSaved();
        QVERIFY(saved > 0);
        const QString banner = ContentViewModel::conversionCompleteText(
            2, saved, first->originalSize + third->originalSize, ConvertBehavior::trash, true);
        QVERIFY(model.showConversionComplete());
        QCOMPARE(model.conversionCompleteMessage(), banner);
        QCOMPARE(messages(model).last(), banner);

        QElapsedTimer shown;
        shown.start();
        QTRY_VERIFY_WITH_TIMEOUT(!model.showConversionComplete(), 12000);
        QVERIFY2(shown.elapsed() >= 6000, "the banner went away far too early");
    }

    void aRunWhereEveryItemFailsShowsNoBanner() {
        FakeTools tools;
        fixture.install(tools);
        ContentViewModel model;
        fixture.scannedFolder(model);
        for (const FileItemPtr& item : model.items())
            fixture.mark(QStringLiteral("fail"), item);

        model.convertSelected();
        QVERIFY(waitFor(model, QStringLiteral("All conversions complete")));
        QCOMPARE(messages(model).last(), QStringLiteral("All conversions complete"));
        for (const FileItemPtr& item : model.items())
            QCOMPARE(item->detectionStatus, DetectionStatus::error);
        QVERIFY(!model.showConversionComplete());
        QVERIFY(model.conversionCompleteMessage().isEmpty());
        QCOMPARE(model.convertProgress(), 1.0);
    }

    // Only a single stream of two channels can be converted, even when the
    // user ticks the others; what a backup run leaves is never listed again.
    void otherLayoutsAndBackupsAreNeverConverted() {
        Settings::shared().setConvertBehavior(ConvertBehavior::backup);
        Settings::shared().setAppendFilename(false);
        ContentViewModel model;
        const QString folder = fixture.scannedFolder(model, 1);
        const QString surround = folder + QStringLiteral("/surround.wav");
        const QString streams = folder + QStringLiteral("/two streams.m4a");
        TestAudio::surround(surround);
        TestAudio::twoStreams(streams);
        auto bytesOf = [](const QString& path) {
            QFile file(path);
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        };
        const QByteArray surroundBytes = bytesOf(surround);
        const QByteArray streamsBytes = bytesOf(streams);

        const auto labels = [&model] {
            QMap<QString, QString> shown;
            for (const FileItemPtr& item : model.items())
                shown[lastPathComponent(item->path())] =
                    item->channelLabel() + u'/' + rawValue(item->detectionStatus);
            return shown;
        };
        model.startScanFolders({QUrl::fromLocalFile(folder)});
        QVERIFY(waitFor(model, QStringLiteral("Scan complete: 3 files processed")));
        const QString multichannel = QStringLiteral("/\u2713 Multichannel");
        QCOMPARE(labels(),
                 (QMap<QString, QString>{
                     {QStringLiteral("take1.wav"), QStringLiteral("Stereo/\u26A0 Fake Stereo")},
                     {QStringLiteral("surround.wav"), QStringLiteral("6 ch") + multichannel},
                     {QStringLiteral("two streams.m4a"),
                      QStringLiteral("2 audio streams") + multichannel}}));
        for (const FileItemPtr& item : model.items()) {
            QCOMPARE(item->isSelected, item->detectionStatus == DetectionStatus::fakeStereo);
            if (!item->isSelected)
                model.toggleSelection(item);
        }

        model.convertSelected();
        QVERIFY(waitFor(model, QStringLiteral("All conversions complete")));
        QCOMPARE(bytesOf(surround), surroundBytes);
        QCOMPARE(bytesOf(streams), streamsBytes);
        QVERIFY(QFile::exists(folder + QStringLiteral("/_backup/take1.wav")));

        model.startScanFolders({QUrl::fromLocalFile(folder)});
        QTRY_COMPARE_WITH_TIMEOUT(
            messagesStartingWith(model, QStringLiteral("Scan complete: 3 files")).size(), 2, 60000);
        QCOMPARE(labels().keys(),
                 (QStringList{QStringLiteral("surround.wav"), QStringLiteral("take1.wav"),
                              QStringLiteral("two streams.m4a")}));
    }
};

CHANFUSE_TEST_MAIN(ViewModelConversionTest)
#include "tst_viewmodelconversion.moc"
