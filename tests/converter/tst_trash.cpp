#include "TestFiles.h"
#include "TestMain.h"

#include "converter/Trash.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <sys/mount.h>
#include <unistd.h>

using namespace TestFiles;

// The freedesktop trash on real folders: the home trash, and the trash of a
// volume of its own (a tmpfs this test mounts where it may).
class TrashTest : public QObject {
    Q_OBJECT

    QTemporaryDir folder;
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

    // `prepare` runs in the trash's top folder (the data home, or the
    // volume's root). The entry lands at `entry` below it, recorded under
    // `recordedName` in the file's folder so a file manager restores it
    // there; or trashing fails with `failure` and the file stays.
    void trashedWhereItCanBeRestored_data() {
        QTest::addColumn<bool>("onVolume");
        QTest::addColumn<QString>("prepare");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("recordedName");
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("failure");
        const auto row = [](const char* tag, bool onVolume, const QString& prepare,
                            const QString& entry, const QString& name = "song.wav",
                            const QString& recordedName = {}, const char* failure = "") {
            QTest::newRow(tag) << onVolume << prepare << name
                               << (recordedName.isEmpty() ? name : recordedName) << entry
                               << failure;
        };
        const QString own = ".Trash-" + QString::number(::getuid());
        const QString longName = QString(242, u'x') + ".wav";
        row("home", false, "", "Trash/files/song.wav");
        row("home, encoded path", false, "", "Trash/files/a b%é.wav", "a b%é.wav");
        row("home, staged, recorded as the original", false, "", "Trash/files/song.flac",
            ".sonfold_orig_1", "song.flac");
        // With ".trashinfo" a 246-byte name exceeds the 255-byte name limit.
        row("home, 246-byte name", false, "", "Trash/files/" + QString(241, u'x') + ".wav",
            longName);
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
        row("volume, trash cannot be made", true, "touch " + own, "", "song.wav", {},
            "is not a folder");
    }
    void trashedWhereItCanBeRestored() {
        QFETCH(bool, onVolume);
        QFETCH(QString, prepare);
        QFETCH(QString, name);
        QFETCH(QString, recordedName);
        QFETCH(QString, entry);
        QFETCH(QString, failure);
        if (onVolume && !mounted)
            QSKIP("mounting a tmpfs is not permitted here");
        const QString top =
            onVolume ? QFileInfo(volume.path()).canonicalFilePath()
                     : QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
        const QString where = onVolume ? top + QStringLiteral("/music")
                                       : QFileInfo(folder.path()).canonicalFilePath();
        const QString reset = QStringLiteral("mkdir -p '%1' && cd '%1' && rm -rf .Trash* Trash "
                                             "elsewhere music && mkdir music")
                                  .arg(top);
        QCOMPARE(QProcess::execute(
                     QStringLiteral("sh"),
                     {QStringLiteral("-c"), prepare.isEmpty() ? reset : reset + " && " + prepare}),
                 0);
        const QString path = where + u'/' + name;
        writeFile(path, name.toUtf8());

        const std::optional<QString> result = moveToTrash(path, where + u'/' + recordedName);

        if (!failure.isEmpty()) {
            QVERIFY2(result && result->contains(failure), qPrintable(result.value_or("moved")));
            QCOMPARE(contentsOf(path), name.toUtf8());
            return;
        }
        QCOMPARE(result, std::nullopt);
        QVERIFY(!QFileInfo::exists(path));
        QCOMPARE(contentsOf(top + u'/' + entry), name.toUtf8());
        const QByteArray info =
            contentsOf(top + u'/' + QString(entry).replace("/files/", "/info/") +
                       QStringLiteral(".trashinfo"));
        const QString recorded = (onVolume ? QStringLiteral("music") : where) + u'/' + recordedName;
        QVERIFY2(info.startsWith(
                     "[Trash Info]\nPath=" + QFile::encodeName(recorded).toPercentEncoding("/") +
                     "\nDeletionDate=" + QDate::currentDate().toString(Qt::ISODate).toUtf8()),
                 info.constData());
    }
};

CHANFUSE_TEST_MAIN(TrashTest)
#include "tst_trash.moc"
