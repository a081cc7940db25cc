#pragma once

#include <QString>

#include <optional>

class ContentViewModel;

// What the bottom bar's status area says, taken from the view model at one
// moment; kept apart from the widgets so every wording can be checked alone.
struct StatusFacts {
    bool isScanning = false;
    bool isConverting = false;
    bool scanStopped = false;
    qint64 scannedCount = 0;
    qint64 totalCount = 0;
    double convertProgress = 0.0;
    std::optional<QString> currentScanningFile;
    std::optional<QString> currentConvertingFile;
    bool showsFakeStereoOnly = false;
    qint64 itemCount = 0;
    qint64 visibleCount = 0;
    qint64 fakeStereoCount = 0;

    static StatusFacts of(const ContentViewModel& viewModel);
};

QString statusText(const StatusFacts& facts);
