#include "ConvertButtonDelegate.h"
#include "DarkTheme.h"
#include "FakeTools.h"
#include "FileTable.h"
#include "FileTableModel.h"
#include "GuiTestMain.h"
#include "TestAudio.h"
#include "WindowProbe.h"
#include "model/Settings.h"
#include "viewmodel/ContentViewModel.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QHeaderView>
#include <QHelpEvent>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolTip>

using WindowProbe::part;

// The table inside the real window, over items analysed by the real tools;
// conversions go to an ffmpeg that fails them, so no file is touched.
class FileTableTest : public QObject {
    Q_OBJECT

public slots:
    // QDesktopServices hands opened file URLs here instead of to the desktop.
    void openedByDesktop(const QUrl& url) { opened.append(url); }

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void checkboxesAndRowButtons();
    void rowsHighlightRevealAndSort();

private:
    int rowOf(const QString& fileName) const;
    QPoint centreOf(int row, int column) const;

    QTemporaryDir folder;
    QList<QUrl> opened;
    std::unique_ptr<FakeTools> tools;
    std::unique_ptr<MainWindow> window;
    FileTable* table = nullptr;
};

void FileTableTest::initTestCase() {
    // No session bus: revealing falls back to opening the folder.
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus");
    QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "openedByDesktop");
    TestAudio::fakeStereo(folder.filePath(QStringLiteral("twin.wav")), 0.3);
    TestAudio::mono(folder.filePath(QStringLiteral("single.wav")), 0.3);
    TestAudio::realStereo(folder.filePath(QStringLiteral("wide.wav")), 0.3);
}

void FileTableTest::init() {
    tools = std::make_unique<FakeTools>();
    tools->realTool(QStringLiteral("ffprobe"));
    tools->script(QStringLiteral("ffmpeg"),
                  QStringLiteral("case \" $* \" in *\" -ac 1 \"*) echo 'Conversion failed!' >&2; "
                                 "exit 1;; esac\nexec /usr/bin/ffmpeg \"$@\""));
    Settings::shared().setAutoSelectAll(false);
    opened.clear();

    window = std::make_unique<MainWindow>();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    ContentViewModel& viewModel = window->viewModel();
    viewModel.setShowFilter(ShowFilter::all);
    viewModel.handleDrop({QUrl::fromLocalFile(folder.filePath(QStringLiteral("twin.wav"))),
                          QUrl::fromLocalFile(folder.filePath(QStringLiteral("single.wav"))),
                          QUrl::fromLocalFile(folder.filePath(QStringLiteral("wide.wav")))});
    QTRY_VERIFY_WITH_TIMEOUT(viewModel.items().size() == 3 &&
                                 std::none_of(viewModel.items().cbegin(), viewModel.items().cend(),
                                              [](const FileItemPtr& item) {
                                                  return item->detectionStatus ==
                                                         DetectionStatus::pending;
                                              }),
                             20000);
    table = part<FileTable>(*window, "fileTable");
    QTRY_COMPARE(table->model()->rowCount(), 3);
}

void FileTableTest::cleanup() {
    window.reset();
    tools.reset();
}

int FileTableTest::rowOf(const QString& fileName) const {
    for (int row = 0; row < table->model()->rowCount(); ++row) {
        if (table->rows().itemAt(row)->fileName == fileName)
            return row;
    }
    return -1;
}

// What a desktop delivers for a double click: press, release, then the
// second press as a double-click event, and its release.
void doubleClick(QWidget* widget, const QPoint& position) {
    QTest::mouseClick(widget, Qt::LeftButton, {}, position);
    QMouseEvent second(QEvent::MouseButtonDblClick, position, widget->mapToGlobal(position),
                       Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &second);
    QTest::mouseRelease(widget, Qt::LeftButton, {}, position);
}

QPoint FileTableTest::centreOf(int row, int column) const {
    return table->visualRect(table->model()->index(row, column)).center();
}

void FileTableTest::checkboxesAndRowButtons() {
    ContentViewModel& viewModel = window->viewModel();
    auto* convertSelected = part<QPushButton>(*window, "convertSelectedButton");
    const int twin = rowOf(QStringLiteral("twin"));
    const int single = rowOf(QStringLiteral("single"));
    QVERIFY(twin >= 0 && single >= 0);
    const FileItemPtr twinItem = table->rows().itemAt(twin);
    QCOMPARE(twinItem->detectionStatus, DetectionStatus::fakeStereo);
    QVERIFY(!twinItem->isSelected);
    QVERIFY(!convertSelected->isEnabled());

    // Ticking the fake-stereo row enables the main action at once; ticking
    // only a mono row does not.
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {},
                      centreOf(single, FileTableModel::checkColumn));
    QVERIFY(table->rows().itemAt(single)->isSelected);
    QVERIFY(!convertSelected->isEnabled());
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {},
                      centreOf(twin, FileTableModel::checkColumn));
    QVERIFY(twinItem->isSelected);
    QVERIFY(convertSelected->isEnabled());
    QCOMPARE(table->model()->index(twin, FileTableModel::checkColumn).data(Qt::CheckStateRole),
             QVariant(Qt::Checked));
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {},
                      centreOf(twin, FileTableModel::checkColumn));
    QVERIFY(!twinItem->isSelected);
    QVERIFY(!convertSelected->isEnabled());

    // The row button works only for fake stereo.
    for (int row = 0; row < 3; ++row)
        QCOMPARE(table->model()
                     ->index(row, FileTableModel::actionColumn)
                     .data(FileTableModel::convertibleRole)
                     .toBool(),
                 row == twin);
    const int logLines = int(viewModel.debugLog().size());
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {},
                      centreOf(single, FileTableModel::actionColumn));
    QTest::qWait(0);
    QCOMPARE(viewModel.debugLog().size(), logLines);
    QCOMPARE(table->rows().itemAt(single)->detectionStatus, DetectionStatus::mono);

    // The failing ffmpeg turns the item into an error whose message is the
    // status cell's tooltip.
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {},
                      centreOf(twin, FileTableModel::actionColumn));
    QTRY_COMPARE_WITH_TIMEOUT(twinItem->detectionStatus, DetectionStatus::error, 20000);
    QVERIFY(twinItem->errorMessage && !twinItem->errorMessage->isEmpty());
    QTRY_VERIFY(!table->model()
                     ->index(rowOf(QStringLiteral("twin")), FileTableModel::actionColumn)
                     .data(FileTableModel::convertibleRole)
                     .toBool());

    const int errorRow = rowOf(QStringLiteral("twin"));
    const QPoint statusCell = centreOf(errorRow, FileTableModel::statusColumn);
    QHelpEvent help(QEvent::ToolTip, statusCell, table->viewport()->mapToGlobal(statusCell));
    QCoreApplication::sendEvent(table->viewport(), &help);
    QTRY_COMPARE(QToolTip::text(), *twinItem->errorMessage);
    QCOMPARE(table->model()->index(errorRow, FileTableModel::statusColumn).data(Qt::ForegroundRole),
             QVariant(ThemeColors::destructive()));

    QToolTip::hideText();
    QTRY_VERIFY(QToolTip::text().isEmpty());
    const QPoint monoStatus =
        centreOf(rowOf(QStringLiteral("single")), FileTableModel::statusColumn);
    QHelpEvent noHelp(QEvent::ToolTip, monoStatus, table->viewport()->mapToGlobal(monoStatus));
    QCoreApplication::sendEvent(table->viewport(), &noHelp);
    QVERIFY(QToolTip::text().isEmpty());

    // The name's tooltip tells rows of the same name apart by their folder.
    QCOMPARE(table->model()
                 ->index(rowOf(QStringLiteral("twin")), FileTableModel::nameColumn)
                 .data(Qt::ToolTipRole),
             QVariant(twinItem->path()));
}

void FileTableTest::rowsHighlightRevealAndSort() {
    ContentViewModel& viewModel = window->viewModel();
    FileTableModel& rows = table->rows();
    const FileItemPtr wide = rows.itemAt(rowOf(QStringLiteral("wide")));

    // A click on the name highlights the row; the highlight follows the item
    // through a re-sort and "Clear" drops it.
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {},
                      centreOf(rowOf(QStringLiteral("wide")), FileTableModel::nameColumn));
    QCOMPARE(rows.highlightedId(), std::optional<QUuid>(wide->id));
    QCOMPARE(rows.index(rowOf(QStringLiteral("wide")), FileTableModel::sizeColumn)
                 .data(Qt::BackgroundRole),
             QVariant(ThemeColors::rowHighlight()));
    QVERIFY(!rows.index(rowOf(QStringLiteral("single")), FileTableModel::sizeColumn)
                 .data(Qt::BackgroundRole)
                 .isValid());

    // Header clicks sort, and the titles carry the direction.
    QHeaderView* header = table->horizontalHeader();
    const auto title = [&rows](int column) {
        return rows.headerData(column, Qt::Horizontal, Qt::DisplayRole).toString();
    };
    QCOMPARE(title(FileTableModel::statusColumn), QStringLiteral("Status ▲"));
    QCOMPARE(title(FileTableModel::checkColumn), QString());
    QCOMPARE(title(FileTableModel::actionColumn), QStringLiteral("Action"));
    const auto clickHeader = [header](int column) {
        QTest::mouseClick(
            header->viewport(), Qt::LeftButton, {},
            QPoint(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
                   header->height() / 2));
    };
    clickHeader(FileTableModel::nameColumn);
    QCOMPARE(viewModel.sortColumn(), SortColumn::filename);
    QTRY_COMPARE(title(FileTableModel::nameColumn), QStringLiteral("Filename ▲"));
    QCOMPARE(title(FileTableModel::statusColumn), QStringLiteral("Status"));
    QTRY_COMPARE(rows.itemAt(0)->fileName, QStringLiteral("single"));
    clickHeader(FileTableModel::nameColumn);
    QTRY_COMPARE(title(FileTableModel::nameColumn), QStringLiteral("Filename ▼"));
    QTRY_COMPARE(rows.itemAt(0)->fileName, QStringLiteral("wide"));
    QCOMPARE(rows.highlightedId(), std::optional<QUuid>(wide->id));
    QCOMPARE(rows.index(0, FileTableModel::nameColumn).data(Qt::BackgroundRole),
             QVariant(ThemeColors::rowHighlight()));

    // A double click on a name shows the file; without a file manager on the
    // bus, its folder is opened.
    doubleClick(table->viewport(),
                centreOf(rowOf(QStringLiteral("single")), FileTableModel::nameColumn));
    QTRY_COMPARE(opened.size(), 1);
    QCOMPARE(QFileInfo(opened.first().toLocalFile()).canonicalFilePath(),
             QFileInfo(folder.path()).canonicalFilePath());

    QTest::mouseClick(part<QPushButton>(*window, "clearButton"), Qt::LeftButton);
    QVERIFY(!rows.highlightedId());
    QTRY_COMPARE(rows.rowCount(), 0);
}

CHANFUSE_GUI_TEST_MAIN(FileTableTest)
#include "tst_filetable.moc"
