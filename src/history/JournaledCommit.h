// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "converter/Disposal.h"

// Commits a verified output as disposeOfOriginal does, with the journal told
// what is about to happen before the first change to the folder and where
// everything went once it is done, so the run can be undone or, if the
// process dies halfway, put right. `run` is the key shared by every file of
// one run. A journal that cannot record is logged, and the commit goes on.
std::optional<ConversionOutcome>
commitConversion(const FileItem& item, std::shared_ptr<const OriginalLock> lock,
                 const OutputPath& output, const Settings& settings, const QString& run,
                 const ConversionLog& log, std::stop_token stop = {});
