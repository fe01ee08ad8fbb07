// The test entry point for window tests: a temporary home, a widgets application (offscreen
// unless a display is asked for), GoogleTest.
#include "support/main/TestEnv.h"

#include <QApplication>
#include <cstdlib>
#include <gtest/gtest.h>

#include "support/main/TestEnv.cpp.inc"

int main(int argc, char** argv)
{
    PrepareTestHome();
    if (std::getenv("QT_QPA_PLATFORM") == nullptr)
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tarvik"));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
