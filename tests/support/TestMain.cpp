#include "TestMain.h"

#include <QDir>
#include <QStandardPaths>
#include <QTemporaryDir>

void TestSupport::isolateUserFolders() {
    static QTemporaryDir home(QDir::tempPath() + QStringLiteral("/chanfuse-test-home-XXXXXX"));
    const QByteArray root = QFile::encodeName(home.path());
    qputenv("HOME", root);
    qputenv("XDG_CONFIG_HOME", root + "/config");
    qputenv("XDG_DATA_HOME", root + "/data");
    qputenv("XDG_CACHE_HOME", root + "/cache");
    QStandardPaths::setTestModeEnabled(true);
}
