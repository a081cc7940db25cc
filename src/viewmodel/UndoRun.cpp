// SPDX-License-Identifier: GPL-3.0-or-later

#include "viewmodel/UndoRun.h"

#include "exec/WorkerThreads.h"
#include "history/UndoConversion.h"

namespace {

void undo(std::optional<qint64> number, const QList<qint64>& fileIds, std::stop_token stop,
          const std::shared_ptr<const UndoRun::Events>& events) {
    const auto post = [events](std::function<void(const UndoRun::Events&)> call) {
        postToGuiThread([events, call = std::move(call)] {
            if (events->receiver)
                call(*events);
        });
    };
    const auto tell = [&post](const QString& line) {
        post([line](const UndoRun::Events& to) { to.logged(line); });
    };
    const std::optional<JournalRun> run =
        number ? RunJournal::run(*number) : RunJournal::lastUndoable();
    if (!run)
        tell(QStringLiteral("Nothing to undo"));
    QList<JournalFile> files;
    for (const JournalFile& file : run ? run->files : QList<JournalFile>())
        if ((file.canBeUndone() || file.interrupted()) &&
            (fileIds.isEmpty() || fileIds.contains(file.id)))
            files.append(file);
    for (qsizetype done = 0; done < files.size(); ++done) {
        if (stop.stop_requested()) {
            tell(QStringLiteral("Undo stopped: %1 of %2 files taken back")
                     .arg(done)
                     .arg(files.size()));
            break;
        }
        post([share = double(done) / double(files.size())](const UndoRun::Events& to) {
            to.progressed(share);
        });
        const JournalFile& file = files[done];
        const UndoOutcome outcome = undoConversion(file);
        if (outcome.result == UndoResult::putBack || outcome.result == UndoResult::finished) {
            tell(QStringLiteral("Interrupted conversion put right: ") + file.intent.original);
            continue;
        }
        if (outcome.result != UndoResult::undone) {
            tell(outcome.text + QStringLiteral(" (") + file.intent.original + u')');
            continue;
        }
        post([original = file.intent.original](const UndoRun::Events& to) { to.undone(original); });
    }
    post([runs = RunJournal::runs()](const UndoRun::Events& to) {
        to.historyRead(runs);
        to.progressed(1.0);
        to.finished();
    });
}

} // namespace

void UndoRun::start(std::optional<qint64> number, QList<qint64> fileIds, std::stop_token stop,
                    Events events) {
    startDetachedWorker([number, fileIds = std::move(fileIds), stop,
                         events = std::make_shared<const Events>(std::move(events))] {
        undo(number, fileIds, stop, events);
    });
}
