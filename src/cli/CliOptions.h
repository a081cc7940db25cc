// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariantHash>

#include <optional>
#include <variant>

enum class CliCommand { scan, convert, history, undo };

// What one invocation asks for. `settingOverrides` maps settings keys to the
// values this run uses instead of the stored ones.
struct CliOptions {
    CliCommand command = CliCommand::scan;
    QList<QUrl> folders;
    QVariantHash settingOverrides;
    std::optional<QString> ffmpegPath;
    // undo: the run's number, or nothing for the last run.
    std::optional<qint64> run;
    bool json = false;
    bool dryRun = false;
    bool verbose = false;
};

// A mistake in the invocation, worded for the user.
struct UsageError {
    QString message;
};

// Parses the arguments (the program name first) and the CHANFUSE_FFMPEG
// variable. --help and --version print and end the process here.
std::variant<CliOptions, UsageError> parseCommandLine(const QStringList& arguments);

// Makes the options take effect in this process only; the settings store is
// never written.
void applyForThisRun(const CliOptions& options);
