// SPDX-License-Identifier: GPL-3.0-or-later

#include "TestMain.h"

#include "exec/WorkerThreads.h"

#include <QDir>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstdio>

void TestSupport::isolateUserFolders() {
    static QTemporaryDir home(QDir::tempPath() + QStringLiteral("/chanfuse-test-home-XXXXXX"));
    const QByteArray root = QFile::encodeName(home.path());
    qputenv("HOME", root);
    qputenv("XDG_CONFIG_HOME", root + "/config");
    qputenv("XDG_DATA_HOME", root + "/data");
    qputenv("XDG_CACHE_HOME", root + "/cache");
    qputenv("XDG_STATE_HOME", root + "/state");
    QStandardPaths::setTestModeEnabled(true);
}

int TestSupport::afterDetachedWorkers(int testResult) {
    if (waitForDetachedWorkers(std::chrono::minutes(1)))
        return testResult;
    std::fprintf(stderr, "FAIL: a scan, conversion or drop worker was still running a minute "
                         "after the last test\n");
    exitLeavingWorkers(1);
}
