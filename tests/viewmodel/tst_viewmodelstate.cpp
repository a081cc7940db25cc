#include "TestMain.h"

#include "ConsoleCapture.h"
#include "TestFiles.h"
#include "ViewModelLog.h"
#include "viewmodel/ContentViewModel.h"
#include "viewmodel/LogFile.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSignalSpy>

using namespace ViewModelLog;

Q_DECLARE_METATYPE(ConvertBehavior)
Q_DECLARE_METATYPE(SortColumn)
Q_DECLARE_METATYPE(SortOrder)

namespace {

FileItemPtr item(const QString& name, DetectionStatus status = DetectionStatus::fakeStereo,
                 qint64 size = 0, ChannelStatus channels = ChannelStatus::unknown) {
    auto made = std::make_shared<FileItem>(QUrl::fromLocalFile(QStringLiteral("/nowhere/") + name));
    made->detectionStatus = status;
    made->fileSize = size;
    made->channelStatus = channels;
    return made;
}

QStringList namesOf(const QList<FileItemPtr>& items) {
    QStringList names;
    for (const FileItemPtr& entry : items)
        names.append(entry->fileName);
    return names;
}

QStringList linesOfLogFile() {
    return QString::fromUtf8(TestFiles::contentsOf(logFilePath())).split(u'\n', Qt::SkipEmptyParts);
}

} // namespace

// What the view model decides without any tool: the table's order and
// filter, the log, and the banner's text.
class ViewModelStateTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        const QString folder = QFileInfo(logFilePath()).path();
        QFile::remove(folder);
        QDir(folder).removeRecursively();
    }

    // A stable sort; descending is its exact reverse, ties included.
    void sortedByColumn_data() {
        QTest::addColumn<QList<FileItemPtr>>("items");
        QTest::addColumn<SortColumn>("column");
        QTest::addColumn<SortOrder>("order");
        QTest::addColumn<QStringList>("expected");
        using enum DetectionStatus;
        const QList<FileItemPtr> statuses{item("error", error),           item("mono", mono),
                                          item("converted", converted),   item("pending", pending),
                                          item("skipped", timedOut),      item("real", realStereo),
                                          item("converting", converting), item("fake")};
        const QList<FileItemPtr> sizes{
            item("big", fakeStereo, 5'000'000'000, ChannelStatus::stereo),
            item("first ten", fakeStereo, 10, ChannelStatus::unknown),
            item("small", fakeStereo, 3, ChannelStatus::mono),
            item("second ten", fakeStereo, 10, ChannelStatus::stereo)};
        const QList<FileItemPtr> names{item("b.wav"), item("A.wav"), item("a.wav")};
        QTest::newRow("status") << statuses << SortColumn::status << SortOrder::ascending
                                << QStringList{"fake",       "pending",   "real",    "mono",
                                               "converting", "converted", "skipped", "error"};
        QTest::newRow("size") << sizes << SortColumn::fileSize << SortOrder::ascending
                              << QStringList{"small", "first ten", "second ten", "big"};
        QTest::newRow("size, descending") << sizes << SortColumn::fileSize << SortOrder::descending
                                          << QStringList{"big", "second ten", "first ten", "small"};
        QTest::newRow("channels") << sizes << SortColumn::channels << SortOrder::ascending
                                  << QStringList{"small", "big", "second ten", "first ten"};
        QTest::newRow("name, case ignored")
            << names << SortColumn::filename << SortOrder::ascending << QStringList{"A", "a", "b"};
        QTest::newRow("name, descending")
            << names << SortColumn::filename << SortOrder::descending << QStringList{"b", "a", "A"};
    }

    void sortedByColumn() {
        QFETCH(QList<FileItemPtr>, items);
        QFETCH(SortColumn, column);
        QFETCH(SortOrder, order);
        QFETCH(QStringList, expected);
        QCOMPARE(namesOf(::sortedByColumn(items, column, order)), expected);
    }

    // Rows that need the user's attention stay with the fake stereo ones.
    void theFakeStereoFilter() {
        const FileItemPtr refused = item("refused", DetectionStatus::realStereo);
        refused->errorMessage = QStringLiteral("Not converted: channels differ");
        const QList<FileItemPtr> items{item("fake"),
                                       item("failed", DetectionStatus::error),
                                       item("slow", DetectionStatus::timedOut),
                                       refused,
                                       item("wide", DetectionStatus::realStereo),
                                       item("single", DetectionStatus::mono),
                                       item("done", DetectionStatus::converted),
                                       item("waiting", DetectionStatus::pending)};
        QCOMPARE(namesOf(filteredItems(items, ShowFilter::fakeStereoOnly)),
                 (QStringList{"fake", "failed", "slow", "refused"}));
        QCOMPARE(filteredItems(items, ShowFilter::all), items);
    }

    void headerClicksAndIndicators() {
        ContentViewModel model;
        QCOMPARE(model.sortIndicator(SortColumn::status), QStringLiteral(" \u25B2"));
        QCOMPARE(model.sortIndicator(SortColumn::fileSize), QString());
        model.toggleSort(SortColumn::fileSize);
        QCOMPARE(model.sortOrder(), SortOrder::ascending);
        model.toggleSort(SortColumn::fileSize);
        QCOMPARE(model.sortColumn(), SortColumn::fileSize);
        QCOMPARE(model.sortIndicator(SortColumn::fileSize), QStringLiteral(" \u25BC"));
        QCOMPARE(model.sortIndicator(SortColumn::status), QString());
        model.toggleSort(SortColumn::filename);
        QCOMPARE(model.sortIndicator(SortColumn::filename), QStringLiteral(" \u25B2"));
    }

    void timestampsHaveSecondsAndNoZone_data() {
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<QString>("expected");
        QTest::newRow("en_US") << QLocale(QStringLiteral("en_US")) << "3:04:05 PM";
        QTest::newRow("de_DE") << QLocale(QStringLiteral("de_DE")) << "15:04:05";
        QTest::newRow("C") << QLocale::c() << "15:04:05";
    }

    void timestampsHaveSecondsAndNoZone() {
        QFETCH(QLocale, locale);
        QFETCH(QString, expected);
        QCOMPARE(logTimestamp(QTime(15, 4, 5), locale), expected);
    }

    // The view keeps the newest 500; standard output and the file get all.
    void everyLineGoesToThreePlaces() {
        ContentViewModel model;
        QSignalSpy changes(&model, &ContentViewModel::changed);
        TestSupport::ConsoleCapture output;
        for (int number = 1; number <= 501; ++number)
            model.log(QStringLiteral("line %1").arg(number));
        const QStringList printed = output.lines();

        QCOMPARE(changes.size(), 501);
        QCOMPARE(model.debugLog().size(), 500);
        QCOMPARE(model.loggedLineCount(), 501);
        QCOMPARE(messageOf(model.debugLog().first()), QStringLiteral("line 2"));
        const QRegularExpression entry(
            QStringLiteral("^\\[[^\\]]*\\d:\\d\\d:\\d\\d[^\\]]*\\] line 501$"));
        QVERIFY2(entry.match(model.debugLog().last()).hasMatch(),
                 qPrintable(model.debugLog().last()));
        QCOMPARE(printed.size(), 501);
        QCOMPARE(printed.last(), QStringLiteral("[DEBUG] line 501"));
        QTRY_COMPARE(linesOfLogFile().size(), 501);
        QCOMPARE(linesOfLogFile().last(), model.debugLog().last());

        // A later view model appends to the same file.
        ContentViewModel later;
        later.log(QStringLiteral("second\nwith a line feed"));
        QTRY_COMPARE(linesOfLogFile().size(), 503);
        QCOMPARE(messageOf(linesOfLogFile().at(501)), QStringLiteral("second"));
    }

    // Past the limit the file starts again, and only the one before it is kept.
    void theLogFileIsRotatedAtItsLimit() {
        const QString path = logFilePath();
        const QByteArray first = QByteArray(40, 'a') + '\n';
        const QByteArray second = QByteArray(30, 'b') + '\n';
        const QByteArray third = QByteArray(79, 'c') + '\n';
        appendToLogFile(path, first, 100);
        appendToLogFile(path, first, 100);
        QCOMPARE(TestFiles::contentsOf(path), first + first);
        appendToLogFile(path, second, 100);
        QCOMPARE(TestFiles::contentsOf(path), second);
        QCOMPARE(TestFiles::contentsOf(path + QStringLiteral(".1")), first + first);
        appendToLogFile(path, third, 100);
        QCOMPARE(TestFiles::contentsOf(path), third);
        QCOMPARE(TestFiles::contentsOf(path + QStringLiteral(".1")), second);
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
    }

    // The space is called recovered only where the originals are gone.
    void bannerText_data() {
        QTest::addColumn<ConvertBehavior>("behavior");
        QTest::addColumn<bool>("suffix");
        QTest::addColumn<QString>("expected");
        const QString converted = QStringLiteral("Congratulations! 2 files converted. ");
        const QString recovered = QStringLiteral("1.5 mb disk space recovered.\n");
        QTest::newRow("trash, suffix")
            << ConvertBehavior::trash << true
            << converted + recovered + "(Original files are moved to the Trash.)";
        QTest::newRow("trash, no suffix")
            << ConvertBehavior::trash << false
            << converted + recovered + "(Original files are moved to the Trash.)";
        QTest::newRow("overwrite, no suffix")
            << ConvertBehavior::overwrite << false
            << converted + recovered + "(Original files are overwritten.)";
        QTest::newRow("overwrite, suffix")
            << ConvertBehavior::overwrite << true
            << converted + "Original files are kept beside them:\ndeleting them would free 3.2 mb.";
        QTest::newRow("backup, no suffix")
            << ConvertBehavior::backup << false
            << converted + "Original files are kept in the _backup folder:\n"
                           "deleting them would free 3.2 mb.";
        QTest::newRow("backup, suffix")
            << ConvertBehavior::backup << true
            << converted + "Original files are kept, with copies in the _backup folder:\n"
                           "deleting the originals would free 3.2 mb.";
    }

    void bannerText() {
        QFETCH(ConvertBehavior, behavior);
        QFETCH(bool, suffix);
        QFETCH(QString, expected);
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        QCOMPARE(
            ContentViewModel::conversionCompleteText(2, 1'500'000, 3'200'000, behavior, suffix),
            expected);
    }
};

CHANFUSE_TEST_MAIN(ViewModelStateTest)
#include "tst_viewmodelstate.moc"
