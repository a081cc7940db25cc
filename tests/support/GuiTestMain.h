#pragma once

#include "TestMain.h"

#include <QApplication>

// CHANFUSE_TEST_MAIN for tests that drive widgets: the same isolated home
// folders, with a QApplication instead of a QCoreApplication.
#define CHANFUSE_GUI_TEST_MAIN(TestObject)                                                         \
    int main(int argc, char** argv) {                                                              \
        TestSupport::isolateUserFolders();                                                         \
        QApplication app(argc, argv);                                                              \
        TestObject test;                                                                           \
        return TestSupport::afterDetachedWorkers(QTest::qExec(&test, argc, argv));                 \
    }
