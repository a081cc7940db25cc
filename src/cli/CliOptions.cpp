// SPDX-License-Identifier: GPL-3.0-or-later

#include "CliOptions.h"

#include "exec/FFmpegLocator.h"
#include "model/Settings.h"
#include "model/Statuses.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>

#include <limits>

namespace {

const QString description = QStringLiteral(
    "Finds fake-stereo audio files (two identical channels) and converts them to mono.\n"
    "\n"
    "Commands:\n"
    "  scan FOLDER...     list every audio file with its verdict, tab-separated:\n"
    "                     status, channels, size in bytes, path (sorted by path)\n"
    "  convert FOLDER...  scan, then convert every fake-stereo file\n"
    "  history            list the conversion runs, newest first, tab-separated:\n"
    "                     run, date, files, bytes saved, behavior, state\n"
    "  undo RUN|--last    take a run back: each original where it was before,\n"
    "                     each converted file in the trash; what a killed run\n"
    "                     left halfway is put back\n"
    "\n"
    "Options not given keep the values stored by the Chanfuse window; the options\n"
    "apply to this run only and are never stored.\n"
    "\n"
    "Environment:\n"
    "  CHANFUSE_FFMPEG    path of the ffmpeg to use (ffprobe is taken from the same\n"
    "                     folder); otherwise the usual places and PATH are searched\n"
    "  CHANFUSE_ANALYZER  path of the chanfuse-analyzer that analyses files with\n"
    "                     FFmpeg's libraries; empty: ffprobe and ffmpeg analyse\n"
    "\n"
    "Exit status: 0 every file handled, 1 a file ended in error, timed out or\n"
    "could not be undone, 2 usage error, 130 interrupted (Ctrl-C, SIGTERM or\n"
    "SIGHUP).");

// The option's word for each case; the stored value is the case's label.
template <class Enum>
std::optional<QString> chosen(const QString& given,
                              std::initializer_list<std::pair<const char*, Enum>> words) {
    for (const auto& [word, value] : words) {
        if (given == QLatin1String(word))
            return rawValue(value);
    }
    return std::nullopt;
}

std::optional<qint64> numberIn(const QString& text, SettingRange range) {
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    if (!ok || !range.contains(value))
        return std::nullopt;
    return value;
}

std::optional<UsageError> readFolders(const QStringList& paths, CliOptions& options) {
    if (paths.isEmpty())
        return UsageError{QStringLiteral("no folder given")};
    for (const QString& path : paths) {
        const QFileInfo info(path);
        if (!info.exists())
            return UsageError{QStringLiteral("folder does not exist: ") + path};
        if (!info.isDir())
            return UsageError{QStringLiteral("not a folder: ") + path};
        options.folders.append(QUrl::fromLocalFile(QDir::cleanPath(info.absoluteFilePath())));
    }
    return std::nullopt;
}

std::optional<UsageError> readFFmpegChoice(CliOptions& options) {
    const QString chosenPath = qEnvironmentVariable("CHANFUSE_FFMPEG");
    if (chosenPath.isEmpty())
        return std::nullopt;
    const QFileInfo info(chosenPath);
    if (!info.isFile() || !info.isExecutable())
        return UsageError{QStringLiteral("CHANFUSE_FFMPEG is not an executable file: ") +
                          chosenPath};
    options.ffmpegPath = info.absoluteFilePath();
    return std::nullopt;
}

} // namespace

std::variant<CliOptions, UsageError> parseCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(description);
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("command"),
                                 QStringLiteral("scan, convert, history or undo"));
    parser.addPositionalArgument(QStringLiteral("folders"), QStringLiteral("Folders to scan."),
                                 QStringLiteral("FOLDER..."));

    const QCommandLineOption method(
        QStringLiteral("method"), QStringLiteral("Channel comparison: byte-exact or statistical."),
        QStringLiteral("method"));
    const QCommandLineOption scanSeconds(QStringLiteral("scan-seconds"),
                                         QStringLiteral("Seconds of audio compared per file."),
                                         QStringLiteral("N"));
    const QCommandLineOption jobs(QStringLiteral("jobs"), QStringLiteral("Files analysed at once."),
                                  QStringLiteral("N"));
    const QCommandLineOption behavior(
        QStringLiteral("behavior"),
        QStringLiteral("What becomes of each original: trash, overwrite or backup."),
        QStringLiteral("behavior"));
    const QCommandLineOption suffix(QStringLiteral("suffix"),
                                    QStringLiteral("Suffix of the converted file's name."),
                                    QStringLiteral("text"));
    const QCommandLineOption noSuffix(QStringLiteral("no-suffix"),
                                      QStringLiteral("Give the converted file no suffix."));
    const QCommandLineOption timeout(QStringLiteral("timeout"),
                                     QStringLiteral("Time limit of one conversion, in seconds."),
                                     QStringLiteral("N"));
    const QCommandLineOption json(QStringLiteral("json"),
                                  QStringLiteral("Print the files as one JSON array."));
    const QCommandLineOption dryRun(QStringLiteral("dry-run"),
                                    QStringLiteral("convert, undo: list what would be done, "
                                                   "change nothing."));
    const QCommandLineOption last(QStringLiteral("last"),
                                  QStringLiteral("undo: take back the newest run."));
    const QCommandLineOption verbose(
        QStringLiteral("verbose"),
        QStringLiteral("Write the log lines to standard error (instead of a progress bar)."));
    parser.addOptions({method, scanSeconds, jobs, behavior, suffix, noSuffix, timeout, json, dryRun,
                       last, verbose});

    if (!parser.parse(arguments))
        return UsageError{parser.errorText()};
    if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all")))
        parser.process(arguments); // prints the help asked for and ends the process
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();

    CliOptions options;
    QStringList positional = parser.positionalArguments();
    if (positional.isEmpty())
        return UsageError{QStringLiteral("no command given (scan, convert, history or undo)")};
    const QString command = positional.takeFirst();
    if (command == u"scan")
        options.command = CliCommand::scan;
    else if (command == u"convert")
        options.command = CliCommand::convert;
    else if (command == u"history")
        options.command = CliCommand::history;
    else if (command == u"undo")
        options.command = CliCommand::undo;
    else
        return UsageError{QStringLiteral("unknown command: ") + command};
    if (options.command == CliCommand::history) {
        if (!positional.isEmpty())
            return UsageError{QStringLiteral("history takes no arguments")};
    } else if (options.command == CliCommand::undo) {
        if (positional.size() + int(parser.isSet(last)) != 1)
            return UsageError{QStringLiteral("undo needs one run number, or --last")};
        if (!positional.isEmpty()) {
            options.run = numberIn(positional.first(), {1, std::numeric_limits<qint64>::max()});
            if (!options.run)
                return UsageError{QStringLiteral("not a run number: ") + positional.first()};
        }
    } else if (const auto error = readFolders(positional, options)) {
        return *error;
    }

    if (parser.isSet(method)) {
        const auto value = chosen<ComparisonMethod>(
            parser.value(method), {{"byte-exact", ComparisonMethod::byteExact},
                                   {"statistical", ComparisonMethod::statistical}});
        if (!value)
            return UsageError{QStringLiteral("--method must be byte-exact or statistical")};
        options.settingOverrides.insert(QStringLiteral("comparisonMethod"), *value);
    }
    if (parser.isSet(behavior)) {
        const auto value = chosen<ConvertBehavior>(parser.value(behavior),
                                                   {{"trash", ConvertBehavior::trash},
                                                    {"overwrite", ConvertBehavior::overwrite},
                                                    {"backup", ConvertBehavior::backup}});
        if (!value)
            return UsageError{QStringLiteral("--behavior must be trash, overwrite or backup")};
        options.settingOverrides.insert(QStringLiteral("convertBehavior"), *value);
    }
    const struct {
        const QCommandLineOption* option;
        QString key;
        SettingRange range;
    } numbers[]{
        {&scanSeconds, QStringLiteral("scanLimitSeconds"), Settings::scanLimitSecondsRange},
        {&jobs, QStringLiteral("parallelScans"), Settings::parallelScansRange},
        {&timeout, QStringLiteral("convertTimeoutSeconds"), Settings::convertTimeoutSecondsRange}};
    for (const auto& [option, key, range] : numbers) {
        if (!parser.isSet(*option))
            continue;
        const auto value = numberIn(parser.value(*option), range);
        if (!value)
            return UsageError{QStringLiteral("--%1 must be a whole number from %2 to %3")
                                  .arg(option->names().first())
                                  .arg(range.minimum)
                                  .arg(range.maximum)};
        options.settingOverrides.insert(key, QVariant::fromValue(*value));
    }
    if (parser.isSet(suffix)) {
        if (const auto refusal = Settings::suffixRefusal(parser.value(suffix)))
            return UsageError{QStringLiteral("--suffix: ") + *refusal};
        options.settingOverrides.insert(QStringLiteral("suffix"), parser.value(suffix));
    }
    if (parser.isSet(noSuffix))
        options.settingOverrides.insert(QStringLiteral("appendFilename"), false);

    options.json = parser.isSet(json);
    options.dryRun = parser.isSet(dryRun);
    options.verbose = parser.isSet(verbose);
    if (const auto error = readFFmpegChoice(options))
        return *error;
    return options;
}

void applyForThisRun(const CliOptions& options) {
    for (auto override = options.settingOverrides.cbegin();
         override != options.settingOverrides.cend(); ++override)
        Settings::shared().overrideForThisProcess(override.key(), override.value());
    if (options.ffmpegPath)
        FFmpegLocator::setFixedCandidates({*options.ffmpegPath});
}
