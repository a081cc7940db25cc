#include "TestMain.h"

#include "TestAudio.h"
#include "ViewModelLog.h"
#include "viewmodel/ContentViewModel.h"

#include <QSignalSpy>
#include <QTemporaryDir>

using namespace ViewModelLog;

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

} // namespace

class ViewModelTableTest : public QObject {
    Q_OBJECT

private slots:
    void aNewViewModelStartsEmpty() {
        ContentViewModel model;
        QVERIFY(model.items().isEmpty());
        QCOMPARE(model.selectedFolder(), std::nullopt);
        QVERIFY(!model.isScanning());
        QVERIFY(!model.isConverting());
        QCOMPARE(model.scannedCount(), 0);
        QCOMPARE(model.totalCount(), 0);
        QCOMPARE(model.convertProgress(), 0.0);
        QVERIFY(model.debugLog().isEmpty());
        QVERIFY(!model.showDebug());
        QCOMPARE(model.sortColumn(), SortColumn::status);
        QCOMPARE(model.sortOrder(), SortOrder::ascending);
        QVERIFY(model.scannedFolders().isEmpty());
        QCOMPARE(model.showFilter(), ShowFilter::fakeStereoOnly);
        QVERIFY(!model.showConfetti());
        QCOMPARE(model.currentConvertingFile(), std::nullopt);
        QCOMPARE(model.currentScanningFile(), std::nullopt);
        QVERIFY(!model.showConversionComplete());
        QVERIFY(model.conversionCompleteMessage().isEmpty());
    }

    void theViewsSettersNotifyEvenWithoutAChange() {
        ContentViewModel model;
        QSignalSpy changes(&model, &ContentViewModel::changed);
        model.setShowDebug(false);
        model.setShowFilter(ShowFilter::all);
        model.setShowConversionComplete(false);
        QCOMPARE(changes.size(), 3);
        QCOMPARE(model.showFilter(), ShowFilter::all);
    }

    void statusOrderRunsFromFakeStereoToErrors() {
        const QList<FileItemPtr> items{item("error", DetectionStatus::error),
                                       item("mono", DetectionStatus::mono),
                                       item("converted", DetectionStatus::converted),
                                       item("pending", DetectionStatus::pending),
                                       item("skipped", DetectionStatus::timedOut),
                                       item("real", DetectionStatus::realStereo),
                                       item("converting", DetectionStatus::converting),
                                       item("fake", DetectionStatus::fakeStereo)};
        const QStringList ascending{"fake",       "pending",   "real",    "mono",
                                    "converting", "converted", "skipped", "error"};
        QCOMPARE(namesOf(sortedByColumn(items, SortColumn::status, SortOrder::ascending)),
                 ascending);
        QStringList descending = ascending;
        std::reverse(descending.begin(), descending.end());
        QCOMPARE(namesOf(sortedByColumn(items, SortColumn::status, SortOrder::descending)),
                 descending);
    }

    // Rows that need the user's attention stay with the fake stereo ones.
    void theFakeStereoFilter() {
        const FileItemPtr refused = item(QStringLiteral("refused"), DetectionStatus::realStereo);
        refused->errorMessage = QStringLiteral("Not converted: channels differ");
        const QList<FileItemPtr> items{
            item(QStringLiteral("fake")),
            item(QStringLiteral("failed"), DetectionStatus::error),
            item(QStringLiteral("slow"), DetectionStatus::timedOut),
            refused,
            item(QStringLiteral("wide"), DetectionStatus::realStereo),
            item(QStringLiteral("single"), DetectionStatus::mono),
            item(QStringLiteral("done"), DetectionStatus::converted),
            item(QStringLiteral("waiting"), DetectionStatus::pending),
        };
        QCOMPARE(namesOf(filteredItems(items, ShowFilter::fakeStereoOnly)),
                 (QStringList{"fake", "failed", "slow", "refused"}));
        QCOMPARE(filteredItems(items, ShowFilter::all), items);
    }

    void sizeAndChannelOrders() {
        const QList<FileItemPtr> items{
            item("big", DetectionStatus::fakeStereo, 5'000'000'000, ChannelStatus::stereo),
            item("first ten", DetectionStatus::fakeStereo, 10, ChannelStatus::unknown),
            item("small", DetectionStatus::fakeStereo, 3, ChannelStatus::mono),
            item("second ten", DetectionStatus::fakeStereo, 10, ChannelStatus::stereo)};
        QCOMPARE(namesOf(sortedByColumn(items, SortColumn::fileSize, SortOrder::ascending)),
                 (QStringList{"small", "first ten", "second ten", "big"}));
        // Descending is the exact reverse: equal sizes swap places too.
        QCOMPARE(namesOf(sortedByColumn(items, SortColumn::fileSize, SortOrder::descending)),
                 (QStringList{"big", "second ten", "first ten", "small"}));
        QCOMPARE(namesOf(sortedByColumn(items, SortColumn::channels, SortOrder::ascending)),
                 (QStringList{"small", "big", "second ten", "first ten"}));
    }

    void namesCompareWithoutCaseAndKeepListOrderOnTies() {
        const QList<FileItemPtr> items{item("b.wav"), item("A.wav"), item("a.wav")};
        QCOMPARE(namesOf(sortedByColumn(items, SortColumn::filename, SortOrder::ascending)),
                 (QStringList{"A", "a", "b"}));
        QCOMPARE(namesOf(sortedByColumn(items, SortColumn::filename, SortOrder::descending)),
                 (QStringList{"b", "a", "A"}));
    }

    void headerClicksAndIndicators() {
        ContentViewModel model;
        QSignalSpy changes(&model, &ContentViewModel::changed);
        QCOMPARE(model.sortIndicator(SortColumn::status), QStringLiteral(" \u25B2"));
        QCOMPARE(model.sortIndicator(SortColumn::fileSize), QString());

        model.toggleSort(SortColumn::fileSize);
        QCOMPARE(model.sortColumn(), SortColumn::fileSize);
        QCOMPARE(model.sortOrder(), SortOrder::ascending);
        QVERIFY(changes.size() >= 1);
        model.toggleSort(SortColumn::fileSize);
        QCOMPARE(model.sortOrder(), SortOrder::descending);
        QCOMPARE(model.sortIndicator(SortColumn::fileSize), QStringLiteral(" \u25BC"));
        QCOMPARE(model.sortIndicator(SortColumn::status), QString());
        model.toggleSort(SortColumn::filename);
        QCOMPARE(model.sortColumn(), SortColumn::filename);
        QCOMPARE(model.sortOrder(), SortOrder::ascending);
        QCOMPARE(model.sortIndicator(SortColumn::filename), QStringLiteral(" \u25B2"));
    }

    // Real files through a drop, so the rows are what the table would show.
    void theTableShowsFilteredSortedRows() {
        QTemporaryDir folder;
        for (const char* name : {"b.wav", "A.wav", "a.wav"})
            TestAudio::fakeStereo(folder.filePath(QString::fromLatin1(name)), 0.3);
        TestAudio::mono(folder.filePath(QStringLiteral("quiet.wav")), 0.3);
        ContentViewModel model;
        model.handleDrop({QUrl::fromLocalFile(folder.filePath("b.wav")),
                          QUrl::fromLocalFile(folder.filePath("quiet.wav")),
                          QUrl::fromLocalFile(folder.filePath("A.wav")),
                          QUrl::fromLocalFile(folder.filePath("a.wav"))});
        QTRY_COMPARE_WITH_TIMEOUT(messagesStartingWith(model, QStringLiteral("  -> ")).size(), 4,
                                  60000);

        QCOMPARE(model.fakeStereoCount(), 3);
        QCOMPARE(namesOf(model.visibleItems()), (QStringList{"b", "A", "a"}));
        model.toggleSort(SortColumn::filename);
        QCOMPARE(namesOf(model.sortedItems()), (QStringList{"A", "a", "b"}));
        model.toggleSort(SortColumn::filename);
        QCOMPARE(namesOf(model.sortedItems()), (QStringList{"b", "a", "A"}));

        model.setShowFilter(ShowFilter::all);
        QCOMPARE(namesOf(model.visibleItems()), (QStringList{"b", "quiet", "A", "a"}));
        model.toggleSort(SortColumn::status);
        QCOMPARE(namesOf(model.sortedItems()), (QStringList{"b", "A", "a", "quiet"}));

        const FileItemPtr quiet = model.items().at(1);
        QSignalSpy changes(&model, &ContentViewModel::changed);
        const bool wasSelected = quiet->isSelected;
        model.toggleSelection(quiet);
        QCOMPARE(quiet->isSelected, !wasSelected);
        QCOMPARE(changes.size(), 1);
    }

    void selectingAllFakeStereoKeepsOtherSelections() {
        QTemporaryDir folder;
        TestAudio::fakeStereo(folder.filePath(QStringLiteral("twins.wav")), 0.3);
        TestAudio::realStereo(folder.filePath(QStringLiteral("wide.wav")), 0.3);
        ContentViewModel model;
        model.handleDrop({QUrl::fromLocalFile(folder.filePath("twins.wav")),
                          QUrl::fromLocalFile(folder.filePath("wide.wav"))});
        QTRY_COMPARE_WITH_TIMEOUT(messagesStartingWith(model, QStringLiteral("  -> ")).size(), 2,
                                  60000);
        const FileItemPtr twins = model.items().at(0);
        const FileItemPtr wide = model.items().at(1);
        twins->isSelected = false;
        wide->isSelected = true;
        model.selectAllFakeStereo();
        QVERIFY(twins->isSelected);
        QVERIFY(wide->isSelected);
    }
};

CHANFUSE_TEST_MAIN(ViewModelTableTest)
#include "tst_viewmodeltable.moc"
