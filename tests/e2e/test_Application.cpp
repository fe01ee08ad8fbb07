// The program's own application object: a failure thrown from a timer or from a click reaches
// the error report once, and the event loop carries on. Its own entry point, since only one
// application object may exist and this one is under test.
#include "support/main/TestEnv.h"

#include "app/Exception.h"
#include "app/globals.h"
#include "support/FakeCDRip.h"
#include "support/gui/MessageBoxAnswerer.h"
#include "ui/Application.h"
#include "ui/uMain.h"

#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>

#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>
#include <stdexcept>

#include "support/main/TestEnv.cpp.inc"

namespace {

class ApplicationTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        SetDefaultSettings();
        W = std::make_unique<TfrmMain>(&Fake);
        W->Timer1->stop();
        W->show();
        QCoreApplication::processEvents();
    }

    // Runs the event loop until `ms` have passed.
    static void RunFor(int ms)
    {
        QTimer::singleShot(ms, qApp, [] { QCoreApplication::exit(0); });
        EXPECT_EQ(QCoreApplication::exec(), 0);
    }

    TFakeCDRip Fake;
    TMessageBoxAnswerer Boxes;
    std::unique_ptr<TfrmMain> W;
};

TEST_F(ApplicationTest, FailureFromATimerIsReportedOnceAndTheLoopRunsOn)
{
    int ticksAfter = 0;
    QTimer::singleShot(0, W.get(), [] { throw Exception(QStringLiteral("Tick failed")); });
    QTimer later;
    QObject::connect(&later, &QTimer::timeout, [&ticksAfter] { ++ticksAfter; });
    later.start(5);
    RunFor(60);
    ASSERT_EQ(Boxes.Shown().size(), 1);
    EXPECT_EQ(Boxes.Shown().at(0).Caption, QStringLiteral("Error Report"));
    EXPECT_TRUE(Boxes.Shown().at(0).Text.contains(QStringLiteral("\r\n\r\nTick failed\r\n\r\n")));
    EXPECT_GT(ticksAfter, 1);
}

TEST_F(ApplicationTest, FailureFromAClickIsReportedOnceAndTheWindowStaysUsable)
{
    QPushButton button(W.get());
    int clicks = 0;
    QObject::connect(&button, &QPushButton::clicked, [&clicks] {
        if (++clicks == 1)
            throw std::runtime_error("Click failed");
    });
    button.setGeometry(300, 20, 40, 20);
    button.show();
    const auto click = [&button] {
        const QPointF at(5, 5);
        QMouseEvent press(QEvent::MouseButtonPress, at, button.mapToGlobal(at), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QMouseEvent release(QEvent::MouseButtonRelease, at, button.mapToGlobal(at), Qt::LeftButton,
                            Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&button, &press);
        QCoreApplication::sendEvent(&button, &release);
    };
    click();
    ASSERT_EQ(Boxes.Shown().size(), 1);
    EXPECT_TRUE(Boxes.Shown().at(0).Text.contains(QStringLiteral("\r\n\r\nClick failed\r\n\r\n")));
    // The button is not left pressed, and the next click is an ordinary one.
    EXPECT_FALSE(button.isDown());
    click();
    EXPECT_EQ(clicks, 2);
    EXPECT_EQ(Boxes.Shown().size(), 1);
    RunFor(10);
}

TEST_F(ApplicationTest, AnythingThrownIsReported)
{
    QTimer::singleShot(0, W.get(), [] { throw 42; });
    RunFor(20);
    ASSERT_EQ(Boxes.Shown().size(), 1);
    EXPECT_TRUE(Boxes.Shown().at(0).Text.contains(QStringLiteral("Unknown failure")));
}

} // namespace

int main(int argc, char** argv)
{
    PrepareTestHome();
    if (std::getenv("QT_QPA_PLATFORM") == nullptr)
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    TApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tarvik"));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
