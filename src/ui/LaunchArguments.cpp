#include "LaunchArguments.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <cstdio>
#include <cstdlib>

namespace LaunchArguments {

namespace {

constexpr int usageErrorExitCode = 2;

void describe(QCommandLineParser& parser) {
    parser.setApplicationDescription(
        QStringLiteral("Finds fake-stereo audio files (two identical channels) and converts them "
                       "to mono.\nFolders given are scanned as soon as the window opens."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("folders"), QStringLiteral("Folders to scan."),
                                 QStringLiteral("[FOLDER...]"));
}

[[noreturn]] void refuse(const QString& message) {
    std::fprintf(stderr, "chanfuse: %s\nTry 'chanfuse --help' for more information.\n",
                 qUtf8Printable(message));
    std::exit(usageErrorExitCode);
}

} // namespace

bool asksForText(const QStringList& arguments) {
    QCommandLineParser parser;
    describe(parser);
    parser.parse(arguments); // foldersToScan reports any mistake
    return parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all")) ||
           parser.isSet(QStringLiteral("version"));
}

QList<QUrl> foldersToScan(const QStringList& arguments) {
    QCommandLineParser parser;
    describe(parser);
    if (!parser.parse(arguments))
        refuse(parser.errorText());
    // Prints --help, --help-all or --version and ends the process, if asked.
    parser.process(arguments);

    QList<QUrl> folders;
    for (const QString& path : parser.positionalArguments()) {
        const QFileInfo info(path);
        if (!info.exists())
            refuse(QStringLiteral("folder does not exist: ") + path);
        if (!info.isDir())
            refuse(QStringLiteral("not a folder: ") + path);
        folders.append(QUrl::fromLocalFile(QDir::cleanPath(info.absoluteFilePath())));
    }
    return folders;
}

} // namespace LaunchArguments
