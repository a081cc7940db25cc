#pragma once

#include <QCoreApplication>
#include <QTest>

namespace TestSupport {

// Points HOME and the XDG folders at a fresh temporary folder and turns on
// QStandardPaths' test mode, before anything reads settings or data paths, so
// no test ever touches the real home folder. The folder is removed at exit.
void isolateUserFolders();

} // namespace TestSupport

#define CHANFUSE_TEST_MAIN(TestObject)                                                             \
    int main(int argc, char** argv) {                                                              \
        TestSupport::isolateUserFolders();                                                         \
        QCoreApplication app(argc, argv);                                                          \
        TestObject test;                                                                           \
        return QTest::qExec(&test, argc, argv);                                                    \
    }
