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
// whatever widget lies under `target`'s centre, as a real drag would. The
// source offers `actions`; Shift makes it propose a move. Returns the action
// the window reported, IgnoreAction when it refused.
inline Qt::DropAction drop(QWidget& window, const QWidget* target, const QList<QUrl>& urls,
                           Qt::DropActions actions = Qt::CopyAction,
                           Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QMimeData mime;
    mime.setUrls(urls);
    const QPointF position = target->mapTo(&window, target->rect().center());
    QDragEnterEvent enter(position.toPoint(), actions, &mime, Qt::LeftButton, modifiers);
    QCoreApplication::sendEvent(window.windowHandle(), &enter);
    if (!enter.isAccepted())
        return Qt::IgnoreAction;
    QDropEvent dropped(position, actions, &mime, Qt::LeftButton, modifiers);
    QCoreApplication::sendEvent(window.windowHandle(), &dropped);
    return dropped.isAccepted() ? dropped.dropAction() : Qt::IgnoreAction;
}

} // namespace WindowProbe
