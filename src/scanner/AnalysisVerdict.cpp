// SPDX-License-Identifier: GPL-3.0-or-later

#include "scanner/AnalysisVerdict.h"

void AnalysisVerdict::applyTo(FileItem& item) const {
    item.channelStatus = channelStatus;
    item.layoutCount = layoutCount;
    item.detectionStatus = status;
    if (selected)
        item.isSelected = *selected;
    if (reason)
        item.errorMessage = reason;
}
