// SPDX-License-Identifier: GPL-3.0-or-later

#include "BottomBar.h"
#include "CompletionBanner.h"
#include "ConfettiOverlay.h"
#include "DarkTheme.h"
#include "ElidedLabel.h"
#include "FakeTools.h"
#include "FileTable.h"
#include "FileTableModel.h"
#include "InfoLogSheet.h"
#include "MainWindow.h"
#include "PreferencesDialog.h"
#include "Processes.h"
#include "TestAudio.h"
#include "TestFiles.h"
#include "TestMain.h"
#include "WindowActions.h"
#include "exec/FFmpegLocator.h"
#include "model/Settings.h"
#include "viewmodel/ContentViewModel.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QCryptographicHash>
#include <QDesktopServices>
#include <QDropEvent>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QToolButton>
#include <QToolTip>
#include <QTreeWidget>
#include <QUuid>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {

template <class Widget = QWidget> Widget* part(const QWidget& window, const char* name) {
    auto* found = window.findChild<Widget*>(QLatin1String(name));
    if (!found)
        qFatal("no part named %s", name);
    return found;
}

QString status(const QWidget& window) {
    return part<ElidedLabel>(window, "statusLabel")->text();
}

void press(const QWidget& window, const char* button) {
    QTest::mouseClick(part<QAbstractButton>(window, button), Qt::LeftButton);
}

// Which of the controls that scans and conversions turn on and off are there
// to use (shown and enabled).
QStringList usable(const QWidget& window) {
    QStringList result;
    for (const char* name :
         {"scanButton", "scanStopButton", "showChoice", "folderLabel", "scanSpinner", "clearButton",
          "convertSelectedButton", "convertStopButton", "settingsControls", "convertProgressBar"}) {
        const QWidget* widget = part(window, name);
        if (widget->isVisible() && widget->isEnabled())
            result.append(QLatin1String(name));
    }
    return result;
}

// The drag-enter and the drop sent to the window, which hands them to
// whatever lies under `target`'s centre, as a real drag would. Returns the
// action the window reported, IgnoreAction when it refused.
Qt::DropAction drop(QWidget& window, const QWidget* target, const QList<QUrl>& urls,
                    Qt::DropActions actions = Qt::CopyAction,
                    Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QMimeData mime;
    mime.setUrls(urls);
    const QPointF position = target->mapTo(&window, target->rect().center());
    QDragEnterEvent enter(position.toPoint(), actions, &mime, Qt::LeftButton, modifiers);
    QCoreApplication::sendEvent(window.windowHandle(), &enter);
    if (!enter.isAccepted())
        return Qt::IgnoreAction;
    QDropEvent dropped(position, actions, &mime, Qt::LeftButton, modifiers);
    QCoreApplication::sendEvent(window.windowHandle(), &dropped);
    return dropped.isAccepted() ? dropped.dropAction() : Qt::IgnoreAction;
}

// The window-modal question named `name`, once it is up.
QMessageBox* question(const QWidget& window, const char* name) {
    QMessageBox* box = nullptr;
    const bool up = QTest::qWaitFor(
        [&] {
            box = window.findChild<QMessageBox*>(QLatin1String(name));
            return box && box->isVisible();
        },
        5000);
    if (!up)
        qFatal("no question %s", name);
    return box;
}

QStringList shownNames(const FileTable& table) {
    QStringList names;
    for (int row = 0; row < table.rows().rowCount(); ++row)
        names.append(table.rows().index(row, FileTableModel::nameColumn).data().toString());
    return names;
}

// A script body that waits until `gate` exists, then runs the real `tool`.
QString gated(const QString& gate, const QString& tool) {
    return u"while [ ! -e '%1' ]; do sleep 0.02; done\nexec /usr/bin/%2 \"$@\""_s.arg(gate, tool);
}

} // namespace

// The window driven through its own controls over real scans and
// conversions of generated audio.
class WindowTest : public QObject {
    Q_OBJECT

public slots:
    // QDesktopServices hands opened file URLs here instead of to the desktop.
    void openedByDesktop(const QUrl& url) { opened.append(url); }

private slots:
    void initTestCase() {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        // No session bus: revealing falls back to opening the folder.
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus");
        QDesktopServices::setUrlHandler(u"file"_s, this, "openedByDesktop");
        TestAudio::fakeStereo(audio.filePath(u"twin.wav"_s), 0.3);
        TestAudio::mono(audio.filePath(u"single.wav"_s), 0.3);
        TestAudio::realStereo(audio.filePath(u"wide.wav"_s), 0.3);
    }

    void init() {
        Settings& settings = Settings::shared();
        settings.setAutoSelectAll(true);
        settings.setConvertTimeoutSeconds(60);
        settings.setAppendFilename(true);
        settings.setSuffix(u"_MONO"_s);
        settings.setConfirmOverwrite(true);
        opened.clear();
        window = std::make_unique<MainWindow>();
        window->show();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
    }

    void cleanup() { window.reset(); }

    void statusWording_data() {
        using Facts = BottomBar::StatusFacts;
        QTest::addColumn<Facts>("facts");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char* name, const Facts& facts, const char* expected) {
            QTest::newRow(name) << facts << QString::fromUtf8(expected);
        };
        row("filtered",
            {.showsFakeStereoOnly = true, .itemCount = 10, .visibleCount = 3, .fakeStereoCount = 3},
            "3 of 10 files shown, 3 fake stereo");
        row("verdicts made under other settings",
            {.itemCount = 3, .fakeStereoCount = 1, .verdictsOutdated = true},
            "3 files scanned, 1 fake stereo — comparison settings changed: scan again");
        row("filter hides nothing",
            {.showsFakeStereoOnly = true, .itemCount = 3, .visibleCount = 3},
            "3 files scanned, 0 fake stereo");
        row("large counts in plain decimal", {.itemCount = 12345, .fakeStereoCount = 1000},
            "12345 files scanned, 1000 fake stereo");
        row("stopped scan",
            {.scanStopped = true, .scannedCount = 4, .totalCount = 10, .fakeStereoCount = 1},
            "Scan stopped: 4 of 10 files scanned, 1 fake stereo");
        row("scanning a file",
            {.isScanning = true,
             .scannedCount = 4,
             .totalCount = 9,
             .currentScanningFile = u"kick.wav"_s},
            "Scanning: kick.wav — 4/9");
        row("undoing", {.isUndoing = true, .undoProgress = 0.5}, "Undoing... 50%");
        row("scanning wins over converting",
            {.isScanning = true, .isConverting = true, .totalCount = 10, .fakeStereoCount = 1},
            "Scanned 0/10 files, 1 fake stereo");
        row("percent cut toward zero",
            {.isConverting = true, .convertProgress = 0.996, .currentConvertingFile = u"name"_s},
            "Converting: name — 99%");
        row("percent rounded without a name", {.isConverting = true, .convertProgress = 0.996},
            "Converting... 100%");
        row("placeholders in a name stay text",
            {.isConverting = true, .convertProgress = 0.5, .currentConvertingFile = u"100%2 %1"_s},
            "Converting: 100%2 %1 — 50%");
    }

    void statusWording() {
        QFETCH(BottomBar::StatusFacts, facts);
        QFETCH(QString, expected);
        QCOMPARE(BottomBar::statusText(facts), expected);
    }

    void statesOfAScanAndAConversion() {
        QTemporaryDir copy;
        for (const QString& name : QDir(audio.path()).entryList(QDir::Files))
            QVERIFY(QFile::copy(audio.filePath(name), copy.filePath(name)));
        // A second fake-stereo file is still there to convert after a stop.
        QVERIFY(QFile::copy(audio.filePath(u"twin.wav"_s), copy.filePath("twin2.wav")));
        FakeTools tools;
        const QString probeGate = tools.path(u"probe-gate"_s);
        const QString convertGate = tools.path(u"convert-gate"_s);
        tools.conversionScript(gated(convertGate, u"ffmpeg"_s));
        tools.script(u"ffprobe"_s, gated(probeGate, u"ffprobe"_s));
        ContentViewModel& viewModel = window->viewModel();
        auto* content = window->findChild<QStackedWidget*>();

        // Idle with nothing chosen.
        QCOMPARE(usable(*window), (QStringList{"clearButton", "settingsControls"}));
        QCOMPARE(content->currentWidget()->objectName(), u"dropZone"_s);

        // Scanning: every probe waits at the gate.
        viewModel.handleDrop({QUrl::fromLocalFile(copy.path() + QLatin1Char('/'))});
        QTRY_VERIFY_WITH_TIMEOUT(viewModel.isScanning(), 10000);
        QCOMPARE(usable(*window), (QStringList{"scanStopButton", "showChoice", "folderLabel",
                                               "scanSpinner", "settingsControls"}));
        QCOMPARE(content->currentWidget(), part(*window, "fileTable"));
        QTRY_COMPARE_WITH_TIMEOUT(status(*window), u"Scanned 0/4 files, 0 fake stereo"_s, 10000);
        const int showChoiceX = part(*window, "showChoice")->x();
        TestFiles::writeFile(probeGate, {});
        QTRY_VERIFY_WITH_TIMEOUT(!viewModel.isScanning(), 30000);
        // Stop's going moves nothing: a click meant for "All" stopped scans.
        QTRY_COMPARE(part(*window, "showChoice")->x(), showChoiceX);

        // Idle after the scan: the filter starts at fake stereo only.
        QCOMPARE(status(*window), u"2 of 4 files shown, 2 fake stereo"_s);
        QCOMPARE(usable(*window),
                 (QStringList{"scanButton", "showChoice", "folderLabel", "clearButton",
                              "convertSelectedButton", "settingsControls"}));
        const auto segments = part(*window, "showChoice")->findChildren<QToolButton*>();
        QVERIFY(segments.size() == 3 && segments[1]->isChecked());
        QTest::mouseClick(segments[0], Qt::LeftButton);
        QCOMPARE(viewModel.showFilter(), ShowFilter::all);
        QTRY_COMPARE(part<FileTable>(*window, "fileTable")->model()->rowCount(), 4);

        // Converting: the conversion waits at its gate; Stop lets it go, and
        // the button comes back once the stopped run has let go of its files.
        press(*window, "convertSelectedButton");
        QVERIFY(viewModel.isConverting());
        QCOMPARE(usable(*window), (QStringList{"scanButton", "showChoice", "folderLabel",
                                               "convertStopButton", "convertProgressBar"}));
        QVERIFY(status(*window).startsWith(u"Converting"_s));
        press(*window, "convertStopButton");
        QTRY_VERIFY_WITH_TIMEOUT(!viewModel.isConverting(), 30000);
        QVERIFY(!usable(*window).contains(u"convertSelectedButton"_s));
        QTRY_COMPARE_WITH_TIMEOUT(
            usable(*window),
            (QStringList{"scanButton", "showChoice", "folderLabel", "clearButton",
                         "convertSelectedButton", "settingsControls"}),
            30000);

        // A run that ends by itself raises the banner; a click hides it, with
        // the animation still showing it for a moment.
        TestFiles::writeFile(convertGate, {});
        press(*window, "convertSelectedButton");
        QTRY_VERIFY_WITH_TIMEOUT(viewModel.showConversionComplete(), 30000);
        auto* banner = window->findChild<CompletionBanner*>();
        QVERIFY(banner->isVisible());
        QCOMPARE(banner->message(), viewModel.conversionCompleteMessage());
        QTRY_COMPARE(banner->reveal(), 1.0);
        QTest::mouseClick(banner, Qt::LeftButton, {}, banner->rect().center());
        QVERIFY(!viewModel.showConversionComplete() && banner->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(!banner->isVisible(), 2000);
    }

    // The banner's Undo and Edit > Undo Conversion both take the run back,
    // and the row shows the original again.
    void undoFromTheBannerAndTheMenu() {
        Settings::shared().setConvertBehavior(ConvertBehavior::trash);
        QTemporaryDir copy;
        QVERIFY(QFile::copy(audio.filePath(u"twin.wav"_s), copy.filePath(u"twin.wav"_s)));
        const auto before = TestFiles::snapshot(copy.path());
        ContentViewModel& viewModel = window->viewModel();
        viewModel.handleDrop({QUrl::fromLocalFile(copy.path() + u'/')});
        QTRY_VERIFY_WITH_TIMEOUT(!viewModel.isScanning() && viewModel.fakeStereoCount() == 1,
                                 30000);
        for (const bool fromBanner : {true, false}) {
            viewModel.selectAllFakeStereo();
            press(*window, "convertSelectedButton");
            QTRY_VERIFY_WITH_TIMEOUT(viewModel.showConversionComplete(), 30000);
            const auto converted = TestFiles::snapshot(copy.path());
            QVERIFY(converted != before);
            if (fromBanner) {
                press(*window, "undoButton");
            } else {
                // Stop shows with the progress and ends the undo between
                // files: the folder is as converted or as before, never half
                // of it, and a second undo finishes the job.
                window->windowActions().undoConversion->trigger();
                for (const char* shown : {"convertProgressBar", "convertStopButton"})
                    QVERIFY2(part<QWidget>(*window, shown)->isVisible(), shown);
                press(*window, "convertStopButton");
                QTRY_VERIFY_WITH_TIMEOUT(!viewModel.isUndoing(), 30000);
                const auto stopped = TestFiles::snapshot(copy.path());
                QVERIFY(stopped == converted || stopped == before);
                window->windowActions().undoConversion->trigger();
            }
            QTRY_VERIFY_WITH_TIMEOUT(!viewModel.isUndoing(), 30000);
            QCOMPARE(TestFiles::snapshot(copy.path()), before);
            QCOMPARE(viewModel.items().first()->detectionStatus, DetectionStatus::fakeStereo);
        }
    }

    // The History window lists the run with its files and takes back only
    // the file picked.
    void historyWindowUndoesTheFilesPicked() {
        Settings::shared().setConvertBehavior(ConvertBehavior::trash);
        QTemporaryDir copy;
        for (const char* name : {"a.wav", "b.wav"})
            QVERIFY(QFile::copy(audio.filePath(u"twin.wav"_s), copy.filePath(QLatin1String(name))));
        ContentViewModel& viewModel = window->viewModel();
        viewModel.handleDrop({QUrl::fromLocalFile(copy.path() + u'/')});
        QTRY_VERIFY_WITH_TIMEOUT(!viewModel.isScanning() && viewModel.fakeStereoCount() == 2,
                                 30000);
        press(*window, "convertSelectedButton");
        QTRY_VERIFY_WITH_TIMEOUT(viewModel.showConversionComplete(), 30000);

        window->windowActions().history->trigger();
        auto* runs = part<QTreeWidget>(*window, "historyTree");
        QTRY_VERIFY_WITH_TIMEOUT(
            runs->topLevelItemCount() > 0 && runs->topLevelItem(0)->childCount() == 2, 10000);
        QTreeWidgetItem* const a = runs->topLevelItem(0)->child(0);
        QCOMPARE(a->text(0), copy.filePath(u"a.wav"_s));
        a->setSelected(true);
        press(*window, "historyUndoButton");
        QTRY_COMPARE_WITH_TIMEOUT(runs->topLevelItem(0)->child(0)->text(4), u"undone"_s, 10000);
        QCOMPARE(QDir(copy.path()).entryList(QDir::Files), (QStringList{"a.wav", "b_MONO.wav"}));
        QCOMPARE(runs->topLevelItem(0)->child(1)->text(4), QString());
    }

    // A run a killed process left halfway (here after the mono file took its
    // name) is offered after the next scan; Put Back leaves the folder as
    // before the run.
    void interruptedRunIsOfferedToPutBack() {
        QTemporaryDir copy;
        CommitIntent intent;
        intent.run = QUuid::createUuid().toString();
        intent.original = copy.filePath(u"a.wav"_s);
        intent.temporary = copy.filePath(u"sonfold_out_1.wav"_s);
        intent.finalPath = copy.filePath(u"a_MONO.wav"_s);
        intent.staging = copy.filePath(u".sonfold_orig_1.wav"_s);
        QVERIFY(QFile::copy(audio.filePath(u"twin.wav"_s), intent.original));
        const auto before = TestFiles::snapshot(copy.path());
        QVERIFY(QFile::copy(audio.filePath(u"single.wav"_s), intent.finalPath));
        struct stat status {};
        QCOMPARE(::stat(QFile::encodeName(intent.original).constData(), &status), 0);
        intent.originalSize = status.st_size;
        intent.originalModifiedNs = status.st_mtim.tv_sec * 1000000000LL + status.st_mtim.tv_nsec;
        const QByteArray mono = TestFiles::contentsOf(intent.finalPath);
        intent.monoSize = mono.size();
        intent.monoSha256 = QCryptographicHash::hash(mono, QCryptographicHash::Sha256);
        QVERIFY(RunJournal::recordIntent(intent));

        window->viewModel().handleDrop({QUrl::fromLocalFile(copy.path() + u'/')});
        question(*window, "putBackQuestion")->button(QMessageBox::Ok)->click();
        QTRY_COMPARE_WITH_TIMEOUT(TestFiles::snapshot(copy.path()), before, 10000);
    }

    void closingMidConversionQuitsOnceTheFileIsLetGo() {
        QTemporaryDir copy;
        const QString original = copy.filePath(u"twin.wav"_s);
        QVERIFY(QFile::copy(audio.filePath(u"twin.wav"_s), original));
        FakeTools tools;
        const QString never = tools.path(u"never"_s);
        tools.conversionScript(u"touch '%1.reached'\n"_s.arg(never) + gated(never, u"ffmpeg"_s));
        ContentViewModel& viewModel = window->viewModel();
        viewModel.handleDrop({QUrl::fromLocalFile(original)});
        QTRY_VERIFY_WITH_TIMEOUT(!viewModel.items().isEmpty() && !viewModel.isScanning(), 30000);
        viewModel.convertSelected();
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(never + u".reached"_s), 30000);

        // Scanning and closing ask first (both used to give the run up
        // unseen); "Cancel" goes on converting.
        window->windowActions().scan->trigger();
        question(*window, "confirmStopConversion")->button(QMessageBox::Cancel)->click();
        QVERIFY(viewModel.isConverting());
        QSignalSpy readyToQuit(window.get(), &MainWindow::readyToQuit);
        QSignalSpy lastWindowClosed(qApp, &QGuiApplication::lastWindowClosed);
        QVERIFY(!window->close());
        QVERIFY(window->isVisible() && viewModel.isConverting());
        question(*window, "confirmQuit")->button(QMessageBox::Ok)->click();
        QVERIFY(!window->isVisible());
        QVERIFY(readyToQuit.isEmpty());
        QVERIFY(readyToQuit.wait(15000));
        QVERIFY(TestSupport::liveChildren().isEmpty());
        QVERIFY(lastWindowClosed.isEmpty());
    }

    // Conversions go to an ffmpeg that fails them, so no file is touched.
    void tableRowsCheckboxesAndButtons() {
        FakeTools tools;
        tools.conversionScript(u"echo 'Conversion failed!' >&2; exit 1"_s);
        Settings::shared().setAutoSelectAll(false);
        listThree();
        auto* table = part<FileTable>(*window, "fileTable");
        FileTableModel& rows = table->rows();
        auto* convertSelected = part<QPushButton>(*window, "convertSelectedButton");
        const auto cell = [&](const char* name, int column) {
            for (int row = 0; row < rows.rowCount(); ++row) {
                if (rows.itemAt(row)->fileName == QLatin1String(name))
                    return table->visualRect(rows.index(row, column)).center();
            }
            qFatal("no row %s", name);
        };
        const auto click = [table](const QPoint& position) {
            QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, position);
        };
        const auto tooltipAt = [table](const QPoint& position) {
            QToolTip::hideText();
            QHelpEvent help(QEvent::ToolTip, position, table->viewport()->mapToGlobal(position));
            QCoreApplication::sendEvent(table->viewport(), &help);
            return QToolTip::text();
        };
        const FileItemPtr twin = rows.itemAt(table->indexAt(cell("twin", 0)).row());
        QStringList cells;
        for (int column = FileTableModel::nameColumn; column <= FileTableModel::actionColumn;
             ++column)
            cells.append(table->indexAt(cell("twin", column)).data().toString());
        QCOMPARE(cells, (QStringList{"twin.wav", QString(), twin->formattedFileSize(), "Stereo",
                                     u"\u26A0 Fake Stereo"_s, "Convert"}));
        QVERIFY(!twin->isSelected && !convertSelected->isEnabled());

        // Ticking the fake-stereo row turns the main action on at once, and off.
        click(cell("twin", FileTableModel::checkColumn));
        QVERIFY(twin->isSelected && convertSelected->isEnabled());
        click(cell("twin", FileTableModel::checkColumn));
        QVERIFY(!twin->isSelected && !convertSelected->isEnabled());

        // A click on a name highlights its row, and the highlight follows the
        // item through a re-sort by a header click.
        click(cell("wide", FileTableModel::nameColumn));
        const auto wideRow = [&] { return table->indexAt(cell("wide", 0)).row(); };
        QCOMPARE(rows.highlightedIds(), QSet{rows.itemAt(wideRow())->id});
        QCOMPARE(rows.index(wideRow(), FileTableModel::sizeColumn).data(Qt::BackgroundRole),
                 QVariant(ThemeColors::rowHighlight()));
        QHeaderView* header = table->horizontalHeader();
        QTest::mouseClick(
            header->viewport(), Qt::LeftButton, {},
            QPoint(header->sectionViewportPosition(FileTableModel::nameColumn) + 5, 5));
        QTRY_COMPARE(
            rows.headerData(FileTableModel::nameColumn, Qt::Horizontal, Qt::DisplayRole).toString(),
            u"Filename ▲"_s);
        QTRY_COMPARE(rows.itemAt(0)->fileName, u"single"_s);
        QCOMPARE(rows.index(wideRow(), FileTableModel::nameColumn).data(Qt::BackgroundRole),
                 QVariant(ThemeColors::rowHighlight()));

        // A double click on a name shows the file; without a file manager on
        // the bus, its folder is opened.
        // What a desktop delivers: a click, then the second press as a
        // double-click event, and its release.
        const QPoint single = cell("single", FileTableModel::nameColumn);
        click(single);
        QMouseEvent second(QEvent::MouseButtonDblClick, single,
                           table->viewport()->mapToGlobal(single), Qt::LeftButton, Qt::LeftButton,
                           Qt::NoModifier);
        QCoreApplication::sendEvent(table->viewport(), &second);
        QTest::mouseRelease(table->viewport(), Qt::LeftButton, {}, single);
        QTRY_COMPARE(opened.size(), 1);
        QCOMPARE(QFileInfo(opened.first().toLocalFile()).canonicalFilePath(),
                 QFileInfo(audio.path()).canonicalFilePath());

        // The row button works only for fake stereo; the failure becomes the
        // status cell's red text and tooltip. The name's tooltip tells rows of
        // the same name apart by their folder.
        click(cell("single", FileTableModel::actionColumn));
        QVERIFY(!window->viewModel().isConverting());
        click(cell("twin", FileTableModel::actionColumn));
        QTRY_COMPARE_WITH_TIMEOUT(twin->detectionStatus, DetectionStatus::error, 20000);
        QCOMPARE(
            table->indexAt(cell("twin", FileTableModel::statusColumn)).data(Qt::ForegroundRole),
            QVariant(ThemeColors::destructive()));
        QCOMPARE(tooltipAt(cell("single", FileTableModel::statusColumn)), QString());
        QCOMPARE(tooltipAt(cell("twin", FileTableModel::statusColumn)), *twin->errorMessage);
        QCOMPARE(tooltipAt(cell("twin", FileTableModel::nameColumn)), twin->path());

        // The summary of that one row lists the failure; "Show" lists it alone.
        QTRY_VERIFY(window->viewModel().showConversionComplete());
        QCOMPARE(window->viewModel().conversionCompleteMessage(),
                 u"1 file could not be converted."_s);
        press(*window, "showFailuresButton");
        QTRY_COMPARE(shownNames(*table), QStringList{u"twin.wav"_s});

        press(*window, "clearButton");
        QVERIFY(rows.highlightedIds().isEmpty());
        QTRY_COMPARE(rows.rowCount(), 0);
    }

    // Half a 1600×1000 screen at 200 % scaling, less a title bar and a panel,
    // holds the whole window (it asked for 800×600).
    void fitsHalfAScaledScreen() {
        listThree();
        const QSize smallest = window->minimumSize();
        QVERIFY2(smallest.width() <= 780 && smallest.height() <= 430,
                 qPrintable(u"%1×%2"_s.arg(smallest.width()).arg(smallest.height())));
        window->resize(smallest);
        QTRY_COMPARE(window->size(), smallest);
        for (const char* name : {"convertSelectedButton", "infoButton", "settingsControls",
                                 "preferencesButton", "searchField", "statusLabel"}) {
            const QWidget* control = part(*window, name);
            const QRect area(control->mapTo(window.get(), QPoint(0, 0)), control->size());
            QVERIFY2(window->rect().contains(area), name);
            QVERIFY2(control->width() >= control->minimumSizeHint().width(), name);
        }
    }

    // Overwriting without a suffix replaces originals for good: it waits for
    // the user's yes (it used to start at once).
    void replacingOriginalsAsksFirst_data() {
        QTest::addColumn<bool>("replace");
        QTest::addColumn<bool>("dontAskAgain");
        QTest::newRow("cancel") << false << false;
        QTest::newRow("replace, don't ask again") << true << true;
    }

    void replacingOriginalsAsksFirst() {
        QFETCH(bool, replace);
        QFETCH(bool, dontAskAgain);
        Settings& settings = Settings::shared();
        const ConvertBehavior behavior = settings.convertBehavior();
        const auto restore = qScopeGuard([&] { settings.setConvertBehavior(behavior); });
        settings.setConvertBehavior(ConvertBehavior::overwrite);
        settings.setAppendFilename(false);
        QTemporaryDir copy;
        const QString original = copy.filePath(u"twin.wav"_s);
        QVERIFY(QFile::copy(audio.filePath(u"twin.wav"_s), original));
        const QByteArray before = TestFiles::contentsOf(original);
        ContentViewModel& viewModel = window->viewModel();
        viewModel.handleDrop({QUrl::fromLocalFile(original)});
        QTRY_VERIFY_WITH_TIMEOUT(!viewModel.items().isEmpty() && !viewModel.isScanning(), 30000);

        press(*window, "convertSelectedButton");
        QMessageBox* ask = question(*window, "confirmOverwrite");
        QVERIFY(!viewModel.isConverting());
        QVERIFY2(ask->text().startsWith(u"1 original will be replaced"_s), qPrintable(ask->text()));
        ask->checkBox()->setChecked(dontAskAgain);
        ask->button(replace ? QMessageBox::Ok : QMessageBox::Cancel)->click();
        const FileItemPtr item = viewModel.items().first();
        if (replace)
            QTRY_COMPARE_WITH_TIMEOUT(item->detectionStatus, DetectionStatus::converted, 30000);
        QCOMPARE(TestFiles::contentsOf(original) == before, !replace);
        QCOMPARE(item->detectionStatus == DetectionStatus::fakeStereo, !replace);
        QCOMPARE(settings.confirmOverwrite(), !dontAskAgain);
    }

    // Each menu key triggers its action, and the toolbar names it.
    void menuKeysReachTheirActions_data() {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QKeySequence>("keys");
        QTest::addColumn<QString>("control");
        const auto row = [](const char* action, QKeySequence keys, const char* control = "") {
            QTest::newRow(action) << QString::fromLatin1(action) << keys
                                  << QString::fromLatin1(control);
        };
        row("openFolderAction", Qt::CTRL | Qt::Key_O, "pickFolderButton");
        row("scanAction", Qt::Key_F5, "scanButton");
        row("stopAction", Qt::Key_Escape, "scanStopButton");
        row("quitAction", Qt::CTRL | Qt::Key_Q);
        row("undoConversionAction", Qt::CTRL | Qt::Key_Z);
        row("selectAllAction", Qt::CTRL | Qt::Key_A);
        row("selectNoneAction", Qt::CTRL | Qt::SHIFT | Qt::Key_A);
        row("findAction", Qt::CTRL | Qt::Key_F, "searchField");
        row("preferencesAction", Qt::CTRL | Qt::Key_Comma, "preferencesButton");
        row("infoLogAction", Qt::CTRL | Qt::Key_L);
        row("historyAction", Qt::CTRL | Qt::Key_H);
    }

    void menuKeysReachTheirActions() {
        QFETCH(QString, action);
        QFETCH(QKeySequence, keys);
        QFETCH(QString, control);
        auto* target = window->findChild<QAction*>(action);
        QVERIFY(target && target->shortcuts().contains(keys));
        QVERIFY(window->findChild<QMenuBar*>()->findChildren<QAction*>().size() > 0);
        target->setEnabled(true);
        disconnect(target, &QAction::triggered, nullptr, nullptr);
        QSignalSpy triggered(target, &QAction::triggered);
        QTest::keySequence(window.get(), keys);
        QCOMPARE(triggered.size(), 1);
        if (!control.isEmpty())
            QVERIFY(part(*window, qPrintable(control))
                        ->toolTip()
                        .endsWith(u'(' + keys.toString(QKeySequence::NativeText) + u')'));
    }

    // Help names the version, the licence and the ffmpeg in use, and lists
    // the keys.
    void helpTellsVersionLicenceAndKeys() {
        QCoreApplication::setApplicationVersion(QStringLiteral(CHANFUSE_VERSION));
        window->windowActions().about->trigger();
        const QString about = question(*window, "aboutBox")->text();
        for (const QString& told : {u"Chanfuse " CHANFUSE_VERSION ""_s, u"GPL-3.0-or-later"_s,
                                    FFmpegLocator::ffmpegPath().value_or(u"none found"_s)})
            QVERIFY2(about.contains(told), qPrintable(about));
        window->windowActions().shortcuts->trigger();
        const QString keys = question(*window, "shortcutsBox")->text();
        QVERIFY2(keys.contains(u"Select None</td><td>&nbsp;&nbsp;<b>Ctrl+Shift+A"_s),
                 qPrintable(keys));
    }

    // The Folder column is relative to the scanned folder; the search field,
    // reached by Ctrl+F, matches names with their extension and folders.
    void searchFieldFiltersByNameAndFolder() {
        QTemporaryDir folder;
        QDir().mkpath(folder.filePath(u"Live/Disc 2"_s));
        TestAudio::mono(folder.filePath(u"top.flac"_s), 0.2);
        TestAudio::mono(folder.filePath(u"Live/Disc 2/deep.wav"_s), 0.2);
        ContentViewModel& viewModel = window->viewModel();
        viewModel.setShowFilter(ShowFilter::all);
        viewModel.startScanFolders({QUrl::fromLocalFile(folder.path())});
        QTRY_VERIFY_WITH_TIMEOUT(viewModel.items().size() == 2 && !viewModel.isScanning(), 30000);
        auto* table = part<FileTable>(*window, "fileTable");
        viewModel.toggleSort(SortColumn::filename);
        QTRY_COMPARE(shownNames(*table), (QStringList{"deep.wav", "top.flac"}));
        QCOMPARE(table->rows().index(0, FileTableModel::folderColumn).data().toString(),
                 u"Live/Disc 2"_s);
        QCOMPARE(table->rows().index(1, FileTableModel::folderColumn).data().toString(), QString());

        QTest::keySequence(window.get(), QKeySequence(Qt::CTRL | Qt::Key_F));
        auto* search = part<QLineEdit>(*window, "searchField");
        QVERIFY(search->hasFocus());
        for (const auto& [text, shown] :
             {std::pair{"disc", QStringList{"deep.wav"}},
              std::pair{".FLAC", QStringList{"top.flac"}}, std::pair{"nothing", QStringList{}}}) {
            search->selectAll();
            QTest::keyClicks(search, QLatin1String(text));
            QTRY_COMPARE(shownNames(*table), shown);
        }
    }

    // Size and place come back with the next window, and so does the folder.
    void sizeAndFolderAreRemembered() {
        listThree();
        const QSize size = window->minimumSize() + QSize(12, 8);
        window->resize(size);
        QTRY_COMPARE(window->size(), size);
        QVERIFY(window->close());
        window = std::make_unique<MainWindow>();
        QCOMPARE(window->size(), size);
        QCOMPARE(Settings::shared().lastFolder(), audio.path());
    }

    // Shift widens the highlight and Space ticks all of it; the Menu key
    // opens the rows' menu, the keyboard's way to a row's Convert; the check
    // column's header ticks every listed row, then none.
    void highlightedRowsTickAndOpenTheirMenu() {
        listThree();
        window->windowActions().selectNone->trigger();
        auto* table = part<FileTable>(*window, "fileTable");
        FileTableModel& rows = table->rows();
        table->setFocus();
        QTest::keyClick(table, Qt::Key_Down);
        QTest::keyClick(table, Qt::Key_Down, Qt::ShiftModifier);
        const QList<FileItemPtr> highlighted = rows.highlightedItems();
        QCOMPARE(highlighted.size(), 2);
        QTest::keyClick(table, Qt::Key_Space);
        QVERIFY(highlighted[0]->isSelected && highlighted[1]->isSelected);
        QCOMPARE(rows.listedSelection(), Qt::PartiallyChecked);

        QContextMenuEvent byKey(QContextMenuEvent::Keyboard, QPoint(), QPoint());
        QCoreApplication::sendEvent(table, &byKey);
        auto* menu = window->findChild<QMenu*>(u"rowMenu"_s);
        QTRY_VERIFY(menu && menu->isVisible());
        QStringList entries;
        for (const QAction* entry : menu->actions()) {
            if (!entry->isSeparator())
                entries.append(entry->text() + (entry->isEnabled() ? u""_s : u" (off)"_s));
        }
        const bool anyFake = highlighted[0]->detectionStatus == DetectionStatus::fakeStereo ||
                             highlighted[1]->detectionStatus == DetectionStatus::fakeStereo;
        QCOMPARE(entries, (QStringList{"Reveal in File Manager", "Open", "Copy Paths",
                                       anyFake ? u"Convert"_s : u"Convert (off)"_s, "Untick"}));
        menu->actions()[2]->trigger();
        QCOMPARE(QGuiApplication::clipboard()->text(),
                 highlighted[0]->path() + u'\n' + highlighted[1]->path());
        menu->close();

        QHeaderView* header = table->horizontalHeader();
        const QPoint checkHeader(header->sectionViewportPosition(FileTableModel::checkColumn) + 5,
                                 5);
        for (const Qt::CheckState expected : {Qt::Checked, Qt::Unchecked}) {
            QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, checkHeader);
            QCOMPARE(rows.listedSelection(), expected);
        }
    }

    // Every control the keyboard reaches gives assistive tools its name and
    // what it does.
    void everyControlIsNamedAndDescribed() {
        listThree();
        QStringList unnamed;
        QStringList checked;
        for (QWidget* widget : window->findChildren<QWidget*>()) {
            if (!widget->isVisibleTo(window.get()) || !(widget->focusPolicy() & Qt::TabFocus))
                continue;
            checked.append(widget->objectName());
            QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
            if (accessible->text(QAccessible::Name).isEmpty() ||
                accessible->text(QAccessible::Description).isEmpty())
                unnamed.append(widget->objectName() + u'/' + widget->metaObject()->className());
        }
        QVERIFY2(unnamed.isEmpty(), qPrintable(unnamed.join(u", "_s)));
        for (const char* name : {"pickFolderButton", "searchField", "fileTable", "suffixField",
                                 "timeoutField", "convertSelectedButton"})
            QVERIFY2(checked.contains(QLatin1String(name)), name);
    }

    void keyboardReachesEveryBarAndTicksRows() {
        listThree();
        auto* table = part<FileTable>(*window, "fileTable");

        // In the list, the arrows move the highlight and Space ticks its row.
        table->setFocus();
        QTest::keyClick(table, Qt::Key_Down);
        const FileItemPtr highlighted = table->rows().itemAt(table->currentIndex().row());
        QCOMPARE(table->rows().highlightedIds(), QSet{highlighted->id});
        const bool wasSelected = highlighted->isSelected;
        QTest::keyClick(table, Qt::Key_Space);
        QCOMPARE(highlighted->isSelected, !wasSelected);
        QTest::keyClick(table, Qt::Key_Space);
        QCOMPARE(highlighted->isSelected, wasSelected);

        // Tab runs from the toolbar through the list to the bottom bar and round.
        auto* pick = part(*window, "pickFolderButton");
        pick->setFocus();
        QList<QWidget*> visited{pick};
        for (int step = 0; step < 30 && (visited.size() == 1 || visited.last() != pick); ++step) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            visited.append(QApplication::focusWidget());
        }
        QCOMPARE(visited.last(), pick);
        QList<qsizetype> order;
        for (const char* name : {"scanButton", "preferencesButton", "fileTable", "clearButton",
                                 "infoButton", "convertSelectedButton"})
            order.append(visited.indexOf(part(*window, name)));
        QVERIFY(order.first() > 0 && std::is_sorted(order.cbegin(), order.cend()));
    }

    void dropsAnywhereReachTheViewModel() {
        QTemporaryDir folder;
        const QUrl first = QUrl::fromLocalFile(folder.filePath(u"first.wav"_s));
        const QUrl second = QUrl::fromLocalFile(folder.filePath(u"second.wav"_s));
        TestAudio::mono(first.toLocalFile(), 0.2);
        TestAudio::mono(second.toLocalFile(), 0.2);
        ContentViewModel& viewModel = window->viewModel();

        // Files onto a toolbar button are listed.
        QCOMPARE(drop(*window, part(*window, "pickFolderButton"), {first, second}), Qt::CopyAction);
        QTRY_COMPARE_WITH_TIMEOUT(viewModel.items().size(), 2, 10000);
        auto* table = part<FileTable>(*window, "fileTable");
        QTRY_VERIFY(table->isVisible());

        // A file onto the bottom bar's text field, which must not take it as
        // text; a proposed move is taken as a copy. The folder label now names
        // the dropped file's folder.
        auto* suffix = part<QLineEdit>(*window, "suffixField");
        QCOMPARE(
            drop(*window, suffix, {second}, Qt::CopyAction | Qt::MoveAction, Qt::ShiftModifier),
            Qt::CopyAction);
        QTRY_COMPARE_WITH_TIMEOUT(viewModel.items().size(), 1, 10000);
        QCOMPARE(viewModel.items().first()->fileName, u"second"_s);
        QCOMPARE(suffix->text(), u"_MONO"_s);
        QTRY_VERIFY_WITH_TIMEOUT(!viewModel.isScanning(), 30000);
        QCOMPARE(part<ElidedLabel>(*window, "folderLabel")->text(), QDir(folder.path()).dirName());

        // A source that offers only a move is refused.
        QCOMPARE(drop(*window, table->viewport(), {first}, Qt::MoveAction), Qt::IgnoreAction);
    }

    void settingsFieldsKeepWhatDoesNotParse() {
        listThree();
        Settings& settings = Settings::shared();
        auto* convert = part<QPushButton>(*window, "convertSelectedButton");
        QVERIFY(convert->isEnabled());
        auto* timeout = part<QLineEdit>(*window, "timeoutField");
        auto* suffix = part<QLineEdit>(*window, "suffixField");
        auto* append = part<QCheckBox>(*window, "appendFilenameCheckBox");
        QCOMPARE(timeout->text(), u"60"_s);

        timeout->setFocus();
        for (const char* refused : {"abc", "0", "-5"}) {
            timeout->selectAll();
            QTest::keyClicks(timeout, QLatin1String(refused));
            QCOMPARE(settings.convertTimeoutSeconds(), qint64(60));
        }
        timeout->selectAll();
        QTest::keyClicks(timeout, u"1,200"_s);
        QCOMPARE(settings.convertTimeoutSeconds(), qint64(1200));

        suffix->setFocus();
        suffix->selectAll();
        // A suffix shown red converts nothing (it used to convert with the
        // last usable text typed).
        QTest::keyClicks(suffix, u"_M/no"_s);
        QCOMPARE(settings.suffix(), u"_M"_s);
        QVERIFY2(suffix->toolTip().contains(u"path separator"_s), qPrintable(suffix->toolTip()));
        QVERIFY(!convert->isEnabled());
        window->viewModel().convertSelected();
        QVERIFY(!window->viewModel().isConverting());
        for (int typed = 0; typed < 3; ++typed)
            QTest::keyClick(suffix, Qt::Key_Backspace);
        QVERIFY(suffix->toolTip().isEmpty() && convert->isEnabled());

        QTest::mouseClick(append, Qt::LeftButton, {}, QPoint(4, append->height() / 2));
        QVERIFY(!settings.appendFilename());
        QVERIFY(!suffix->isEnabled());
        QCOMPARE(settings.suffix(), u"_M"_s);
    }

    void preferencesRoundTripAndRefuseBadValues() {
        listThree();
        Settings& settings = Settings::shared();
        settings.setComparisonMethod(ComparisonMethod::byteExact);
        settings.setConvertBehavior(ConvertBehavior::trash);
        settings.setScanLimitSeconds(5);
        settings.setParallelScans(4);
        const auto open = [this](bool byShortcut) {
            if (byShortcut)
                QTest::keyClick(window.get(), Qt::Key_Comma, Qt::ControlModifier);
            else
                press(*window, "preferencesButton");
            for (PreferencesDialog* dialog : window->findChildren<PreferencesDialog*>()) {
                if (dialog->isVisible())
                    return dialog;
            }
            qFatal("the preferences did not open");
        };

        // The stored values are shown; new ones are stored on OK.
        PreferencesDialog* dialog = open(true);
        QVERIFY(part<QRadioButton>(*dialog, "byteExactRadio")->isChecked());
        QVERIFY(part<QRadioButton>(*dialog, "trashRadio")->isChecked());
        QVERIFY(part<QCheckBox>(*dialog, "autoSelectCheckBox")->isChecked());
        auto* seconds = part<QLineEdit>(*dialog, "scanSecondsField");
        auto* parallel = part<QLineEdit>(*dialog, "parallelScansField");
        QCOMPARE(parallel->text(), u"4"_s);
        part<QRadioButton>(*dialog, "statisticalRadio")->click();
        part<QRadioButton>(*dialog, "backupRadio")->click();
        part<QCheckBox>(*dialog, "autoSelectCheckBox")->click();
        seconds->selectAll();
        QTest::keyClicks(seconds, u"12"_s);
        QTest::keyClick(dialog, Qt::Key_Return);
        QVERIFY(!dialog->isVisible());
        QCOMPARE(settings.comparisonMethod(), ComparisonMethod::statistical);
        QCOMPARE(settings.convertBehavior(), ConvertBehavior::backup);
        QCOMPARE(settings.scanLimitSeconds(), qint64(12));
        QVERIFY(!settings.autoSelectAll());
        // The listed verdicts were made the old way (nothing said so).
        QVERIFY(window->viewModel().verdictsOutdated());

        // Reopened (by the button), a wrong number is refused with a hint and
        // nothing at all is stored.
        dialog = open(false);
        seconds = part<QLineEdit>(*dialog, "scanSecondsField");
        parallel = part<QLineEdit>(*dialog, "parallelScansField");
        part<QRadioButton>(*dialog, "overwriteRadio")->click();
        for (const auto& [field, wrong] :
             {std::pair{seconds, "601"}, std::pair{seconds, "2.5"}, std::pair{parallel, "0"}}) {
            auto* hint =
                part<QLabel>(*dialog, field == seconds ? "scanSecondsHint" : "parallelScansHint");
            QVERIFY(!hint->isVisible());
            const QString before = field->text();
            field->selectAll();
            QTest::keyClicks(field, QLatin1String(wrong));
            QVERIFY2(hint->isVisible(), wrong);
            QTest::keyClick(dialog, Qt::Key_Return);
            QVERIFY(dialog->isVisible());
            field->selectAll();
            QTest::keyClicks(field, before);
        }
        QTest::keyClick(dialog, Qt::Key_Escape);
        QVERIFY(!dialog->isVisible());
        QCOMPARE(settings.convertBehavior(), ConvertBehavior::backup);
    }

    // The sheet opened from the window's "Info" button over the view model's log.
    void infoLogFollowsTheLog() {
        ContentViewModel& viewModel = window->viewModel();
        auto* sheet = window->findChild<InfoLogSheet*>();
        auto* text = sheet->findChild<QPlainTextEdit*>();
        press(*window, "infoButton");
        QVERIFY(viewModel.showDebug() && sheet->isVisible());
        QCOMPARE(text->toPlainText(), u"No log entries yet."_s);
        QClipboard* clipboard = QGuiApplication::clipboard();
        clipboard->setText(u"left over"_s);
        press(*sheet, "copyButton");
        QCOMPARE(clipboard->text(), QString());

        // Lines logged while the sheet is open show at once, and a selection
        // made meanwhile survives them.
        viewModel.log(u"first"_s);
        viewModel.log(u"second"_s);
        QTextCursor selection = text->textCursor();
        selection.setPosition(1);
        selection.setPosition(8, QTextCursor::KeepAnchor);
        text->setTextCursor(selection);
        const QString selected = text->textCursor().selectedText();
        viewModel.log(u"third"_s);
        QCOMPARE(text->textCursor().selectedText(), selected);
        const QString lines = viewModel.debugLog().join(QLatin1Char('\n'));
        QCOMPARE(text->toPlainText(), lines);
        press(*sheet, "copyButton");
        QCOMPARE(clipboard->text(), lines);

        press(*sheet, "closeButton");
        QVERIFY(!viewModel.showDebug() && !sheet->isVisible());
        press(*window, "infoButton");
        QVERIFY(sheet->isVisible());
        // Escape dismisses the sheet like the desktop's own close does.
        QTest::keyClick(sheet, Qt::Key_Escape);
        QVERIFY(!viewModel.showDebug() && !sheet->isVisible());
    }

    // The dots fall, fade out and stop; clicks reach the widgets beneath, by
    // the window system's route.
    void confettiFallsFadesAndLetsClicksThrough() {
        auto* overlay = window->findChild<ConfettiOverlay*>();
        overlay->setGeometry(window->rect());
        overlay->show();
        overlay->raise();
        overlay->setDuration(std::chrono::milliseconds(400));
        overlay->start();
        const double startY = overlay->particles()[0].y;
        QTRY_VERIFY(overlay->particles()[0].y > startY);
        QTRY_VERIFY(!overlay->isRunning());
        QTRY_COMPARE(overlay->layerOpacity(), 0.0);

        auto* info = part<QPushButton>(*window, "infoButton");
        const QPoint onInfo = info->mapTo(window.get(), info->rect().center());
        QVERIFY(overlay->isVisible() && overlay->geometry().contains(onInfo));
        QTest::mouseClick(window->windowHandle(), Qt::LeftButton, {}, onInfo);
        QTRY_VERIFY(window->viewModel().showDebug());
    }

    // The two executables as a user starts them, each a child process: the
    // texts need no display, a mistake ends the window's program with status 2.
    void launchAnswersInText_data() {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("argument");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("expected");
        const QString gui = QStringLiteral(CHANFUSE_GUI);
        const QString cli = QStringLiteral(CHANFUSE_CLI);
        const QString version = QStringLiteral(CHANFUSE_VERSION "\n");
        QTest::newRow("chanfuse --version") << gui << "--version" << 0 << "Chanfuse " + version;
        QTest::newRow("chanfuse-cli --version")
            << cli << "--version" << 0 << "chanfuse-cli " + version;
        QTest::newRow("missing folder") << gui << "/nonexistent/music" << 2
                                        << "chanfuse: folder does not exist: /nonexistent/music";
        QTest::newRow("file for a folder") << gui << gui << 2 << "chanfuse: not a folder: ";
        QTest::newRow("unknown option")
            << gui << "--frobnicate" << 2 << "chanfuse: Unknown option 'frobnicate'.";
    }

    void launchAnswersInText() {
        QFETCH(QString, program);
        QFETCH(QString, argument);
        QFETCH(int, exitCode);
        QFETCH(QString, expected);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
            if (exitCode == 0)
                environment.remove(QString::fromLatin1(name));
        }
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(program, {argument});
        QVERIFY(process.waitForFinished(60000));
        QCOMPARE(process.exitCode(), exitCode);
        const QString output = QString::fromUtf8(exitCode == 0 ? process.readAllStandardOutput()
                                                               : process.readAllStandardError());
        QVERIFY2(output.startsWith(expected) || (exitCode != 0 && output.contains(expected)),
                 qPrintable(output));
    }

    // The window's log is the one thing a started window shows outside itself.
    void launchScansTheFoldersGiven() {
        QTemporaryDir second;
        TestAudio::mono(second.filePath(u"b.flac"_s), 0.3);
        QProcess process;
        process.start(QStringLiteral(CHANFUSE_GUI),
                      {u"-platform"_s, u"offscreen"_s, audio.path(), second.path()});
        QString out;
        QTRY_VERIFY_WITH_TIMEOUT((out += QString::fromUtf8(process.readAllStandardOutput()))
                                     .contains(u": b.flac -> \u2713 Mono"_s),
                                 60000);
        QTRY_VERIFY_WITH_TIMEOUT((out += QString::fromUtf8(process.readAllStandardOutput()))
                                     .contains(u": twin.wav -> \u26A0 Fake Stereo"_s),
                                 60000);
        process.kill();
        process.waitForFinished();
    }

private:
    // Shows the window with the three test files listed and analysed.

    void listThree() {
        ContentViewModel& viewModel = window->viewModel();
        viewModel.setShowFilter(ShowFilter::all);
        viewModel.handleDrop({QUrl::fromLocalFile(audio.filePath(u"twin.wav"_s)),
                              QUrl::fromLocalFile(audio.filePath(u"single.wav"_s)),
                              QUrl::fromLocalFile(audio.filePath(u"wide.wav"_s))});
        QTRY_VERIFY_WITH_TIMEOUT(viewModel.items().size() == 3 && !viewModel.isScanning(), 20000);
        QTRY_COMPARE(part<FileTable>(*window, "fileTable")->model()->rowCount(), 3);
    }

    QTemporaryDir audio;
    QList<QUrl> opened;
    std::unique_ptr<MainWindow> window;
};

CHANFUSE_TEST_MAIN_WITH(QApplication, WindowTest)
#include "tst_window.moc"
