// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QCoreApplication>
#include <QTest>

namespace TestSupport {

// Points HOME and the XDG folders at a fresh temporary folder and turns on
// QStandardPaths' test mode, before anything reads settings or data paths, so
// no test ever touches the real home folder. The folder is removed at exit.
void isolateUserFolders();

// Lets the workers a test left running end before the application object and
// Qt's globals are torn down under them; returns `testResult`, or fails when
// one is still running a minute later.
int afterDetachedWorkers(int testResult);

} // namespace TestSupport

// A test program's main() with an application object of type Application.
#define CHANFUSE_TEST_MAIN_WITH(Application, TestObject)                                           \
    int main(int argc, char** argv) {                                                              \
        TestSupport::isolateUserFolders();                                                         \
        Application app(argc, argv);                                                               \
        TestObject test;                                                                           \
        return TestSupport::afterDetachedWorkers(QTest::qExec(&test, argc, argv));                 \
    }

#define CHANFUSE_TEST_MAIN(TestObject) CHANFUSE_TEST_MAIN_WITH(QCoreApplication, TestObject)
