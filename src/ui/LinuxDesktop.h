#pragma once

#include "viewmodel/DesktopServices.h"

#include <QDBusConnection>
#include <QObject>
#include <QPointer>
#include <QWidget>

// The desktop behind the view model on Linux: the folder dialog, and the
// file manager asked over D-Bus (org.freedesktop.FileManager1) to show a file,
// with the containing folder opened instead when no file manager answers.
class LinuxDesktop : public DesktopServices {
public:
    explicit LinuxDesktop(QWidget* dialogParent,
                          const QDBusConnection& bus = QDBusConnection::sessionBus());

    std::optional<QUrl> chooseFolder(const QString& title, const QString& startFolder) override;

    // Returns at once; the file manager's answer arrives later.
    void revealFile(const QUrl& file) override;

private:
    QPointer<QWidget> dialogParent;
    QDBusConnection bus;
    // Owns the pending calls, so none outlives this object.
    QObject pendingCalls;
};
