// SPDX-License-Identifier: GPL-3.0-or-later

#include "MainWindow.h"
#include "TestAudio.h"
#include "TestMain.h"
#include "viewmodel/ContentViewModel.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QTemporaryDir>

using namespace Qt::StringLiterals;

// The desktop's side of the session bus: a notification service, and a
// panel reading the task bar entry's progress.
class FakeDesktopSide : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    QStringList notifications;
    QList<QVariantMap> progress;

public slots:
    uint Notify(const QString& app, uint, const QString&, const QString& summary,
                const QString& body, const QStringList&, const QVariantMap& hints, int) {
        notifications.append(app + u'|' + summary + u'|' + body + u'|' +
                             hints.value(u"desktop-entry"_s).toString());
        return uint(notifications.size());
    }
    void launcherUpdate(const QString& app, const QVariantMap& properties) {
        if (app == u"application://chanfuse.desktop"_s)
            progress.append(properties);
    }
};

// Long work that ends while the window is not the active one is announced
// through the desktop's notifications; its progress shows in the task bar
// entry and the title.
class DesktopTest : public QObject {
    Q_OBJECT

private slots:
    void aScanEndingUnseenIsAnnounced() {
        QDBusConnection bus = QDBusConnection::sessionBus();
        QVERIFY2(bus.isConnected(), "no session bus: run under dbus-run-session");
        FakeDesktopSide desktopSide;
        QVERIFY(bus.registerService(u"org.freedesktop.Notifications"_s));
        QVERIFY(bus.registerObject(u"/org/freedesktop/Notifications"_s, &desktopSide,
                                   QDBusConnection::ExportAllSlots));
        QVERIFY(bus.connect(QString(), QString(), u"com.canonical.Unity.LauncherEntry"_s,
                            u"Update"_s, &desktopSide, SLOT(launcherUpdate(QString, QVariantMap))));
        QTemporaryDir folder;
        for (const char* name : {"a.wav", "b.wav", "c.wav"})
            TestAudio::fakeStereo(folder.filePath(QLatin1String(name)), 0.2);

        // Never shown, so never the active window.
        MainWindow window;
        QStringList titles;
        connect(&window, &QWidget::windowTitleChanged, this,
                [&titles](const QString& title) { titles.append(title); });
        window.viewModel().startScanFolders({QUrl::fromLocalFile(folder.path())});
        QTRY_COMPARE_WITH_TIMEOUT(desktopSide.notifications,
                                  QStringList{u"Chanfuse|Scan complete|3 files scanned, 3 fake "
                                              "stereo|chanfuse"_s},
                                  30000);
        QTRY_VERIFY(!desktopSide.progress.isEmpty() &&
                    !desktopSide.progress.last().value(u"progress-visible"_s).toBool());
        QVERIFY(desktopSide.progress.first().value(u"progress-visible"_s).toBool());
        QVERIFY(titles.contains(u"Chanfuse — 0% scanned"_s));
        QCOMPARE(window.windowTitle(), u"Chanfuse"_s);
    }
};

CHANFUSE_TEST_MAIN_WITH(QApplication, DesktopTest)
#include "tst_desktop_sessionbus.moc"
