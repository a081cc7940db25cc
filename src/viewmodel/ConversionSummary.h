#pragma once

#include "model/Statuses.h"

#include <QString>

// The banner shown after a conversion run: how many files, and either the
// space recovered (the originals are gone) or what deleting the originals
// that were kept would free (the disk has grown, nothing was recovered yet).
QString conversionCompleteText(qint64 convertedCount, qint64 bytesSaved, qint64 originalBytes,
                               ConvertBehavior behavior, bool suffixEnabled);
