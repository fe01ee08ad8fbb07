// The window's face driven by mouse events routed as the window system would: lit buttons,
// clicks, dragging by the background, status-line hints, the links and the error report.
#include "ui/uMain.h"

#include "app/Exception.h"
#include "app/globals.h"
#include "platform/shell/Shell.h"
#include "support/FakeCDRip.h"
#include "support/gui/MessageBoxAnswerer.h"
#include "support/gui/ShellRecorder.h"

#include <QApplication>
#include <QCursor>
#include <QEnterEvent>
#include <QFile>
#include <QMenu>
#include <QMouseEvent>
#include <QTimer>

#include <gtest/gtest.h>
#include <memory>

void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace {

class FrameTest : public ::testing::Test
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
        W->move(100, 100);
        W->show();
        QCoreApplication::processEvents();
    }

    // The widget the pointer is over at `client`, as the window system would pick it.
    QWidget* Under(const QPoint& client) const
    {
        QWidget* child = W->childAt(client);
        return child ? child : W.get();
    }

    void Send(QEvent::Type type, const QPoint& client, Qt::MouseButton button = Qt::NoButton,
              Qt::MouseButtons held = Qt::NoButton)
    {
        QWidget* target = Under(client);
        const QPoint global = W->mapToGlobal(client);
        QCursor::setPos(global);
        QMouseEvent event(type, QPointF(target->mapFrom(W.get(), client)), QPointF(global), button,
                          held, Qt::NoModifier);
        QApplication::sendEvent(target, &event);
    }

    void MoveTo(const QPoint& client) { Send(QEvent::MouseMove, client); }
    void Press(const QPoint& client)
    {
        Send(QEvent::MouseButtonPress, client, Qt::LeftButton, Qt::LeftButton);
    }
    // Press, then the same widget gets the moves and the release while the button is held.
    void DragBy(const QPoint& from, const QPoint& by)
    {
        QWidget* grabber = Under(from);
        Press(from);
        const QPoint global = W->mapToGlobal(from) + by;
        QCursor::setPos(global);
        QMouseEvent move(QEvent::MouseMove, QPointF(grabber->mapFromGlobal(global)),
                         QPointF(global), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(grabber, &move);
        QMouseEvent release(QEvent::MouseButtonRelease, QPointF(grabber->mapFromGlobal(global)),
                            QPointF(global), Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(grabber, &release);
    }
    void Click(const QPoint& client)
    {
        QWidget* target = Under(client);
        Press(client);
        const QPoint global = W->mapToGlobal(client);
        QMouseEvent release(QEvent::MouseButtonRelease, QPointF(target->mapFrom(W.get(), client)),
                            QPointF(global), Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(target, &release);
    }

    // Indexes of the lit images, in HoverImages() order.
    QList<int> Lit() const
    {
        QList<int> lit;
        const QList<TImage*> images = W->HoverImages();
        for (int i = 0; i < images.size(); ++i) {
            if (images.at(i)->isVisible())
                lit << i;
        }
        return lit;
    }

    TFakeCDRip Fake;
    TMessageBoxAnswerer Boxes;
    TShellRecorder Shell;
    std::unique_ptr<TfrmMain> W;
};

constexpr int WaveArea = 0;
constexpr int PlayArea = 9;
constexpr int PauseArea = 10;
constexpr int StopArea = 11;
constexpr int ForwardArea = 12;
constexpr int SelAllArea = 14;

TEST_F(FrameTest, HotAreasHoldBothBoundsAndNothingAroundThem)
{
    EXPECT_EQ(TfrmMain::HotAreaAt({60, 170}), WaveArea);
    EXPECT_EQ(TfrmMain::HotAreaAt({37, 155}), WaveArea);
    EXPECT_EQ(TfrmMain::HotAreaAt({93, 190}), WaveArea);
    EXPECT_EQ(TfrmMain::HotAreaAt({94, 170}), -1);
    EXPECT_EQ(TfrmMain::HotAreaAt({60, 154}), -1);
    EXPECT_EQ(TfrmMain::HotAreaAt({557, 121}), SelAllArea);
    EXPECT_EQ(TfrmMain::HotAreaAt({612, 130}), SelAllArea);
    EXPECT_EQ(TfrmMain::HotAreaAt({612, 131}), -1);
    EXPECT_EQ(TfrmMain::HotAreaAt({305, 449}), ForwardArea);
    EXPECT_EQ(TfrmMain::HotAreaAt({0, 0}), -1);
    EXPECT_EQ(TfrmMain::HotAreaAt({-5, 170}), -1);
}

TEST_F(FrameTest, PointerOverTheWaveButtonLightsItAndAClickRunsTheCommand)
{
    MoveTo({60, 170});
    EXPECT_EQ(Lit(), QList<int>{WaveArea});
    // Nothing is ticked, so the command answers with its message.
    Click({60, 170});
    ASSERT_EQ(Boxes.Shown().size(), 1);
    EXPECT_EQ(Boxes.Shown().at(0).Text, QStringLiteral("No Audio Track Selected!"));
}

TEST_F(FrameTest, LitPictureOutsideItsHotAreaGoesOutAndDrags)
{
    MoveTo({60, 170});
    ASSERT_EQ(Lit(), QList<int>{WaveArea});
    // Still inside the lit picture, below its hot area.
    ASSERT_EQ(Under({60, 192}), W->imgToWave);
    MoveTo({60, 192});
    EXPECT_TRUE(Lit().isEmpty());
    EXPECT_EQ(W->WMNCHitTest(W->mapToGlobal(QPoint(60, 192))), TfrmMain::HTCAPTION);

    const QPoint before = W->pos();
    DragBy({60, 192}, {30, 20});
    EXPECT_EQ(W->pos(), before + QPoint(30, 20));
    EXPECT_TRUE(Boxes.Shown().isEmpty()) << "a drag must not click";
}

TEST_F(FrameTest, BackgroundLeftOfTheButtonsDragsTheWindow)
{
    MoveTo({36, 170});
    EXPECT_TRUE(Lit().isEmpty());
    const QPoint before = W->pos();
    DragBy({36, 170}, {-15, 40});
    EXPECT_EQ(W->pos(), before + QPoint(-15, 40));
    // The status line belongs to the face it is dragged by.
    DragBy({100, 78}, {15, -40});
    EXPECT_EQ(W->pos(), before);
    EXPECT_TRUE(Boxes.Shown().isEmpty());
}

TEST_F(FrameTest, SweepingTheFaceNeverLightsTwoAndLightsOnlyTheHotArea)
{
    // Rows through the player, the left column and the title bar, moved across pixel by pixel.
    for (int y : {433, 437, 440, 449, 450, 156, 170, 190, 225, 26}) {
        for (int x = 0; x < TfrmMain::ClientWidth; ++x) {
            const QPoint p(x, y);
            if (W->ListView1->geometry().contains(p))
                continue;
            MoveTo(p);
            const int area = TfrmMain::HotAreaAt(p);
            const QList<int> expected =
                area >= 0 && area < TfrmMain::HoverCount ? QList<int>{area} : QList<int>{};
            ASSERT_EQ(Lit(), expected) << "at " << x << "," << y;
        }
    }
}

TEST_F(FrameTest, PlayStraightToPauseSwapsTheLight)
{
    MoveTo({212, 440});
    EXPECT_EQ(Lit(), QList<int>{PlayArea});
    MoveTo({240, 440});
    EXPECT_EQ(Lit(), QList<int>{PauseArea});
    // The lit stop picture covers the first column of the next button's hot area.
    MoveTo({270, 440});
    EXPECT_EQ(Lit(), QList<int>{StopArea});
    ASSERT_EQ(Under({286, 440}), W->imgStop);
    MoveTo({286, 440});
    EXPECT_EQ(Lit(), QList<int>{ForwardArea});
}

TEST_F(FrameTest, LightGoesOutOnAControlOrOffTheWindow)
{
    MoveTo({60, 170});
    ASSERT_EQ(Lit(), QList<int>{WaveArea});
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(W->mapToGlobal(QPoint(140, 150))));
    QApplication::sendEvent(W->ListView1->viewport(), &enter);
    EXPECT_TRUE(Lit().isEmpty());

    MoveTo({590, 26});
    ASSERT_EQ(Lit(), QList<int>{6});
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(W.get(), &leave);
    EXPECT_TRUE(Lit().isEmpty());

    MoveTo({60, 225});
    ASSERT_EQ(Lit(), QList<int>{1});
    QEvent blocked(QEvent::WindowBlocked);
    QApplication::sendEvent(W.get(), &blocked);
    EXPECT_TRUE(Lit().isEmpty());
}

// The pointer can leave a lit button faster than the button hears of it: only the window, the
// face around the button or the next window learns it. The hint goes with the light all the same.
TEST_F(FrameTest, HintGoesWithTheLightHoweverThePointerLeaves)
{
    const QString waveHint = QStringLiteral("Extract selected track(s) to WAV file(s)");
    MoveTo({60, 170});
    ASSERT_EQ(Lit(), QList<int>{WaveArea});
    EXPECT_EQ(W->lblStatus->text(), waveHint);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(W.get(), &leave);
    EXPECT_TRUE(Lit().isEmpty());
    EXPECT_EQ(W->lblStatus->text(), QString());

    MoveTo({590, 26});
    EXPECT_EQ(W->lblStatus->text(), QStringLiteral("Minimize window"));
    MoveTo({320, 40});
    EXPECT_TRUE(Lit().isEmpty());
    EXPECT_EQ(W->lblStatus->text(), QString());

    MoveTo({212, 440});
    EXPECT_EQ(W->lblStatus->text(), QStringLiteral("Play track"));
    QEvent deactivate(QEvent::WindowDeactivate);
    QApplication::sendEvent(W.get(), &deactivate);
    EXPECT_EQ(W->lblStatus->text(), QString());

    // A count written after the hint is no hint: it stays.
    MoveTo({240, 440});
    ASSERT_EQ(W->lblStatus->text(), QStringLiteral("Stop playing"));
    W->ListView1->Row(0)->SetChecked(true);
    MoveTo({320, 40});
    EXPECT_EQ(W->lblStatus->text(), QStringLiteral("1 Tracks Selected"));

    // The menu's hint goes when the menu closes.
    W->PopupMenu1->popup(W->mapToGlobal(QPoint(200, 200)));
    W->PopupMenu1->setActiveAction(W->InvertSelection1);
    ASSERT_EQ(W->lblStatus->text(), QStringLiteral("Reverse the selection"));
    W->PopupMenu1->hide();
    EXPECT_EQ(W->lblStatus->text(), QString());
}

TEST_F(FrameTest, SelectAllAreaClicksButNeverLightsOrDrags)
{
    W->ListView1->Row(0)->SetChecked(false);
    const QPoint before = W->pos();
    MoveTo({600, 125});
    EXPECT_TRUE(Lit().isEmpty());
    EXPECT_EQ(W->WMNCHitTest(W->mapToGlobal(QPoint(600, 125))), TfrmMain::HTCLIENT);
    const Qt::CheckState state = W->chkSelAll->checkState();
    DragBy({600, 125}, {40, 40});
    EXPECT_EQ(W->pos(), before);
    EXPECT_EQ(W->chkSelAll->checkState(), state) << "released elsewhere, it is no click";
    Click({600, 125});
    EXPECT_NE(W->chkSelAll->checkState(), state);
}

TEST_F(FrameTest, ErrorReportLaysTheMessageOutBetweenTheLineBreaks)
{
    const QString head = QStringLiteral("We are sorry that a problem has encounted:\r\n"
                                        "Please tell me the Error to ") +
                         SupportEMail + QStringLiteral(":\r\n\r\n");
    W->HandleProc(nullptr, Exception(QStringLiteral("Cannot write \"Track 01.mp3\"")));
    W->HandleProc(nullptr, Exception(QString()));
    ASSERT_EQ(Boxes.Shown().size(), 2);
    const TMessageBoxRequest& box = Boxes.Shown().at(0);
    EXPECT_EQ(box.Caption, QStringLiteral("Error Report"));
    EXPECT_EQ(box.Kind, TMsgDlgType::mtError);
    EXPECT_EQ(box.Buttons, QList<TMsgDlgBtn>{TMsgDlgBtn::mbOK});
    EXPECT_EQ(
        box.Text.toStdString(),
        (head + QStringLiteral("Cannot write \"Track 01.mp3\"\r\n\r\nThank you.")).toStdString());
    EXPECT_EQ(Boxes.Shown().at(1).Text.toStdString(),
              (head + QStringLiteral("\r\n\r\nThank you.")).toStdString());
}

TEST_F(FrameTest, StatusLineShowsTheHintOfWhatIsUnderThePointer)
{
    QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
    QApplication::sendEvent(W->imgSelAll, &enter);
    EXPECT_EQ(W->lblStatus->text(), QStringLiteral("Select or Unselect all tracks"));
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(W->imgSelAll, &leave);
    EXPECT_EQ(W->lblStatus->text(), QString());

    QApplication::sendEvent(W->imgEject, &enter);
    EXPECT_EQ(W->lblStatus->text(), QStringLiteral("Eject CD"));

    // A hint with a short and a long part shows the long one.
    QWidget probe(W.get());
    probe.setStatusTip(QStringLiteral("Short|The long part"));
    QApplication::sendEvent(&probe, &enter);
    EXPECT_EQ(W->lblStatus->text(), QStringLiteral("The long part"));

    // The context menu's items, while it is open.
    W->PopupMenu1->popup(W->mapToGlobal(QPoint(200, 200)));
    W->PopupMenu1->setActiveAction(W->SaveCDInformation1);
    EXPECT_EQ(W->lblStatus->text(), QStringLiteral("Save alubm information to CDPlayer.ini file"));
    W->PopupMenu1->setActiveAction(W->SelectAll1);
    EXPECT_EQ(W->lblStatus->text(), QStringLiteral("Select all tracks"));
    W->PopupMenu1->hide();
}

TEST_F(FrameTest, HelpAndHomePageGoToTheDesktop)
{
    MoveTo({60, 322});
    Click({60, 322});
    MoveTo({60, 453});
    Click({60, 453});
    ASSERT_EQ(Shell.Opened().size(), 2);
    EXPECT_EQ(Shell.Opened().at(0), QUrl::fromLocalFile(HelpFilePath()));
    EXPECT_TRUE(Shell.Opened().at(0).path().endsWith(QStringLiteral(".html")));
    EXPECT_EQ(Shell.Opened().at(1), QUrl(HomePageURL));

    // A desktop that opens nothing is not reported.
    Shell.Answer = false;
    W->HelpWith1Click();
    W->HomePageOnTheWeb1Click();
    EXPECT_TRUE(Boxes.Shown().isEmpty());
}

TEST_F(FrameTest, MinimiseButtonMinimisesTheWindow)
{
    MoveTo({590, 26});
    Click({590, 26});
    EXPECT_TRUE(W->isMinimized());
}

} // namespace
