#include "TestMain.h"

#include "converter/OutputNaming.h"

#include <QRegularExpression>
#include <QUrl>

namespace {

OutputPath nameFor(const QString& original) {
    return buildOutputPath(FileItem(QUrl::fromLocalFile(original)), Settings::shared());
}

const QString uuidPattern =
    QStringLiteral("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}");

} // namespace

class OutputNamingTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        Settings::shared().setAppendFilename(true);
        Settings::shared().setSuffix(QStringLiteral("_mono"));
    }

    void suffixGoesBeforeTheExtensionByPlainConcatenation_data() {
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<QString>("original");
        QTest::addColumn<QString>("expected");
        QTest::newRow("wav") << "_mono"
                             << "/music/a/song.wav"
                             << "/music/a/song_mono.wav";
        QTest::newRow("case kept") << "-1ch"
                                   << "/music/a/Track.FLAC"
                                   << "/music/a/Track-1ch.FLAC";
        QTest::newRow("only last extension") << "_m"
                                             << "/music/a.b.wav"
                                             << "/music/a.b_m.wav";
        QTest::newRow("no extension keeps the dot") << "_m"
                                                    << "/music/a/take1"
                                                    << "/music/a/take1_m.";
        QTest::newRow("slash not rejected") << "/sub"
                                            << "/music/a/song.wav"
                                            << "/music/a/song/sub.wav";
        QTest::newRow("spaces") << " mono"
                                << "/music/my song.mp3"
                                << "/music/my song mono.mp3";
    }
    void suffixGoesBeforeTheExtensionByPlainConcatenation() {
        QFETCH(QString, suffix);
        QFETCH(QString, original);
        QFETCH(QString, expected);
        Settings::shared().setSuffix(suffix);
        const OutputPath output = nameFor(original);
        QCOMPARE(output.finalPath, expected);
        QVERIFY(!output.isTemp);
    }

    void suffixOffGivesAFreshTemporaryNameBesideTheOriginal_data() {
        QTest::addColumn<bool>("appendFilename");
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<QString>("original");
        QTest::addColumn<QString>("namePattern");
        QTest::newRow("append off") << false << "_mono"
                                    << "/music/a/song.wav"
                                    << "/music/a/sonfold_out_%1\\.wav";
        QTest::newRow("empty suffix") << true << ""
                                      << "/music/a/song.WAV"
                                      << "/music/a/sonfold_out_%1\\.WAV";
        QTest::newRow("no extension") << false << "_mono"
                                      << "/music/a/take1"
                                      << "/music/a/sonfold_out_%1\\.";
    }
    void suffixOffGivesAFreshTemporaryNameBesideTheOriginal() {
        QFETCH(bool, appendFilename);
        QFETCH(QString, suffix);
        QFETCH(QString, original);
        QFETCH(QString, namePattern);
        Settings::shared().setAppendFilename(appendFilename);
        Settings::shared().setSuffix(suffix);
        const QRegularExpression expected(
            QRegularExpression::anchoredPattern(namePattern.arg(uuidPattern)));
        const OutputPath first = nameFor(original);
        const OutputPath second = nameFor(original);
        QVERIFY(first.isTemp);
        QVERIFY2(expected.match(first.path).hasMatch(), qPrintable(first.path));
        QVERIFY(expected.match(second.path).hasMatch());
        QVERIFY(first.path != second.path);
    }
};

CHANFUSE_TEST_MAIN(OutputNamingTest)
#include "tst_outputnaming.moc"
