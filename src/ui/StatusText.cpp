#include "StatusText.h"

#include "viewmodel/ContentViewModel.h"

#include <cmath>

StatusFacts StatusFacts::of(const ContentViewModel& viewModel) {
    StatusFacts facts;
    facts.isScanning = viewModel.isScanning();
    facts.isConverting = viewModel.isConverting();
    facts.scanStopped = viewModel.scanStopped();
    facts.scannedCount = viewModel.scannedCount();
    facts.totalCount = viewModel.totalCount();
    facts.convertProgress = viewModel.convertProgress();
    facts.currentScanningFile = viewModel.currentScanningFile();
    facts.currentConvertingFile = viewModel.currentConvertingFile();
    facts.showsFakeStereoOnly = viewModel.showFilter() == ShowFilter::fakeStereoOnly;
    facts.itemCount = viewModel.items().size();
    facts.visibleCount = viewModel.visibleItems().size();
    facts.fakeStereoCount = viewModel.fakeStereoCount();
    return facts;
}

// A file name may itself hold "%2", so names go in by the one-pass multi-arg
// form, never by chained arg() calls.
QString statusText(const StatusFacts& facts) {
    if (facts.isScanning) {
        if (facts.currentScanningFile)
            return QStringLiteral("Scanning: %1 — %2/%3")
                .arg(*facts.currentScanningFile, QString::number(facts.scannedCount),
                     QString::number(facts.totalCount));
        return QStringLiteral("Scanned %1/%2 files, %3 fake stereo")
            .arg(facts.scannedCount)
            .arg(facts.totalCount)
            .arg(facts.fakeStereoCount);
    }
    if (facts.isConverting) {
        const double percent = facts.convertProgress * 100.0;
        if (facts.currentConvertingFile)
            return QStringLiteral("Converting: %1 — %2%")
                .arg(*facts.currentConvertingFile, QString::number(qint64(std::trunc(percent))));
        return QStringLiteral("Converting... ") + QString::asprintf("%.0f", percent) +
               QStringLiteral("%");
    }
    if (facts.scanStopped)
        return QStringLiteral("Scan stopped: %1 of %2 files scanned, %3 fake stereo")
            .arg(facts.scannedCount)
            .arg(facts.totalCount)
            .arg(facts.fakeStereoCount);
    if (facts.showsFakeStereoOnly && facts.visibleCount < facts.itemCount)
        return QStringLiteral("%1 of %2 files shown, %3 fake stereo")
            .arg(facts.visibleCount)
            .arg(facts.itemCount)
            .arg(facts.fakeStereoCount);
    return QStringLiteral("%1 files scanned, %2 fake stereo")
        .arg(facts.itemCount)
        .arg(facts.fakeStereoCount);
}
