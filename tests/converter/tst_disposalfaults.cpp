#include "FakeTools.h"
#include "LogLines.h"
#include "TestAudio.h"
#include "TestMain.h"
#include "Workers.h"

#include "converter/AudioConverter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstdio>
#include <unistd.h>

namespace {

// A stand-in ffmpeg that converts with the real one, then may do more.
const QString writesOutput = FakeTools::realConversion(QStringLiteral("-ac 1"));

QStringList entriesOf(const QString& folder) {
    QStringList names =
        QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    names.sort();
    return names;
}

QByteArray contentsOf(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

// Disposal steps that fail on a real file system. The faults are made with
// paths, not permissions, because the suite also runs as root.
class DisposalFaultsTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> folder;

    FileItemPtr makeInput(const QString& name) {
        const QString path = folder->filePath(name);
        TestAudio::fakeStereo(path, 1);
        return std::make_shared<FileItem>(QUrl::fromLocalFile(path));
    }

    std::optional<QString> convert(const FileItemPtr& item, const LogCallback& log) {
        std::optional<QString> result;
        if (!TestSupport::finishOnWorker(
                [&] { result = AudioConverter(Settings::shared()).convertToMono(item, log); },
                30000))
            qFatal("conversion did not finish");
        return result;
    }

private slots:
    void init() {
        folder = std::make_unique<QTemporaryDir>();
        Settings::shared().setSuffix(QStringLiteral("_MONO"));
        Settings::shared().setConvertTimeoutSeconds(60);
    }

    void backupFolderThatCannotExistStopsTheConversion_data() {
        QTest::addColumn<bool>("suffix");
        QTest::newRow("suffixed output") << true;
        QTest::newRow("temporary output") << false;
    }
    void backupFolderThatCannotExistStopsTheConversion() {
        QFETCH(bool, suffix);
        Settings::shared().setAppendFilename(suffix);
        Settings::shared().setConvertBehavior(ConvertBehavior::backup);
        const QString song = folder->filePath(QStringLiteral("song.wav"));
        TestAudio::fakeStereo(song, 0.5);
        const QByteArray original = contentsOf(song);
        // A regular file where the backup folder should go.
        QFile blocker(folder->filePath(QStringLiteral("_backup")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();

        const auto item = std::make_shared<FileItem>(QUrl::fromLocalFile(song));
        LogLines log;
        QCOMPARE(convert(item, log.callback()), QStringLiteral("Backup timed out"));
        QVERIFY(log.all().contains(QStringLiteral("Backup timed out for song")));

        QCOMPARE(contentsOf(song), original);
        QStringList entries = entriesOf(folder->path());
        QVERIFY(entries.removeOne(QStringLiteral("_backup")));
        QVERIFY(entries.removeOne(QStringLiteral("song.wav")));
        QVERIFY(QFileInfo(blocker.fileName()).isFile());
        QCOMPARE(entries.size(), 1);
        const QString output = entries.first();
        QVERIFY2(suffix ? output == QStringLiteral("song_MONO.wav")
                        : output.startsWith(QStringLiteral("sonfold_out_")),
                 qPrintable(output));
        QCOMPARE(TestAudio::channelsOf(folder->filePath(output)), 1);
        QCOMPARE(item->originalSize, 0);
    }

    void originalThatCannotBeStagedIsLeftAndTheOutputRemoved() {
        // The original vanishes while ffmpeg runs (another program moved it
        // away), so there is nothing to stage when the replacement begins.
        Settings::shared().setAppendFilename(false);
        Settings::shared().setConvertBehavior(ConvertBehavior::overwrite);
        FakeTools tools;
        tools.conversionScript(writesOutput +
                               QStringLiteral("mv \"$3\" \"$(dirname \"$3\")/moved.flac\""));
        const FileItemPtr item = makeInput(QStringLiteral("song.flac"));
        const QByteArray original = contentsOf(item->path());
        LogLines log;
        QCOMPARE(convert(item, log.callback()),
                 QStringLiteral("Could not prepare original file for replacement"));
        QVERIFY(
            log.all().contains(QStringLiteral("Could not stage original for replacement: song")));
        QCOMPARE(entriesOf(folder->path()), QStringList{QStringLiteral("moved.flac")});
        QCOMPARE(contentsOf(folder->filePath(QStringLiteral("moved.flac"))), original);
    }

    void trashThatLandsOutsideATrashFolderCountsAsFailed_data() {
        QTest::addColumn<bool>("suffix");
        QTest::newRow("original trashed") << true;
        QTest::newRow("staged original trashed") << false;
    }
    void trashThatLandsOutsideATrashFolderCountsAsFailed() {
        // With no usable data folder, Qt "trashes" into the working directory
        // and reports success; that must not count as a trash.
        QFETCH(bool, suffix);
        Settings::shared().setAppendFilename(suffix);
        Settings::shared().setConvertBehavior(ConvertBehavior::trash);
        const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
        QDir(data).removeRecursively();
        QVERIFY(QDir().mkpath(QFileInfo(data).path()));
        QFile blocker(data);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        QTemporaryDir workingDirectory;
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(workingDirectory.path()));

        FakeTools tools;
        tools.conversionScript(writesOutput);
        const FileItemPtr item = makeInput(QStringLiteral("song.flac"));
        LogLines log;
        const std::optional<QString> result = convert(item, log.callback());
        QDir::setCurrent(previous);
        QVERIFY(QFile::remove(data));

        QCOMPARE(result, std::nullopt);
        QVERIFY(log.all().contains(QStringLiteral("Trash timed out, falling back to removeItem")));
        QCOMPARE(entriesOf(folder->path()), QStringList{suffix ? QStringLiteral("song_MONO.flac")
                                                               : QStringLiteral("song.flac")});
        QCOMPARE(TestAudio::channelsOf(folder->filePath(entriesOf(folder->path()).first())), 1);
        QCOMPARE(entriesOf(workingDirectory.path()), QStringList());
    }

    void withoutACallbackLinesGoToStandardOutput() {
        FakeTools tools;
        FakeTools::hideEveryFFmpeg();
        Settings::shared().setAppendFilename(true);
        const FileItemPtr item = makeInput(QStringLiteral("song.flac"));
        QTemporaryDir capture;
        const QString captured = capture.filePath(QStringLiteral("stdout"));

        std::fflush(stdout);
        const int saved = ::dup(STDOUT_FILENO);
        QVERIFY(std::freopen(qPrintable(captured), "w", stdout));
        const std::optional<QString> result = convert(item, {});
        std::fflush(stdout);
        ::dup2(saved, STDOUT_FILENO);
        ::close(saved);

        QCOMPARE(result, QStringLiteral("ffmpeg not found"));
        const QStringList lines = QString::fromUtf8(contentsOf(captured)).split(u'\n');
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines[0], QStringLiteral("[DEBUG] ffmpeg input: ") + item->path());
        QVERIFY2(lines[1].startsWith(QStringLiteral("[DEBUG] ffmpeg output: ")) &&
                     lines[1].endsWith(QStringLiteral(" (final: ") +
                                       folder->filePath(QStringLiteral("song_MONO.flac")) + u')'),
                 qPrintable(lines[1]));
    }
};

CHANFUSE_TEST_MAIN(DisposalFaultsTest)
#include "tst_disposalfaults.moc"
