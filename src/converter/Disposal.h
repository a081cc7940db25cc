#pragma once

#include "converter/ConversionLog.h"
#include "converter/OutputNaming.h"
#include "model/FileItem.h"
#include "model/Settings.h"

#include <QString>

#include <optional>
#include <stop_token>

// Deals with the original once a verified output exists, as convertBehavior
// says: trash it, back it up, and/or let the temporary output take its place.
// Nothing on success, otherwise the text that ends the conversion. Every file
// operation is bounded; `stop` only cuts a pending trash short (the file is
// then deleted instead).
std::optional<QString> disposeOfOriginal(const FileItem& item, const OutputPath& output,
                                         const Settings& settings, const ConversionLog& log,
                                         std::stop_token stop = {});
