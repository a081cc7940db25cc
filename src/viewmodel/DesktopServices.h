// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QString>
#include <QUrl>

#include <optional>

// What the view model needs from the desktop, implemented by the window layer
// (file dialog, file manager) and by fakes in tests. Called on the GUI thread.
class DesktopServices {
public:
    virtual ~DesktopServices() = default;

    // A modal folder chooser opening at `startFolder`; nothing when the user
    // cancels.
    virtual std::optional<QUrl> chooseFolder(const QString& title, const QString& startFolder) = 0;

    // Shows the file selected in the file manager.
    virtual void showInFileManager(const QUrl& file) = 0;
};
