#include "TestFiles.h"
#include "TestMain.h"
#include "Workers.h"

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

namespace {

QString homeTrash() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/Trash");
}

// The Path line of a .trashinfo, decoded.
QString recordedPath(const QString& info) {
    for (const QByteArray& line : contentsOf(info).split('\n'))
        if (line.startsWith("Path="))
            return QFile::decodeName(QByteArray::fromPercentEncoding(line.mid(5)));
    return {};
}

std::optional<QString> trashOnWorker(const QString& path, const QString& recorded) {
    std::optional<QString> failure = QStringLiteral("did not finish");
    if (!TestSupport::finishOnWorker([&] { failure = moveToTrash(path, recorded); }, 10000))
        qFatal("the trash hangs");
    return failure;
}

} // namespace

// The freedesktop trash on real folders: the home trash, and the trash of a
// volume of its own (a tmpfs this test mounts where it may).
class TrashTest : public QObject {
    Q_OBJECT

    QTemporaryDir folder;
    QTemporaryDir volume;
    bool mounted = false;

    // Trashes a new file `name` from `where`, recorded as `recordedName`, and
    // checks the entry in `trash`: its name, bytes and recorded path.
    void trashAndCheck(const QString& where, const QString& name, const QString& recordedName,
                       const QString& trash, const QString& expectedName,
                       const QString& expectedPath) {
        const QString path = where + u'/' + name;
        writeFile(path, name.toUtf8());
        QCOMPARE(trashOnWorker(path, where + u'/' + recordedName), std::nullopt);
        QVERIFY(!QFileInfo::exists(path));
        QCOMPARE(contentsOf(trash + QStringLiteral("/files/") + expectedName), name.toUtf8());
        const QString info =
            trash + QStringLiteral("/info/") + expectedName + QStringLiteral(".trashinfo");
        QCOMPARE(recordedPath(info), expectedPath);
        QVERIFY(contentsOf(info).startsWith("[Trash Info]\nPath="));
        QVERIFY(contentsOf(info).contains("\nDeletionDate=" +
                                          QDate::currentDate().toString(Qt::ISODate).toUtf8()));
    }

private slots:
    void initTestCase() {
        mounted = ::mount("tmpfs", QFile::encodeName(volume.path()).constData(), "tmpfs", 0,
                          "size=1m") == 0;
    }

    void cleanupTestCase() {
        if (mounted)
            ::umount(QFile::encodeName(volume.path()).constData());
    }

    void init() { QDir(homeTrash()).removeRecursively(); }

    void homeTrashKeepsTheRecordedNameAndPath_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("recordedName");
        QTest::addColumn<QString>("expectedName");
        const QString longName = QString(242, u'x') + QStringLiteral(".wav");
        QTest::newRow("plain") << "song.wav"
                               << "song.wav"
                               << "song.wav";
        QTest::newRow("encoded path") << "a b%é.wav"
                                      << "a b%é.wav"
                                      << "a b%é.wav";
        QTest::newRow("staged, recorded as the original") << ".sonfold_orig_1"
                                                          << "song.flac"
                                                          << "song.flac";
        // With ".trashinfo" a 246-byte name exceeds the 255-byte name limit.
        QTest::newRow("246-byte name")
            << longName << longName << QString(241, u'x') + QStringLiteral(".wav");
    }
    void homeTrashKeepsTheRecordedNameAndPath() {
        QFETCH(QString, name);
        QFETCH(QString, recordedName);
        QFETCH(QString, expectedName);
        const QString where = QFileInfo(folder.path()).canonicalFilePath();
        trashAndCheck(where, name, recordedName, homeTrash(), expectedName,
                      where + u'/' + recordedName);
    }

    void aTakenNameGetsAFreshOne() {
        const QString where = QFileInfo(folder.path()).canonicalFilePath();
        for (const QString& expected : {QStringLiteral("song.wav"), QStringLiteral("song (2).wav"),
                                        QStringLiteral("song (3).wav")})
            trashAndCheck(where, QStringLiteral("song.wav"), QStringLiteral("song.wav"),
                          homeTrash(), expected, where + QStringLiteral("/song.wav"));
        // An entry without its .trashinfo (a crashed trasher) is not replaced either.
        writeFile(homeTrash() + QStringLiteral("/files/song (4).wav"), "stray");
        trashAndCheck(where, QStringLiteral("song.wav"), QStringLiteral("song.wav"), homeTrash(),
                      QStringLiteral("song (5).wav"), where + QStringLiteral("/song.wav"));
        QCOMPARE(contentsOf(homeTrash() + QStringLiteral("/files/song (4).wav")),
                 QByteArray("stray"));
    }

    void unusableTrashFailsWithItsReasonAndLeavesTheFile() {
        const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
        QDir(data).removeRecursively();
        writeFile(data, "a regular file where the data folder should be");
        const QString path = folder.filePath(QStringLiteral("song.wav"));
        writeFile(path, "original");
        const std::optional<QString> failure = trashOnWorker(path, path);
        QVERIFY(QFile::remove(data));
        QVERIFY(failure);
        QVERIFY2(failure->contains(QStringLiteral("Not a directory")), qPrintable(*failure));
        QCOMPARE(contentsOf(path), QByteArray("original"));
    }

    void volumeTrash_data() {
        QTest::addColumn<QString>("prepare");
        QTest::addColumn<QString>("trash");
        const QString uid = QString::number(::getuid());
        QTest::newRow("no .Trash") << ""
                                   << ".Trash-" + uid;
        QTest::newRow("sticky .Trash") << "mkdir .Trash && chmod 1777 .Trash"
                                       << ".Trash/" + uid;
        QTest::newRow(".Trash not sticky") << "mkdir .Trash && chmod 0777 .Trash"
                                           << ".Trash-" + uid;
        QTest::newRow(".Trash a link") << "mkdir elsewhere && chmod 1777 elsewhere && "
                                          "ln -s elsewhere .Trash"
                                       << ".Trash-" + uid;
    }
    void volumeTrash() {
        QFETCH(QString, prepare);
        QFETCH(QString, trash);
        if (!mounted)
            QSKIP("mounting a tmpfs is not permitted here");
        const QString top = QFileInfo(volume.path()).canonicalFilePath();
        QProcess::execute(
            QStringLiteral("sh"),
            {QStringLiteral("-c"), QStringLiteral("cd '%1' && rm -rf .Trash* "
                                                  "elsewhere music && mkdir music")
                                           .arg(top) +
                                       (prepare.isEmpty() ? QString() : " && " + prepare)});
        trashAndCheck(top + QStringLiteral("/music"), QStringLiteral("song.wav"),
                      QStringLiteral("song.wav"), top + u'/' + trash, QStringLiteral("song.wav"),
                      QStringLiteral("music/song.wav"));
        QVERIFY(!QFileInfo::exists(homeTrash() + QStringLiteral("/files/song.wav")));
    }

    void volumeWhoseTrashCannotBeMadeFails() {
        if (!mounted)
            QSKIP("mounting a tmpfs is not permitted here");
        const QString top = QFileInfo(volume.path()).canonicalFilePath();
        QDir(top).removeRecursively();
        writeFile(top + QStringLiteral("/.Trash-") + QString::number(::getuid()), "in the way");
        const QString path = top + QStringLiteral("/song.wav");
        writeFile(path, "original");
        const std::optional<QString> failure = trashOnWorker(path, path);
        QVERIFY(failure);
        QVERIFY2(failure->contains(QStringLiteral("is not a folder")), qPrintable(*failure));
        QCOMPARE(contentsOf(path), QByteArray("original"));
    }
};

CHANFUSE_TEST_MAIN(TrashTest)
#include "tst_trash.moc"
