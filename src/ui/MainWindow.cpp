// SPDX-License-Identifier: GPL-3.0-or-later

#include "MainWindow.h"

#include "BottomBar.h"
#include "CompletionBanner.h"
#include "ConfettiOverlay.h"
#include "DarkTheme.h"
#include "DropZone.h"
#include "FileTable.h"
#include "HistoryWindow.h"
#include "InfoLogSheet.h"
#include "PreferencesDialog.h"
#include "ToolbarRow.h"
#include "WindowActions.h"
#include "exec/FFmpegLocator.h"
#include "model/Settings.h"
#include "viewmodel/ContentViewModel.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFrame>
#include <QLocale>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <memory>

namespace {

constexpr qint64 rowsSpacingMs = 100;
const QString geometryKey = QStringLiteral("window/geometry");
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
      actions(new WindowActions(this)), toolbar(new ToolbarRow(*model, *actions, this)),
      content(new QStackedWidget(this)), dropZone(new DropZone(content)),
      table(new FileTable(*model, content)), bottomBar(new BottomBar(*model, this)),
      confetti(new ConfettiOverlay(this)), banner(new CompletionBanner(this)),
      infoLog(new InfoLogSheet(this)) {
    setWindowTitle(QStringLiteral("Chanfuse"));
    // The layout's own minimum is the window's: small enough for half a
    // 1600×1000 screen (200 % scaling) with every control on it.
    const QSettings store(QStringLiteral("Chanfuse"), QStringLiteral("Chanfuse"));
    if (!restoreGeometry(store.value(geometryKey).toByteArray())) {
        const QSize room = screen() ? screen()->availableSize() * 0.9 : QSize(1000, 680);
        resize(QSize(1000, 680).boundedTo(room));
    }
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
    layout->setMenuBar(actions->makeMenuBar(this));
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
    connectActions();
    connect(bottomBar, &BottomBar::convertRequested, this, [this] { requestConversion({}, true); });
    connect(table, &FileTable::convertRequested, this,
            [this](const QList<FileItemPtr>& items) { requestConversion(items, false); });
    connect(bottomBar, &BottomBar::cleared, table, &FileTable::clearHighlight);
    connect(banner, &CompletionBanner::clicked, this,
            [this] { model->setShowConversionComplete(false); });
    connect(banner, &CompletionBanner::undoRequested, model.get(), &ContentViewModel::undoLastRun);
    connect(banner, &CompletionBanner::showFailures, this,
            [this] { model->setShowFilter(ShowFilter::failures); });
    connect(infoLog, &InfoLogSheet::closeRequested, this, [this] { model->setShowDebug(false); });
    connect(infoLog, &QDialog::rejected, this, [this] { model->setShowDebug(false); });
    connect(model.get(), &ContentViewModel::changed, this, &MainWindow::refresh);
    // Long work ending while the user is elsewhere is worth a notification.
    connect(model.get(), &ContentViewModel::historyChanged, this, &MainWindow::offerToPutBack);
    connect(model.get(), &ContentViewModel::scanFinished, this, [this] {
        // What a killed run left halfway is found in the history.
        model->loadHistory();
        if (!isActiveWindow())
            desktop.notify(QStringLiteral("Scan complete"),
                           QStringLiteral("%1 files scanned, %2 fake stereo")
                               .arg(model->items().size())
                               .arg(model->fakeStereoCount()));
    });
    connect(model.get(), &ContentViewModel::conversionFinished, this, [this] {
        if (!isActiveWindow() && model->showConversionComplete())
            desktop.notify(QStringLiteral("Conversion complete"),
                           model->conversionCompleteMessage());
    });
    refresh();
}

MainWindow::~MainWindow() {
    // The widgets refer to the view model, so they go first.
    disconnect(model.get(), nullptr, this, nullptr);
    desktop.showProgress(std::nullopt);
    qDeleteAll(findChildren<QWidget*>(Qt::FindDirectChildrenOnly));
}

// Quitting in the middle of a conversion cancels it, but never mid-step: the
// worker removes a temporary output or completes a disposal under way (an
// original half-replaced would be lost) before the process ends.
void MainWindow::closeEvent(QCloseEvent* event) {
    saveGeometryToSettings();
    if (!model->hasConversionsInFlight()) {
        event->accept();
        return;
    }
    event->ignore();
    if (waitingToQuit)
        return;
    if (!quitConfirmed) {
        confirmThen("confirmQuit", QStringLiteral("Stop converting and quit?"),
                    QStringLiteral("The file being converted is left as it was, and the files "
                                   "not reached yet are not converted."),
                    QStringLiteral("Stop and Quit"), [this] {
                        quitConfirmed = true;
                        close();
                    });
        return;
    }
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
    // The folder dialog of the next session opens where this one was.
    if (model->selectedFolder() && *model->selectedFolder() != storedFolder) {
        storedFolder = *model->selectedFolder();
        Settings::shared().setLastFolder(storedFolder.toLocalFile());
    }
    refreshActions();
    refreshProgress();
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
    banner->setMessage(model->conversionCompleteMessage(), model->conversionFailureCount() > 0,
                       model->conversionCanBeUndone() && !model->isUndoing());
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
    connect(dialog, &PreferencesDialog::comparisonChanged, model.get(),
            &ContentViewModel::markVerdictsOutdated);
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
        replacingListThen([this, urls = event->mimeData()->urls()] { model->handleDrop(urls); });
}

void MainWindow::connectActions() {
    connect(actions->openFolder, &QAction::triggered, this,
            [this] { replacingListThen([this] { model->pickFolder(); }); });
    connect(actions->scan, &QAction::triggered, this,
            [this] { replacingListThen([this] { model->startScan(); }); });
    connect(actions->stop, &QAction::triggered, this, [this] {
        if (model->isScanning())
            model->stopScan();
        else if (model->isConverting())
            model->stopConvert();
        else
            model->stopUndo();
    });
    connect(actions->quit, &QAction::triggered, this, &QWidget::close);
    connect(actions->undoConversion, &QAction::triggered, model.get(),
            &ContentViewModel::undoLastRun);
    connect(actions->selectAll, &QAction::triggered, model.get(),
            &ContentViewModel::selectAllFakeStereo);
    connect(actions->selectNone, &QAction::triggered, model.get(), &ContentViewModel::selectNone);
    connect(actions->preferences, &QAction::triggered, this, &MainWindow::openPreferences);
    connect(actions->showAll, &QAction::triggered, this,
            [this] { model->setShowFilter(ShowFilter::all); });
    connect(actions->showFakeStereo, &QAction::triggered, this,
            [this] { model->setShowFilter(ShowFilter::fakeStereoOnly); });
    connect(actions->showFailures, &QAction::triggered, this,
            [this] { model->setShowFilter(ShowFilter::failures); });
    connect(actions->infoLog, &QAction::triggered, model.get(), &ContentViewModel::setShowDebug);
    connect(actions->history, &QAction::triggered, this, &MainWindow::showHistory);
    connect(actions->shortcuts, &QAction::triggered, this, &MainWindow::showShortcuts);
    connect(actions->about, &QAction::triggered, this, &MainWindow::showAbout);
}

// The task bar and the title show how far a scan or a conversion run is.
void MainWindow::refreshProgress() {
    std::optional<double> fraction;
    QString doing;
    if (model->isScanning() && model->totalCount() > 0) {
        fraction = double(model->scannedCount()) / double(model->totalCount());
        doing = QStringLiteral("scanned");
    } else if (model->isConverting()) {
        fraction = model->convertProgress();
        doing = QStringLiteral("converted");
    } else if (model->isUndoing()) {
        fraction = model->undoProgress();
        doing = QStringLiteral("undone");
    }
    desktop.showProgress(fraction);
    setWindowTitle(fraction ? QStringLiteral("Chanfuse — %1% %2")
                                  .arg(qint64(std::trunc(*fraction * 100)))
                                  .arg(doing)
                            : QStringLiteral("Chanfuse"));
}

void MainWindow::refreshActions() {
    const bool scanning = model->isScanning();
    const bool converting = model->isConverting();
    actions->scan->setEnabled(!scanning && model->selectedFolder().has_value());
    actions->stop->setEnabled(scanning || converting || model->isUndoing());
    actions->undoConversion->setEnabled(!scanning && !converting && !model->isUndoing());
    const bool listed = !model->items().isEmpty();
    actions->selectAll->setEnabled(listed);
    actions->selectNone->setEnabled(listed);
    actions->showAll->setChecked(model->showFilter() == ShowFilter::all);
    actions->showFakeStereo->setChecked(model->showFilter() == ShowFilter::fakeStereoOnly);
    actions->showFailures->setChecked(model->showFilter() == ShowFilter::failures);
    actions->infoLog->setChecked(model->showDebug());
}

void MainWindow::confirmThen(const char* name, const QString& question, const QString& details,
                             const QString& acceptText, std::function<void()> then,
                             bool offersDontAsk) {
    auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Chanfuse"), question,
                                QMessageBox::Ok | QMessageBox::Cancel, this);
    box->setObjectName(QLatin1String(name));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    box->setInformativeText(details);
    box->button(QMessageBox::Ok)->setText(acceptText);
    box->setDefaultButton(QMessageBox::Cancel);
    if (offersDontAsk)
        box->setCheckBox(new QCheckBox(QStringLiteral("Don't ask again"), box));
    connect(box, &QMessageBox::finished, this, [box, then](int result) {
        if (result != QMessageBox::Ok)
            return;
        if (box->checkBox() && box->checkBox()->isChecked())
            Settings::shared().setConfirmOverwrite(false);
        then();
    });
    box->open();
}

// Overwriting without a suffix replaces each original for good.
void MainWindow::requestConversion(const QList<FileItemPtr>& rowItems, bool wholeSelection) {
    qsizetype count = rowItems.size();
    if (wholeSelection)
        count =
            std::count_if(model->items().cbegin(), model->items().cend(),
                          [this](const FileItemPtr& item) { return model->isConvertible(item); });
    const auto convert = [this, rowItems, wholeSelection] {
        if (wholeSelection)
            model->convertSelected();
        for (const FileItemPtr& item : rowItems)
            model->convertItem(item);
    };
    const Settings& settings = Settings::shared();
    if (count == 0 || settings.convertBehavior() != ConvertBehavior::overwrite ||
        settings.suffixEnabled() || !settings.confirmOverwrite()) {
        convert();
        return;
    }
    confirmThen(
        "confirmOverwrite",
        count == 1
            ? QStringLiteral("1 original will be replaced and cannot be restored.")
            : QStringLiteral("%1 originals will be replaced and cannot be restored.").arg(count),
        QStringLiteral("Each converted file takes its original's place. To keep the "
                       "originals, choose Move to Trash or Keep Backup in Preferences, "
                       "or turn on Append Filename."),
        QStringLiteral("Replace Originals"), convert, true);
}

void MainWindow::replacingListThen(std::function<void()> then) {
    if (!model->isConverting()) {
        then();
        return;
    }
    confirmThen("confirmStopConversion", QStringLiteral("Stop converting first?"),
                QStringLiteral("A new list replaces the one being converted. The file being "
                               "converted is left as it was, and the files not reached yet are "
                               "not converted."),
                QStringLiteral("Stop Converting"), [this, then] {
                    model->stopConvert();
                    then();
                });
}

// Each run a killed process left halfway is offered once to put right, one
// question at a time.
void MainWindow::offerToPutBack() {
    for (const JournalRun& run : model->history()) {
        QList<qint64> halfway;
        for (const JournalFile& file : run.files) {
            if (file.interrupted())
                halfway.append(file.id);
        }
        if (halfway.isEmpty() || offeredPutBack.contains(run.number))
            continue;
        offeredPutBack.insert(run.number);
        confirmThen("putBackQuestion", QStringLiteral("A conversion was interrupted"),
                    QStringLiteral("Chanfuse ended while converting %1 of the run of %2. Put "
                                   "Back leaves each of them as it was before the run.")
                        .arg(halfway.size() == 1 ? QStringLiteral("1 file")
                                                 : QStringLiteral("%1 files").arg(halfway.size()),
                             QLocale().toString(run.started.toLocalTime(), QLocale::ShortFormat)),
                    QStringLiteral("Put Back"),
                    [this, number = run.number, halfway] { model->undoRun(number, halfway); });
        return;
    }
}

void MainWindow::showHistory() {
    if (!history)
        history = new HistoryWindow(*model, this);
    model->loadHistory();
    history->show();
    history->raise();
}

void MainWindow::showShortcuts() {
    QString rows;
    for (const QString& line : actions->shortcutLines()) {
        const QStringList parts = line.split(u'\t');
        rows += QStringLiteral("<tr><td>%1</td><td>&nbsp;&nbsp;<b>%2</b></td></tr>")
                    .arg(parts.value(0).toHtmlEscaped(), parts.value(1).toHtmlEscaped());
    }
    auto* box = new QMessageBox(QMessageBox::NoIcon, QStringLiteral("Keyboard Shortcuts"),
                                QStringLiteral("<table>") + rows + QStringLiteral("</table>"),
                                QMessageBox::Close, this);
    box->setObjectName(QStringLiteral("shortcutsBox"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void MainWindow::showAbout() {
    const std::optional<QString> ffmpeg = FFmpegLocator::ffmpegPath();
    auto* box = new QMessageBox(
        QMessageBox::NoIcon, QStringLiteral("About Chanfuse"),
        QStringLiteral("<h3>Chanfuse %1</h3><p>Finds audio files whose two channels are the "
                       "same and converts them to one channel.</p><p>Licence: GNU General "
                       "Public License, version 3 or later (GPL-3.0-or-later).</p><p>ffmpeg in "
                       "use: %2</p>")
            .arg(QCoreApplication::applicationVersion().toHtmlEscaped(),
                 ffmpeg ? ffmpeg->toHtmlEscaped() : QStringLiteral("none found")),
        QMessageBox::Close, this);
    box->setObjectName(QStringLiteral("aboutBox"));
    box->setIconPixmap(windowIcon().pixmap(64, 64));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void MainWindow::saveGeometryToSettings() const {
    QSettings store(QStringLiteral("Chanfuse"), QStringLiteral("Chanfuse"));
    store.setValue(geometryKey, saveGeometry());
}

void MainWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    confetti->setGeometry(rect());
    banner->reposition();
}
