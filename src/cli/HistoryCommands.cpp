// SPDX-License-Identifier: GPL-3.0-or-later

#include "HistoryCommands.h"

#include "ConsoleStreams.h"
#include "ExitCodes.h"
#include "ItemReport.h"

#include "history/RunJournal.h"
#include "history/UndoConversion.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <csignal>

namespace {

constexpr int refusedExitCode = 1;
constexpr int noSuchRunExitCode = 2;

volatile std::sig_atomic_t interrupted = 0;

void onInterruption(int) {
    interrupted = 1;
}

void stopBetweenFiles() {
    struct sigaction action {};
    action.sa_handler = onInterruption;
    sigemptyset(&action.sa_mask);
    for (const int interruption : {SIGINT, SIGTERM, SIGHUP})
        sigaction(interruption, &action, nullptr);
}

const char* const dispositionWords[] = {"trash", "backup", "kept", "overwritten"};

QJsonValue textOrNull(const QString& text) {
    return text.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(text);
}

QString behaviorOf(const JournalRun& run) {
    return rawValue(run.files.first().intent.behavior);
}

QJsonObject runAsJson(const JournalRun& run) {
    QJsonArray files;
    for (const JournalFile& file : run.files)
        files.append(QJsonObject{
            {QStringLiteral("original"), file.intent.original},
            {QStringLiteral("converted"), file.intent.finalPath},
            {QStringLiteral("originalWentTo"),
             file.completion ? QLatin1String(dispositionWords[int(file.completion->disposition)])
                             : QLatin1String("interrupted")},
            {QStringLiteral("keptAt"),
             textOrNull(file.completion ? file.completion->keptAt : QString())},
            {QStringLiteral("undone"), file.undone}});
    return QJsonObject{{QStringLiteral("run"), run.number},
                       {QStringLiteral("started"), run.started.toString(Qt::ISODate)},
                       {QStringLiteral("behavior"), behaviorOf(run)},
                       {QStringLiteral("spaceSaved"), run.spaceSaved()},
                       {QStringLiteral("files"), files}};
}

void writeJson(std::FILE* results, const QJsonDocument& document) {
    const QByteArray text = document.toJson(QJsonDocument::Indented);
    std::fwrite(text.constData(), 1, size_t(text.size()), results);
    std::fflush(results);
}

int listRuns(const CliOptions& options, std::FILE* results) {
    const QList<JournalRun> runs = RunJournal::runs();
    if (options.json) {
        QJsonArray array;
        for (const JournalRun& run : runs)
            array.append(runAsJson(run));
        writeJson(results, QJsonDocument(array));
        return 0;
    }
    for (const JournalRun& run : runs) {
        qsizetype undone = 0;
        qsizetype undoable = 0;
        qsizetype interrupted = 0;
        for (const JournalFile& file : run.files) {
            undone += file.undone;
            undoable += file.canBeUndone();
            interrupted += file.interrupted();
        }
        QStringList fields{QString::number(run.number),
                           run.started.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")),
                           QString::number(run.files.size()), QString::number(run.spaceSaved()),
                           behaviorOf(run)};
        if (interrupted > 0)
            fields.append(QStringLiteral("%1 interrupted").arg(interrupted));
        else if (undone == run.files.size())
            fields.append(QStringLiteral("undone"));
        else if (undone > 0)
            fields.append(QStringLiteral("%1 undone").arg(undone));
        else if (undoable == 0)
            fields.append(QStringLiteral("cannot be undone"));
        writeLine(results, fields.join(u'\t'));
    }
    return 0;
}

const char* resultWord(UndoResult result) {
    switch (result) {
    case UndoResult::undone:
        return "undone";
    case UndoResult::wouldUndo:
        return "would undo";
    case UndoResult::putBack:
        return "put back";
    case UndoResult::finished:
        return "finished";
    case UndoResult::refused:
        break;
    }
    return "refused";
}

int undoRun(const CliOptions& options, std::FILE* results) {
    std::optional<JournalRun> run;
    if (options.run)
        run = RunJournal::run(*options.run);
    else
        run = RunJournal::lastUndoable();
    if (!run) {
        writeLine(stderr,
                  options.run
                      ? QStringLiteral("chanfuse-cli: no run %1 in the history").arg(*options.run)
                      : QStringLiteral("chanfuse-cli: nothing left to undo"));
        return noSuchRunExitCode;
    }
    stopBetweenFiles();
    QJsonArray outcomes;
    bool refused = false;
    for (const JournalFile& file : std::as_const(run->files)) {
        if (interrupted)
            break;
        if (file.undone)
            continue;
        const UndoOutcome outcome = undoConversion(file, options.dryRun);
        refused = refused || outcome.result == UndoResult::refused;
        if (options.json) {
            outcomes.append(
                QJsonObject{{QStringLiteral("original"), file.intent.original},
                            {QStringLiteral("converted"), file.intent.finalPath},
                            {QStringLiteral("outcome"), QLatin1String(resultWord(outcome.result))},
                            {QStringLiteral("reason"), textOrNull(outcome.text)}});
            continue;
        }
        QStringList fields{QLatin1String(resultWord(outcome.result)),
                           escapedForTerminal(file.intent.original)};
        if (!outcome.text.isEmpty())
            fields.append(escapedForTerminal(outcome.text));
        writeLine(results, fields.join(u'\t'));
    }
    if (options.json)
        writeJson(results, QJsonDocument(QJsonObject{{QStringLiteral("run"), run->number},
                                                     {QStringLiteral("dryRun"), options.dryRun},
                                                     {QStringLiteral("files"), outcomes}}));
    if (interrupted)
        return interruptedExitCode;
    return refused ? refusedExitCode : 0;
}

} // namespace

void tellOfInterruptedRuns() {
    for (const JournalRun& run : RunJournal::runs()) {
        if (std::any_of(run.files.cbegin(), run.files.cend(),
                        [](const JournalFile& file) { return file.interrupted(); }))
            writeLine(stderr, QStringLiteral("chanfuse-cli: run %1 was interrupted during a "
                                             "conversion; 'chanfuse-cli undo %1' puts it back")
                                  .arg(run.number));
    }
}

int runHistoryCommand(const CliOptions& options, std::FILE* results) {
    return options.command == CliCommand::undo ? undoRun(options, results)
                                               : listRuns(options, results);
}
