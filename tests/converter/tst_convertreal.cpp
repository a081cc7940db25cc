#include "LogLines.h"
#include "TestAudio.h"
#include "TestMain.h"
#include "Workers.h"

#include "converter/AudioConverter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

namespace {

const QString title = QStringLiteral("Chanfuse Test");

// What one ffprobe run tells of a file's first audio stream.
struct Described {
    int channels = 0;
    double duration = 0;
    QString title;
};

QString probeEntry(const QString& path, const QString& entry) {
    QProcess probe;
    probe.start(QStringLiteral("ffprobe"),
                {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-select_streams"),
                 QStringLiteral("a:0"), QStringLiteral("-show_entries"), entry,
                 QStringLiteral("-of"), QStringLiteral("csv=p=0"), path});
    probe.waitForFinished(30000);
    return QString::fromUtf8(probe.readAllStandardOutput()).trimmed();
}

Described describe(const QString& path) {
    const QStringList fields =
        probeEntry(path, QStringLiteral("stream=channels,duration:format_tags=title"))
            .split(QRegularExpression(QStringLiteral("[,\n]")));
    if (fields.size() < 2)
        return {};
    return {fields.at(0).toInt(), fields.at(1).toDouble(), fields.value(2).trimmed()};
}

QString trashFiles() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/Trash/files");
}

QStringList entriesOf(const QString& folder) {
    QStringList names =
        QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    names.sort();
    return names;
}

} // namespace

// Real conversions with the real ffmpeg, for every way of disposing of the
// original: which files exist afterwards, what they hold, and that nothing of
// the converter's own is left behind.
class ConvertRealTest : public QObject {
    Q_OBJECT

    QTemporaryDir privateTemp;
    QTemporaryDir sources;
    QHash<QString, double> sourceDuration;
    std::unique_ptr<QTemporaryDir> folder;

    FileItemPtr copySource(const QString& name, const QString& source) {
        const QString path = folder->filePath(name);
        if (!QFile::copy(source, path))
            qFatal("cannot copy %s", qPrintable(source));
        return std::make_shared<FileItem>(QUrl::fromLocalFile(path));
    }

    std::optional<QString> convert(const FileItemPtr& item, const LogLines& log) {
        std::optional<QString> result;
        if (!TestSupport::finishOnWorker(
                [&] {
                    result = AudioConverter(Settings::shared()).convertToMono(item, log.callback());
                },
                60000))
            qFatal("conversion did not finish");
        return result;
    }

private slots:
    void initTestCase() {
        qputenv("TMPDIR", QFile::encodeName(privateTemp.path()));
        for (const char* extension : {"wav", "flac", "mp3", "m4a"}) {
            const QString path = sources.filePath(QStringLiteral("song.") + extension);
            TestAudio::generate(path, {TestAudio::tone(440, 0.5), TestAudio::tone(440, 0.5)}, 1,
                                {QStringLiteral("-metadata"), QStringLiteral("title=") + title});
            sourceDuration[extension] = describe(path).duration;
        }
    }

    void init() {
        folder = std::make_unique<QTemporaryDir>();
        QDir(QFileInfo(trashFiles()).path()).removeRecursively();
        Settings::shared().setAppendFilename(true);
        Settings::shared().setSuffix(QStringLiteral("_MONO"));
        Settings::shared().setConvertTimeoutSeconds(60);
        // AAC does not decode the two channels of fake stereo bit for bit alike.
        Settings::shared().setComparisonMethod(ComparisonMethod::statistical);
    }

    void cleanup() {
        QVERIFY2(QDir(privateTemp.path()).entryList({QStringLiteral("sonfold_ffmpeg_*")}).isEmpty(),
                 "a diagnostic log file was left behind");
    }

    void everyBehaviourLeavesExactlyTheExpectedFiles_data() {
        QTest::addColumn<QString>("extension");
        QTest::addColumn<ConvertBehavior>("behavior");
        QTest::addColumn<bool>("suffix");
        for (const char* extension : {"wav", "flac", "mp3", "m4a"})
            for (ConvertBehavior behavior : allCases<ConvertBehavior>())
                for (bool suffix : {true, false})
                    QTest::addRow("%s, %s, suffix %s", extension, qPrintable(rawValue(behavior)),
                                  suffix ? "on" : "off")
                        << QString::fromLatin1(extension) << behavior << suffix;
    }
    void everyBehaviourLeavesExactlyTheExpectedFiles() {
        QFETCH(QString, extension);
        QFETCH(ConvertBehavior, behavior);
        QFETCH(bool, suffix);
        Settings::shared().setConvertBehavior(behavior);
        Settings::shared().setAppendFilename(suffix);
        const QString name = QStringLiteral("song.") + extension;
        const FileItemPtr item = copySource(name, sources.filePath(name));
        const qint64 originalSize = QFileInfo(item->path()).size();

        LogLines log;
        QCOMPARE(convert(item, log), std::nullopt);

        const QString monoName = suffix ? QStringLiteral("song_MONO.") + extension : name;
        const QString mono = folder->filePath(monoName);
        const bool originalStays = suffix && behavior != ConvertBehavior::trash;
        QStringList expected{monoName};
        if (originalStays)
            expected << name;
        if (behavior == ConvertBehavior::backup)
            expected << QStringLiteral("_backup");
        expected.sort();
        QCOMPARE(entriesOf(folder->path()), expected);

        const Described converted = describe(mono);
        QCOMPARE(converted.channels, 1);
        // Lossy encoders may pad by up to one frame.
        const double frame = extension == QLatin1String("mp3")   ? 1152.0 / 44100
                             : extension == QLatin1String("m4a") ? 1024.0 / 44100
                                                                 : 1.0 / 44100;
        QVERIFY(sourceDuration[extension] > 0);
        QVERIFY2(qAbs(converted.duration - sourceDuration[extension]) <= frame,
                 qPrintable(QString::number(converted.duration)));
        QCOMPARE(converted.title, title);
        if (originalStays)
            QCOMPARE(TestAudio::channelsOf(item->path()), 2);
        if (behavior == ConvertBehavior::backup) {
            QCOMPARE(entriesOf(folder->filePath(QStringLiteral("_backup"))), QStringList{name});
            QCOMPARE(TestAudio::channelsOf(folder->filePath(QStringLiteral("_backup/") + name)), 2);
        }

        const QStringList trashed = entriesOf(trashFiles());
        if (behavior == ConvertBehavior::trash) {
            QCOMPARE(trashed.size(), 1);
            QCOMPARE(trashed.first(), name);
            QCOMPARE(TestAudio::channelsOf(trashFiles() + u'/' + trashed.first()), 2);
        } else {
            QVERIFY(trashed.isEmpty());
        }

        QCOMPARE(item->originalSize, originalSize);
        QCOMPARE(item->convertedSize, QFileInfo(mono).size());
        QVERIFY(item->convertedSize > 0);
        QVERIFY(log.all().contains(QStringLiteral("ffmpeg exited with status 0")));
        QVERIFY2(log.startingWith(QStringLiteral("Trash timed out")).isEmpty(), "trash failed");
        QVERIFY(log.startingWith(QStringLiteral("ffmpeg output: "))
                    .endsWith(QStringLiteral(" (final: ") + mono + u')'));
    }
};

CHANFUSE_TEST_MAIN(ConvertRealTest)
#include "tst_convertreal.moc"
