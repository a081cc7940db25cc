#include "TestMain.h"

#include "ConsoleCapture.h"
#include "ViewModelLog.h"
#include "viewmodel/ContentViewModel.h"
#include "viewmodel/LogFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSignalSpy>

using namespace ViewModelLog;

namespace {

QStringList linesOfLogFile() {
    QFile file(logFilePath());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList lines = QString::fromUtf8(file.readAll()).split(u'\n');
    if (lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

} // namespace

class ViewModelLogTest : public QObject {
    Q_OBJECT

    static void removeLogFolder() {
        const QString folder = QFileInfo(logFilePath()).path();
        QFile::remove(folder);
        QDir(folder).removeRecursively();
    }

private slots:
    void init() { removeLogFolder(); }

    void timestampsHaveSecondsAndNoZone() {
        const QTime time(15, 4, 5);
        QCOMPARE(logTimestamp(time, QLocale(QStringLiteral("en_US"))),
                 QStringLiteral("3:04:05 PM"));
        QCOMPARE(logTimestamp(time, QLocale(QStringLiteral("de_DE"))), QStringLiteral("15:04:05"));
        QCOMPARE(logTimestamp(time, QLocale::c()), QStringLiteral("15:04:05"));
    }

    void theNewest500LinesAreKept() {
        ContentViewModel model;
        QSignalSpy changes(&model, &ContentViewModel::changed);
        TestSupport::ConsoleCapture output;
        for (int number = 1; number <= 501; ++number)
            model.log(QStringLiteral("line %1").arg(number));
        const QStringList printed = output.lines();

        QCOMPARE(changes.size(), 501);
        QCOMPARE(model.debugLog().size(), 500);
        QCOMPARE(messageOf(model.debugLog().first()), QStringLiteral("line 2"));
        QCOMPARE(messageOf(model.debugLog().last()), QStringLiteral("line 501"));
        const QRegularExpression entry(
            QStringLiteral("^\\[[^\\]]*\\d:\\d\\d:\\d\\d[^\\]]*\\] line 501$"));
        QVERIFY2(entry.match(model.debugLog().last()).hasMatch(),
                 qPrintable(model.debugLog().last()));
        QCOMPARE(printed.size(), 501);
        QCOMPARE(printed.first(), QStringLiteral("[DEBUG] line 1"));
        QCOMPARE(printed.last(), QStringLiteral("[DEBUG] line 501"));
        // The file keeps every line, the dropped first one too.
        QTRY_COMPARE(linesOfLogFile().size(), 501);
    }

    void theLogFileIsCreatedAppendedAndKeptAcrossViewModels() {
        QVERIFY(!QFile::exists(logFilePath()));
        {
            ContentViewModel first;
            first.log(QStringLiteral("first"));
            QTRY_VERIFY(QFile::exists(logFilePath()));
            first.log(QStringLiteral("second\nwith a line feed"));
        }
        ContentViewModel later;
        later.log(QStringLiteral("third"));
        QTRY_COMPARE(linesOfLogFile().size(), 4);
        const QStringList lines = linesOfLogFile();
        QCOMPARE(messageOf(lines.at(0)), QStringLiteral("first"));
        QCOMPARE(messageOf(lines.at(1)), QStringLiteral("second"));
        QCOMPARE(lines.at(2), QStringLiteral("with a line feed"));
        QCOMPARE(lines.at(3), later.debugLog().first());
    }

    // Past the limit the file starts again, and only the one before it is kept.
    void theLogFileIsRotatedAtItsLimit() {
        const QString path = logFilePath();
        const QByteArray first = QByteArray(40, 'a') + '\n';
        const QByteArray second = QByteArray(30, 'b') + '\n';
        const QByteArray third = QByteArray(79, 'c') + '\n';
        const auto contents = [](const QString& file) {
            QFile opened(file);
            return opened.open(QIODevice::ReadOnly) ? opened.readAll() : QByteArray();
        };
        appendToLogFile(path, first, 100);
        appendToLogFile(path, first, 100);
        QCOMPARE(contents(path), first + first);
        appendToLogFile(path, second, 100);
        QCOMPARE(contents(path), second);
        QCOMPARE(contents(path + QStringLiteral(".1")), first + first);
        appendToLogFile(path, third, 100);
        QCOMPARE(contents(path), third);
        QCOMPARE(contents(path + QStringLiteral(".1")), second);
        QCOMPARE(QDir(QFileInfo(path).path()).entryList(QDir::Files).size(), 2);
    }

    void anUnwritableLogLocationLeavesTheOtherOutputsWorking() {
        // A regular file where the log folder belongs: no folder, no file,
        // whoever runs the test.
        const QString folder = QFileInfo(logFilePath()).path();
        QDir().mkpath(QFileInfo(folder).path());
        QFile blocker(folder);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();

        ContentViewModel model;
        TestSupport::ConsoleCapture output;
        model.log(QStringLiteral("still here"));
        QCOMPARE(output.lines(), QStringList{QStringLiteral("[DEBUG] still here")});
        QCOMPARE(messages(model), QStringList{QStringLiteral("still here")});
        QVERIFY(QFileInfo(folder).isFile());
        QVERIFY(!QFile::exists(logFilePath()));
    }
};

CHANFUSE_TEST_MAIN(ViewModelLogTest)
#include "tst_viewmodellog.moc"
