#include "TestMain.h"

#include "Workers.h"
#include "exec/SerialQueue.h"
#include "scanner/AudioScanner.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <chrono>
#include <fcntl.h>
#include <future>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int walkDeadlineMs = 20000;

// Files (and folders, for names ending in '/') below `root`.
void makeTree(const QString& root, const QStringList& entries) {
    for (const QString& entry : entries) {
        const QString path = root + u'/' + entry;
        if (entry.endsWith(u'/')) {
            QDir().mkpath(path);
            continue;
        }
        QDir().mkpath(path.left(path.lastIndexOf(u'/')));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            qFatal("cannot create %s", qPrintable(path));
    }
}

// Runs the discovery on a worker, as a scan does, so a walk that never ends
// fails the test instead of hanging it. Paths come back relative to `root`,
// and the notes for the log in `notes`.
QStringList discover(const QString& root, const QString& folder, QStringList* notes = nullptr) {
    auto found = std::make_shared<DiscoveredFiles>();
    if (!TestSupport::finishOnWorker(
            [found, folder] {
                *found =
                    AudioScanner(Settings::shared()).findAudioFiles(QUrl::fromLocalFile(folder));
            },
            walkDeadlineMs))
        return {QStringLiteral("<the walk did not end>")};
    QStringList relative;
    const QDir base(QDir(root).canonicalPath());
    for (const QUrl& url : std::as_const(found->audioFiles))
        relative.append(base.relativeFilePath(url.toLocalFile()));
    if (notes)
        *notes = found->notes;
    return relative;
}

QStringList discover(const QString& root) {
    return discover(root, root);
}

QStringList sorted(QStringList list) {
    list.sort();
    return list;
}

// Everything found below one folder comes in one run, right after the folder
// itself when that is listed: the walk finishes a folder before moving on.
bool isDepthFirst(const QStringList& found) {
    for (qsizetype i = 0; i < found.size(); ++i) {
        QString folder = found[i];
        while (!folder.isEmpty()) {
            const QString prefix = folder + u'/';
            const qsizetype listedAt = found.indexOf(folder);
            qsizetype first = -1, last = -1, count = 0;
            for (qsizetype j = 0; j < found.size(); ++j) {
                if (!found[j].startsWith(prefix))
                    continue;
                first = first < 0 ? j : first;
                last = j;
                ++count;
            }
            if (count > 0 &&
                (last - first + 1 != count || (listedAt >= 0 && listedAt != first - 1)))
                return false;
            folder = folder.contains(u'/') ? folder.left(folder.lastIndexOf(u'/')) : QString();
        }
    }
    return true;
}

} // namespace

class AudioFileDiscoveryTest : public QObject {
    Q_OBJECT

private slots:
    void keepsTheNineExtensionsInListingOrder() {
        QTemporaryDir root;
        const QStringList audio{"a.WAV", "b.flac", "song.aif", "x.Aiff", "x.MP3",
                                "x.m4A", "x.aac",  "x.WMA",    "x.Ogg"};
        makeTree(root.path(), audio + QStringList{"c.txt", "d", "wav", "song.aifc", "song.opus",
                                                  "x.wav.bak", "trailing."});

        // The order the file system lists them in, whatever that is.
        QStringList expected = QDir(root.path()).entryList(QDir::Files, QDir::Unsorted);
        expected.removeIf([&audio](const QString& name) { return !audio.contains(name); });
        QCOMPARE(expected.size(), audio.size());
        QCOMPARE(discover(root.path()), expected);
    }

    void skipsHiddenEntriesAndFolders() {
        QTemporaryDir root;
        makeTree(root.path(), {".hidden.wav", ".cache/x.mp3", ".cache/deeper/y.flac",
                               "visible/.also.flac", "visible/seen.ogg", ".folder.wav/z.wav"});
        QCOMPARE(discover(root.path()), QStringList{"visible/seen.ogg"});
    }

    void walksEveryLevelDepthFirst() {
        QTemporaryDir root;
        makeTree(root.path(),
                 {"top.wav", "x.wav/one.mp3", "x.wav/two.flac", "x.wav/notes.txt",
                  "x.wav/inner.ogg/three.m4a", "x.wav/inner.ogg/deep.aac/four.wma",
                  "x.wav/inner.ogg/deep.aac/five.aiff", "plain/level1.wav", "plain/sub/level2.wav",
                  "plain/sub/sub/level3.wav", "empty.flac/", "last.mp3"});
        const QStringList found = discover(root.path());

        // Folders are walked, never listed, whatever their names.
        QCOMPARE(sorted(found),
                 sorted({"top.wav", "x.wav/one.mp3", "x.wav/two.flac", "x.wav/inner.ogg/three.m4a",
                         "x.wav/inner.ogg/deep.aac/four.wma", "x.wav/inner.ogg/deep.aac/five.aiff",
                         "plain/level1.wav", "plain/sub/level2.wav", "plain/sub/sub/level3.wav",
                         "last.mp3"}));
        QVERIFY2(isDepthFirst(found), qPrintable(found.join(u' ')));
    }

    // A link to a file gives that file's own path, so the scan can list it
    // once; links to folders are not entered.
    void listsLinkedFilesByTheirCanonicalPath() {
        QTemporaryDir root;
        makeTree(root.path(), {"real/inside.wav", "real/nested/deeper.flac"});
        const QString base = root.path();
        // Links to an ancestor (one with an audio name, one without), to a
        // file, to a folder, and to nothing.
        QVERIFY(QFile::link(base, base + QStringLiteral("/real/nested/up.wav")));
        QVERIFY(QFile::link(base, base + QStringLiteral("/real/loop")));
        QVERIFY(QFile::link(base + QStringLiteral("/real/inside.wav"),
                            base + QStringLiteral("/link.mp3")));
        QVERIFY(QFile::link(base + QStringLiteral("/real"), base + QStringLiteral("/shortcut")));
        QVERIFY(
            QFile::link(base + QStringLiteral("/gone"), base + QStringLiteral("/dangling.ogg")));

        QCOMPARE(sorted(discover(base)),
                 sorted({"real/inside.wav", "real/inside.wav", "real/nested/deeper.flac"}));
    }

    void passesOverUnreadableFolders() {
        if (::geteuid() == 0)
            QSKIP("root reads every folder, so none can be made unreadable");
        QTemporaryDir root;
        makeTree(root.path(), {"open/a.wav", "locked/b.wav", "locked.flac/c.wav", "d.ogg"});
        for (const char* folder : {"locked", "locked.flac"})
            QVERIFY(QFile::setPermissions(root.filePath(QLatin1String(folder)), {}));
        const QStringList found = discover(root.path());
        for (const char* folder : {"locked", "locked.flac"})
            QFile::setPermissions(root.filePath(QLatin1String(folder)),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QCOMPARE(sorted(found), sorted({"open/a.wav", "d.ogg"}));
    }

    // Entries that would hold a tool for good, backups, leftovers of a
    // conversion that was killed, and names the tools cannot be handed.
    void neverListsWhatIsNoUserAudioFile() {
        QTemporaryDir root;
        const QString base = QDir(root.path()).canonicalPath();
        makeTree(base, {"keep.wav", "_backup/song.wav", "deep/_backup/old.flac",
                        "deep/sonfold_out_1234.flac", "deep/.sonfold_orig_5678", "deep/kept.mp3"});
        QCOMPARE(::mkfifo(QFile::encodeName(base + QStringLiteral("/pipe.wav")).constData(), 0600),
                 0);
        const QByteArray undecodable = QFile::encodeName(base + QStringLiteral("/deep/")) + "\xff";
        const QList<QByteArray> undecodableNames{undecodable + ".wav", undecodable + "2.flac"};
        for (const QByteArray& name : undecodableNames)
            ::close(::open(name.constData(), O_WRONLY | O_CREAT, 0600));

        QStringList notes;
        const QStringList found = discover(base, base, &notes);
        // Qt could not remove them with the folder.
        for (const QByteArray& name : undecodableNames)
            QCOMPARE(::unlink(name.constData()), 0);
        QCOMPARE(sorted(found), sorted({"keep.wav", "deep/kept.mp3"}));
        QCOMPARE(sorted(notes),
                 sorted({"Leftover of an interrupted conversion (temporary output): " + base +
                             "/deep/sonfold_out_1234.flac",
                         "Leftover of an interrupted conversion (kept original): " + base +
                             "/deep/.sonfold_orig_5678",
                         "Skipped 2 name(s) that are not valid UTF-8 in: " + base + "/deep"}));
    }

    void findsNothingWhereThereIsNoFolder_data() {
        QTest::addColumn<QString>("below");
        QTest::newRow("missing folder") << "missing";
        QTest::newRow("empty folder") << "empty";
        QTest::newRow("through a regular file") << "file.wav/sub";
        QTest::newRow("only hidden and other files") << "other";
    }

    void findsNothingWhereThereIsNoFolder() {
        QFETCH(QString, below);
        QTemporaryDir root;
        makeTree(root.path(), {"empty/", "file.wav", "other/.a.wav", "other/b.txt"});
        QCOMPARE(discover(root.path(), root.filePath(below)), QStringList());
    }

    // A volume that stops answering: the existence test gives up after its
    // limit, and the discovery with it, instead of waiting for ever.
    void givesUpWhenFileOperationsHang() {
        QTemporaryDir root;
        makeTree(root.path(), {"a.wav"});
        std::promise<void> answer;
        fileOpQueue().submit(
            [stuck = answer.get_future().share()] { stuck.wait_for(std::chrono::seconds(30)); });

        QElapsedTimer clock;
        clock.start();
        const QStringList found = discover(root.path());
        answer.set_value();
        QCOMPARE(found, QStringList());
        QVERIFY(clock.elapsed() >= 9000);

        // Once the queue answers again, so does the discovery.
        QCOMPARE(discover(root.path()), QStringList{"a.wav"});
    }
};

CHANFUSE_TEST_MAIN(AudioFileDiscoveryTest)
#include "tst_audiofilediscovery.moc"
