// SPDX-License-Identifier: GPL-3.0-or-later

#include "LinuxDesktop.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>

#include <algorithm>

namespace {

void openContainingFolder(const QUrl& file) {
    QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(file.toLocalFile()).absolutePath()));
}

} // namespace

LinuxDesktop::LinuxDesktop(QWidget* dialogParent, const QDBusConnection& bus)
    : dialogParent(dialogParent), bus(bus) {}

std::optional<QUrl> LinuxDesktop::chooseFolder(const QString& title, const QString& startFolder) {
    const QString folder = QFileDialog::getExistingDirectory(dialogParent, title, startFolder,
                                                             QFileDialog::ShowDirsOnly);
    if (folder.isEmpty())
        return std::nullopt;
    return QUrl::fromLocalFile(folder);
}

void LinuxDesktop::notify(const QString& summary, const QString& body) {
    if (!bus.isConnected())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    call << QStringLiteral("Chanfuse") << uint(0) << QStringLiteral("chanfuse") << summary << body
         << QStringList()
         << QVariantMap{{QStringLiteral("desktop-entry"), QStringLiteral("chanfuse")}} << int(-1);
    // Without a notification service the call fails, and that is all.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), &pendingCalls);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, &pendingCalls,
                     [](QDBusPendingCallWatcher* finished) { finished->deleteLater(); });
}

void LinuxDesktop::showProgress(std::optional<double> fraction) {
    const std::optional<int> permille =
        fraction ? std::optional(int(std::clamp(*fraction, 0.0, 1.0) * 1000)) : std::nullopt;
    if (permille == shownPermille || !bus.isConnected())
        return;
    shownPermille = permille;
    QDBusMessage update = QDBusMessage::createSignal(
        QStringLiteral("/com/canonical/unity/launcherentry/chanfuse"),
        QStringLiteral("com.canonical.Unity.LauncherEntry"), QStringLiteral("Update"));
    update << QStringLiteral("application://chanfuse.desktop")
           << QVariantMap{{QStringLiteral("progress"), permille.value_or(0) / 1000.0},
                          {QStringLiteral("progress-visible"), permille.has_value()}};
    bus.send(update);
}

void LinuxDesktop::showInFileManager(const QUrl& file) {
    if (!bus.isConnected()) {
        openContainingFolder(file);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{file.toString(QUrl::FullyEncoded)} << QString();
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), &pendingCalls);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, &pendingCalls,
                     [file](QDBusPendingCallWatcher* finished) {
                         if (finished->isError())
                             openContainingFolder(file);
                         finished->deleteLater();
                     });
}
