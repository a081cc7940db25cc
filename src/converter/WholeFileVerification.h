#pragma once

#include "converter/ConversionLog.h"
#include "model/Settings.h"

#include <QString>

#include <optional>
#include <stop_token>

// What the whole-file check said: a refusal ("Not converted: ...",
// "Cancelled"), or the number of 44.1 kHz frames it compared, which is the
// original's duration for the check of the output.
struct WholeFileCheck {
    std::optional<QString> refusal;
    qint64 framesCompared = 0;
};

// Confirms on the whole file, with the configured method, that the two
// channels really are the same before anything is converted: the scan looked
// only at the first seconds, and converting real stereo destroys its image.
// A stop request ends the check at once.
WholeFileCheck verifyWholeFile(const QString& input, const Settings& settings,
                               const ConversionLog& log, std::stop_token stop = {});
