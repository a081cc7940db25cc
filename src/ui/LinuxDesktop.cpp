#include "LinuxDesktop.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>

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

void LinuxDesktop::revealFile(const QUrl& file) {
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
