#pragma once

#include <QList>
#include <QStringList>
#include <QUrl>

// The window's command line: `chanfuse [FOLDER...]`, with --help and
// --version. A file manager's "Open With" passes the folders the same way.
namespace LaunchArguments {

// Whether the arguments ask for the help or the version text. Needs no
// application object, so that text can be printed without a display.
bool asksForText(const QStringList& arguments);

// Needs an application object. Prints the help or version text and ends the
// process, or prints a usage error and ends it with status 2; otherwise
// returns the folders to scan (none when none were given).
QList<QUrl> foldersToScan(const QStringList& arguments);

} // namespace LaunchArguments
