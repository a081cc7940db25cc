// SPDX-License-Identifier: GPL-3.0-or-later

// Commits a prepared output over an original, as a conversion would, and kills
// itself with SIGKILL right after the Nth change to the folder: the state a
// crash, an out-of-memory kill or a power cut would leave there.
// Usage: commit_until_killed ORIGINAL OUTPUT BEHAVIOUR N [FINAL]
// (FINAL: the suffixed name; without it the output replaces the original).
// The commit is journaled, as a conversion's is.
// Reads the user folders from the environment, as the test that starts it, and
// prints the outcome as a conversion without a log callback logs its lines.
#include "history/JournaledCommit.h"

#include <QCoreApplication>
#include <QStandardPaths>
#include <QUuid>

#include <csignal>

int main(int argc, char** argv) {
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() != 5 && arguments.size() != 6)
        return 2;
    const int killAfter = arguments.at(4).toInt();
    int changes = 0;
    setFolderChangeObserver([killAfter, &changes] {
        if (++changes == killAfter)
            std::raise(SIGKILL);
    });

    Settings::shared().setConvertBehavior(fromRawValue<ConvertBehavior>(arguments.at(3)).value());
    Settings::shared().setConvertTimeoutSeconds(60);
    const FileItem item(QUrl::fromLocalFile(arguments.at(1)));
    const OutputPath output{arguments.at(2), arguments.value(5, arguments.at(1)),
                            item.url.adjusted(QUrl::RemoveFilename).toLocalFile() +
                                QStringLiteral(".sonfold_orig_killed")};
    const std::optional<ConversionOutcome> failure = commitConversion(
        item, std::make_shared<const OriginalLock>(*OriginalLock::acquire(item)), output,
        Settings::shared(), QUuid::createUuid().toString(), ConversionLog({}));
    ConversionLog({})(failure ? failure->text : QStringLiteral("committed"));
    return failure ? 1 : 0;
}
