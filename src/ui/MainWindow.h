// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "LinuxDesktop.h"
#include "model/FileItem.h"

#include <QElapsedTimer>
#include <QSet>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

class BottomBar;
class QMessageBox;
class WindowActions;
class CompletionBanner;
class ConfettiOverlay;
class ContentViewModel;
class DropZone;
class FileTable;
class HistoryWindow;
class InfoLogSheet;
class QStackedWidget;
class ToolbarRow;

// The application's one window. It owns the view model and redraws from its
// published state on every change; the whole window takes dropped files and
// folders. Work that cannot be undone (replacing originals, giving up a
// conversion under way) is confirmed first, in window-modal boxes that never
// wait in a loop of their own. Its size, place and last folder are kept.
class MainWindow : public QWidget {
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    ContentViewModel& viewModel() const { return *model; }
    const WindowActions& windowActions() const { return *actions; }

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
    void connectActions();
    void refreshActions();
    void refreshProgress();
    // Runs `then` at once, or once the user agreed to the box's question.
    void confirmThen(const char* name, const QString& question, const QString& details,
                     const QString& acceptText, std::function<void()> then,
                     bool offersDontAsk = false);
    void requestConversion(const QList<FileItemPtr>& rowItems, bool wholeSelection);
    // Anything that replaces the list: during a conversion run, first ask
    // to stop it.
    void replacingListThen(std::function<void()> then);
    void showHistory();
    void offerToPutBack();
    void showShortcuts();
    void showAbout();
    void saveGeometryToSettings() const;

    LinuxDesktop desktop;
    const std::unique_ptr<ContentViewModel> model;
    WindowActions* const actions;
    HistoryWindow* history = nullptr;
    QSet<qint64> offeredPutBack;
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
    bool quitConfirmed = false;
    QUrl storedFolder;
};
