#include "TestMain.h"

#include "ConversionFixture.h"
#include "model/FileSize.h"
#include "model/PathParts.h"

#include <QElapsedTimer>
#include <QMap>

using namespace ViewModelLog;

Q_DECLARE_METATYPE(ConvertBehavior)

// Conversion runs of three items: what each item ends as, the progress, and
// the banner with its sentence for every way of disposing of originals.
class ViewModelConversionTest : public QObject {
    Q_OBJECT

    ConversionFixture fixture;

private slots:
    void init() { fixture.reset(); }

    void aRunWhereTheSecondItemFails_data() {
        QTest::addColumn<ConvertBehavior>("behavior");
        QTest::addColumn<bool>("suffix");
        QTest::addColumn<QString>("lastSentence");
        QTest::newRow("trash") << ConvertBehavior::trash << true
                               << "(Original files are moved to the Trash.)";
        QTest::newRow("backup") << ConvertBehavior::backup << true
                                << "(Original files are copied to the _backup folder.)";
        QTest::newRow("overwrite beside")
            << ConvertBehavior::overwrite << true << "(Original files are kept.)";
        QTest::newRow("overwrite in place")
            << ConvertBehavior::overwrite << false << "(Original files are overwritten.)";
    }

    void aRunWhereTheSecondItemFails() {
        QFETCH(ConvertBehavior, behavior);
        QFETCH(bool, suffix);
        QFETCH(QString, lastSentence);
        Settings::shared().setConvertBehavior(behavior);
        Settings::shared().setAppendFilename(suffix);
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

        const qint64 saved = first->spaceSaved() + third->spaceSaved();
        QVERIFY(saved > 0);
        const QString banner = QStringLiteral("Congratulations! 2 files converted. ") +
                               formattedFileSize(saved).toLower() +
                               QStringLiteral(" disk space recovered.\n") + lastSentence;
        QVERIFY(model.showConversionComplete());
        QCOMPARE(model.conversionCompleteMessage(), banner);
        QCOMPARE(messages(model).last(), banner);

        // The sentence tells the truth about the originals.
        const QString original = first->path();
        if (behavior == ConvertBehavior::overwrite && !suffix) {
            QCOMPARE(TestAudio::channelsOf(original), 1);
        } else {
            QCOMPARE(TestAudio::channelsOf(folder + u'/' + first->fileName +
                                           QStringLiteral("_MONO.wav")),
                     1);
            QCOMPARE(QFile::exists(original), behavior != ConvertBehavior::trash);
        }
        if (behavior == ConvertBehavior::backup)
            QCOMPARE(TestAudio::channelsOf(folder + QStringLiteral("/_backup/") + first->fileName +
                                           QStringLiteral(".wav")),
                     2);

        if (behavior == ConvertBehavior::trash) {
            QElapsedTimer shown;
            shown.start();
            QTRY_VERIFY_WITH_TIMEOUT(!model.showConversionComplete(), 12000);
            QVERIFY2(shown.elapsed() >= 6000, "the banner went away far too early");
        }
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
