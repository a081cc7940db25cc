// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "viewmodel/DesktopServices.h"

#include <QDBusConnection>
#include <QObject>
#include <QPointer>
#include <QWidget>

// The desktop on Linux: the folder dialog, and over the session bus the file
// manager asked to show a file (org.freedesktop.FileManager1, with the
// containing folder opened instead when no file manager answers), the
// notification list (org.freedesktop.Notifications) and the task bar entry's
// progress (com.canonical.Unity.LauncherEntry, which Plasma and dock-style
// panels show). Nothing here waits for an answer.
class LinuxDesktop : public DesktopServices {
public:
    explicit LinuxDesktop(QWidget* dialogParent,
                          const QDBusConnection& bus = QDBusConnection::sessionBus());

    std::optional<QUrl> chooseFolder(const QString& title, const QString& startFolder) override;

    // Returns at once; the file manager's answer arrives later.
    void showInFileManager(const QUrl& file) override;

    void notify(const QString& summary, const QString& body);
    // Between 0 and 1, or nothing to hide the bar. Repeats are not sent.
    void showProgress(std::optional<double> fraction);

private:
    QPointer<QWidget> dialogParent;
    QDBusConnection bus;
    std::optional<int> shownPermille;
    // Owns the pending calls, so none outlives this object.
    QObject pendingCalls;
};
