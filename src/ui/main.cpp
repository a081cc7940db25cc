#include "DarkTheme.h"
#include "FFmpegCheck.h"
#include "LaunchArguments.h"
#include "MainWindow.h"
#include "exec/WorkerThreads.h"
#include "viewmodel/ContentViewModel.h"

#include <QApplication>
#include <QIcon>
#include <QTimer>

namespace {

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
    if (LaunchArguments::asksForText(argumentsOf(argc, argv))) {
        QCoreApplication textOnly(argc, argv);
        LaunchArguments::foldersToScan(QCoreApplication::arguments());
    }

    QApplication app(argc, argv);
    // Read after QApplication has taken out the options meant for Qt.
    const QList<QUrl> folders = LaunchArguments::foldersToScan(QCoreApplication::arguments());
    QApplication::setDesktopFileName(QStringLiteral("chanfuse"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/chanfuse/chanfuse.svg")));
    applyDarkTheme(app);

    MainWindow window;
    QObject::connect(&window, &MainWindow::readyToQuit, &app, &QCoreApplication::quit);
    window.show();
    // Once the window is up, so the warning has a window to sit on.
    QTimer::singleShot(0, &window, [&window, folders] {
        FFmpegCheck::check(&window);
        window.viewModel().startScanFolders(folders);
    });
    // A scan or conversion still running is left behind, not waited for.
    exitLeavingWorkers(app.exec());
}
