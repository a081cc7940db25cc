// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "model/FileItem.h"

#include <QString>

#include <optional>

// What one analysis found: the file's layout and its status, and why it
// failed or was passed over. Only a fake stereo verdict can tick its row; a
// mono file and a failure leave the tick as the user set it.
struct AnalysisVerdict {
    ChannelStatus channelStatus = ChannelStatus::unknown;
    // The count the multichannel and multiple-stream labels show.
    qint64 layoutCount = 0;
    DetectionStatus status = DetectionStatus::error;
    std::optional<QString> reason;
    std::optional<bool> selected;

    // The row's fields after this verdict, written in one go on the GUI thread.
    void applyTo(FileItem& item) const;
};
