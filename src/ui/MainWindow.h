#pragma once

#include "LinuxDesktop.h"

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

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void refresh();
    void refreshOverlays();
    void refreshInfoLog();

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
    // Table rows are re-read once per event-loop turn, however many changes
    // the view model announced in it.
    QTimer rowsRefresh;
};
