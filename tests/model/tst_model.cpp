#include "TestMain.h"

#include "model/FileItem.h"
#include "model/FileSize.h"

#include <QFile>
#include <QLocale>
#include <QTemporaryDir>

class ModelTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }

    void labelsRoundTripExactlyAndNothingElse() {
        for (ChannelStatus status : allCases<ChannelStatus>())
            QCOMPARE(fromRawValue<ChannelStatus>(rawValue(status)), status);
        for (ConvertBehavior behavior : allCases<ConvertBehavior>())
            QCOMPARE(fromRawValue<ConvertBehavior>(rawValue(behavior)), behavior);
        QCOMPARE(rawValue(DetectionStatus::fakeStereo), QStringLiteral("⚠ Fake Stereo"));
        QCOMPARE(fromRawValue<DetectionStatus>(QStringLiteral("⏱ Skipped")),
                 DetectionStatus::timedOut);

        QVERIFY(!fromRawValue<ChannelStatus>(QStringLiteral("stereo")));
        QVERIFY(!fromRawValue<ComparisonMethod>(QStringLiteral("Byte-exact ")));
        QVERIFY(!fromRawValue<ConvertBehavior>(QStringLiteral("move to trash")));
        QVERIFY(!fromRawValue<ConvertBehavior>(QString()));

        const std::vector<ComparisonMethod> methods = allCases<ComparisonMethod>();
        QCOMPARE(methods,
                 (std::vector{ComparisonMethod::byteExact, ComparisonMethod::statistical}));
    }

    void itemIsBuiltFromItsUrl_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QString>("extension");
        QTest::newRow("upper-case extension") << "Take 1.FLAC"
                                              << "Take 1"
                                              << "flac";
        QTest::newRow("only the last extension") << "a.b.wav"
                                                 << "a.b"
                                                 << "wav";
        QTest::newRow("no extension") << "take1"
                                      << "take1"
                                      << "";
        QTest::newRow("non-ASCII") << "Ça va.Mp3"
                                   << "Ça va"
                                   << "mp3";
    }

    void itemIsBuiltFromItsUrl() {
        QFETCH(QString, name);
        QFETCH(QString, fileName);
        QFETCH(QString, extension);
        QTemporaryDir folder;
        QFile file(folder.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(1234, 'x'));
        file.close();

        const FileItem item(QUrl::fromLocalFile(file.fileName()));
        QCOMPARE(item.fileName, fileName);
        QCOMPARE(item.fileExtension, extension);
        QCOMPARE(item.fileSize, 1234);
        QCOMPARE(item.detectionStatus, DetectionStatus::pending);
        QCOMPARE(item.channelStatus, ChannelStatus::unknown);
        QVERIFY(!item.isSelected);
        QVERIFY(!item.errorMessage);
        QCOMPARE(item.path(), file.fileName());
    }

    void itemOfAnUnreadableFileHasSizeZeroAndItsOwnId() {
        const QUrl missing = QUrl::fromLocalFile(QStringLiteral("/nonexistent/chanfuse/x.wav"));
        const FileItem first(missing);
        const FileItem second(missing);
        QCOMPARE(first.fileSize, 0);
        QCOMPARE(first.detectionStatus, DetectionStatus::pending);
        QVERIFY(first.id != second.id);
        QVERIFY(!first.id.isNull());
    }

    void spaceSavedIsNeverNegative() {
        FileItem item(QUrl::fromLocalFile(QStringLiteral("/nonexistent/a.wav")));
        QCOMPARE(item.spaceSaved(), 0);
        item.originalSize = 1000;
        item.convertedSize = 400;
        QCOMPARE(item.spaceSaved(), 600);
        item.convertedSize = 1000;
        QCOMPARE(item.spaceSaved(), 0);
        item.convertedSize = 5000;
        QCOMPARE(item.spaceSaved(), 0);
    }

    void sizesUseDecimalUnitsWithFileStylePrecision_data() {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("bytes") << qint64(999) << "999 bytes";
        QTest::newRow("kB has no decimals") << qint64(12'345) << "12 kB";
        QTest::newRow("MB has one") << qint64(12'400'000) << "12.4 MB";
        QTest::newRow("GB has two") << qint64(1'234'567'890) << "1.23 GB";
        QTest::newRow("TB has two") << qint64(2'500'000'000'000) << "2.50 TB";
    }

    void sizesUseDecimalUnitsWithFileStylePrecision() {
        QFETCH(qint64, bytes);
        QFETCH(QString, text);
        QCOMPARE(formattedFileSize(bytes), text);
    }
};

CHANFUSE_TEST_MAIN(ModelTest)
#include "tst_model.moc"
