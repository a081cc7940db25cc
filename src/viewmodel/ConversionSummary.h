#pragma once

#include "model/Statuses.h"

#include <QString>

// The banner shown after a conversion run: how many files, how much space,
// and what became of the originals under the behaviour that was used.
QString conversionCompleteText(qint64 convertedCount, qint64 bytesSaved, ConvertBehavior behavior,
                               bool suffixEnabled);
