// SPDX-License-Identifier: GPL-3.0-or-later

#include "DarkTheme.h"
#include "FFmpegCheck.h"
#include "MainWindow.h"
#include "exec/WorkerThreads.h"
#include "viewmodel/ContentViewModel.h"
#include "viewmodel/LogFile.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

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

// Whether the arguments ask for the help or the version text. Needs no
// application object, so that text can be printed without a display.
bool asksForText(const QStringList& arguments) {
    QCommandLineParser parser;
    describe(parser);
    parser.parse(arguments); // foldersToScan reports any mistake
    return parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all")) ||
           parser.isSet(QStringLiteral("version"));
}

// `chanfuse [FOLDER...]`, as a file manager's "Open With" passes them too.
// Prints the help or version text and ends the process, or prints a usage
// error and ends it with status 2; otherwise returns the folders to scan.
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

QStringList argumentsOf(int argc, char** argv) {
    QStringList arguments;
    for (int index = 0; index < argc; ++index)
        arguments.append(QString::fromLocal8Bit(argv[index]));
    return arguments;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication::setApplicationName(QStringLiteral("Chanfuse"));
    QCoreApplication::setApplicationVersion(QStringLiteral(CHANFUSE_VERSION));
    // The window's application object needs a display; `chanfuse --help` in a
    // terminal without one must still answer.
    if (asksForText(argumentsOf(argc, argv))) {
        QCoreApplication textOnly(argc, argv);
        foldersToScan(QCoreApplication::arguments());
    }

    QApplication app(argc, argv);
    // Read after QApplication has taken out the options meant for Qt.
    const QList<QUrl> folders = foldersToScan(QCoreApplication::arguments());
    QApplication::setDesktopFileName(QStringLiteral("chanfuse"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/chanfuse/chanfuse.svg")));
    applyDarkTheme(app);

    MainWindow window;
    QObject::connect(&window, &MainWindow::readyToQuit, &app, &QCoreApplication::quit);
    window.show();
    // Once the window is up, so the warning has a window to sit on.
    QTimer::singleShot(0, &window, [&window, folders] {
        FFmpegCheck::start(window);
        window.viewModel().startScanFolders(folders);
    });
    const int exitCode = app.exec();
    flushLogFile();
    // A scan or conversion still running is left behind, not waited for.
    exitLeavingWorkers(exitCode);
}
