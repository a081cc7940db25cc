#pragma once

#include "TestMain.h"

#include <QApplication>

// For tests that drive widgets: a QApplication instead of a QCoreApplication.
#define CHANFUSE_GUI_TEST_MAIN(TestObject) CHANFUSE_TEST_MAIN_WITH(QApplication, TestObject)
