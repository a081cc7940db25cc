// SPDX-License-Identifier: GPL-3.0-or-later

#include "TestMain.h"

#include "TestFiles.h"
#include "model/FileItem.h"
#include "model/Settings.h"

#include <QLocale>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>

#include <future>

using namespace Qt::StringLiterals;

class ModelTest : public QObject {
    Q_OBJECT

    Settings& settings = Settings::shared();

    static QSettings store() { return QSettings(u"Chanfuse"_s, u"Chanfuse"_s); }

private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }

    void init() { store().clear(); }

    void itemIsBuiltFromItsFile_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<qint64>("size");
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QString>("extension");
        QTest::newRow("upper case") << u"Take 1.FLAC"_s << qint64(1234) << u"Take 1"_s << u"flac"_s;
        QTest::newRow("last dot") << u"a.b.wav"_s << qint64(1) << u"a.b"_s << u"wav"_s;
        QTest::newRow("no extension") << "take1" << qint64(1) << "take1" << QString();
        QTest::newRow("missing file") << u"gone/Ça va.Mp3"_s << qint64(0) << u"Ça va"_s << u"mp3"_s;
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

    void savingIsNeverNegative() {
        FileItem item(QUrl::fromLocalFile(u"/nonexistent/a.wav"_s));
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
        QTest::newRow("nothing stored") << QString() << QString();
        QTest::newRow("label in lower case") << u"convertBehavior"_s << u"move to trash"_s;
        QTest::newRow("no such method") << u"comparisonMethod"_s << u"Fuzzy"_s;
        QTest::newRow("not a whole number") << u"scanLimitSeconds"_s << u"5s"_s;
        QTest::newRow("a fraction") << u"convertTimeoutSeconds"_s << u"1.5"_s;
        QTest::newRow("not a boolean") << u"autoSelectAll"_s << u"maybe"_s;
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
        QCOMPARE(settings.suffix(), u"_MONO"_s);
        // Reading never writes a default back.
        QCOMPARE(store().allKeys().size(), key.isEmpty() ? 0 : 1);
    }

    // Stored as text another process reads, and seen by every thread,
    // including changes made behind our back.
    void valuesAreStoredAsTextAndReadAfresh() {
        for (ConvertBehavior behavior : allCases<ConvertBehavior>()) {
            settings.setConvertBehavior(behavior);
            QCOMPARE(settings.convertBehavior(), behavior);
        }
        settings.setComparisonMethod(ComparisonMethod::statistical);
        settings.setConvertBehavior(ConvertBehavior::backup);
        settings.setScanLimitSeconds(-3);
        QSettings file(store().fileName(), QSettings::IniFormat);
        QCOMPARE(file.value(u"comparisonMethod"_s).toString(), u"Statistical"_s);
        QCOMPARE(file.value(u"convertBehavior"_s).toString(), u"Copy to Backup"_s);
        QCOMPARE(settings.scanLimitSeconds(), -3); // consumers decide what it means

        file.setValue(u"suffix"_s, u"_behind"_s);
        file.sync();
        QCOMPARE(std::async(std::launch::async, [this] { return settings.suffix(); }).get(),
                 u"_behind"_s);
    }

    void suffixThatCannotMakeAPlainNameIsRefused_data() {
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<QString>("refusal");
        const QString separator = u"The suffix may not contain a path separator (/ or \\)"_s;
        const QString control = u"The suffix may not contain control characters"_s;
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
        settings.overrideForThisProcess(u"convertBehavior"_s, u"Overwrite"_s);
        settings.overrideForThisProcess(u"scanLimitSeconds"_s, u"x"_s);
        QCOMPARE(settings.convertBehavior(), ConvertBehavior::overwrite);
        QCOMPARE(settings.scanLimitSeconds(), 5);
        QCOMPARE(store().value(u"convertBehavior"_s).toString(), u"Copy to Backup"_s);
        QVERIFY(!store().contains(u"scanLimitSeconds"_s));
    }
};

CHANFUSE_TEST_MAIN(ModelTest)
#include "tst_model.moc"
