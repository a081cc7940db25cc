#include "TestMain.h"

#include "converter/FFmpegArguments.h"
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
        QCOMPARE(first.isTemp, finalPath == original);
        QVERIFY2(temporary.match(first.path).hasMatch(), qPrintable(first.path));
        QVERIFY(temporary.match(second.path).hasMatch());
        QVERIFY(first.path != second.path);
    }

    void pcmCodecIsKeptOnlyWhenWiderThan16Bits_data() {
        QTest::addColumn<QString>("probed");
        QTest::addColumn<QString>("chosen");
        QTest::newRow("no answer") << QString() << "pcm_s16le";
        QTest::newRow("16-bit") << "pcm_s16le"
                                << "pcm_s16le";
        QTest::newRow("16-bit big-endian") << "pcm_s16be"
                                           << "pcm_s16le";
        QTest::newRow("8-bit") << "pcm_u8"
                               << "pcm_s16le";
        QTest::newRow("not pcm") << "adpcm_ima_wav"
                                 << "pcm_s16le";
        for (const char* wide : {"pcm_s24le", "pcm_s24be", "pcm_s32le", "pcm_s32be", "pcm_f32le",
                                 "pcm_f32be", "pcm_f64le", "pcm_s64le"})
            QTest::newRow(wide) << wide << wide;
    }
    void pcmCodecIsKeptOnlyWhenWiderThan16Bits() {
        QFETCH(QString, probed);
        QFETCH(QString, chosen);
        QCOMPARE(pcmCodecFor(probed.isNull() ? std::nullopt : std::optional(probed)), chosen);
    }

    void onlyWavAndAiffGetACodecOption() {
        for (const char* extension : {"wav", "WAV", "aif", "aiff", "AiFf"})
            QVERIFY2(needsPcmCodec(QString::fromLatin1(extension)), extension);
        for (const char* extension : {"flac", "mp3", "m4a", "aac", "wma", "ogg", ""})
            QVERIFY2(!needsPcmCodec(QString::fromLatin1(extension)), extension);
        QCOMPARE(conversionArguments(QStringLiteral("/a b/in.wav"), QStringLiteral("/o.wav"),
                                     QStringLiteral("pcm_s16le")),
                 QStringList({"-y", "-i", "/a b/in.wav", "-ac", "1", "-c:a", "pcm_s16le",
                              "-map_metadata", "0", "/o.wav"}));
        QCOMPARE(
            conversionArguments(QStringLiteral("/in.flac"), QStringLiteral("/o.flac"),
                                std::nullopt),
            QStringList({"-y", "-i", "/in.flac", "-ac", "1", "-map_metadata", "0", "/o.flac"}));
    }
};

CHANFUSE_TEST_MAIN(OutputNamingTest)
#include "tst_outputnaming.moc"
