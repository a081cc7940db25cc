#pragma once

#include "converter/ConversionLog.h"
#include "converter/OutputNaming.h"
#include "model/FileItem.h"
#include "model/Settings.h"

#include <QString>

#include <functional>
#include <optional>
#include <stop_token>

// Commits a verified output: puts it under its final name and deals with the
// original as convertBehavior says (trash it, back it up, or let the output
// replace it). All or nothing: on any failure the folder is put back as it was
// (the original at its path, nothing this conversion wrote left) and the text
// that ends the conversion is returned. The original's path is never empty:
// the output takes it with one rename. Every step is bounded; a stop request
// is honoured only before the first change.
std::optional<QString> disposeOfOriginal(const FileItem& item, const OutputPath& output,
                                         const Settings& settings, const ConversionLog& log,
                                         std::stop_token stop = {});

// Called right after each change a commit makes to the folder, on whichever
// thread made it. A seam for tests that end the process at every point of a
// commit; the applications never set it.
void setFolderChangeObserver(std::function<void()> observer);
