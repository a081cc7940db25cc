#include "GuiTestMain.h"
#include "InfoLogSheet.h"
#include "WindowProbe.h"
#include "viewmodel/ContentViewModel.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QPushButton>

using WindowProbe::part;

// The sheet opened from the window's "Info" button over the view model's log.
class InfoLogTest : public QObject {
    Q_OBJECT

private slots:
    void emptyLogThenThreeLines();
};

void InfoLogTest::emptyLogThenThreeLines() {
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    ContentViewModel& viewModel = window.viewModel();
    auto* sheet = window.findChild<InfoLogSheet*>();
    QVERIFY(!sheet->isVisible());
    QVERIFY(viewModel.debugLog().isEmpty());

    QTest::mouseClick(part<QPushButton>(window, "infoButton"), Qt::LeftButton);
    QVERIFY(viewModel.showDebug());
    QVERIFY(sheet->isVisible());
    QCOMPARE(sheet->windowModality(), Qt::WindowModal);
    QCOMPARE(sheet->size(), QSize(600, 400));
    QCOMPARE(sheet->shownText(), QStringLiteral("No log entries yet."));

    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->setText(QStringLiteral("left over"));
    QTest::mouseClick(part<QPushButton>(*sheet, "copyButton"), Qt::LeftButton);
    QCOMPARE(clipboard->text(), QString());

    // Lines logged while the sheet is open show at once.
    viewModel.log(QStringLiteral("first"));
    viewModel.log(QStringLiteral("second"));
    viewModel.log(QStringLiteral("third"));
    const QStringList lines = viewModel.debugLog();
    QCOMPARE(lines.size(), 3);
    QCOMPARE(sheet->shownText(), lines.join(QLatin1Char('\n')));
    QTest::mouseClick(part<QPushButton>(*sheet, "copyButton"), Qt::LeftButton);
    const QString copied = clipboard->text();
    QCOMPARE(copied, lines.join(QLatin1Char('\n')));
    QVERIFY(!copied.endsWith(QLatin1Char('\n')));
    QVERIFY(copied.split(QLatin1Char('\n')).last().endsWith(QStringLiteral("] third")));
    QVERIFY(sheet->isVisible());

    QTest::mouseClick(part<QPushButton>(*sheet, "closeButton"), Qt::LeftButton);
    QVERIFY(!viewModel.showDebug());
    QVERIFY(!sheet->isVisible());

    viewModel.log(QStringLiteral("fourth"));
    QTest::mouseClick(part<QPushButton>(window, "infoButton"), Qt::LeftButton);
    QVERIFY(sheet->isVisible());
    QVERIFY(sheet->shownText().endsWith(QStringLiteral("] fourth")));

    // A selection made while lines keep arriving survives them.
    auto* text = sheet->findChild<QPlainTextEdit*>();
    QTextCursor selection = text->textCursor();
    selection.setPosition(1);
    selection.setPosition(8, QTextCursor::KeepAnchor);
    text->setTextCursor(selection);
    const QString selected = text->textCursor().selectedText();
    for (int number = 0; number < 50; ++number)
        viewModel.log(QStringLiteral("more %1").arg(number));
    QVERIFY(sheet->shownText().endsWith(QStringLiteral("] more 49")));
    QCOMPARE(text->textCursor().selectedText(), selected);

    // Escape dismisses the sheet like the desktop's own close does.
    QTest::keyClick(sheet, Qt::Key_Escape);
    QVERIFY(!sheet->isVisible());
    QVERIFY(!viewModel.showDebug());
}

CHANFUSE_GUI_TEST_MAIN(InfoLogTest)
#include "tst_infolog.moc"
