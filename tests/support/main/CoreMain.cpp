// The test entry point for core tests: a temporary home, a core application object, GoogleTest.
#include "support/main/TestEnv.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include "support/main/TestEnv.cpp.inc"

int main(int argc, char** argv)
{
    PrepareTestHome();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tarvik"));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
