// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "history/RunJournal.h"
#include "model/FileItem.h"
#include "viewmodel/EventLog.h"
#include "viewmodel/SortAndFilter.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <memory>
#include <optional>
#include <stop_token>

class AudioConverter;
class AudioScanner;
class ConversionRun;
class DesktopServices;
class ScanRun;
struct AnalysisVerdict;
struct ConversionOutcome;
struct DropContents;

// The state behind the main window and every operation its controls call.
// Lives on the GUI thread and is only touched there: scans (ScanRun),
// conversions (ConversionRun) and undos (UndoRun) run on worker threads of
// their own and post what they find back, and this applies it. Every published
// assignment emits changed() (also when the value is unchanged); an item
// changed in place is republished by assigning the list to itself.
class ContentViewModel : public QObject {
    Q_OBJECT

public:
    // `desktop` must outlive the view model; without it, picking a folder and
    // revealing a file do nothing.
    explicit ContentViewModel(DesktopServices* desktop = nullptr, QObject* parent = nullptr);
    ~ContentViewModel() override;

    static constexpr qsizetype maximumLogLines = EventLog::maximumLines;

    // Published state.
    const QList<FileItemPtr>& items() const { return items_; }
    const std::optional<QUrl>& selectedFolder() const { return selectedFolder_; }
    bool isScanning() const { return isScanning_; }
    // The latest scan or file drop was stopped before it reached every file.
    bool scanStopped() const { return scanStopped_; }
    bool isConverting() const { return isConverting_; }
    qint64 scannedCount() const { return scannedCount_; }
    qint64 totalCount() const { return totalCount_; }
    double convertProgress() const { return convertProgress_; }
    const QStringList& debugLog() const { return eventLog.lines(); }
    // Lines logged since the start, including those debugLog no longer holds:
    // a view that has shown N of them appends the newest (count - N).
    qint64 loggedLineCount() const { return eventLog.count(); }
    bool showDebug() const { return showDebug_; }
    SortColumn sortColumn() const { return sortColumn_; }
    SortOrder sortOrder() const { return sortOrder_; }
    const QStringList& scannedFolders() const { return scannedFolders_; }
    ShowFilter showFilter() const { return showFilter_; }
    // Rows show only when their name or folder contains this, ignoring case.
    const QString& searchText() const { return searchText_; }
    bool showConfetti() const { return showConfetti_; }
    const std::optional<QString>& currentConvertingFile() const { return currentConvertingFile_; }
    const std::optional<QString>& currentScanningFile() const { return currentScanningFile_; }
    bool showConversionComplete() const { return showConversionComplete_; }
    // Why the suffix the user is typing cannot be used; while set, nothing
    // is converted (the stored suffix is not what the user sees).
    const std::optional<QString>& suffixRefusal() const { return suffixRefusal_; }
    // The comparison settings changed since the listed verdicts were made.
    bool verdictsOutdated() const { return verdictsOutdated_; }
    const QString& conversionCompleteMessage() const { return conversionCompleteMessage_; }
    // How many files of the summed-up run failed or were skipped.
    qint64 conversionFailureCount() const { return conversionFailureCount_; }
    // Whether the summed-up run left something the history can take back.
    bool conversionCanBeUndone() const { return conversionCanBeUndone_; }

    // Written by the views.
    void setShowDebug(bool value);
    void setShowFilter(ShowFilter value);
    void setSearchText(const QString& value);
    void setShowConversionComplete(bool value);
    void setSuffixRefusal(const std::optional<QString>& reason);
    void markVerdictsOutdated();
    // How long the confetti of a completed scan stays up.
    void setConfettiDuration(std::chrono::milliseconds duration);

    // Scanning. All return at once.
    void startScan();
    void startScanFolders(const QList<QUrl>& folders);
    void stopScan();
    void clearResults();

    // Converting. convertItem converts one row on a worker of its own and
    // leaves the run's progress and banner alone.
    void convertSelected();
    void convertItem(const FileItemPtr& item);
    void stopConvert();
    // True from the click until the worker converting the item's file, or
    // the stopped run still holding it, has let go; nothing may start on that
    // file then.
    bool isHeldForConversion(const FileItemPtr& item) const;
    // What "Convert Selected" takes: a selected fake-stereo row that no
    // conversion holds.
    bool isConvertible(const FileItemPtr& item) const;
    bool hasConversionsInFlight() const { return !heldForConversion.isEmpty(); }
    // Takes back the newest run the history can still undo, file by file on
    // a worker of its own; returns at once. Each row undone shows its original
    // again as it was before the run.
    void undoLastRun();
    // The same for the chosen files of run `number`, or all its files.
    void undoRun(qint64 number, const QList<qint64>& fileIds = {});
    bool isUndoing() const { return isUndoing_; }
    // The share of the undo's files handled so far, 0 to 1.
    double undoProgress() const { return undoProgress_; }
    // Ends the undo before its next file; the file in hand is finished.
    void stopUndo();
    // The runs of the history, newest first, as last read; loadHistory()
    // reads them again on a worker, and every undo ends by doing so.
    const QList<JournalRun>& history() const { return history_; }
    void loadHistory();
    // For quitting: the run and every single-row conversion are cancelled.
    // Their workers still finish the file in hand (removing a temporary
    // output, or completing a disposal already under way) before letting go.
    void stopAllConversions();

    // Files from the user: a modal folder dialog, or the URLs of one drop.
    // Dropped files without an audio extension are left out, as in a scan.
    void pickFolder();
    void handleDrop(const QList<QUrl>& urls);

    // The table: filtered, ordered rows, header clicks and checkboxes.
    QList<FileItemPtr> visibleItems() const;
    QList<FileItemPtr> sortedItems() const;
    void toggleSort(SortColumn column);
    QString sortIndicator(SortColumn column) const;
    // The item's folder relative to the scanned folder that holds it ("" for
    // the folder itself), or its whole folder when none does.
    QString folderOf(const FileItem& item) const;
    void toggleSelection(const FileItemPtr& item);
    void selectAllFakeStereo();
    void selectNone();
    void setSelected(const QList<FileItemPtr>& chosen, bool selected);
    qint64 fakeStereoCount() const;
    // Shows the row's current file selected in the file manager.
    void showInFileManager(const FileItemPtr& item);

    // Into the EventLog, and tells the views.
    void log(const QString& message);

signals:
    void changed();
    // Once per scan (or analysis of dropped files) and per conversion run, on
    // the GUI thread, when its workers are done and its results published:
    // after completing and after a stop alike; a run a newer one replaced ends
    // silently, and single-row conversions are not runs.
    void scanFinished();
    void conversionFinished();
    // When an undo has taken back all it could.
    void undoFinished();
    void historyChanged();

private:
    template <class Value> void publish(Value& field, Value value) {
        field = std::move(value);
        emit changed();
    }
    void republishItems();
    void refreshTick();

    // Scans: of folders, or of the files of a drop.
    void startScanOf(const QList<QUrl>& folders, const QList<QUrl>& files);
    bool isActive(const ScanRun& run) const;
    void analysing(const ScanRun& run, const FileItemPtr& item);
    void analysed(ScanRun& run, const FileItemPtr& item, const AnalysisVerdict& verdict);
    void finishDiscovery(ScanRun& run, qint64 total, qint64 folderCount, const QStringList& notes);
    void finishScan(const ScanRun& run);
    void setSelectedFolder(const std::optional<QUrl>& folder);
    void processDrop(const DropContents& drop);

    // Conversions: a run of the selected rows, or of one row.
    std::shared_ptr<ConversionRun> startConversion(QList<FileItemPtr> items, std::stop_source stop);
    bool isActive(const ConversionRun& run) const;
    void converted(const ConversionRun& run, const FileItemPtr& item,
                   const ConversionOutcome& outcome, double share);
    void finishConversion(const ConversionRun& run);
    void showSummary(const ConversionRun& run);
    bool refusesForSuffix();
    bool claimForConversion(const FileItemPtr& item);
    void releaseFromConversion(const QList<FileItemPtr>& released);

    void startUndo(std::optional<qint64> number, const QList<qint64>& fileIds);
    void showUndone(const QString& original);
    void showHistory(const QList<JournalRun>& runs);

    DesktopServices* const desktop;
    const std::shared_ptr<const AudioScanner> scanner;
    const std::shared_ptr<const AudioConverter> converter;

    QList<FileItemPtr> items_;
    std::optional<QUrl> selectedFolder_;
    bool isScanning_ = false;
    bool scanStopped_ = false;
    bool isConverting_ = false;
    bool isUndoing_ = false;
    bool conversionCanBeUndone_ = false;
    QList<JournalRun> history_;
    qint64 scannedCount_ = 0;
    qint64 totalCount_ = 0;
    double convertProgress_ = 0.0;
    double undoProgress_ = 0.0;
    EventLog eventLog;
    bool showDebug_ = false;
    SortColumn sortColumn_ = SortColumn::status;
    SortOrder sortOrder_ = SortOrder::ascending;
    QStringList scannedFolders_;
    ShowFilter showFilter_ = ShowFilter::fakeStereoOnly;
    QString searchText_;
    // The folders of the latest scan or drop, the table's Folder column is
    // relative to.
    QStringList scanRoots;
    bool showConfetti_ = false;
    std::optional<QString> currentConvertingFile_;
    std::optional<QString> currentScanningFile_;
    bool showConversionComplete_ = false;
    QString conversionCompleteMessage_;
    qint64 conversionFailureCount_ = 0;
    std::optional<QString> suffixRefusal_;
    bool verdictsOutdated_ = false;
    // Which engine analyses, as last logged: said again only when it changes.
    QString loggedEngine;

    // The running scan's or run's stop handle (cleared by stopScan and
    // stopConvert), and the one whose progress the state shows (replaced only
    // by a newer one, so an old one's late end cannot disturb it).
    std::shared_ptr<ScanRun> scanTask;
    std::shared_ptr<ScanRun> activeScan;
    std::shared_ptr<ConversionRun> convertTask;
    std::shared_ptr<ConversionRun> activeConversion;
    std::stop_source rowConversionsStop;
    std::stop_source undoStop;
    // Paths of the files held for conversion. A stop clears isConverting at
    // once, while the file in hand is still being cancelled: this, not
    // isConverting, keeps a second conversion off a file, even one listed
    // again by a newer scan.
    QSet<QString> heldForConversion;
    // Where the folder dialog opens: the folder last picked, scanned or
    // dropped from, kept when the list is cleared; at first the one the
    // window stored.
    std::optional<QUrl> lastUsedFolder;
    bool needsUIUpdate = false;
    QTimer uiTimer;
    QTimer confettiTimer;
    std::chrono::milliseconds confettiDuration{4000};
};
