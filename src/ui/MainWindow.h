#pragma once

#include "LinuxDesktop.h"

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include <memory>

class BottomBar;
class CompletionBanner;
class ConfettiOverlay;
class ContentViewModel;
class DropZone;
class FileTable;
class InfoLogSheet;
class QStackedWidget;
class ToolbarRow;

// The application's one window. It owns the view model and redraws from its
// published state on every change; the whole window takes dropped files and
// folders.
class MainWindow : public QWidget {
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    ContentViewModel& viewModel() const { return *model; }

signals:
    // Closed while files were being converted: the window has gone, and the
    // conversions have let go of their files (or were given up on).
    void readyToQuit();

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void refresh();
    void refreshOverlays();
    void refreshInfoLog();
    void openPreferences();

    LinuxDesktop desktop;
    const std::unique_ptr<ContentViewModel> model;
    ToolbarRow* toolbar;
    QStackedWidget* content;
    DropZone* dropZone;
    FileTable* table;
    BottomBar* bottomBar;
    ConfettiOverlay* confetti;
    CompletionBanner* banner;
    InfoLogSheet* infoLog;
    // Table rows are re-read on the next event-loop turn after a change, but
    // at most ten times a second while changes keep coming (a scan announces
    // every log line), since re-filtering and re-sorting costs milliseconds.
    void scheduleRowsRefresh();
    QTimer rowsRefresh;
    QElapsedTimer sinceRowsRefresh;
    bool waitingToQuit = false;
};
