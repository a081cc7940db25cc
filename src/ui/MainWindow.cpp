#include "MainWindow.h"

#include "BottomBar.h"
#include "CompletionBanner.h"
#include "ConfettiOverlay.h"
#include "DarkTheme.h"
#include "DropZone.h"
#include "FileTable.h"
#include "InfoLogSheet.h"
#include "PreferencesDialog.h"
#include "ToolbarRow.h"
#include "viewmodel/ContentViewModel.h"

#include <QAction>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFrame>
#include <QMimeData>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <memory>

namespace {

constexpr qint64 rowsSpacingMs = 100;
constexpr int conversionsLetGoLimitMs = 15000;

QFrame* separatorLine(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    line->setFixedHeight(1);
    QPalette palette = line->palette();
    palette.setColor(QPalette::WindowText, QColor(255, 255, 255, 36));
    line->setPalette(palette);
    return line;
}

} // namespace

MainWindow::MainWindow(QWidget* parent)
    : QWidget(parent), desktop(this), model(std::make_unique<ContentViewModel>(&desktop)),
      toolbar(new ToolbarRow(*model, this)), content(new QStackedWidget(this)),
      dropZone(new DropZone(content)), table(new FileTable(*model, content)),
      bottomBar(new BottomBar(*model, this)), confetti(new ConfettiOverlay(this)),
      banner(new CompletionBanner(this)), infoLog(new InfoLogSheet(this)) {
    setWindowTitle(QStringLiteral("Chanfuse"));
    setMinimumSize(800, 600);
    resize(1000, 680);
    setAcceptDrops(true);
    setAutoFillBackground(true);
    QPalette background = palette();
    background.setColor(QPalette::Window, ThemeColors::windowBackground());
    setPalette(background);

    dropZone->setObjectName(QStringLiteral("dropZone"));
    table->setObjectName(QStringLiteral("fileTable"));
    content->addWidget(dropZone);
    content->addWidget(table);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(toolbar);
    layout->addWidget(separatorLine(this));
    layout->addWidget(content, 1);
    layout->addWidget(separatorLine(this));
    layout->addWidget(bottomBar);

    confetti->hide();
    banner->raise();

    rowsRefresh.setSingleShot(true);
    connect(&rowsRefresh, &QTimer::timeout, this, [this] {
        sinceRowsRefresh.start();
        table->refresh();
    });
    auto* preferences = new QAction(QStringLiteral("Preferences"), this);
    QList<QKeySequence> preferencesKeys = QKeySequence::keyBindings(QKeySequence::Preferences);
    if (!preferencesKeys.contains(QKeySequence(Qt::CTRL | Qt::Key_Comma)))
        preferencesKeys.append(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    preferences->setShortcuts(preferencesKeys);
    preferences->setShortcutContext(Qt::WindowShortcut);
    addAction(preferences);
    connect(preferences, &QAction::triggered, this, &MainWindow::openPreferences);
    connect(toolbar, &ToolbarRow::preferencesRequested, this, &MainWindow::openPreferences);

    connect(bottomBar, &BottomBar::cleared, table, &FileTable::clearHighlight);
    connect(banner, &CompletionBanner::clicked, this,
            [this] { model->setShowConversionComplete(false); });
    connect(infoLog, &InfoLogSheet::closeRequested, this, [this] { model->setShowDebug(false); });
    connect(infoLog, &QDialog::rejected, this, [this] { model->setShowDebug(false); });
    connect(model.get(), &ContentViewModel::changed, this, &MainWindow::refresh);
    refresh();
}

MainWindow::~MainWindow() {
    // The widgets refer to the view model, so they go first.
    disconnect(model.get(), nullptr, this, nullptr);
    qDeleteAll(findChildren<QWidget*>(Qt::FindDirectChildrenOnly));
}

// Quitting in the middle of a conversion cancels it, but never mid-step: the
// worker removes a temporary output or completes a disposal under way (an
// original half-replaced would be lost) before the process ends.
void MainWindow::closeEvent(QCloseEvent* event) {
    if (!model->hasConversionsInFlight()) {
        event->accept();
        return;
    }
    event->ignore();
    if (waitingToQuit)
        return;
    waitingToQuit = true;
    hide();
    model->stopAllConversions();

    auto* limit = new QTimer(this);
    limit->setSingleShot(true);
    const auto letGo = std::make_shared<QMetaObject::Connection>();
    const auto quit = [this, limit, letGo] {
        limit->stop();
        disconnect(*letGo);
        emit readyToQuit();
    };
    *letGo = connect(model.get(), &ContentViewModel::changed, this, [this, quit] {
        if (!model->hasConversionsInFlight())
            quit();
    });
    // Past this, a file step stuck on a dead mount is given up on.
    connect(limit, &QTimer::timeout, this, quit);
    limit->start(conversionsLetGoLimitMs);
}

void MainWindow::refresh() {
    toolbar->refresh();
    bottomBar->refresh();
    const bool nothingToList = model->items().isEmpty() && !model->isScanning();
    content->setCurrentWidget(nothingToList ? static_cast<QWidget*>(dropZone) : table);
    scheduleRowsRefresh();
    refreshOverlays();
    refreshInfoLog();
}

void MainWindow::scheduleRowsRefresh() {
    if (rowsRefresh.isActive())
        return;
    const qint64 since = sinceRowsRefresh.isValid() ? sinceRowsRefresh.elapsed() : rowsSpacingMs;
    rowsRefresh.start(int(std::max<qint64>(0, rowsSpacingMs - since)));
}

void MainWindow::refreshOverlays() {
    if (model->showConfetti() == confetti->isHidden()) {
        if (model->showConfetti()) {
            confetti->setGeometry(rect());
            confetti->show();
            confetti->raise();
            banner->raise();
            confetti->start();
        } else {
            confetti->stop();
            confetti->hide();
        }
    }
    banner->setMessage(model->conversionCompleteMessage());
    banner->setShown(model->showConversionComplete());
}

void MainWindow::refreshInfoLog() {
    if (!model->showDebug()) {
        if (infoLog->isVisible())
            infoLog->hide();
        return;
    }
    infoLog->showLog(model->debugLog(), model->loggedLineCount());
    if (!infoLog->isVisible())
        infoLog->open();
}

namespace {

// Only ever a copy: a drag source that honours a reported move would delete
// the user's originals once they were dropped here.
bool acceptAsCopy(QDropEvent* event) {
    if (!event->mimeData()->hasUrls() || !(event->possibleActions() & Qt::CopyAction))
        return false;
    event->setDropAction(Qt::CopyAction);
    event->accept();
    return true;
}

} // namespace

void MainWindow::openPreferences() {
    // One at a time; a closed one may still await its deletion.
    for (const PreferencesDialog* open : findChildren<PreferencesDialog*>()) {
        if (open->isVisible())
            return;
    }
    auto* dialog = new PreferencesDialog(this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->open();
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
    acceptAsCopy(event);
}

void MainWindow::dragMoveEvent(QDragMoveEvent* event) {
    acceptAsCopy(event);
}

void MainWindow::dropEvent(QDropEvent* event) {
    if (acceptAsCopy(event))
        model->handleDrop(event->mimeData()->urls());
}

void MainWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    confetti->setGeometry(rect());
    banner->reposition();
}
