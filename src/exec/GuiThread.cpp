#include "exec/GuiThread.h"

#include <QCoreApplication>
#include <QMetaObject>

void postToGuiThread(std::function<void()> work) {
    QCoreApplication* application = QCoreApplication::instance();
    if (!application)
        return;
    QMetaObject::invokeMethod(application, std::move(work), Qt::QueuedConnection);
}
