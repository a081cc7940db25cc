#include "TestMain.h"

#include "model/Settings.h"

#include <QSettings>
#include <QThread>

#include <future>

class SettingsTest : public QObject {
    Q_OBJECT

    Settings& settings = Settings::shared();

private slots:
    void init() {
        QSettings store(QStringLiteral("Chanfuse"), QStringLiteral("Chanfuse"));
        store.clear();
        store.sync();
    }

    void emptyStoreGivesDefaultsAndWritesNothing() {
        QCOMPARE(settings.comparisonMethod(), ComparisonMethod::byteExact);
        QCOMPARE(settings.convertBehavior(), ConvertBehavior::trash);
        QVERIFY(settings.autoSelectAll());
        QVERIFY(settings.appendFilename());
        QCOMPARE(settings.suffix(), QStringLiteral("_MONO"));
        QCOMPARE(settings.scanLimitSeconds(), 5);
        QCOMPARE(settings.convertTimeoutSeconds(), 60);
        QCOMPARE(settings.parallelScans(), qint64(QThread::idealThreadCount()));
        QVERIFY(settings.suffixEnabled());

        QSettings store(QStringLiteral("Chanfuse"), QStringLiteral("Chanfuse"));
        QVERIFY(store.allKeys().isEmpty());
    }

    void valuesOfAnotherKindGiveTheDefault_data() {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("text");
        QTest::newRow("enum label in lower case") << "convertBehavior"
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

    void valuesOfAnotherKindGiveTheDefault() {
        QFETCH(QString, key);
        QFETCH(QString, text);
        {
            QSettings store(QStringLiteral("Chanfuse"), QStringLiteral("Chanfuse"));
            store.setValue(key, text);
        }
        QCOMPARE(settings.convertBehavior(), ConvertBehavior::trash);
        QCOMPARE(settings.comparisonMethod(), ComparisonMethod::byteExact);
        QCOMPARE(settings.scanLimitSeconds(), 5);
        QCOMPARE(settings.convertTimeoutSeconds(), 60);
        QVERIFY(settings.autoSelectAll());
        QVERIFY(settings.appendFilename());

        QSettings store(QStringLiteral("Chanfuse"), QStringLiteral("Chanfuse"));
        QCOMPARE(store.value(key).toString(), text);
    }

    void writesAreStoredUnderTheirKeysAndReadBackTyped() {
        settings.setConvertTimeoutSeconds(120);
        settings.setComparisonMethod(ComparisonMethod::statistical);
        settings.setConvertBehavior(ConvertBehavior::backup);
        settings.setAutoSelectAll(false);
        settings.setParallelScans(0);
        settings.setScanLimitSeconds(-3);

        // What another process would find: the file as written, read afresh.
        QSettings store(QStringLiteral("Chanfuse"), QStringLiteral("Chanfuse"));
        QSettings file(store.fileName(), QSettings::IniFormat);
        QCOMPARE(file.value(QStringLiteral("convertTimeoutSeconds")).toString(),
                 QStringLiteral("120"));
        QCOMPARE(file.value(QStringLiteral("comparisonMethod")).toString(),
                 QStringLiteral("Statistical"));
        QCOMPARE(file.value(QStringLiteral("convertBehavior")).toString(),
                 QStringLiteral("Copy to Backup"));
        QCOMPARE(file.allKeys().size(), 6);

        QCOMPARE(settings.convertTimeoutSeconds(), 120);
        QCOMPARE(settings.comparisonMethod(), ComparisonMethod::statistical);
        QCOMPARE(settings.convertBehavior(), ConvertBehavior::backup);
        QVERIFY(!settings.autoSelectAll());
        // No range check: consumers decide what these mean.
        QCOMPARE(settings.parallelScans(), 0);
        QCOMPARE(settings.scanLimitSeconds(), -3);
    }

    void suffixIsEnabledOnlyWithAppendAndText() {
        settings.setSuffix(QString());
        QVERIFY(settings.appendFilename());
        QVERIFY(!settings.suffixEnabled());

        settings.setSuffix(QStringLiteral("_m"));
        QVERIFY(settings.suffixEnabled());
        settings.setAppendFilename(false);
        QVERIFY(!settings.suffixEnabled());
        QCOMPARE(settings.suffix(), QStringLiteral("_m"));
    }

    void suffixThatCannotMakeAPlainNameIsRefused_data() {
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<QString>("refusal");
        const QString separator =
            QStringLiteral("The suffix may not contain a path separator (/ or \\)");
        const QString control = QStringLiteral("The suffix may not contain control characters");
        QTest::newRow("usual") << "_MONO" << QString();
        QTest::newRow("dots, spaces, unicode") << ". .. mono \u00E9" << QString();
        QTest::newRow("climbs out") << "/../../../outside" << separator;
        QTest::newRow("backslash") << "a\\b" << separator;
        QTest::newRow("line feed") << "_a\nb" << control;
        QTest::newRow("tab") << "\t" << control;
        QTest::newRow("nul") << QString(QChar(0)) << control;
        QTest::newRow("delete") << QString(QChar(0x7F)) << control;
        QTest::newRow("next line") << QString(QChar(0x85)) << control;
    }
    void suffixThatCannotMakeAPlainNameIsRefused() {
        QFETCH(QString, suffix);
        QFETCH(QString, refusal);
        QCOMPARE(Settings::suffixRefusal(suffix).value_or(QString()), refusal);
    }

    void everyThreadSeesTheLatestValue() {
        settings.setSuffix(QStringLiteral("_first"));
        auto fromWorker = [this] { return settings.suffix(); };
        QCOMPARE(std::async(std::launch::async, fromWorker).get(), QStringLiteral("_first"));

        settings.setSuffix(QStringLiteral("_second"));
        QCOMPARE(std::async(std::launch::async, fromWorker).get(), QStringLiteral("_second"));
    }

    void changesMadeBehindOurBackAreSeen() {
        QCOMPARE(settings.scanLimitSeconds(), 5);
        QSettings store(QStringLiteral("Chanfuse"), QStringLiteral("Chanfuse"));
        QSettings file(store.fileName(), QSettings::IniFormat);
        file.setValue(QStringLiteral("scanLimitSeconds"), 9);
        file.sync();
        QCOMPARE(settings.scanLimitSeconds(), 9);
    }

    // Last: overrides last as long as the process.
    void overridesWinWithoutBeingStored() {
        settings.setConvertBehavior(ConvertBehavior::backup);
        settings.overrideForThisProcess(QStringLiteral("convertBehavior"),
                                        QStringLiteral("Overwrite"));
        settings.overrideForThisProcess(QStringLiteral("scanLimitSeconds"), QStringLiteral("x"));
        QCOMPARE(settings.convertBehavior(), ConvertBehavior::overwrite);
        QCOMPARE(settings.scanLimitSeconds(), 5);

        QSettings store(QStringLiteral("Chanfuse"), QStringLiteral("Chanfuse"));
        QCOMPARE(store.value(QStringLiteral("convertBehavior")).toString(),
                 QStringLiteral("Copy to Backup"));
        QVERIFY(!store.contains(QStringLiteral("scanLimitSeconds")));
    }
};

CHANFUSE_TEST_MAIN(SettingsTest)
#include "tst_settings.moc"
