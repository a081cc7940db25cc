#include "viewmodel/ContentViewModel.h"

#include "converter/AudioConverter.h"
#include "model/Settings.h"
#include "scanner/AudioScanner.h"
#include "viewmodel/DesktopServices.h"
#include "viewmodel/ItemOrdering.h"
#include "viewmodel/LogFile.h"
#include "viewmodel/WorkerRuns.h"

#include <QTime>

#include <algorithm>
#include <cstdio>

namespace {

constexpr int refreshIntervalMs = 500;

} // namespace

ContentViewModel::ContentViewModel(DesktopServices* desktop, QObject* parent)
    : QObject(parent), desktop(desktop),
      scanner(std::make_shared<const AudioScanner>(Settings::shared())),
      converter(std::make_shared<const AudioConverter>(Settings::shared())) {
    uiTimer.setInterval(refreshIntervalMs);
    connect(&uiTimer, &QTimer::timeout, this, &ContentViewModel::refreshTick);
    confettiTimer.setSingleShot(true);
    connect(&confettiTimer, &QTimer::timeout, this, [this] { publish(showConfetti_, false); });
    bannerTimer.setSingleShot(true);
    connect(&bannerTimer, &QTimer::timeout, this, [this] { setShowConversionComplete(false); });
}

// Work still running is abandoned, not waited for; asking it to stop keeps a
// closed window from converting or scanning on unseen.
ContentViewModel::~ContentViewModel() {
    if (scanTask)
        scanTask->stop.request_stop();
    if (convertTask)
        convertTask->stop.request_stop();
    rowConversionsStop.request_stop();
}

void ContentViewModel::setShowDebug(bool value) {
    publish(showDebug_, value);
}

void ContentViewModel::setShowFilter(ShowFilter value) {
    publish(showFilter_, value);
}

void ContentViewModel::setShowConversionComplete(bool value) {
    publish(showConversionComplete_, value);
}

void ContentViewModel::log(const QString& message) {
    const QString entry =
        u'[' + logTimestamp(QTime::currentTime()) + QStringLiteral("] ") + message;
    debugLog_.append(entry);
    loggedLineCount_ += 1;
    if (debugLog_.size() > maximumLogLines)
        debugLog_.remove(0, debugLog_.size() - maximumLogLines);
    emit changed();

    std::fputs((QStringLiteral("[DEBUG] ") + message + u'\n').toUtf8().constData(), stdout);
    std::fflush(stdout);
    persistLog(entry);
}

void ContentViewModel::republishItems() {
    publish(items_, items_);
}

void ContentViewModel::startUITimer() {
    uiTimer.start();
}

void ContentViewModel::stopUITimer() {
    uiTimer.stop();
}

// Analyses finishing during a scan only mark the list as changed; the views
// get at most one republish per tick however many finished.
void ContentViewModel::refreshTick() {
    if (!needsUIUpdate)
        return;
    needsUIUpdate = false;
    republishItems();
}

QList<FileItemPtr> ContentViewModel::visibleItems() const {
    return filteredItems(items_, showFilter_);
}

QList<FileItemPtr> ContentViewModel::sortedItems() const {
    return sortedByColumn(visibleItems(), sortColumn_, sortOrder_);
}

void ContentViewModel::toggleSort(SortColumn column) {
    if (column == sortColumn_) {
        publish(sortOrder_,
                sortOrder_ == SortOrder::ascending ? SortOrder::descending : SortOrder::ascending);
        return;
    }
    publish(sortColumn_, column);
    publish(sortOrder_, SortOrder::ascending);
}

QString ContentViewModel::sortIndicator(SortColumn column) const {
    if (column != sortColumn_)
        return {};
    return sortOrder_ == SortOrder::ascending ? QStringLiteral(" \u25B2")
                                              : QStringLiteral(" \u25BC");
}

// Items are shared objects and do not notify by themselves.
void ContentViewModel::toggleSelection(const FileItemPtr& item) {
    item->isSelected = !item->isSelected;
    emit changed();
}

void ContentViewModel::selectAllFakeStereo() {
    for (const FileItemPtr& item : std::as_const(items_)) {
        if (item->detectionStatus == DetectionStatus::fakeStereo)
            item->isSelected = true;
    }
    emit changed();
}

qint64 ContentViewModel::fakeStereoCount() const {
    return std::count_if(items_.cbegin(), items_.cend(), [](const FileItemPtr& item) {
        return item->detectionStatus == DetectionStatus::fakeStereo;
    });
}

void ContentViewModel::revealInFinder(const FileItemPtr& item) {
    if (desktop)
        desktop->revealFile(item->currentUrl());
}
