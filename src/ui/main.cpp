#include "DarkTheme.h"
#include "FFmpegCheck.h"
#include "MainWindow.h"
#include "exec/DetachedWorker.h"

#include <QApplication>
#include <QIcon>
#include <QTimer>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Chanfuse"));
    QApplication::setDesktopFileName(QStringLiteral("chanfuse"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/chanfuse/chanfuse.svg")));
    applyDarkTheme(app);

    MainWindow window;
    QObject::connect(&window, &MainWindow::readyToQuit, &app, &QCoreApplication::quit);
    window.show();
    // Once the window is up, so the warning has a window to sit on.
    QTimer::singleShot(0, &window, [&window] { FFmpegCheck::check(&window); });
    // A scan or conversion still running is left behind, not waited for.
    exitLeavingWorkers(app.exec());
}
