// The window's keys, pressed as the keyboard would (shortcuts included): help, quit, options,
// the context menu, renaming, and Space between ticking and playing.
#include "ui/uMain.h"

#include "app/Options.h"
#include "app/globals.h"
#include "support/FakeCDRip.h"
#include "support/gui/MessageBoxAnswerer.h"
#include "support/gui/ShellRecorder.h"
#include "support/gui/WhenShown.h"

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QTest>

#include <gtest/gtest.h>
#include <memory>

namespace {

class KeysTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        SetDefaultSettings();
        QFile::remove(SettingsFileName());
        Fake.Drives.push_back(
            TFakeCDRip::MakeDrive("DRIVE", {0, 750, 1500}, 2250,
                                  {cdrip::AUDIOTRKFLAG, cdrip::AUDIOTRKFLAG, cdrip::AUDIOTRKFLAG}));
        W = std::make_unique<TfrmMain>(&Fake);
        W->Timer1->stop();
        W->show();
        ASSERT_TRUE(Activate());
    }

    // Shortcuts belong to the active window; a closed dialog or menu gives the activation back
    // only through a window manager, which the tests have none of.
    bool Activate()
    {
        W->activateWindow();
        return QTest::qWaitForWindowActive(W.get());
    }

    // A key pressed on whatever has the keyboard.
    void Press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QWidget* focus = QApplication::focusWidget();
        QTest::keyClick(focus ? focus : W.get(), key, modifiers);
    }

    TFakeCDRip Fake;
    TMessageBoxAnswerer Boxes;
    TShellRecorder Shell;
    std::unique_ptr<TfrmMain> W;
};

TEST_F(KeysTest, CommandKeysWorkFromAnywhereInTheWindow)
{
    W->setFocus();
    Press(Qt::Key_F1);
    ASSERT_EQ(Shell.Opened().size(), 1);
    EXPECT_EQ(Shell.Opened().at(0), QUrl::fromLocalFile(HelpFilePath()));

    bool optionsShown = false;
    WhenShown<TfrmOptions>([&](TfrmOptions* dialog) {
        optionsShown = true;
        dialog->reject();
    });
    Press(Qt::Key_O, Qt::ControlModifier);
    EXPECT_TRUE(optionsShown);
    ASSERT_TRUE(Activate());

    for (const auto& [key, modifiers] :
         {std::pair{Qt::Key_F10, Qt::ShiftModifier}, std::pair{Qt::Key_Menu, Qt::NoModifier}}) {
        Press(key, modifiers);
        EXPECT_TRUE(W->PopupMenu1->isVisible()) << key;
        W->PopupMenu1->hide();
        ASSERT_TRUE(Activate());
    }

    W->ListView1->SelectRow(1);
    Press(Qt::Key_F2);
    ASSERT_NE(W->ListView1->findChild<QLineEdit*>(), nullptr);
    EXPECT_EQ(W->ListView1->findChild<QLineEdit*>()->text(), QStringLiteral("Track02"));
    Press(Qt::Key_Escape);

    Press(Qt::Key_Q, Qt::ControlModifier);
    EXPECT_FALSE(W->isVisible());
}

// Space ticks the current row while the list has the keyboard, as in any list with check boxes;
// after a click on the face it plays, and pauses what plays.
TEST_F(KeysTest, SpaceTicksInTheListAndPlaysOrPausesElsewhere)
{
    W->ListView1->setFocus();
    W->ListView1->setCurrentItem(W->ListView1->Row(2));
    Press(Qt::Key_Space);
    EXPECT_TRUE(W->ListView1->Row(2)->Checked());
    EXPECT_EQ(Fake.Count(QStringLiteral("CR_PlayTrack")), 0);

    QTest::mouseClick(W->Image1, Qt::LeftButton, {}, QPoint(320, 40));
    ASSERT_EQ(QApplication::focusWidget(), W.get());
    Press(Qt::Key_Space);
    EXPECT_EQ(Fake.Count(QStringLiteral("CR_PlayTrack")), 1);
    EXPECT_TRUE(W->PlayActive());
    Press(Qt::Key_Space);
    EXPECT_TRUE(W->Paused());
    Press(Qt::Key_Space);
    EXPECT_FALSE(W->Paused());
    EXPECT_EQ(Fake.Count(QStringLiteral("CR_PlayTrack")), 1) << "resumed, not started again";
    EXPECT_EQ(W->ListView1->Row(0)->Checked(), false);
}

} // namespace
