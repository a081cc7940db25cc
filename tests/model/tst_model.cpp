#include "TestMain.h"

#include "TestFiles.h"
#include "model/FileItem.h"
#include "model/Settings.h"

#include <QLocale>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>

#include <future>

namespace {

QSettings store() {
    return QSettings(QStringLiteral("Chanfuse"), QStringLiteral("Chanfuse"));
}

} // namespace

class ModelTest : public QObject {
    Q_OBJECT

    Settings& settings = Settings::shared();

private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }

    void init() { store().clear(); }

    void labelsRoundTripExactlyAndNothingElse() {
        for (ChannelStatus status : allCases<ChannelStatus>())
            QCOMPARE(fromRawValue<ChannelStatus>(rawValue(status)), status);
        for (ConvertBehavior behavior : allCases<ConvertBehavior>())
            QCOMPARE(fromRawValue<ConvertBehavior>(rawValue(behavior)), behavior);
        QCOMPARE(fromRawValue<DetectionStatus>(QStringLiteral("⏱ Skipped")),
                 DetectionStatus::timedOut);
        QVERIFY(!fromRawValue<ChannelStatus>(QStringLiteral("stereo")));
        QVERIFY(!fromRawValue<ComparisonMethod>(QStringLiteral("Byte-exact ")));
        QVERIFY(!fromRawValue<ConvertBehavior>(QString()));
    }

    void itemIsBuiltFromItsFile_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QString>("extension");
        QTest::addColumn<qint64>("size");
        QTest::newRow("upper-case extension") << "Take 1.FLAC"
                                              << "Take 1"
                                              << "flac" << qint64(1234);
        QTest::newRow("only the last extension") << "a.b.wav"
                                                 << "a.b"
                                                 << "wav" << qint64(1);
        QTest::newRow("no extension") << "take1"
                                      << "take1"
                                      << "" << qint64(1);
        QTest::newRow("missing file") << "gone/Ça va.Mp3"
                                      << "Ça va"
                                      << "mp3" << qint64(0);
    }

    void itemIsBuiltFromItsFile() {
        QFETCH(QString, name);
        QFETCH(QString, fileName);
        QFETCH(QString, extension);
        QFETCH(qint64, size);
        QTemporaryDir folder;
        if (size > 0)
            TestFiles::writeFile(folder.filePath(name), QByteArray(size, 'x'));
        const FileItem item(QUrl::fromLocalFile(folder.filePath(name)));
        QCOMPARE(item.fileName, fileName);
        QCOMPARE(item.fileExtension, extension);
        QCOMPARE(item.fileSize, size);
        QCOMPARE(item.lastModified.isValid(), size > 0);
    }

    void otherLayoutsShowTheirCount() {
        FileItem item(QUrl::fromLocalFile(QStringLiteral("/nonexistent/a.wav")));
        item.layoutCount = 6;
        item.channelStatus = ChannelStatus::multichannel;
        QCOMPARE(item.channelLabel(), QStringLiteral("6 ch"));
        item.channelStatus = ChannelStatus::multipleStreams;
        QCOMPARE(item.channelLabel(), QStringLiteral("6 audio streams"));
    }

    void spaceSavedIsNeverNegative() {
        FileItem item(QUrl::fromLocalFile(QStringLiteral("/nonexistent/a.wav")));
        item.originalSize = 1000;
        item.convertedSize = 400;
        QCOMPARE(item.spaceSaved(), 600);
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
    }

    void sizesUseDecimalUnitsWithFileStylePrecision() {
        QFETCH(qint64, bytes);
        QFETCH(QString, text);
        QCOMPARE(formattedFileSize(bytes), text);
    }

    // A stored value of another kind counts as absent, as does no value.
    void storedTextOfAnotherKindGivesTheDefault_data() {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("text");
        QTest::newRow("nothing stored") << ""
                                        << "";
        QTest::newRow("label in lower case") << "convertBehavior"
                                             << "move to trash";
        QTest::newRow("no such method") << "comparisonMethod"
                                        << "Fuzzy";
        QTest::newRow("not a whole number") << "scanLimitSeconds"
                                            << "5s";
        QTest::newRow("a fraction") << "convertTimeoutSeconds"
                                    << "1.5";
        QTest::newRow("not a boolean") << "autoSelectAll"
                                       << "maybe";
        QTest::newRow("not a boolean either") << "appendFilename"
                                              << "yes please";
    }

    void storedTextOfAnotherKindGivesTheDefault() {
        QFETCH(QString, key);
        QFETCH(QString, text);
        if (!key.isEmpty())
            store().setValue(key, text);
        QCOMPARE(settings.convertBehavior(), ConvertBehavior::trash);
        QCOMPARE(settings.comparisonMethod(), ComparisonMethod::byteExact);
        QCOMPARE(settings.scanLimitSeconds(), 5);
        QCOMPARE(settings.convertTimeoutSeconds(), 60);
        QCOMPARE(settings.parallelScans(), qint64(QThread::idealThreadCount()));
        QVERIFY(settings.autoSelectAll() && settings.suffixEnabled());
        QCOMPARE(settings.suffix(), QStringLiteral("_MONO"));
        // Reading never writes a default back.
        QCOMPARE(store().allKeys().size(), key.isEmpty() ? 0 : 1);
    }

    // Stored as text another process reads, and seen by every thread,
    // including changes made behind our back.
    void valuesAreStoredAsTextAndReadAfresh() {
        settings.setConvertTimeoutSeconds(120);
        settings.setComparisonMethod(ComparisonMethod::statistical);
        settings.setConvertBehavior(ConvertBehavior::backup);
        settings.setAutoSelectAll(false);
        settings.setScanLimitSeconds(-3);
        QSettings file(store().fileName(), QSettings::IniFormat);
        QCOMPARE(file.value(QStringLiteral("comparisonMethod")).toString(),
                 QStringLiteral("Statistical"));
        QCOMPARE(file.value(QStringLiteral("convertBehavior")).toString(),
                 QStringLiteral("Copy to Backup"));
        QCOMPARE(settings.convertTimeoutSeconds(), 120);
        QCOMPARE(settings.comparisonMethod(), ComparisonMethod::statistical);
        QCOMPARE(settings.convertBehavior(), ConvertBehavior::backup);
        QVERIFY(!settings.autoSelectAll());
        QCOMPARE(settings.scanLimitSeconds(), -3); // consumers decide what it means

        file.setValue(QStringLiteral("suffix"), QStringLiteral("_behind"));
        file.sync();
        QCOMPARE(std::async(std::launch::async, [this] { return settings.suffix(); }).get(),
                 QStringLiteral("_behind"));
    }

    void suffixIsEnabledOnlyWithAppendAndText() {
        settings.setSuffix(QString());
        QVERIFY(!settings.suffixEnabled());
        settings.setSuffix(QStringLiteral("_m"));
        settings.setAppendFilename(false);
        QVERIFY(!settings.suffixEnabled());
    }

    void suffixThatCannotMakeAPlainNameIsRefused_data() {
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<QString>("refusal");
        const QString separator =
            QStringLiteral("The suffix may not contain a path separator (/ or \\)");
        const QString control = QStringLiteral("The suffix may not contain control characters");
        QTest::newRow("dots, spaces, unicode") << ". .. mono \u00E9" << QString();
        QTest::newRow("climbs out") << "/../outside" << separator;
        QTest::newRow("backslash") << "a\\b" << separator;
        QTest::newRow("line feed") << "_a\nb" << control;
        QTest::newRow("delete") << QString(QChar(0x7F)) << control;
        QTest::newRow("next line") << QString(QChar(0x85)) << control;
    }

    void suffixThatCannotMakeAPlainNameIsRefused() {
        QFETCH(QString, suffix);
        QFETCH(QString, refusal);
        QCOMPARE(Settings::suffixRefusal(suffix).value_or(QString()), refusal);
    }

    // Last: overrides last as long as the process.
    void overridesWinWithoutBeingStored() {
        settings.setConvertBehavior(ConvertBehavior::backup);
        settings.overrideForThisProcess(QStringLiteral("convertBehavior"),
                                        QStringLiteral("Overwrite"));
        settings.overrideForThisProcess(QStringLiteral("scanLimitSeconds"), QStringLiteral("x"));
        QCOMPARE(settings.convertBehavior(), ConvertBehavior::overwrite);
        QCOMPARE(settings.scanLimitSeconds(), 5);
        QCOMPARE(store().value(QStringLiteral("convertBehavior")).toString(),
                 QStringLiteral("Copy to Backup"));
        QVERIFY(!store().contains(QStringLiteral("scanLimitSeconds")));
    }
};

CHANFUSE_TEST_MAIN(ModelTest)
#include "tst_model.moc"
