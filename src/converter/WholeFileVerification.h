#pragma once

#include "converter/ConversionLog.h"
#include "model/Settings.h"

#include <QString>

#include <optional>

// Confirms on the whole file, with the configured method, that the two
// channels really are the same before anything is converted: the scan looked
// only at the first seconds, and converting real stereo destroys its image.
// Nothing when they are; otherwise the refusal ("Not converted: ...").
std::optional<QString> verifyWholeFile(const QString& input, const Settings& settings,
                                       const ConversionLog& log);
