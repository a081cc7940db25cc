// SPDX-License-Identifier: GPL-3.0-or-later

#include "../converter/ConverterFixture.h"
#include "TestAudio.h"
#include "TestFiles.h"
#include "TestMain.h"

#include "history/RunJournal.h"
#include "history/UndoConversion.h"
#include <QCryptographicHash>

#include <QProcess>
#include <QScopeGuard>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QUuid>

#include <sys/stat.h>

using namespace Qt::StringLiterals;
using TestFiles::snapshot;

namespace {

// Each entry's permission bits, by relative path.
QMap<QString, uint> modesOf(const QString& folder) {
    QMap<QString, uint> modes;
    const auto entries = snapshot(folder);
    for (auto entry = entries.cbegin(); entry != entries.cend(); ++entry) {
        struct stat status {};
        ::lstat(QFile::encodeName(folder + u'/' + entry.key()).constData(), &status);
        modes[entry.key()] = status.st_mode;
    }
    return modes;
}

enum class Fault { monoEdited, originalOutOfTrash, backupRemoved, pathTaken };

} // namespace

// Runs converted on real folders with the real ffmpeg, then taken back from
// the journal: the folder as it was, or a file refused with its reason.
class UndoTest : public QObject {
    Q_OBJECT

    ConverterFixture fixture;

    // Converts the named files as one run and gives the run as the journal
    // recorded it.
    JournalRun convertAsOneRun(const QStringList& names) {
        const QString key = QUuid::createUuid().toString();
        for (const QString& name : names) {
            const auto item = std::make_shared<FileItem>(QUrl::fromLocalFile(fixture.pathOf(name)));
            ConversionOutcome outcome;
            const auto work = [&] {
                outcome = AudioConverter(Settings::shared())
                              .convertToMono(item, fixture.log.callback(), {}, key);
            };
            if (!TestSupport::finishOnWorker(work, 60000))
                qFatal("the conversion did not finish");
            if (outcome.kind != ConversionOutcome::Kind::converted)
                qFatal("%s not converted: %s", qPrintable(name), qPrintable(outcome.text));
        }
        const QList<JournalRun> runs = RunJournal::runs();
        if (runs.isEmpty() || runs.first().files.size() != names.size())
            qFatal("the run was not journaled whole");
        return runs.first();
    }

    void setBehavior(ConvertBehavior behavior, bool suffixed) {
        Settings::shared().setConvertBehavior(behavior);
        Settings::shared().setAppendFilename(suffixed);
    }

private slots:
    void init() {
        fixture.reset();
        TestAudio::fakeStereo(fixture.pathOf(u"a.wav"_s));
        TestAudio::fakeStereo(fixture.pathOf(u"b.flac"_s), 1);
        QFile::setPermissions(fixture.pathOf(u"b.flac"_s),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
    }

    void undoPutsTheFolderBack_data() {
        QTest::addColumn<ConvertBehavior>("behavior");
        QTest::addColumn<bool>("suffixed");
        for (const auto behavior :
             {ConvertBehavior::trash, ConvertBehavior::overwrite, ConvertBehavior::backup})
            for (const bool suffixed : {true, false})
                QTest::addRow("%s, %s", qPrintable(rawValue(behavior)),
                              suffixed ? "suffixed" : "in place")
                    << behavior << suffixed;
    }

    void undoPutsTheFolderBack() {
        QFETCH(ConvertBehavior, behavior);
        QFETCH(bool, suffixed);
        setBehavior(behavior, suffixed);
        const QString trash = ConverterFixture::trashFolder();
        // Something the user trashed before the run stays as it was.
        QDir().mkpath(trash + u"/files"_s);
        QDir().mkpath(trash + u"/info"_s);
        TestFiles::writeFile(trash + u"/files/a.wav"_s, "older a.wav");
        TestFiles::writeFile(trash + u"/info/a.wav.trashinfo"_s, "[Trash Info]\nPath=/x/a.wav\n");
        const auto folderBefore = snapshot(fixture.path());
        const auto modesBefore = modesOf(fixture.path());
        const auto trashBefore = snapshot(trash);

        const JournalRun run = convertAsOneRun({u"a.wav"_s, u"b.flac"_s});
        QVERIFY(snapshot(fixture.path()) != folderBefore);
        QSet<QByteArray> monoDigests;
        for (const JournalFile& file : run.files) {
            monoDigests.insert(file.intent.monoSha256);
            const UndoOutcome outcome = undoConversion(file);
            if (behavior == ConvertBehavior::overwrite && !suffixed) {
                QCOMPARE(outcome.text,
                         u"Not undone: the original was overwritten without a copy"_s);
                continue;
            }
            QCOMPARE(outcome.text, QString());
            QCOMPARE(outcome.result, UndoResult::undone);
        }
        if (behavior == ConvertBehavior::overwrite && !suffixed)
            return;

        QCOMPARE(snapshot(fixture.path()), folderBefore);
        QCOMPARE(modesOf(fixture.path()), modesBefore);
        auto trashAfter = snapshot(trash);
        for (auto entry = trashBefore.cbegin(); entry != trashBefore.cend(); ++entry)
            QCOMPARE(trashAfter.take(entry.key()), entry.value());
        // What is new in the trash is the mono files, each with its entry.
        qsizetype monoFiles = 0;
        for (auto entry = trashAfter.cbegin(); entry != trashAfter.cend(); ++entry) {
            if (entry.key().startsWith(u"files/"_s)) {
                QVERIFY2(monoDigests.contains(
                             QCryptographicHash::hash(entry.value(), QCryptographicHash::Sha256)),
                         qPrintable(entry.key()));
                QVERIFY(trashAfter.contains(u"info/"_s + entry.key().mid(6) + u".trashinfo"_s));
                ++monoFiles;
            }
        }
        QCOMPARE(monoFiles, run.files.size());
        const JournalRun undone = *RunJournal::run(run.number);
        for (const JournalFile& file : undone.files)
            QVERIFY(file.undone);
    }

    // A journal that is no database is set aside and a new one started,
    // without holding up the conversion; runs older than historyKeepDays go
    // when the journal is next opened.
    void damagedJournalSetAsideAndOldRunsPruned() {
        const QByteArray stateHome = qgetenv("XDG_STATE_HOME");
        const auto restore = qScopeGuard([&] { qputenv("XDG_STATE_HOME", stateHome); });
        QTemporaryDir state;
        const QString folder = state.path() + u"/Chanfuse"_s;
        QVERIFY(QDir().mkpath(folder));
        TestFiles::writeFile(folder + u"/history.sqlite"_s, QByteArray(4096, 'x'));
        qputenv("XDG_STATE_HOME", QFile::encodeName(state.path()));

        convertAsOneRun({u"a.wav"_s});
        QCOMPARE(QDir(folder).entryList({u"history.sqlite.damaged-*"_s}).size(), 1);
        {
            QSqlDatabase aging = QSqlDatabase::addDatabase(u"QSQLITE"_s, u"aging"_s);
            aging.setDatabaseName(RunJournal::location());
            QVERIFY(aging.open());
            QVERIFY(QSqlQuery(aging).exec(u"UPDATE runs SET started = started - 91 * 86400000"_s));
        }
        QSqlDatabase::removeDatabase(u"aging"_s);
        convertAsOneRun({u"b.flac"_s});
        // Elsewhere and back: the journal is opened afresh.
        qputenv("XDG_STATE_HOME", stateHome);
        RunJournal::runs();
        qputenv("XDG_STATE_HOME", QFile::encodeName(state.path()));
        const QList<JournalRun> kept = RunJournal::runs();
        QCOMPARE(kept.size(), 1);
        QCOMPARE(kept.first().files.first().intent.original, fixture.pathOf(u"b.flac"_s));
    }

    // A commit killed after each of its changes to the folder: the journal
    // knows it, and putting it back leaves the folder as before the run, or
    // finishes a replacement that had only its record left to write.
    void killedCommitIsPutBack_data() { undoPutsTheFolderBack_data(); }
    void killedCommitIsPutBack() {
        QFETCH(ConvertBehavior, behavior);
        QFETCH(bool, suffixed);
        for (int killAfter = 1;; ++killAfter) {
            fixture.reset();
            const QString original = fixture.pathOf(u"song.wav"_s);
            TestFiles::writeFile(original, "stereo");
            QFile::setPermissions(original, QFile::ReadOwner | QFile::WriteOwner);
            const auto before = snapshot(fixture.path());
            const auto modesBefore = modesOf(fixture.path());
            TestFiles::writeFile(fixture.pathOf(u"sonfold_out_1.wav"_s), "mono");
            QStringList arguments{original, fixture.pathOf(u"sonfold_out_1.wav"_s),
                                  rawValue(behavior), QString::number(killAfter)};
            if (suffixed)
                arguments.append(fixture.pathOf(u"song_MONO.wav"_s));
            QProcess helper;
            helper.start(QStringLiteral(COMMIT_UNTIL_KILLED), arguments);
            QVERIFY(helper.waitForFinished(30000));
            const JournalFile file = RunJournal::runs().first().files.first();
            if (helper.exitStatus() == QProcess::NormalExit) {
                QVERIFY2(killAfter > 1 && !file.interrupted(), "the commit changed nothing");
                break;
            }
            QVERIFY(file.interrupted());
            const UndoOutcome outcome = undoConversion(file);
            const QString at = u"after change %1: "_s.arg(killAfter) + outcome.text;
            if (outcome.result == UndoResult::finished) {
                QVERIFY2(behavior != ConvertBehavior::trash && !suffixed, qPrintable(at));
                QCOMPARE(TestFiles::contentsOf(original), QByteArray("mono"));
                QVERIFY(!RunJournal::runs().first().files.first().interrupted());
                continue;
            }
            QVERIFY2(outcome.result == UndoResult::putBack, qPrintable(at));
            QCOMPARE(snapshot(fixture.path()), before);
            QCOMPARE(modesOf(fixture.path()), modesBefore);
            QVERIFY(snapshot(ConverterFixture::trashFolder() + u"/files"_s).isEmpty());
            QVERIFY(RunJournal::runs().isEmpty() ||
                    RunJournal::runs().first().files.first().id != file.id);
        }
    }

    void aFileThatCannotBeUndoneIsRefusedAndTheOthersAreNot_data() {
        QTest::addColumn<ConvertBehavior>("behavior");
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<QString>("text");
        QTest::newRow("mono edited") << ConvertBehavior::trash << Fault::monoEdited
                                     << u"Not undone: {mono} was changed after the conversion"_s;
        QTest::newRow("original out of the trash")
            << ConvertBehavior::trash << Fault::originalOutOfTrash
            << u"Not undone: the original is no longer in the trash"_s;
        QTest::newRow("backup removed") << ConvertBehavior::backup << Fault::backupRemoved
                                        << u"Not undone: the backup copy {kept} is gone"_s;
        QTest::newRow("path taken, trash") << ConvertBehavior::trash << Fault::pathTaken
                                           << u"Not undone: another file now holds {original}"_s;
        QTest::newRow("path taken, backup") << ConvertBehavior::backup << Fault::pathTaken
                                            << u"Not undone: another file now holds {original}"_s;
    }

    void aFileThatCannotBeUndoneIsRefusedAndTheOthersAreNot() {
        QFETCH(ConvertBehavior, behavior);
        QFETCH(Fault, fault);
        QFETCH(QString, text);
        setBehavior(behavior, true);
        const QByteArray bBefore = TestFiles::contentsOf(fixture.pathOf(u"b.flac"_s));
        const JournalRun run = convertAsOneRun({u"a.wav"_s, u"b.flac"_s});
        const JournalFile& a = run.files.at(0);
        switch (fault) {
        case Fault::monoEdited: {
            QFile mono(a.intent.finalPath);
            QVERIFY(mono.open(QIODevice::Append));
            mono.write("x");
            break;
        }
        case Fault::originalOutOfTrash:
        case Fault::backupRemoved:
            QVERIFY(QFile::remove(a.completion->keptAt));
            break;
        case Fault::pathTaken:
            TestFiles::writeFile(a.intent.original, "another a.wav");
            break;
        }
        const auto aLeft = TestFiles::contentsOf(a.intent.finalPath);

        const UndoOutcome refused = undoConversion(a);
        QCOMPARE(refused.result, UndoResult::refused);
        QCOMPARE(refused.text, text.replace(u"{mono}"_s, a.intent.finalPath)
                                   .replace(u"{kept}"_s, a.completion->keptAt)
                                   .replace(u"{original}"_s, a.intent.original));
        QCOMPARE(TestFiles::contentsOf(a.intent.finalPath), aLeft);
        QCOMPARE(undoConversion(run.files.at(1)).result, UndoResult::undone);
        QCOMPARE(TestFiles::contentsOf(fixture.pathOf(u"b.flac"_s)), bBefore);
        QVERIFY(!QFileInfo::exists(run.files.at(1).intent.finalPath));
        QVERIFY(!RunJournal::run(run.number)->files.at(0).undone);
    }
};

CHANFUSE_TEST_MAIN(UndoTest)
#include "tst_undo.moc"
