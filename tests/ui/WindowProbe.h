#pragma once

#include "ElidedLabel.h"
#include "MainWindow.h"

#include <QCoreApplication>
#include <QDropEvent>
#include <QMimeData>
#include <QTest>
#include <QUrl>
#include <QWindow>

// Reaching into the real window the way a user sees it: its parts by name,
// its status text, and drops delivered through the window system's route.
namespace WindowProbe {

template <class Widget> Widget* part(const QWidget& window, const char* name) {
    auto* found = window.findChild<Widget*>(QLatin1String(name));
    if (!found)
        qFatal("no part named %s", name);
    return found;
}

inline QString status(const QWidget& window) {
    return part<ElidedLabel>(window, "statusLabel")->text();
}

// Sends the drag-enter and the drop to the window, which hands them to
// whatever widget lies under `target`'s centre, as a real drag would.
// Returns whether both were accepted.
inline bool drop(QWidget& window, const QWidget* target, const QList<QUrl>& urls) {
    QMimeData mime;
    mime.setUrls(urls);
    const QPointF position = target->mapTo(&window, target->rect().center());
    QDragEnterEvent enter(position.toPoint(), Qt::CopyAction, &mime, Qt::LeftButton,
                          Qt::NoModifier);
    QCoreApplication::sendEvent(window.windowHandle(), &enter);
    if (!enter.isAccepted())
        return false;
    QDropEvent dropped(position, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window.windowHandle(), &dropped);
    return dropped.isAccepted();
}

} // namespace WindowProbe
