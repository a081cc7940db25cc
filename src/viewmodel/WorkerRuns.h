#pragma once

#include <QtGlobal>

#include <stop_token>

// One folder scan. The stop source is requested from the GUI thread and read
// by the scan's workers; `finished` is touched on the GUI thread only.
struct ScanRun {
    std::stop_source stop;
    qint64 finished = 0;
    qint64 total = 0;
};

// One conversion run of the selected items.
struct ConversionRun {
    std::stop_source stop;
};
