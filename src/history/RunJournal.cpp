// SPDX-License-Identifier: GPL-3.0-or-later

#include "history/RunJournal.h"

#include "converter/ConversionLog.h"
#include "exec/SerialQueue.h"
#include "exec/TimeLimits.h"
#include "model/Settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <algorithm>
#include <mutex>

namespace {

const QString connectionName = QStringLiteral("chanfuse-journal");

// One thread owns the one connection, as Qt's SQL module asks.
SerialQueue& journalQueue() {
    static SerialQueue* const queue = new SerialQueue(QStringLiteral("chanfuse.journal"));
    return *queue;
}

std::mutex problemLock;
std::optional<QString> problem;

void reportProblem(const QString& text) {
    {
        const std::lock_guard guard(problemLock);
        if (problem == text)
            return;
        problem = text;
    }
    ConversionLog({})(QStringLiteral("History journal: ") + text);
}

void clearProblem() {
    const std::lock_guard guard(problemLock);
    problem.reset();
}

const char* const schema[] = {
    "CREATE TABLE IF NOT EXISTS runs(number INTEGER PRIMARY KEY AUTOINCREMENT, "
    "key TEXT UNIQUE NOT NULL, started INTEGER NOT NULL)",
    "CREATE TABLE IF NOT EXISTS files(id INTEGER PRIMARY KEY AUTOINCREMENT, "
    "run INTEGER NOT NULL REFERENCES runs(number), original TEXT NOT NULL, "
    "original_size INTEGER, original_modified_ns INTEGER, behavior TEXT, suffix TEXT, "
    "temporary TEXT, final TEXT, staging TEXT, mono_size INTEGER, mono_sha256 BLOB, "
    "disposition TEXT, kept_at TEXT, trash_info TEXT, completed INTEGER, undone INTEGER)",
};

const char* const dispositionWords[] = {"trashed", "backedUp", "kept", "overwritten"};

bool execute(QSqlQuery& query) {
    if (query.exec())
        return true;
    reportProblem(query.lastError().text());
    return false;
}

enum class Opening { sound, damaged, unavailable };

// SQLITE_CORRUPT and SQLITE_NOTADB: the file itself is bad, as opposed to
// busy (another Chanfuse writing) or out of reach.
bool isDamage(const QSqlError& error) {
    return error.nativeErrorCode() == u"11" || error.nativeErrorCode() == u"26";
}

// Opens the database and proves it sound; a file that is not one, or fails
// SQLite's own check, is not ours to write into. One merely busy is left be.
Opening openChecked(const QString& path) {
    QSqlDatabase database = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName);
    database.setDatabaseName(path);
    database.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
    if (!database.open())
        return Opening::unavailable;
    QSqlQuery check(database);
    if (!check.exec(QStringLiteral("PRAGMA integrity_check")))
        return isDamage(check.lastError()) ? Opening::damaged : Opening::unavailable;
    if (!check.next() || check.value(0).toString() != QLatin1String("ok"))
        return Opening::damaged;
    check.finish();
    // Each commit's record must be on the disk before the commit changes the
    // folder, or a power cut could lose the record of a change it kept.
    if (!check.exec(QStringLiteral("PRAGMA journal_mode=WAL")) ||
        !check.exec(QStringLiteral("PRAGMA synchronous=FULL")))
        return Opening::unavailable;
    for (const char* statement : schema) {
        if (!check.exec(QLatin1String(statement)))
            return Opening::unavailable;
    }
    return Opening::sound;
}

void closeConnection() {
    {
        QSqlDatabase database = QSqlDatabase::database(connectionName, false);
        database.close();
    }
    QSqlDatabase::removeDatabase(connectionName);
}

void setAside(const QString& path) {
    const QString aside =
        path + QStringLiteral(".damaged-") +
        QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMddThhmmss"));
    QFile::rename(path, aside);
    QFile::remove(path + QStringLiteral("-wal"));
    QFile::remove(path + QStringLiteral("-shm"));
    ConversionLog({})(QStringLiteral("History journal damaged; set aside as ") + aside);
}

// Old runs go, except commits that never reported back: those are still to
// be put right.
void prune(const QSqlDatabase& database) {
    const qint64 cutoff = QDateTime::currentDateTimeUtc()
                              .addDays(-Settings::shared().historyKeepDays())
                              .toMSecsSinceEpoch();
    QSqlQuery files(database);
    files.prepare(QStringLiteral("DELETE FROM files WHERE completed IS NOT NULL AND run IN "
                                 "(SELECT number FROM runs WHERE started < ?)"));
    files.addBindValue(cutoff);
    execute(files);
    QSqlQuery runs(database);
    runs.prepare(QStringLiteral("DELETE FROM runs WHERE started < ? AND NOT EXISTS "
                                "(SELECT 1 FROM files WHERE files.run = runs.number)"));
    runs.addBindValue(cutoff);
    execute(runs);
}

// The connection to the journal where the environment puts it now; invalid
// when it cannot be had. On the journal thread only.
QSqlDatabase connection() {
    static QString openPath;
    const QString path = RunJournal::location();
    if (openPath == path && QSqlDatabase::contains(connectionName))
        return QSqlDatabase::database(connectionName, false);
    if (QSqlDatabase::contains(connectionName))
        closeConnection();
    openPath.clear();
    QDir().mkpath(QFileInfo(path).path());
    Opening opened = openChecked(path);
    if (opened == Opening::damaged) {
        closeConnection();
        setAside(path);
        opened = openChecked(path);
    }
    if (opened != Opening::sound) {
        closeConnection();
        reportProblem(QStringLiteral("cannot open ") + path);
        return {};
    }
    openPath = path;
    QSqlDatabase database = QSqlDatabase::database(connectionName, false);
    prune(database);
    return database;
}

template <class Value, class Work> Value onJournal(Value fallback, Work work) {
    try {
        return withHardTimeout(journalQueue(), journalLimitSeconds, [fallback, work]() -> Value {
            const QSqlDatabase database = connection();
            if (!database.isOpen())
                return fallback;
            return work(database);
        });
    } catch (const TimeoutError&) {
        reportProblem(QStringLiteral("no answer within %1 s").arg(journalLimitSeconds));
        return fallback;
    }
}

QString dispositionWord(Disposition disposition) {
    return QLatin1String(dispositionWords[int(disposition)]);
}

std::optional<Disposition> dispositionOf(const QString& word) {
    for (int index = 0; index < 4; ++index) {
        if (word == QLatin1String(dispositionWords[index]))
            return Disposition(index);
    }
    return std::nullopt;
}

const QString fileColumns = QStringLiteral(
    "files.id, runs.key, original, original_size, original_modified_ns, behavior, suffix, "
    "temporary, final, staging, mono_size, mono_sha256, disposition, kept_at, trash_info, "
    "undone, runs.number, runs.started");

JournalFile fileFrom(const QSqlQuery& row) {
    JournalFile file;
    file.id = row.value(0).toLongLong();
    CommitIntent& intent = file.intent;
    intent.run = row.value(1).toString();
    intent.original = row.value(2).toString();
    intent.originalSize = row.value(3).toLongLong();
    intent.originalModifiedNs = row.value(4).toLongLong();
    intent.behavior =
        fromRawValue<ConvertBehavior>(row.value(5).toString()).value_or(ConvertBehavior::trash);
    intent.suffix = row.value(6).toString();
    intent.temporary = row.value(7).toString();
    intent.finalPath = row.value(8).toString();
    intent.staging = row.value(9).toString();
    intent.monoSize = row.value(10).toLongLong();
    intent.monoSha256 = row.value(11).toByteArray();
    if (const auto disposition = dispositionOf(row.value(12).toString()))
        file.completion =
            OriginalWhereabouts{*disposition, row.value(13).toString(), row.value(14).toString()};
    file.undone = !row.value(15).isNull();
    file.runStarted = QDateTime::fromMSecsSinceEpoch(row.value(17).toLongLong(), Qt::UTC);
    return file;
}

QList<JournalRun> runsWhere(const QString& condition, const QVariant& value) {
    return onJournal(QList<JournalRun>{}, [condition, value](const QSqlDatabase& database) {
        QSqlQuery query(database);
        query.prepare(QStringLiteral("SELECT ") + fileColumns +
                      QStringLiteral(" FROM files JOIN runs ON files.run = runs.number") +
                      condition + QStringLiteral(" ORDER BY runs.number DESC, files.original"));
        if (value.isValid())
            query.addBindValue(value);
        QList<JournalRun> runs;
        if (!execute(query))
            return runs;
        while (query.next()) {
            const qint64 number = query.value(16).toLongLong();
            if (runs.isEmpty() || runs.last().number != number)
                runs.append({number,
                             QDateTime::fromMSecsSinceEpoch(query.value(17).toLongLong(), Qt::UTC),
                             {}});
            runs.last().files.append(fileFrom(query));
        }
        return runs;
    });
}

bool update(const QString& statement, const QVariantList& values) {
    return onJournal(false, [statement, values](const QSqlDatabase& database) {
        QSqlQuery query(database);
        query.prepare(statement);
        for (const QVariant& value : values)
            query.addBindValue(value);
        return execute(query);
    });
}

} // namespace

bool JournalFile::canBeUndone() const {
    return completion && !undone && completion->disposition != Disposition::overwritten;
}

qint64 JournalRun::spaceSaved() const {
    qint64 saved = 0;
    for (const JournalFile& file : files) {
        if (file.completion && !file.undone)
            saved += file.intent.originalSize - file.intent.monoSize;
    }
    return saved;
}

QString RunJournal::location() {
    QString stateHome = qEnvironmentVariable("XDG_STATE_HOME");
    // Relative values are invalid by the base-directory rules and ignored.
    if (stateHome.isEmpty() || QDir::isRelativePath(stateHome))
        stateHome = QDir::homePath() + QStringLiteral("/.local/state");
    return stateHome + QStringLiteral("/Chanfuse/history.sqlite");
}

std::optional<qint64> RunJournal::recordIntent(const CommitIntent& intent) {
    return onJournal(
        std::optional<qint64>{}, [intent](QSqlDatabase database) -> std::optional<qint64> {
            database.transaction();
            QSqlQuery addRun(database);
            // Not INSERT OR IGNORE: an ignored row would still use up a
            // number, and the runs are numbered for people to type.
            addRun.prepare(QStringLiteral("INSERT INTO runs(key, started) SELECT ?, ? WHERE NOT "
                                          "EXISTS (SELECT 1 FROM runs WHERE key = ?)"));
            addRun.addBindValue(intent.run);
            addRun.addBindValue(QDateTime::currentMSecsSinceEpoch());
            addRun.addBindValue(intent.run);
            QSqlQuery add(database);
            add.prepare(QStringLiteral(
                "INSERT INTO files(run, original, original_size, "
                "original_modified_ns, behavior, suffix, temporary, final, staging, "
                "mono_size, mono_sha256) SELECT number, ?, ?, ?, ?, ?, ?, ?, ?, ?, ? "
                "FROM runs WHERE key = ?"));
            for (const QVariant& value : QVariantList{
                     intent.original, intent.originalSize, intent.originalModifiedNs,
                     rawValue(intent.behavior), intent.suffix, intent.temporary, intent.finalPath,
                     intent.staging, intent.monoSize, intent.monoSha256, intent.run})
                add.addBindValue(value);
            if (!execute(addRun) || !execute(add) || !database.commit()) {
                database.rollback();
                return std::nullopt;
            }
            clearProblem();
            return add.lastInsertId().toLongLong();
        });
}

void RunJournal::recordCompletion(qint64 id, const OriginalWhereabouts& completion) {
    update(QStringLiteral("UPDATE files SET disposition = ?, kept_at = ?, trash_info = ?, "
                          "completed = ? WHERE id = ?"),
           {dispositionWord(completion.disposition), completion.keptAt, completion.trashInfo,
            QDateTime::currentMSecsSinceEpoch(), id});
}

void RunJournal::forget(qint64 id) {
    update(QStringLiteral("DELETE FROM files WHERE id = ?"), {id});
}

void RunJournal::recordUndone(qint64 id) {
    update(QStringLiteral("UPDATE files SET undone = ? WHERE id = ?"),
           {QDateTime::currentMSecsSinceEpoch(), id});
}

QList<JournalRun> RunJournal::runs() {
    return runsWhere({}, {});
}

std::optional<JournalRun> RunJournal::run(qint64 number) {
    const QList<JournalRun> found = runsWhere(QStringLiteral(" WHERE runs.number = ?"), number);
    if (found.isEmpty())
        return std::nullopt;
    return found.first();
}

std::optional<JournalRun> RunJournal::lastUndoable() {
    for (const JournalRun& candidate : runs()) {
        if (std::any_of(
                candidate.files.cbegin(), candidate.files.cend(),
                [](const JournalFile& file) { return file.canBeUndone() || file.interrupted(); }))
            return candidate;
    }
    return std::nullopt;
}
