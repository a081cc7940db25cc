#include "TestMain.h"

#include "converter/Disposal.h"

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

    // ffmpeg always writes a fresh name of our own beside the original; the
    // final name is the suffixed one, or the original's own path.
    void outputGoesToAFreshTemporaryNameThenItsFinalName_data() {
        QTest::addColumn<bool>("appendFilename");
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<QString>("original");
        QTest::addColumn<QString>("finalPath");
        QTest::addColumn<QString>("temporaryPattern");
        QTest::newRow("wav") << true << "_mono"
                             << "/music/a/song.wav"
                             << "/music/a/song_mono.wav"
                             << "/music/a/sonfold_out_%1\\.wav";
        QTest::newRow("case kept") << true << "-1ch"
                                   << "/music/a/Track.FLAC"
                                   << "/music/a/Track-1ch.FLAC"
                                   << "/music/a/sonfold_out_%1\\.FLAC";
        QTest::newRow("only last extension") << true << "_m"
                                             << "/music/a.b.wav"
                                             << "/music/a.b_m.wav"
                                             << "/music/sonfold_out_%1\\.wav";
        QTest::newRow("no extension keeps the dot") << true << "_m"
                                                    << "/music/a/take1"
                                                    << "/music/a/take1_m."
                                                    << "/music/a/sonfold_out_%1\\.";
        QTest::newRow("spaces") << true << " mono"
                                << "/music/my song.mp3"
                                << "/music/my song mono.mp3"
                                << "/music/sonfold_out_%1\\.mp3";
        QTest::newRow("append off: in place") << false << "_mono"
                                              << "/music/a/song.wav"
                                              << "/music/a/song.wav"
                                              << "/music/a/sonfold_out_%1\\.wav";
        QTest::newRow("empty suffix: in place") << true << ""
                                                << "/music/a/song.WAV"
                                                << "/music/a/song.WAV"
                                                << "/music/a/sonfold_out_%1\\.WAV";
    }
    void outputGoesToAFreshTemporaryNameThenItsFinalName() {
        QFETCH(bool, appendFilename);
        QFETCH(QString, suffix);
        QFETCH(QString, original);
        QFETCH(QString, finalPath);
        QFETCH(QString, temporaryPattern);
        Settings::shared().setAppendFilename(appendFilename);
        Settings::shared().setSuffix(suffix);
        const QRegularExpression temporary(
            QRegularExpression::anchoredPattern(temporaryPattern.arg(uuidPattern)));
        const OutputPath first = nameFor(original);
        const OutputPath second = nameFor(original);
        QCOMPARE(first.finalPath, finalPath);
        QVERIFY2(temporary.match(first.path).hasMatch(), qPrintable(first.path));
        QVERIFY(temporary.match(second.path).hasMatch());
        QVERIFY(first.path != second.path);
    }
};

CHANFUSE_TEST_MAIN(OutputNamingTest)
#include "tst_outputnaming.moc"
