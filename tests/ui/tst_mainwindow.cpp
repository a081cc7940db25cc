#include "BusyIndicator.h"
#include "CompletionBanner.h"
#include "FakeTools.h"
#include "FileTable.h"
#include "FileTableModel.h"
#include "GuiTestMain.h"
#include "PreferencesDialog.h"
#include "Processes.h"
#include "TestAudio.h"
#include "WindowProbe.h"
#include "model/Settings.h"
#include "viewmodel/ContentViewModel.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QToolButton>

using WindowProbe::part;
using WindowProbe::status;

// The window driven through its own controls over real scans and
// conversions of generated audio.
class MainWindowTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void statesOfAScanAndAConversion();
    void closingMidConversionQuitsOnceTheFileIsLetGo();
    void settingsFieldsKeepWhatDoesNotParse();
    void dropsAnywhereReachTheViewModel();
    void preferencesRoundTripAndRefuseBadValues();
    void keyboardReachesEveryBarAndTicksRows();
    void aShortenedStatusHasItsWholeTextAsTooltip();

private:
    QTemporaryDir audio;
    QString library;
};

namespace {

// A script body that waits until `gate` exists, then runs the real tool.
QString gated(const QString& gate, const QString& realTool, const QString& condition = {}) {
    const QString wait = QStringLiteral("while [ ! -e '%1' ]; do sleep 0.02; done").arg(gate);
    if (condition.isEmpty())
        return wait + QStringLiteral("\nexec %1 \"$@\"").arg(realTool);
    return QStringLiteral("case \" $* \" in %1) %2;; esac\nexec %3 \"$@\"")
        .arg(condition, wait, realTool);
}

void openGate(const QString& path) {
    QFile gate(path);
    QVERIFY(gate.open(QIODevice::WriteOnly));
}

bool shown(const QWidget* widget) {
    return widget->isVisible();
}

} // namespace

void MainWindowTest::initTestCase() {
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    library = audio.filePath(QStringLiteral("Library"));
    QVERIFY(QDir().mkpath(library));
    for (int index = 1; index <= 3; ++index)
        TestAudio::fakeStereo(library + QStringLiteral("/fake%1.wav").arg(index), 0.3);
    for (int index = 1; index <= 4; ++index)
        TestAudio::realStereo(library + QStringLiteral("/real%1.wav").arg(index), 0.3);
    for (int index = 1; index <= 3; ++index)
        TestAudio::mono(library + QStringLiteral("/mono%1.wav").arg(index), 0.3);
}

void MainWindowTest::statesOfAScanAndAConversion() {
    QTemporaryDir copy;
    for (const QString& name : QDir(library).entryList(QDir::Files))
        QVERIFY(QFile::copy(library + QLatin1Char('/') + name, copy.filePath(name)));
    FakeTools tools;
    const QString probeGate = tools.path(QStringLiteral("probe-gate"));
    const QString convertGate = tools.path(QStringLiteral("convert-gate"));
    tools.script(QStringLiteral("ffprobe"), gated(probeGate, QStringLiteral("/usr/bin/ffprobe")));
    tools.script(QStringLiteral("ffmpeg"), gated(convertGate, QStringLiteral("/usr/bin/ffmpeg"),
                                                 QStringLiteral("*\" -ac 1 \"*")));

    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    ContentViewModel& viewModel = window.viewModel();
    auto* pick = part<QPushButton>(window, "pickFolderButton");
    auto* scan = part<QPushButton>(window, "scanButton");
    auto* scanStop = part<QPushButton>(window, "scanStopButton");
    auto* showChoice = part<QWidget>(window, "showChoice");
    auto* clear = part<QPushButton>(window, "clearButton");
    auto* convertStop = part<QPushButton>(window, "convertStopButton");
    auto* settings = part<QWidget>(window, "settingsControls");
    auto* convert = part<QPushButton>(window, "convertSelectedButton");
    auto* spinner = part<BusyIndicator>(window, "scanSpinner");
    auto* progress = part<QProgressBar>(window, "convertProgressBar");
    auto* content = window.findChild<QStackedWidget*>();
    auto* table = part<FileTable>(window, "fileTable");
    auto* folderLabel = part<ElidedLabel>(window, "folderLabel");

    // Idle with nothing chosen.
    QVERIFY(pick->isEnabled());
    QVERIFY(!scan->isEnabled());
    QVERIFY(!shown(scanStop));
    QVERIFY(!shown(showChoice));
    QVERIFY(!shown(folderLabel));
    QCOMPARE(content->currentWidget()->objectName(), QStringLiteral("dropZone"));
    QVERIFY(clear->isEnabled());
    QVERIFY(!shown(convertStop));
    QVERIFY(shown(settings));
    QVERIFY(!convert->isEnabled());
    QVERIFY(!shown(spinner) && !shown(progress));
    QCOMPARE(status(window), QStringLiteral("0 files scanned, 0 fake stereo"));

    // Scanning: every probe waits at the gate.
    viewModel.handleDrop({QUrl::fromLocalFile(copy.path() + QLatin1Char('/'))});
    QTRY_VERIFY_WITH_TIMEOUT(viewModel.isScanning(), 10000);
    QVERIFY(!scan->isEnabled());
    QVERIFY(!clear->isEnabled());
    QVERIFY(shown(scanStop));
    QVERIFY(shown(showChoice));
    QCOMPARE(content->currentWidget(), table);
    QVERIFY(shown(spinner) && !shown(progress));
    const int spinnerAngle = spinner->angle();
    QTRY_VERIFY(spinner->angle() != spinnerAngle);
    QTRY_COMPARE_WITH_TIMEOUT(status(window), QStringLiteral("Scanned 0/10 files, 0 fake stereo"),
                              10000);
    QVERIFY(shown(folderLabel));
    QCOMPARE(folderLabel->text(), QDir(copy.path()).dirName());

    openGate(probeGate);
    QTRY_VERIFY_WITH_TIMEOUT(!viewModel.isScanning(), 30000);

    // Idle after the scan: the filter starts at fake stereo only.
    QCOMPARE(status(window), QStringLiteral("3 of 10 files shown, 3 fake stereo"));
    QTRY_COMPARE(table->model()->rowCount(), 3);
    QVERIFY(scan->isEnabled());
    QVERIFY(clear->isEnabled());
    QVERIFY(!shown(scanStop) && !shown(spinner));
    QVERIFY(convert->isEnabled());
    auto segments = showChoice->findChildren<QToolButton*>();
    QCOMPARE(segments.size(), 2);
    QCOMPARE(segments[0]->text(), QStringLiteral("All"));
    QVERIFY(segments[1]->isChecked());
    QTest::mouseClick(segments[0], Qt::LeftButton);
    QCOMPARE(viewModel.showFilter(), ShowFilter::all);
    QCOMPARE(status(window), QStringLiteral("10 files scanned, 3 fake stereo"));
    QTRY_COMPARE(table->model()->rowCount(), 10);

    // Converting: the first ffmpeg conversion waits at its gate.
    QTest::mouseClick(convert, Qt::LeftButton);
    QVERIFY(viewModel.isConverting());
    QVERIFY(shown(convertStop));
    QVERIFY(!shown(settings));
    QVERIFY(!clear->isEnabled());
    QVERIFY(!convert->isEnabled());
    QVERIFY(shown(progress) && !shown(spinner));
    QVERIFY(!shown(scanStop));
    QVERIFY(status(window).startsWith(QStringLiteral("Converting")));
    QTest::mouseClick(convertStop, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!viewModel.isConverting(), 30000);
    QVERIFY(shown(settings));
    QVERIFY(!shown(convertStop) && !shown(progress));
    QVERIFY(clear->isEnabled());
    QVERIFY(status(window).endsWith(QStringLiteral(" fake stereo")));
    // Not before the stopped run has let go of its files.
    QVERIFY(!convert->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(convert->isEnabled(), 30000);

    // A run that ends by itself raises the banner; a click hides it, with
    // the animation still showing it for a moment.
    openGate(convertGate);
    QTest::mouseClick(convert, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(viewModel.showConversionComplete(), 30000);
    auto* banner = window.findChild<CompletionBanner*>();
    QVERIFY(shown(banner));
    QCOMPARE(banner->message(), viewModel.conversionCompleteMessage());
    QVERIFY(banner->message().startsWith(QStringLiteral("Congratulations! ")));
    QTRY_COMPARE(banner->reveal(), 1.0);
    QTest::mouseClick(banner, Qt::LeftButton, {}, banner->rect().center());
    QVERIFY(!viewModel.showConversionComplete());
    QVERIFY(shown(banner));
    QTRY_VERIFY_WITH_TIMEOUT(!shown(banner), 2000);
    QCOMPARE(banner->reveal(), 0.0);
}

void MainWindowTest::closingMidConversionQuitsOnceTheFileIsLetGo() {
    QTemporaryDir copy;
    const QString original = copy.filePath(QStringLiteral("fake1.wav"));
    QVERIFY(QFile::copy(library + QStringLiteral("/fake1.wav"), original));
    FakeTools tools;
    tools.realTool(QStringLiteral("ffprobe"));
    tools.script(QStringLiteral("ffmpeg"),
                 gated(tools.path(QStringLiteral("never")), QStringLiteral("/usr/bin/ffmpeg"),
                       QStringLiteral("*\" -ac 1 \"*")));

    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    ContentViewModel& viewModel = window.viewModel();
    viewModel.handleDrop({QUrl::fromLocalFile(copy.path() + QLatin1Char('/'))});
    QTRY_VERIFY_WITH_TIMEOUT(!viewModel.items().isEmpty() && !viewModel.isScanning(), 30000);
    const FileItemPtr item = viewModel.items().first();
    QTRY_VERIFY(item->isSelected);
    viewModel.convertSelected();
    QTRY_VERIFY_WITH_TIMEOUT(
        std::any_of(
            viewModel.debugLog().cbegin(), viewModel.debugLog().cend(),
            [](const QString& line) { return line.contains(QStringLiteral("ffmpeg launched")); }),
        30000);

    QSignalSpy readyToQuit(&window, &MainWindow::readyToQuit);
    QSignalSpy lastWindowClosed(qApp, &QGuiApplication::lastWindowClosed);
    QVERIFY(!window.close());
    QVERIFY(!window.isVisible());
    QVERIFY(readyToQuit.isEmpty());
    QVERIFY(readyToQuit.wait(15000));
    QCOMPARE(readyToQuit.size(), 1);
    QCOMPARE(item->errorMessage, std::optional(QStringLiteral("Cancelled")));
    QVERIFY(QFile::exists(original));
    QVERIFY(TestSupport::liveChildren().isEmpty());
    QVERIFY(lastWindowClosed.isEmpty());
}

void MainWindowTest::settingsFieldsKeepWhatDoesNotParse() {
    Settings& settings = Settings::shared();
    settings.setConvertTimeoutSeconds(60);
    settings.setAppendFilename(true);
    settings.setSuffix(QStringLiteral("_MONO"));

    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto* timeout = part<QLineEdit>(window, "timeoutField");
    auto* suffix = part<QLineEdit>(window, "suffixField");
    auto* append = part<QCheckBox>(window, "appendFilenameCheckBox");
    QCOMPARE(timeout->text(), QStringLiteral("60"));
    QCOMPARE(suffix->text(), QStringLiteral("_MONO"));

    timeout->setFocus();
    timeout->selectAll();
    for (const QString& refused :
         {QStringLiteral("abc"), QStringLiteral("0"), QStringLiteral("-5")}) {
        timeout->selectAll();
        QTest::keyClicks(timeout, refused);
        QCOMPARE(settings.convertTimeoutSeconds(), qint64(60));
    }
    timeout->selectAll();
    QTest::keyClicks(timeout, QStringLiteral("1,200"));
    QCOMPARE(settings.convertTimeoutSeconds(), qint64(1200));
    QTest::keyClicks(timeout, QStringLiteral("x"));
    QCOMPARE(settings.convertTimeoutSeconds(), qint64(1200));
    QTest::keyClick(timeout, Qt::Key_Return);
    QCOMPARE(timeout->text(), QStringLiteral("1,200"));

    suffix->setFocus();
    suffix->selectAll();
    QTest::keyClicks(suffix, QStringLiteral("_M/"));
    QCOMPARE(settings.suffix(), QStringLiteral("_M"));
    QVERIFY2(suffix->toolTip().contains(QStringLiteral("path separator")),
             qPrintable(suffix->toolTip()));
    QTest::keyClick(suffix, Qt::Key_Backspace);
    QCOMPARE(settings.suffix(), QStringLiteral("_M"));
    QVERIFY(suffix->toolTip().isEmpty());

    QTest::mouseClick(append, Qt::LeftButton, {}, QPoint(4, append->height() / 2));
    QVERIFY(!settings.appendFilename());
    QVERIFY(!suffix->isEnabled());
    QCOMPARE(suffix->text(), QStringLiteral("_M"));
    QCOMPARE(settings.suffix(), QStringLiteral("_M"));
    QTest::mouseClick(append, Qt::LeftButton, {}, QPoint(4, append->height() / 2));
    QVERIFY(settings.appendFilename());
    QVERIFY(suffix->isEnabled());
}

void MainWindowTest::dropsAnywhereReachTheViewModel() {
    QTemporaryDir folder;
    const QString takes = folder.filePath(QStringLiteral("Takes"));
    QVERIFY(QDir().mkpath(takes));
    const QString first = folder.filePath(QStringLiteral("first.wav"));
    const QString second = folder.filePath(QStringLiteral("second.wav"));
    TestAudio::mono(first, 0.2);
    TestAudio::mono(second, 0.2);
    TestAudio::mono(takes + QStringLiteral("/take.wav"), 0.2);

    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    ContentViewModel& viewModel = window.viewModel();
    const auto names = [&viewModel] {
        QStringList result;
        for (const FileItemPtr& item : viewModel.items())
            result.append(item->fileName);
        return result;
    };

    // Files onto a toolbar button: the list becomes those files.
    QVERIFY(WindowProbe::drop(window, part<QPushButton>(window, "pickFolderButton"),
                              {QUrl::fromLocalFile(first), QUrl::fromLocalFile(second)}));
    QTRY_COMPARE_WITH_TIMEOUT(names(), (QStringList{"first", "second"}), 10000);

    // A folder onto the table: a scan of that folder.
    auto* table = part<FileTable>(window, "fileTable");
    QTRY_VERIFY(table->isVisible());
    QVERIFY(WindowProbe::drop(window, table->viewport(),
                              {QUrl::fromLocalFile(takes + QLatin1Char('/'))}));
    QTRY_COMPARE_WITH_TIMEOUT(viewModel.scannedFolders(), QStringList{"Takes"}, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(!viewModel.isScanning(), 30000);
    QCOMPARE(names(), QStringList{"take"});

    // A file onto the bottom bar's text field, which must not take it as
    // text; a proposed move is taken as a copy. The folder label and "Scan"
    // now mean the dropped file's folder.
    auto* suffix = part<QLineEdit>(window, "suffixField");
    const QString suffixText = suffix->text();
    QCOMPARE(WindowProbe::drop(window, suffix, {QUrl::fromLocalFile(second)},
                               Qt::CopyAction | Qt::MoveAction, Qt::ShiftModifier),
             Qt::CopyAction);
    QTRY_COMPARE_WITH_TIMEOUT(names(), QStringList{"second"}, 10000);
    QCOMPARE(suffix->text(), suffixText);
    QTRY_VERIFY_WITH_TIMEOUT(!viewModel.isScanning(), 30000);
    QCOMPARE(part<ElidedLabel>(window, "folderLabel")->text(), QDir(folder.path()).dirName());
    QTest::mouseClick(part<QPushButton>(window, "scanButton"), Qt::LeftButton);
    QCOMPARE(viewModel.scannedFolders(), QStringList{QDir(folder.path()).dirName()});
    QTRY_VERIFY_WITH_TIMEOUT(!viewModel.isScanning(), 30000);
    QCOMPARE(names().size(), 3);

    // A source that offers only a move is refused.
    QCOMPARE(
        WindowProbe::drop(window, table->viewport(), {QUrl::fromLocalFile(first)}, Qt::MoveAction),
        Qt::IgnoreAction);
}

void MainWindowTest::preferencesRoundTripAndRefuseBadValues() {
    Settings& settings = Settings::shared();
    settings.setComparisonMethod(ComparisonMethod::byteExact);
    settings.setConvertBehavior(ConvertBehavior::trash);
    settings.setScanLimitSeconds(5);
    settings.setParallelScans(4);
    settings.setAutoSelectAll(true);

    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    const auto open = [&window](bool byShortcut) {
        if (byShortcut)
            QTest::keyClick(&window, Qt::Key_Comma, Qt::ControlModifier);
        else
            QTest::mouseClick(part<QPushButton>(window, "preferencesButton"), Qt::LeftButton);
        for (PreferencesDialog* dialog : window.findChildren<PreferencesDialog*>()) {
            if (dialog->isVisible())
                return dialog;
        }
        qFatal("the preferences did not open");
    };

    // The stored values are shown; new ones are stored on OK.
    PreferencesDialog* dialog = open(true);
    QVERIFY(part<QRadioButton>(*dialog, "byteExactRadio")->isChecked());
    QVERIFY(part<QRadioButton>(*dialog, "trashRadio")->isChecked());
    auto* seconds = part<QLineEdit>(*dialog, "scanSecondsField");
    auto* parallel = part<QLineEdit>(*dialog, "parallelScansField");
    QCOMPARE(seconds->text(), QStringLiteral("5"));
    QCOMPARE(parallel->text(), QStringLiteral("4"));
    QVERIFY(part<QCheckBox>(*dialog, "autoSelectCheckBox")->isChecked());
    part<QRadioButton>(*dialog, "statisticalRadio")->click();
    part<QRadioButton>(*dialog, "backupRadio")->click();
    seconds->selectAll();
    QTest::keyClicks(seconds, QStringLiteral("12"));
    parallel->selectAll();
    QTest::keyClicks(parallel, QStringLiteral("2"));
    part<QCheckBox>(*dialog, "autoSelectCheckBox")->click();
    QTest::keyClick(dialog, Qt::Key_Return);
    QVERIFY(!dialog->isVisible());
    QCOMPARE(settings.comparisonMethod(), ComparisonMethod::statistical);
    QCOMPARE(settings.convertBehavior(), ConvertBehavior::backup);
    QCOMPARE(settings.scanLimitSeconds(), qint64(12));
    QCOMPARE(settings.parallelScans(), qint64(2));
    QVERIFY(!settings.autoSelectAll());

    // Reopened, it shows them; a wrong number is refused with a hint and
    // nothing at all is stored.
    dialog = open(false);
    QVERIFY(part<QRadioButton>(*dialog, "statisticalRadio")->isChecked());
    QVERIFY(part<QRadioButton>(*dialog, "backupRadio")->isChecked());
    QVERIFY(!part<QCheckBox>(*dialog, "autoSelectCheckBox")->isChecked());
    seconds = part<QLineEdit>(*dialog, "scanSecondsField");
    parallel = part<QLineEdit>(*dialog, "parallelScansField");
    QCOMPARE(seconds->text(), QStringLiteral("12"));
    part<QRadioButton>(*dialog, "overwriteRadio")->click();
    auto* secondsHint = part<QLabel>(*dialog, "scanSecondsHint");
    auto* parallelHint = part<QLabel>(*dialog, "parallelScansHint");
    QVERIFY(!secondsHint->isVisible() && !parallelHint->isVisible());
    for (const QString& wrong : {QStringLiteral("0"), QStringLiteral("-3"), QStringLiteral("abc"),
                                 QStringLiteral("601"), QStringLiteral("2.5")}) {
        seconds->selectAll();
        QTest::keyClicks(seconds, wrong);
        QVERIFY2(secondsHint->isVisible(), qPrintable(wrong));
        QTest::keyClick(dialog, Qt::Key_Return);
        QVERIFY(dialog->isVisible());
    }
    seconds->selectAll();
    QTest::keyClicks(seconds, QStringLiteral("30"));
    QVERIFY(!secondsHint->isVisible());
    parallel->selectAll();
    QTest::keyClicks(parallel, QStringLiteral("0"));
    QVERIFY(parallelHint->isVisible());
    QTest::keyClick(dialog, Qt::Key_Return);
    QVERIFY(dialog->isVisible());
    QTest::keyClick(dialog, Qt::Key_Escape);
    QVERIFY(!dialog->isVisible());
    QCOMPARE(settings.convertBehavior(), ConvertBehavior::backup);
    QCOMPARE(settings.scanLimitSeconds(), qint64(12));
    QCOMPARE(settings.parallelScans(), qint64(2));
}

void MainWindowTest::keyboardReachesEveryBarAndTicksRows() {
    Settings::shared().setAutoSelectAll(false);
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    ContentViewModel& viewModel = window.viewModel();
    viewModel.handleDrop({QUrl::fromLocalFile(library + QStringLiteral("/fake1.wav")),
                          QUrl::fromLocalFile(library + QStringLiteral("/fake2.wav"))});
    QTRY_VERIFY_WITH_TIMEOUT(viewModel.items().size() == 2 && !viewModel.isScanning(), 30000);
    auto* table = part<FileTable>(window, "fileTable");
    QTRY_COMPARE(table->model()->rowCount(), 2);

    // In the list, the arrows move the highlight and Space ticks its row.
    table->setFocus();
    QTest::keyClick(table, Qt::Key_Down);
    const FileItemPtr highlighted = table->rows().itemAt(table->currentIndex().row());
    QCOMPARE(table->rows().highlightedId(), std::optional(highlighted->id));
    QVERIFY(!highlighted->isSelected);
    QTest::keyClick(table, Qt::Key_Space);
    QVERIFY(highlighted->isSelected);
    QTRY_VERIFY(part<QPushButton>(window, "convertSelectedButton")->isEnabled());
    QTest::keyClick(table, Qt::Key_Space);
    QVERIFY(!highlighted->isSelected);
    QTest::keyClick(table, Qt::Key_Space);

    // Tab runs from the toolbar through the list to the bottom bar and round.
    auto* pick = part<QPushButton>(window, "pickFolderButton");
    pick->setFocus();
    QList<QWidget*> visited{pick};
    for (int step = 0; step < 30 && (visited.size() == 1 || visited.last() != pick); ++step) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited.append(QApplication::focusWidget());
    }
    QCOMPARE(visited.last(), pick);
    const auto position = [&visited, &window](const char* name) {
        return visited.indexOf(part<QWidget>(window, name));
    };
    QVERIFY(position("scanButton") > 0);
    QVERIFY(position("preferencesButton") > position("scanButton"));
    QVERIFY(position("fileTable") > position("preferencesButton"));
    QVERIFY(position("clearButton") > position("fileTable"));
    QVERIFY(position("convertSelectedButton") > position("infoButton"));
}

void MainWindowTest::aShortenedStatusHasItsWholeTextAsTooltip() {
    MainWindow window;
    window.resize(window.minimumSize());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto* label = part<ElidedLabel>(window, "statusLabel");
    const QString longText =
        QStringLiteral("Scanning: ") + QString(200, u'x') + QStringLiteral(".wav");
    label->setText(longText);
    QTRY_COMPARE(label->toolTip(), longText);
    QVERIFY(label->width() < label->sizeHint().width());
    label->setText(QStringLiteral("3 files scanned"));
    QTRY_VERIFY(label->toolTip().isEmpty());
}

CHANFUSE_GUI_TEST_MAIN(MainWindowTest)
#include "tst_mainwindow.moc"
