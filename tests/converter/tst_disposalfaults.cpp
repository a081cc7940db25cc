#include "FakeTools.h"
#include "LogLines.h"
#include "TestAudio.h"
#include "TestFiles.h"
#include "TestMain.h"
#include "Workers.h"

#include "converter/AudioConverter.h"
#include "converter/Disposal.h"
#include "exec/SerialQueue.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstdio>
#include <future>
#include <sys/stat.h>
#include <unistd.h>

using namespace TestFiles;

namespace {

enum class Fault {
    trashUnusable,
    backupFolderIsAFile,
    finalNameTaken,
    outputGone,
    stopped,
    queueStuck
};

QString dataHome() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
}

QString trashFolder() {
    return dataHome() + QStringLiteral("/Trash");
}

} // namespace

Q_DECLARE_METATYPE(Fault)

// Committing a verified output on real folders: what each way of disposing of
// the original leaves, and that any failure leaves the folder as it was. The
// faults are made with paths, not permissions, because the suite also runs as
// root.
class DisposalFaultsTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> folder;

    QString pathOf(const QString& name) const { return folder->filePath(name); }

    // The original "song.wav", and the output ffmpeg would have left for it.
    OutputPath prepare(bool suffix) {
        writeFile(pathOf(QStringLiteral("song.wav")), "two channels");
        const QString temporary = pathOf(QStringLiteral("sonfold_out_1.wav"));
        return {temporary, suffix ? pathOf(QStringLiteral("song_MONO.wav"))
                                  : pathOf(QStringLiteral("song.wav"))};
    }

    std::optional<QString> dispose(const OutputPath& output, const LogLines& log,
                                   std::stop_token stop = {}) {
        const FileItem item(QUrl::fromLocalFile(pathOf(QStringLiteral("song.wav"))));
        std::optional<QString> result = QStringLiteral("did not finish");
        if (!TestSupport::finishOnWorker(
                [&] {
                    result = disposeOfOriginal(item, output, Settings::shared(),
                                               ConversionLog(log.callback()), stop);
                },
                30000))
            qFatal("disposal did not finish");
        return result;
    }

private slots:
    void init() {
        folder = std::make_unique<QTemporaryDir>();
        QDir(trashFolder()).removeRecursively();
        Settings::shared().setSuffix(QStringLiteral("_MONO"));
        Settings::shared().setConvertTimeoutSeconds(60);
    }

    void failureLeavesTheFolderAsItWas_data() {
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<ConvertBehavior>("behavior");
        QTest::addColumn<bool>("suffix");
        QTest::addColumn<QString>("text");
        for (bool suffix : {true, false}) {
            const char* naming = suffix ? "suffixed" : "in place";
            QTest::addRow("trash unusable, %s", naming)
                << Fault::trashUnusable << ConvertBehavior::trash << suffix
                << "Trash failed: cannot create " + trashFolder() + ": Not a directory";
            QTest::addRow("_backup is a file, %s", naming)
                << Fault::backupFolderIsAFile << ConvertBehavior::backup << suffix
                << "Backup failed: {folder}/_backup is not a folder";
            for (ConvertBehavior behavior : allCases<ConvertBehavior>()) {
                QTest::addRow("output gone, %s, %s", qPrintable(rawValue(behavior)), naming)
                    << Fault::outputGone << behavior << suffix
                    << "File move failed: No such file or directory";
                if (suffix)
                    QTest::addRow("final name taken, %s", qPrintable(rawValue(behavior)))
                        << Fault::finalNameTaken << behavior << suffix
                        << "Not converted: song_MONO.wav already exists";
            }
        }
        QTest::addRow("stopped before the commit")
            << Fault::stopped << ConvertBehavior::trash << false << "Cancelled";
        // Every step, and the repair, waits behind a file operation that does
        // not end until the test lets it: both run late, in order.
        QTest::addRow("file queue stuck, trash in place")
            << Fault::queueStuck << ConvertBehavior::trash << false << "File move timed out";
        QTest::addRow("file queue stuck, backup suffixed")
            << Fault::queueStuck << ConvertBehavior::backup << true << "Backup timed out";
    }
    void failureLeavesTheFolderAsItWas() {
        QFETCH(Fault, fault);
        QFETCH(ConvertBehavior, behavior);
        QFETCH(bool, suffix);
        QFETCH(QString, text);
        text.replace(QStringLiteral("{folder}"), folder->path());
        Settings::shared().setConvertBehavior(behavior);
        const OutputPath output = prepare(suffix);
        if (fault == Fault::backupFolderIsAFile)
            writeFile(pathOf(QStringLiteral("_backup")), "not a folder");
        if (fault == Fault::finalNameTaken)
            writeFile(output.finalPath, "someone else's file");
        if (fault == Fault::trashUnusable) {
            QDir(dataHome()).removeRecursively();
            writeFile(dataHome(), "a regular file where the data folder should be");
        }
        const QMap<QString, QByteArray> before = snapshot(folder->path());
        if (fault != Fault::outputGone)
            writeFile(output.path, "one channel");
        std::stop_source stop;
        if (fault == Fault::stopped)
            stop.request_stop();
        std::promise<void> release;
        if (fault == Fault::queueStuck) {
            Settings::shared().setConvertTimeoutSeconds(1);
            fileOpQueue().submit([stuck = release.get_future().share()] { stuck.wait(); });
        }

        LogLines log;
        const std::optional<QString> result = dispose(output, log, stop.get_token());
        if (fault == Fault::trashUnusable)
            QVERIFY(QFile::remove(dataHome()));
        release.set_value();

        QCOMPARE(result, text);
        QCOMPARE(text.contains(QStringLiteral("timed out")), fault == Fault::queueStuck);
        QTRY_COMPARE(snapshot(folder->path()), before);
        QCOMPARE(log.startingWith(QStringLiteral("song left as it was: ")),
                 QStringLiteral("song left as it was: ") + text);
    }

    void commitLeavesExactlyTheFinalFiles_data() {
        QTest::addColumn<ConvertBehavior>("behavior");
        QTest::addColumn<bool>("suffix");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("trash, in place, 0600")
            << ConvertBehavior::trash << false << 0600 << QStringList{"song.wav"};
        QTest::newRow("trash, in place, 0444")
            << ConvertBehavior::trash << false << 0444 << QStringList{"song.wav"};
        QTest::newRow("trash, suffixed")
            << ConvertBehavior::trash << true << 0640 << QStringList{"song_MONO.wav"};
        QTest::newRow("overwrite, in place")
            << ConvertBehavior::overwrite << false << 0600 << QStringList{"song.wav"};
        // An earlier backup copy is kept; the new one takes a fresh name.
        QTest::newRow("backup, in place, earlier backup")
            << ConvertBehavior::backup << false << 0644
            << QStringList{"_backup", "_backup/song (2).wav", "_backup/song.wav", "song.wav"};
        QTest::newRow("backup, suffixed")
            << ConvertBehavior::backup << true << 0600
            << QStringList{"_backup", "_backup/song.wav", "song.wav", "song_MONO.wav"};
    }
    void commitLeavesExactlyTheFinalFiles() {
        QFETCH(ConvertBehavior, behavior);
        QFETCH(bool, suffix);
        QFETCH(int, mode);
        QFETCH(QStringList, expected);
        Settings::shared().setConvertBehavior(behavior);
        const OutputPath output = prepare(suffix);
        const QString original = pathOf(QStringLiteral("song.wav"));
        if (expected.contains(QStringLiteral("_backup/song (2).wav"))) {
            QVERIFY(QDir(folder->path()).mkdir(QStringLiteral("_backup")));
            writeFile(pathOf(QStringLiteral("_backup/song.wav")), "an earlier backup");
        }
        writeFile(output.path, "one channel");
        QVERIFY(::chmod(QFile::encodeName(original).constData(), mode_t(mode)) == 0);

        LogLines log;
        QCOMPARE(dispose(output, log), std::nullopt);

        QCOMPARE(snapshot(folder->path()).keys(), expected);
        QCOMPARE(contentsOf(output.finalPath), QByteArray("one channel"));
        struct stat status {};
        QVERIFY(::stat(QFile::encodeName(output.finalPath).constData(), &status) == 0);
        QCOMPARE(int(status.st_mode & 07777), mode);
        if (behavior == ConvertBehavior::backup)
            QCOMPARE(contentsOf(pathOf(QStringLiteral("_backup/") + expected.at(1).mid(8))),
                     QByteArray("two channels"));
        if (expected.contains(QStringLiteral("_backup/song (2).wav")))
            QCOMPARE(contentsOf(pathOf(QStringLiteral("_backup/song.wav"))),
                     QByteArray("an earlier backup"));
        if (behavior == ConvertBehavior::trash) {
            // Under its own name and path, so a file manager restores it there.
            QCOMPARE(contentsOf(trashFolder() + QStringLiteral("/files/song.wav")),
                     QByteArray("two channels"));
            QVERIFY(contentsOf(trashFolder() + QStringLiteral("/info/song.wav.trashinfo"))
                        .contains("\nPath=" +
                                  QFile::encodeName(QFileInfo(folder->path()).canonicalFilePath() +
                                                    QStringLiteral("/song.wav"))
                                      .toPercentEncoding("/") +
                                  '\n'));
        }
    }

    void killedAtAnyPointTheOriginalsPathHoldsAWholeFile_data() {
        QTest::addColumn<ConvertBehavior>("behavior");
        for (ConvertBehavior behavior : allCases<ConvertBehavior>())
            QTest::addRow("%s", qPrintable(rawValue(behavior))) << behavior;
    }
    void killedAtAnyPointTheOriginalsPathHoldsAWholeFile() {
        QFETCH(ConvertBehavior, behavior);
        const QString original = pathOf(QStringLiteral("song.wav"));
        for (int killAfter = 1;; ++killAfter) {
            QDir(folder->path()).removeRecursively();
            QVERIFY(QDir().mkpath(folder->path()));
            QDir(trashFolder()).removeRecursively();
            const OutputPath output = prepare(false);
            writeFile(output.path, "one channel");

            QProcess helper;
            helper.start(QStringLiteral(COMMIT_UNTIL_KILLED),
                         {original, output.path, rawValue(behavior), QString::number(killAfter)});
            QVERIFY(helper.waitForFinished(30000));
            const bool killed = helper.exitStatus() == QProcess::CrashExit;

            const QMap<QString, QByteArray> left = snapshot(folder->path());
            const QByteArray atPath = left.value(QStringLiteral("song.wav"));
            QVERIFY2(atPath == "two channels" || atPath == "one channel",
                     qPrintable(QStringLiteral("after change %1: %2").arg(killAfter).arg(atPath)));
            // Whatever else is left tells by its name what it holds.
            for (auto entry = left.cbegin(); entry != left.cend(); ++entry) {
                const QString name = entry.key();
                if (name.startsWith(QStringLiteral("sonfold_out_")))
                    QCOMPARE(entry.value(), QByteArray("one channel"));
                else if (name.startsWith(QStringLiteral(".sonfold_orig_")) ||
                         name.startsWith(QStringLiteral("_backup/")))
                    QCOMPARE(entry.value(), QByteArray("two channels"));
                else
                    QVERIFY2(name == QStringLiteral("song.wav") ||
                                 name == QStringLiteral("_backup"),
                             qPrintable(name));
            }
            // The original's bytes are never gone unless overwriting them was the point.
            const bool originalKept =
                atPath == "two channels" || left.values().contains(QByteArray("two channels")) ||
                contentsOf(trashFolder() + QStringLiteral("/files/song.wav")) == "two channels";
            QVERIFY(originalKept || behavior == ConvertBehavior::overwrite);
            if (!killed) {
                QCOMPARE(helper.readAllStandardOutput(), QByteArray("committed\n"));
                QCOMPARE(atPath, QByteArray("one channel"));
                QVERIFY2(killAfter > 1, "the commit changed nothing");
                break;
            }
        }
    }

    void withoutACallbackLinesGoToStandardOutput() {
        FakeTools tools;
        FakeTools::hideEveryFFmpeg();
        Settings::shared().setAppendFilename(true);
        const QString song = pathOf(QStringLiteral("song.flac"));
        TestAudio::fakeStereo(song, 0.5);
        const auto item = std::make_shared<FileItem>(QUrl::fromLocalFile(song));
        QTemporaryDir capture;
        const QString captured = capture.filePath(QStringLiteral("stdout"));

        std::fflush(stdout);
        const int saved = ::dup(STDOUT_FILENO);
        QVERIFY(std::freopen(qPrintable(captured), "w", stdout));
        std::optional<QString> result;
        QVERIFY(TestSupport::finishOnWorker(
            [&] { result = AudioConverter(Settings::shared()).convertToMono(item, {}); }, 30000));
        std::fflush(stdout);
        ::dup2(saved, STDOUT_FILENO);
        ::close(saved);

        QCOMPARE(result, QStringLiteral("ffmpeg not found"));
        const QString lines = QString::fromUtf8(contentsOf(captured));
        QVERIFY2(lines.startsWith(QStringLiteral("[DEBUG] ffmpeg input: ") + song +
                                  QStringLiteral("\n[DEBUG] ffmpeg output: ")) &&
                     lines.endsWith(QStringLiteral(" (final: ") +
                                    pathOf(QStringLiteral("song_MONO.flac")) +
                                    QStringLiteral(")\n")) &&
                     lines.count(u'\n') == 2,
                 qPrintable(lines));
    }
};

CHANFUSE_TEST_MAIN(DisposalFaultsTest)
#include "tst_disposalfaults.moc"
