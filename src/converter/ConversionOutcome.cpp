// SPDX-License-Identifier: GPL-3.0-or-later

#include "converter/ConversionOutcome.h"

void ConversionOutcome::applyTo(FileItem& item) const {
    switch (kind) {
    case Kind::converted:
        item.detectionStatus = DetectionStatus::converted;
        item.originalSize = originalSize;
        item.convertedSize = convertedSize;
        item.convertedUrl = convertedUrl;
        // The row now stands for the converted file.
        item.fileSize = convertedSize;
        item.errorMessage.reset();
        return;
    case Kind::cancelled:
        return;
    case Kind::channelsDiffer:
        item.detectionStatus = DetectionStatus::realStereo;
        item.isSelected = false;
        break;
    case Kind::skipped:
    case Kind::timedOut:
        item.detectionStatus = DetectionStatus::timedOut;
        break;
    case Kind::refused:
    case Kind::failed:
        item.detectionStatus = DetectionStatus::error;
        break;
    }
    item.errorMessage = text;
}
