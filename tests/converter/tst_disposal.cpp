// SPDX-License-Identifier: GPL-3.0-or-later

#include "ConverterFixture.h"
#include "FakeTools.h"
#include "TestAudio.h"
#include "TestFiles.h"
#include "TestMain.h"

#include "converter/Disposal.h"
#include "converter/FileChanges.h"
#include "converter/OriginalLock.h"
#include "converter/Trash.h"
#include "exec/SerialQueue.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <future>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <variant>

using namespace Qt::StringLiterals;
using namespace TestFiles;
using Files = QMap<QString, QByteArray>;
using Kind = ConversionOutcome::Kind;

namespace {

enum class Fault { none, trashUnusable, outputGone, stopped, queueStuck };

// A folder's entries as snapshot() gives them, written "name=bytes;folder/;…".
Files files(const QString& list) {
    Files entries;
    for (const QString& entry : list.split(u';', Qt::SkipEmptyParts))
        if (entry.endsWith(u'/'))
            entries[entry.chopped(1)] = "<folder>";
        else
            entries[entry.section(u'=', 0, 0)] = entry.section(u'=', 1).toUtf8();
    return entries;
}

// Runs a shell command (or none) in `folder`.
bool shell(const QString& folder, const QString& command) {
    return QProcess::execute("sh", {"-c", "cd '" + folder + "' || exit 1\n" + command}) == 0;
}

std::shared_ptr<const OriginalLock> lockOf(const FileItem& item) {
    return std::make_shared<const OriginalLock>(*OriginalLock::acquire(item));
}

QString dataHome() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
}

} // namespace

// The disposal side of a conversion on real folders: naming the output,
// locking the original, committing (and commits killed midway), the trash.
// Faults are made with paths, not permissions, because the suite also runs as
// root.
class DisposalTest : public QObject {
    Q_OBJECT

    ConverterFixture fixture;
    QTemporaryDir volume;
    bool mounted = false;

private slots:
    void initTestCase() {
        mounted = ::mount("tmpfs", QFile::encodeName(volume.path()).constData(), "tmpfs", 0,
                          "size=1m") == 0;
    }

    void cleanupTestCase() {
        if (mounted)
            ::umount(QFile::encodeName(volume.path()).constData());
    }

    void init() { fixture.reset(); }

    void outputNames_data() {
        QTest::addColumn<bool>("appendFilename");
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<QString>("original");
        QTest::addColumn<QString>("finalPath");
        const auto row = [](const char* tag, bool append, const char* suffix, const char* original,
                            const char* finalPath) {
            QTest::newRow(tag) << append << suffix << original << finalPath;
        };
        row("case kept", true, " 1ch", "/m/a/Track.FLAC", "/m/a/Track 1ch.FLAC");
        row("last extension", true, "_m", "/m/a.b.wav", "/m/a.b_m.wav");
        row("no extension keeps the dot", true, "_m", "/m/take1", "/m/take1_m.");
        row("append off: in place", false, "_m", "/m/song.wav", "/m/song.wav");
        row("empty suffix: in place", true, "", "/m/song.WAV", "/m/song.WAV");
    }
    void outputNames() {
        QFETCH(bool, appendFilename);
        QFETCH(QString, suffix);
        QFETCH(QString, original);
        QFETCH(QString, finalPath);
        Settings::shared().setAppendFilename(appendFilename);
        Settings::shared().setSuffix(suffix);
        const FileItem item(QUrl::fromLocalFile(original));
        const OutputPath output = buildOutputPath(item, Settings::shared());
        QCOMPARE(output.finalPath, finalPath);
        // ffmpeg writes a fresh name of ours beside the original, never the final name.
        QVERIFY2(output.path.startsWith(QFileInfo(original).path() + "/sonfold_out_") &&
                     output.path.endsWith(finalPath.mid(finalPath.lastIndexOf('.'))),
                 qPrintable(output.path));
        QVERIFY(buildOutputPath(item, Settings::shared()).path != output.path);
    }

    // "song.wav" (read-only, holding "stereo") and the output ("mono") beside
    // what the shell command `present` makes: the commit leaves exactly `after`, the output with
    // the original's mode and owner; a failure leaves the folder and the trash as they were.
    void commit_data() {
        QTest::addColumn<ConvertBehavior>("behavior");
        QTest::addColumn<bool>("suffix");
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<QString>("present");
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<QString>("failure");
        QTest::addColumn<QString>("after");
        const auto row = [](const QString& tag, ConvertBehavior behavior, bool suffix, Fault fault,
                            const char* present, Kind kind, const char* failure,
                            const char* after = "") {
            QTest::addRow("%s", qPrintable(tag))
                << behavior << suffix << fault << present << kind << failure << after;
        };
        using enum ConvertBehavior;
        row("trash, in place", trash, false, Fault::none, "", Kind::converted, "",
            "song.wav=mono;trash/song.wav=stereo");
        row("backup, in place, earlier backup kept", backup, false, Fault::none,
            "mkdir _backup && printf earlier > _backup/song.wav", Kind::converted, "",
            "_backup/;_backup/song.wav=earlier;_backup/song (2).wav=stereo;song.wav=mono");
        for (bool suffix : {true, false}) {
            const QString naming = suffix ? u", suffixed"_s : QString();
            row("trash unusable" + naming, trash, suffix, Fault::trashUnusable, "", Kind::failed,
                "Trash failed: cannot create {trash}: Not a directory");
            row("_backup is a file" + naming, backup, suffix, Fault::none, "printf file > _backup",
                Kind::failed, "Backup failed: {folder}/_backup is not a folder");
            for (ConvertBehavior behavior : allCases<ConvertBehavior>()) {
                row("output gone, " + rawValue(behavior) + naming, behavior, suffix,
                    Fault::outputGone, "", Kind::failed,
                    "File move failed: No such file or directory");
                if (suffix)
                    row("final name taken, " + rawValue(behavior), behavior, suffix, Fault::none,
                        "printf theirs > song_MONO.wav", Kind::refused,
                        "Not converted: song_MONO.wav already exists");
            }
        }
        row("stopped", trash, false, Fault::stopped, "", Kind::cancelled, "Cancelled");
        // Every step, and the repair, wait behind a file operation that ends
        // only when the test lets it: both run late, in order.
        row("file queue stuck, trash", trash, false, Fault::queueStuck, "", Kind::timedOut,
            "File move timed out");
        row("file queue stuck, backup", backup, true, Fault::queueStuck, "", Kind::timedOut,
            "Backup timed out");
    }
    void commit() {
        QFETCH(ConvertBehavior, behavior);
        QFETCH(bool, suffix);
        QFETCH(Fault, fault);
        QFETCH(QString, present);
        QFETCH(Kind, kind);
        QFETCH(QString, failure);
        QFETCH(QString, after);
        failure.replace(u"{folder}"_s, fixture.path())
            .replace(u"{trash}"_s, ConverterFixture::trashFolder());
        Settings::shared().setConvertBehavior(behavior);
        Settings::shared().setAppendFilename(suffix);
        const QString original = fixture.pathOf(u"song.wav"_s);
        QVERIFY(shell(fixture.path(), "printf stereo > song.wav\n" + present));
        // Root gives the original away, and the output must follow.
        const bool root = ::geteuid() == 0;
        const uid_t owner = root ? 65534 : ::geteuid();
        const gid_t group = root ? 65534 : ::getegid();
        const QByteArray originalName = QFile::encodeName(original);
        QCOMPARE(::chown(originalName.constData(), owner, group), 0);
        QCOMPARE(::chmod(originalName.constData(), 0444), 0);
        if (fault == Fault::trashUnusable) {
            QDir(dataHome()).removeRecursively();
            writeFile(dataHome(), "a file where the data folder should be");
        }
        const Files before = fixture.left();
        const FileItem item(QUrl::fromLocalFile(original));
        const auto lock = lockOf(item);
        const OutputPath output = buildOutputPath(item, Settings::shared());
        if (fault != Fault::outputGone)
            writeFile(output.path, "mono");
        std::stop_source stop;
        if (fault == Fault::stopped)
            stop.request_stop();
        std::promise<void> release;
        if (fault == Fault::queueStuck) {
            Settings::shared().setConvertTimeoutSeconds(1);
            fileOpQueue().submit([stuck = release.get_future().share()] { stuck.wait(); });
        }

        const std::optional<ConversionOutcome> result =
            disposeOfOriginal(item, lock, output, Settings::shared(),
                              ConversionLog(fixture.log.callback()), stop.get_token());
        release.set_value();
        if (fault == Fault::trashUnusable)
            QVERIFY(QFile::remove(dataHome()));

        QCOMPARE(result ? result->text : QString(), failure);
        if (result) {
            QCOMPARE(result->kind, kind);
            QTRY_COMPARE(fixture.left(), before);
            QCOMPARE(fixture.log.startingWith(u"song left as it was: "_s),
                     u"song left as it was: "_s + failure);
            return;
        }
        QCOMPARE(fixture.left(), files(after));
        struct stat status {};
        QCOMPARE(::stat(QFile::encodeName(output.finalPath).constData(), &status), 0);
        QCOMPARE(status.st_mode & 07777, 0444u);
        QCOMPARE(status.st_uid, owner);
        QCOMPARE(status.st_gid, group);
    }

    // A whole conversion whose stand-in ffmpeg, once the real one has written
    // the output, does `interference` to the original: a save by rename, an
    // append, a truncation. The newer file is left at the original's path as
    // it is and nothing else changes; without interference the commit leaves
    // `after` (names; "*" marks where the original's bytes are).
    void savedOverDuringTheConversion_data() {
        QTest::addColumn<ConvertBehavior>("behavior");
        QTest::addColumn<bool>("suffix");
        QTest::addColumn<QString>("interference");
        QTest::addColumn<QString>("after");
        const QStringList afterBySetting = {"song.wav;trash/song.wav*",
                                            "song_MONO.wav;trash/song.wav*",
                                            "song.wav",
                                            "song.wav*;song_MONO.wav",
                                            "_backup;_backup/song.wav*;song.wav",
                                            "_backup;_backup/song.wav*;song.wav*;song_MONO.wav"};
        const QList<std::pair<const char*, QString>> interferences = {
            {"untouched", ""},
            {"saved by rename", "printf new > \"$in.new\" && mv \"$in.new\" \"$in\""},
            {"appended to", "printf new >> \"$in\""},
            {"truncated", "truncate -s 100 \"$in\""}};
        int setting = 0;
        for (ConvertBehavior behavior : allCases<ConvertBehavior>())
            for (bool suffix : {false, true}) {
                for (const auto& [tag, interference] : interferences)
                    QTest::addRow("%s, %s, %s", qPrintable(rawValue(behavior)),
                                  suffix ? "suffixed" : "in place", tag)
                        << behavior << suffix << interference << afterBySetting[setting];
                ++setting;
            }
    }
    void savedOverDuringTheConversion() {
        QFETCH(ConvertBehavior, behavior);
        QFETCH(bool, suffix);
        QFETCH(QString, interference);
        QFETCH(QString, after);
        Settings::shared().setConvertBehavior(behavior);
        Settings::shared().setAppendFilename(suffix);
        FakeTools tools;
        tools.conversionScript(FakeTools::realConversion(u"-ac 1"_s) + interference +
                               u"\ncp \"$in\" \"$0.after\""_s);
        const QString song = fixture.pathOf(u"song.wav"_s);
        TestAudio::fakeStereo(song, 1);
        const QByteArray stereo = contentsOf(song);
        Files before = fixture.left();

        const std::optional<QString> result =
            fixture.convert(std::make_shared<FileItem>(QUrl::fromLocalFile(song)));

        if (!interference.isEmpty()) {
            QCOMPARE(result, u"Skipped: the file changed during the conversion"_s);
            before[u"song.wav"_s] = contentsOf(tools.path(u"ffmpeg.after"_s));
            QCOMPARE(fixture.left(), before);
            return;
        }
        QCOMPARE(result, std::nullopt);
        const Files left = fixture.left();
        QStringList names;
        for (QString name : after.split(u';')) {
            if (name.endsWith(u'*'))
                QCOMPARE(left.value(name.chopped(1)), stereo);
            else if (name.endsWith(u".wav"_s))
                QCOMPARE(TestAudio::channelsOf(fixture.pathOf(name)), 1);
            names.append(name.remove(u'*'));
        }
        QCOMPARE(left.keys(), names);
    }

    // A private file's access list and its user's attributes are part of it.
    void accessListAndAttributesKept() {
        Settings::shared().setAppendFilename(false);
        const QString original = fixture.pathOf(u"song.wav"_s);
        writeFile(original, "stereo");
        // An ACL that also lets user 12345 read: version 2, then (tag,
        // permissions, id) for owner, that user, group, mask and others.
        QByteArray acl;
        const auto add = [&acl](quint32 value, int bytes) {
            for (int i = 0; i < bytes; ++i)
                acl.append(char(value >> (8 * i)));
        };
        add(2, 4);
        for (const auto& [tag, permissions, id] :
             std::initializer_list<std::array<quint32, 3>>{{0x01, 6, ~0u},
                                                           {0x02, 4, 12345},
                                                           {0x04, 4, ~0u},
                                                           {0x10, 4, ~0u},
                                                           {0x20, 0, ~0u}}) {
            add(tag, 2);
            add(permissions, 2);
            add(id, 4);
        }
        const QByteArray name = QFile::encodeName(original);
        const QList<std::pair<const char*, QByteArray>> attributes{
            {"user.comment", "take 3"}, {"system.posix_acl_access", acl}};
        for (const auto& [attribute, value] : attributes)
            if (::setxattr(name.constData(), attribute, value.constData(), size_t(value.size()), 0))
                QSKIP(qPrintable(
                    u"this file system refuses %1: %2"_s.arg(attribute).arg(lastSystemError())));
        const FileItem item(QUrl::fromLocalFile(original));
        const OutputPath output = buildOutputPath(item, Settings::shared());
        writeFile(output.path, "mono");

        QCOMPARE(
            disposeOfOriginal(item, lockOf(item), output, Settings::shared(), ConversionLog({})),
            std::nullopt);
        const QByteArray converted = QFile::encodeName(output.finalPath);
        for (const auto& [attribute, value] : attributes) {
            QByteArray kept(256, 0);
            kept.resize(::getxattr(converted.constData(), attribute, kept.data(), 256));
            QCOMPARE(kept, value);
        }
        QCOMPARE(contentsOf(output.finalPath), "mono");
    }

    // A failure says what the system said: a backup onto a full volume.
    void backupOntoAFullVolumeSaysWhy() {
        if (!mounted)
            QSKIP("mounting a tmpfs is not permitted here");
        Settings::shared().setConvertBehavior(ConvertBehavior::backup);
        const QString original = volume.filePath(u"song.wav"_s);
        writeFile(original, QByteArray(700 * 1024, 's'));
        const Files before = TestFiles::snapshot(volume.path());
        const FileItem item(QUrl::fromLocalFile(original));
        const OutputPath output = buildOutputPath(item, Settings::shared());
        writeFile(output.path, QByteArray(200 * 1024, 'm'));

        const std::optional<ConversionOutcome> result =
            disposeOfOriginal(item, lockOf(item), output, Settings::shared(), ConversionLog({}));

        const QString text = result ? result->text : u"committed"_s;
        QVERIFY2(text.startsWith(u"Backup failed: cannot write "_s) &&
                     text.endsWith(u": No space left on device"_s),
                 qPrintable(text));
        QCOMPARE(TestFiles::snapshot(volume.path()), before);
        QVERIFY(QFile::remove(original));
    }

    // A conversion starts only on the very file the scan judged, and never
    // where replacing it would reach further: `change` runs in the folder
    // after the scan, and the folder is left as it then is.
    void refusedBeforeConverting_data() {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("refusal");
        const QString changed = u"Skipped: the file changed since it was scanned"_s;
        QTest::newRow("held by another run")
            << "" << u"Skipped: being converted by another Chanfuse run"_s;
        QTest::newRow("grown") << "echo more >> song.wav" << changed;
        QTest::newRow("rewritten later") << "touch -d '1 hour' song.wav" << changed;
        QTest::newRow("replaced by a file of the same size and time")
            << "printf stereo > new && touch -r song.wav new && mv new song.wav" << changed;
        QTest::newRow("removed") << "rm song.wav"
                                 << "Input file not found: {folder}/song.wav";
        QTest::newRow("one other hard link")
            << "ln song.wav b.wav" << u"Not converted: it has 1 other hard link"_s;
        QTest::newRow("two other hard links") << "ln song.wav b.wav && ln song.wav c.wav"
                                              << u"Not converted: it has 2 other hard links"_s;
        QTest::newRow("now a link") << "mv song.wav real.wav && ln -s real.wav song.wav"
                                    << u"Skipped: a link to a file outside the chosen folders"_s;
    }
    void refusedBeforeConverting() {
        QFETCH(QString, change);
        QFETCH(QString, refusal);
        Settings::shared().setAppendFilename(false);
        writeFile(fixture.pathOf(u"song.wav"_s), "stereo");
        const auto item =
            std::make_shared<FileItem>(QUrl::fromLocalFile(fixture.pathOf("song.wav")));
        std::optional<OrFailure<OriginalLock>> otherRun;
        if (change.isEmpty())
            otherRun = OriginalLock::acquire(*item);
        else
            QVERIFY(shell(fixture.path(), change));
        const Files before = fixture.left();
        QCOMPARE(fixture.convert(item), refusal.replace("{folder}", fixture.path()));
        QCOMPARE(fixture.left(), before);
    }

    // The freedesktop trash, at home and on a volume of its own (a tmpfs
    // mounted where that is allowed). `prepare` runs in the trash's top
    // folder (the data home, or the volume's root). The entry lands at
    // `entry` below it, recorded with the file's name and folder so a file
    // manager restores it there; or trashing fails with `failure` and the
    // file stays.
    void trashedWhereItCanBeRestored_data() {
        QTest::addColumn<bool>("onVolume");
        QTest::addColumn<QString>("prepare");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("failure");
        const auto row = [](const char* tag, bool onVolume, const QString& prepare,
                            const QString& entry, const QString& name = "song.wav",
                            const char* failure = "") {
            QTest::newRow(tag) << onVolume << prepare << name << entry << failure;
        };
        const QString own = ".Trash-" + QString::number(::getuid());
        row("home, encoded path", false, "", "Trash/files/a b%é.wav", "a b%é.wav");
        // With ".trashinfo" a 246-byte name exceeds the 255-byte name limit.
        row("home, 246-byte name", false, "", "Trash/files/" + QString(241, u'x') + ".wav",
            QString(242, u'x') + ".wav");
        // A name is taken by its .trashinfo, or by a file a crashed trasher left.
        row("home, names taken", false,
            "mkdir -p Trash/files Trash/info && touch Trash/info/song.wav.trashinfo "
            "'Trash/files/song (2).wav'",
            "Trash/files/song (3).wav");
        row("volume, no .Trash", true, "", own + "/files/song.wav");
        row("volume, sticky .Trash", true, "mkdir .Trash && chmod 1777 .Trash",
            ".Trash/" + QString::number(::getuid()) + "/files/song.wav");
        row("volume, .Trash not sticky", true, "mkdir .Trash && chmod 0777 .Trash",
            own + "/files/song.wav");
        row("volume, .Trash a link", true,
            "mkdir elsewhere && chmod 1777 elsewhere && ln -s elsewhere .Trash",
            own + "/files/song.wav");
        row("volume, trash cannot be made", true, "touch " + own, "", "song.wav",
            "is not a folder");
    }
    void trashedWhereItCanBeRestored() {
        QFETCH(bool, onVolume);
        QFETCH(QString, prepare);
        QFETCH(QString, name);
        QFETCH(QString, entry);
        QFETCH(QString, failure);
        if (onVolume && !mounted)
            QSKIP("mounting a tmpfs is not permitted here");
        const QString top = onVolume ? QFileInfo(volume.path()).canonicalFilePath() : dataHome();
        const QString where =
            onVolume ? top + u"/music"_s : QFileInfo(fixture.path()).canonicalFilePath();
        QVERIFY(QDir().mkpath(top));
        QVERIFY(shell(top, "rm -rf .Trash* Trash elsewhere music && mkdir music\n" + prepare));
        const QString path = where + u'/' + name;
        writeFile(path, name.toUtf8());

        const std::optional<QString> result = moveToTrash(path, path);

        if (!failure.isEmpty()) {
            QVERIFY2(result && result->contains(failure), qPrintable(result.value_or("moved")));
            QCOMPARE(contentsOf(path), name.toUtf8());
            return;
        }
        QCOMPARE(result, std::nullopt);
        QVERIFY(!QFileInfo::exists(path));
        QCOMPARE(contentsOf(top + u'/' + entry), name.toUtf8());
        const QByteArray info =
            contentsOf(top + u'/' + QString(entry).replace("/files/", "/info/") + u".trashinfo"_s);
        const QString recorded = (onVolume ? u"music"_s : where) + u'/' + name;
        QVERIFY2(info.startsWith(
                     "[Trash Info]\nPath=" + QFile::encodeName(recorded).toPercentEncoding("/") +
                     "\nDeletionDate=" + QDate::currentDate().toString(Qt::ISODate).toUtf8()),
                 info.constData());
    }

    // A commit killed at every point of its way (a crash, an out-of-memory kill,
    // a power cut): the original's path always holds a whole file, and whatever
    // else is left says by its name what it holds. Each kill is a child process.
    void killedAtAnyPointTheOriginalsPathHoldsAWholeFile_data() {
        QTest::addColumn<ConvertBehavior>("behavior");
        for (ConvertBehavior behavior : allCases<ConvertBehavior>())
            QTest::addRow("%s", qPrintable(rawValue(behavior))) << behavior;
    }
    void killedAtAnyPointTheOriginalsPathHoldsAWholeFile() {
        QFETCH(ConvertBehavior, behavior);
        for (int killAfter = 1;; ++killAfter) {
            fixture.reset();
            const QString original = fixture.pathOf(u"song.wav"_s);
            const QString output = fixture.pathOf(u"sonfold_out_1.wav"_s);
            writeFile(original, "stereo");
            writeFile(output, "mono");

            QProcess helper;
            helper.start(QStringLiteral(COMMIT_UNTIL_KILLED),
                         {original, output, rawValue(behavior), QString::number(killAfter)});
            QVERIFY(helper.waitForFinished(30000));

            const QMap<QString, QByteArray> left = fixture.left();
            const QByteArray atPath = left.value(u"song.wav"_s);
            QVERIFY2(atPath == "stereo" || atPath == "mono",
                     qPrintable(u"after change %1: %2"_s.arg(killAfter).arg(atPath)));
            for (auto entry = left.cbegin(); entry != left.cend(); ++entry) {
                const QString name = entry.key();
                if (name.startsWith(u"sonfold_out_"_s))
                    // The original holds the output's name only from the swap
                    // to its move to the staging name.
                    QVERIFY(entry.value() == "mono" ||
                            (entry.value() == "stereo" && atPath == "mono"));
                else if (name.startsWith(u".sonfold_orig_"_s) || name.startsWith(u"_backup/"_s) ||
                         name.startsWith(u"trash/"_s))
                    QCOMPARE(entry.value(), QByteArray("stereo"));
                else
                    QVERIFY2(name == u"song.wav"_s || name == u"_backup"_s, qPrintable(name));
            }
            // The original's bytes are never gone unless overwriting them was the point.
            QVERIFY(left.values().contains("stereo") || behavior == ConvertBehavior::overwrite);
            if (helper.exitStatus() == QProcess::NormalExit) {
                // Logged as a conversion without a log callback logs.
                QCOMPARE(helper.readAllStandardOutput(), QByteArray("[DEBUG] committed\n"));
                QCOMPARE(atPath, QByteArray("mono"));
                QVERIFY2(killAfter > 1, "the commit changed nothing");
                break;
            }
        }
    }
};

CHANFUSE_TEST_MAIN(DisposalTest)
#include "tst_disposal.moc"
