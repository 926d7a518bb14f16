// GoogleTest main for tests that need a QApplication (widgets); on Linux they run without a
// display. Qt's offscreen platform has no fonts on Windows, so there they use the real one.

#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv) {
#ifndef Q_OS_WIN
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
