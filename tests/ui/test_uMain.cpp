// The main window against a scripted ripping library: the drive list, the track rows, the poll,
// the tick count and the player.
#include "ui/uMain.h"

#include "app/Exception.h"
#include "app/globals.h"
#include "cd/CDRIP.h"
#include "mp3/LameCoder.h"
#include "support/FakeCDRip.h"
#include "support/gui/MessageBoxAnswerer.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QTimer>

#include <gtest/gtest.h>
#include <memory>

void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace {

using cdrip::DATATRKFLAG;

// A disc of `audio` audio tracks of `sectors` each, then `data` data tracks.
TFakeCDRip::TDrive Disc(const char* id, int audio, int data = 0, int sectors = 750)
{
    std::vector<int32_t> starts;
    std::vector<uint8_t> flags;
    for (int i = 0; i < audio + data; ++i) {
        starts.push_back(i * sectors);
        flags.push_back(i < audio ? cdrip::AUDIOTRKFLAG : DATATRKFLAG);
    }
    return TFakeCDRip::MakeDrive(id, starts, (audio + data) * sectors, flags);
}

QStringList Texts(std::initializer_list<const char*> texts)
{
    QStringList list;
    for (const char* text : texts)
        list << QString::fromUtf8(text);
    return list;
}

void SendMouse(QWidget* widget, QEvent::Type type, const QPoint& pos,
               Qt::MouseButton button = Qt::NoButton)
{
    const Qt::MouseButtons held =
        type == QEvent::MouseButtonPress ? Qt::MouseButtons(button) : Qt::MouseButtons();
    QMouseEvent event(type, QPointF(pos), QPointF(widget->mapToGlobal(pos)), button, held,
                      Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

void MouseMove(QWidget* widget, const QPoint& pos)
{
    SendMouse(widget, QEvent::MouseMove, pos);
}

void MouseClick(QWidget* widget, const QPoint& pos)
{
    SendMouse(widget, QEvent::MouseButtonPress, pos, Qt::LeftButton);
    SendMouse(widget, QEvent::MouseButtonRelease, pos, Qt::LeftButton);
}

void ShowAndSettle(QWidget* widget)
{
    widget->show();
    QCoreApplication::processEvents();
}

class MainWindowTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        SetDefaultSettings();
        QFile::remove(SettingsFileName());
        QFile::remove(AlbumInfoFileName());
    }

    // The window with the poll stopped: the tests run its ticks themselves.
    std::unique_ptr<TfrmMain> Open()
    {
        auto window = std::make_unique<TfrmMain>(&Fake);
        window->Timer1->stop();
        return window;
    }

    // The disc plays on (the position moves), or has stopped (it stays).
    void PlayOn() { Fake.PlayAbsolute += 75; }

    TFakeCDRip Fake;
    TMessageBoxAnswerer Boxes;
};

TEST_F(MainWindowTest, WindowHoldsItsControlsWhereTheFaceFramesThem)
{
    Fake.Drives.push_back(Disc("DRIVE A", 1));
    auto w = Open();
    EXPECT_EQ(w->size(), QSize(638, 480));
    EXPECT_TRUE(w->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(w->ListView1->geometry(), QRect(134, 145, 478, 277));
    EXPECT_EQ(w->cboDrive->geometry(), QRect(135, 118, 217, 23));
    EXPECT_EQ(w->chkSelAll->geometry(), QRect(544, 123, 12, 13));
    EXPECT_EQ(w->lblStatus->pos(), QPoint(20, 72));
    EXPECT_EQ(w->Timer1->interval(), 1000);
    EXPECT_EQ(QGuiApplication::applicationDisplayName(), QStringLiteral("Tarvik 2.3"));

    QStringList headers;
    for (int c = 0; c < 4; ++c)
        headers << w->ListView1->headerItem()->text(c);
    EXPECT_EQ(headers, Texts({"Title", "No.", "Duration", "Status"}));
    EXPECT_EQ(w->ListView1->columnWidth(0), 200);
    EXPECT_EQ(w->ListView1->columnWidth(1), 50);
    // Four columns and nothing beyond them to scroll to.
    EXPECT_EQ(w->ListView1->columnCount(), 4);
    ShowAndSettle(w.get());
    EXPECT_EQ(w->ListView1->horizontalScrollBar()->maximum(), 0);

    QStringList items;
    for (QAction* a : w->PopupMenu1->actions())
        items << (a->isSeparator() ? QStringLiteral("-")
                                   : a->text() + QLatin1Char('|') + a->statusTip());
    EXPECT_EQ(items, Texts({
                         "Select &All|Select all tracks",
                         "&Invert Selection|Reverse the selection",
                         "-",
                         "&Rename Track|Rename selected track",
                         "C&opy Track Information To Clipboard|Copy track information to clipboard",
                         "-",
                         "&Read CD Information|Get alubm information from CDPlayer.ini file",
                         "&Save CD Information|Save alubm information to CDPlayer.ini file",
                     }));
    EXPECT_EQ(w->ImageList1.size(), 3);
    for (const QPixmap& image : w->ImageList1)
        EXPECT_EQ(image.size(), QSize(16, 16));
}

TEST_F(MainWindowTest, TwelveAudioTracksBecomeTwelveFreshRows)
{
    Fake.Drives.push_back(Disc("VENDOR MODEL 1.0", 12));
    auto w = Open();

    ASSERT_EQ(w->cboDrive->count(), 1);
    EXPECT_EQ(w->cboDrive->itemText(0), QStringLiteral("VENDOR MODEL 1.0"));
    EXPECT_EQ(w->cboDrive->currentIndex(), 0);
    ASSERT_EQ(w->ListView1->RowCount(), 12);
    for (int i = 0; i < 12; ++i) {
        const TTrackRow* row = w->ListView1->Row(i);
        EXPECT_EQ(row->Caption(), QStringLiteral("Track%1").arg(i + 1, 2, 10, QLatin1Char('0')));
        EXPECT_EQ(row->SubItem(TTrackRow::siNumber), TwoDigits(uint16_t(i + 1)));
        EXPECT_EQ(row->SubItem(TTrackRow::siDuration), QStringLiteral("0:10"));
        EXPECT_EQ(row->SubItem(TTrackRow::siStatus), QStringLiteral("--"));
        EXPECT_EQ(row->TocIndex(), i);
        EXPECT_FALSE(row->Checked());
        EXPECT_EQ(row->ImageIndex(), imgAudioTrack);
    }
    EXPECT_EQ(w->lblStatus->text(), QStringLiteral("No Tracks Selected."));
    EXPECT_EQ(w->chkSelAll->checkState(), Qt::Unchecked);
    EXPECT_FALSE(w->PlayActive());
    EXPECT_EQ(w->CurrentTrack(), -1);
}

TEST_F(MainWindowTest, DrivesAreListedInNumberOrderAndTheFirstIsLoaded)
{
    Fake.Drives.push_back(Disc("FIRST", 2));
    Fake.Drives.push_back(Disc("SECOND", 5));
    auto w = Open();
    ASSERT_EQ(w->cboDrive->count(), 2);
    EXPECT_EQ(w->cboDrive->itemText(0), QStringLiteral("FIRST"));
    EXPECT_EQ(w->cboDrive->itemText(1), QStringLiteral("SECOND"));
    EXPECT_EQ(w->ListView1->RowCount(), 2);

    w->cboDrive->setCurrentIndex(1);
    w->cboDriveClick();
    EXPECT_EQ(w->ListView1->RowCount(), 5);
}

TEST_F(MainWindowTest, DataTrackKeepsItsImageThroughEveryTick)
{
    Fake.Drives.push_back(Disc("MIXED", 3, 1));
    auto w = Open();
    ASSERT_EQ(w->ListView1->RowCount(), 4);
    EXPECT_EQ(w->ListView1->Row(3)->ImageIndex(), imgDataTrack);
    for (int tick = 0; tick < 3; ++tick) {
        w->Timer1Timer();
        EXPECT_EQ(w->ListView1->Row(3)->ImageIndex(), imgDataTrack);
    }
    // A data row that somehow shows another image is put right by the next tick.
    w->ListView1->Row(3)->SetImageIndex(imgAudioTrack);
    w->Timer1Timer();
    EXPECT_EQ(w->ListView1->Row(3)->ImageIndex(), imgDataTrack);
}

TEST_F(MainWindowTest, SelectAllBoxDecidesTheLabelAfterADiscLoad)
{
    Fake.Drives.push_back(Disc("DRIVE", 4));
    auto w = Open();

    w->chkSelAll->setCheckState(Qt::Checked);
    EXPECT_EQ(w->lblStatus->text(), QStringLiteral("4 Tracks Selected"));
    w->cboDriveClick();
    EXPECT_EQ(w->chkSelAll->checkState(), Qt::Unchecked);
    EXPECT_EQ(w->lblStatus->text(), QStringLiteral("No Tracks Selected"));

    w->cboDriveClick();
    EXPECT_EQ(w->lblStatus->text(), QStringLiteral("No Tracks Selected."));

    // Grayed counts as a different state too.
    w->chkSelAll->setCheckState(Qt::PartiallyChecked);
    w->cboDriveClick();
    EXPECT_EQ(w->lblStatus->text(), QStringLiteral("No Tracks Selected"));
}

TEST_F(MainWindowTest, EmptyDriveIsAskedEverySecondAndReadAtTheTickAfterADiscArrives)
{
    TFakeCDRip::TDrive empty = Disc("DRIVE", 0);
    empty.Toc.clear();
    Fake.Drives.push_back(empty);
    Fake.MediumState = cdrip::CDMEDIUM_NONE;
    auto w = Open();
    EXPECT_EQ(w->ListView1->RowCount(), 0);

    // An empty tray is asked what it holds, which costs nothing, and never read.
    const int reads = Fake.Count(QStringLiteral("CR_ReadToc"));
    const int asked = Fake.Count(QStringLiteral("CR_GetMediumState"));
    w->Timer1Timer();
    w->Timer1Timer();
    EXPECT_EQ(Fake.Count(QStringLiteral("CR_ReadToc")), reads);
    EXPECT_EQ(Fake.Count(QStringLiteral("CR_GetMediumState")), asked + 2);
    EXPECT_EQ(w->ListView1->RowCount(), 0);

    Fake.Drives[0] = Disc("DRIVE", 6);
    Fake.MediumState = cdrip::CDMEDIUM_READY;
    w->Timer1Timer();
    EXPECT_EQ(w->ListView1->RowCount(), 6);
    EXPECT_EQ(w->lblStatus->text(), QStringLiteral("No Tracks Selected."));

    // A full list is not read again.
    const int filled = Fake.Count(QStringLiteral("CR_ReadToc"));
    w->Timer1Timer();
    EXPECT_EQ(Fake.Count(QStringLiteral("CR_ReadToc")), filled);
}

TEST_F(MainWindowTest, ADiscSwappedInTheDriveIsLoadedByTheNextTick)
{
    Fake.Drives.push_back(Disc("DRIVE", 3));
    auto w = Open();
    ASSERT_EQ(w->ListView1->RowCount(), 3);
    Fake.Drives[0] = Disc("DRIVE", 7);
    Fake.DiscChanged = true;
    w->Timer1Timer();
    EXPECT_EQ(w->ListView1->RowCount(), 7);
}

TEST_F(MainWindowTest, NoDriveLeavesEverythingEmpty)
{
    auto w = Open();
    EXPECT_EQ(w->cboDrive->count(), 0);
    EXPECT_EQ(w->cboDrive->currentIndex(), -1);
    EXPECT_EQ(w->ListView1->RowCount(), 0);
    w->Timer1Timer();
    w->btnPlayClick();
    w->btnForwardClick();
    w->btnBackwardClick();
    w->mnuReadCDiniClick();
    EXPECT_FALSE(w->PlayActive());
    EXPECT_EQ(Fake.Count(QStringLiteral("CR_PlayTrack")), 0);
}

// Whatever ticks a row (a click, the keyboard, a command), the count and the box follow at once.
TEST_F(MainWindowTest, TickCountAndBoxFollowEveryTick)
{
    Fake.Drives.push_back(Disc("DRIVE", 10));
    auto w = Open();
    TListView* list = w->ListView1;
    for (int i : {1, 4, 7})
        list->Row(i)->SetChecked(true);
    EXPECT_EQ(w->lblStatus->text(), QStringLiteral("3 Tracks Selected"));
    EXPECT_EQ(w->chkSelAll->checkState(), Qt::PartiallyChecked);
    // The grayed state ticked nothing.
    EXPECT_FALSE(list->Row(0)->Checked());

    // Space on the current row, as the list's keyboard handling does it.
    ShowAndSettle(w.get());
    list->setFocus();
    list->setCurrentItem(list->Row(8));
    QKeyEvent space(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
    QApplication::sendEvent(list, &space);
    ASSERT_TRUE(list->Row(8)->Checked());
    EXPECT_EQ(w->lblStatus->text(), QStringLiteral("4 Tracks Selected"));

    // A hint over the status line comes back to the count on the next move over the list.
    w->lblStatus->setText(QStringLiteral("Eject CD"));
    w->ListView1Click();
    w->ListView1MouseMove(list, {}, 6, 6);
    EXPECT_EQ(w->lblStatus->text(), QStringLiteral("4 Tracks Selected"));

    // "&Invert Selection" and "Select &All" from the menu.
    w->InvertSelection1->trigger();
    EXPECT_EQ(w->lblStatus->text(), QStringLiteral("6 Tracks Selected"));
    EXPECT_EQ(w->chkSelAll->checkState(), Qt::PartiallyChecked);
    w->SelectAll1->trigger();
    EXPECT_EQ(w->lblStatus->text(), QStringLiteral("10 Tracks Selected"));
    EXPECT_EQ(w->chkSelAll->checkState(), Qt::Checked);
    w->InvertSelection1->trigger();
    EXPECT_EQ(w->lblStatus->text(), QStringLiteral("No Tracks Selected"));
    EXPECT_EQ(w->chkSelAll->checkState(), Qt::Unchecked);

    // One row reads "1 Tracks Selected"; a title edit is no tick.
    list->Row(2)->SetChecked(true);
    EXPECT_EQ(w->lblStatus->text(), QStringLiteral("1 Tracks Selected"));
    w->lblStatus->setText(QStringLiteral("Play track"));
    list->Row(2)->SetCaption(QStringLiteral("Renamed"));
    EXPECT_EQ(w->lblStatus->text(), QStringLiteral("Play track"));
    list->Row(2)->SetChecked(false);
    EXPECT_EQ(w->lblStatus->text(), QStringLiteral("No Tracks Selected"));
    EXPECT_EQ(w->chkSelAll->checkState(), Qt::Unchecked);
}

TEST_F(MainWindowTest, FullyTickedListChecksTheBox)
{
    Fake.Drives.push_back(Disc("DRIVE", 3));
    auto w = Open();
    for (int i = 0; i < 3; ++i)
        w->ListView1->Row(i)->SetChecked(true);
    EXPECT_EQ(w->lblStatus->text(), QStringLiteral("3 Tracks Selected"));
    EXPECT_EQ(w->chkSelAll->checkState(), Qt::Checked);
    w->ListView1Click();
    w->ListView1MouseMove(w->ListView1, {}, 1, 1);
    EXPECT_EQ(w->lblStatus->text(), QStringLiteral("3 Tracks Selected"));
    EXPECT_EQ(w->chkSelAll->checkState(), Qt::Checked);
}

// The click that ticks a row must count it: the latch opens after the list has toggled the box.
TEST_F(MainWindowTest, MouseTickOnACheckBoxIsCountedByTheNextMove)
{
    Fake.Drives.push_back(Disc("DRIVE", 5));
    auto w = Open();
    ShowAndSettle(w.get());
    TListView* list = w->ListView1;
    QWidget* viewport = list->viewport();
    MouseMove(viewport, QPoint(5, 5));

    QStyleOptionViewItem option;
    option.initFrom(list);
    option.rect = list->visualItemRect(list->Row(1));
    option.features |= QStyleOptionViewItem::HasCheckIndicator;
    const QRect box =
        list->style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, list);
    MouseClick(viewport, box.center());
    ASSERT_TRUE(list->Row(1)->Checked());
    MouseMove(viewport, box.center() + QPoint(30, 0));
    EXPECT_EQ(w->lblStatus->text(), QStringLiteral("1 Tracks Selected"));
    EXPECT_EQ(w->chkSelAll->checkState(), Qt::PartiallyChecked);
}

TEST_F(MainWindowTest, UserClickOnTheBoxChecksFromUncheckedAndFromGrayed)
{
    Fake.Drives.push_back(Disc("DRIVE", 3));
    auto w = Open();
    w->chkSelAll->click();
    EXPECT_EQ(w->chkSelAll->checkState(), Qt::Checked);
    EXPECT_TRUE(w->ListView1->Row(2)->Checked());
    w->chkSelAll->click();
    EXPECT_EQ(w->chkSelAll->checkState(), Qt::Unchecked);
    EXPECT_FALSE(w->ListView1->Row(2)->Checked());
    w->chkSelAll->setCheckState(Qt::PartiallyChecked);
    w->chkSelAll->click();
    EXPECT_EQ(w->chkSelAll->checkState(), Qt::Checked);
    EXPECT_EQ(w->lblStatus->text(), QStringLiteral("3 Tracks Selected"));
}

TEST_F(MainWindowTest, OnlyTheTitleColumnIsEditedInPlace)
{
    Fake.Drives.push_back(Disc("DRIVE", 2));
    auto w = Open();
    ShowAndSettle(w.get());
    TListView* list = w->ListView1;
    list->SelectRow(0);
    list->FocusRow(0);

    list->setCurrentItem(list->Row(0), 2);
    list->editItem(list->Row(0), 2);
    EXPECT_EQ(list->viewport()->findChild<QLineEdit*>(), nullptr);

    list->EditCaption(0);
    auto* editor = list->viewport()->findChild<QLineEdit*>();
    ASSERT_NE(editor, nullptr);
    editor->setText(QStringLiteral("Overture / Movement 1"));
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(editor, &enter);
    QCoreApplication::processEvents(); // the editor commits from the event loop
    EXPECT_EQ(list->Row(0)->Caption(), QStringLiteral("Overture / Movement 1"));
    EXPECT_EQ(list->Row(0)->SubItem(TTrackRow::siNumber), QStringLiteral("01"));
}

TEST_F(MainWindowTest, AlbumTitlesReplaceTheDefaultsOnLoad)
{
    Fake.Drives.push_back(Disc("DRIVE", 3));
    {
        auto probe = Open();
        // A title left blank hides none of the titles after it.
        const QStringList names{QStringLiteral("Intro"), QString(), QStringLiteral("Finale")};
        ASSERT_TRUE(WriteAlbumInfo(probe->RIPPER->GetDiscID(), QString(), QString(), QString(),
                                   QString(), &names));
    }
    auto w = Open();
    EXPECT_EQ(w->ListView1->Row(0)->Caption(), QStringLiteral("Intro"));
    EXPECT_EQ(w->ListView1->Row(1)->Caption(), QString());
    EXPECT_EQ(w->ListView1->Row(2)->Caption(), QStringLiteral("Finale"));
    EXPECT_EQ(w->ListView1->Row(2)->SubItem(TTrackRow::siNumber), QStringLiteral("03"));
}

TEST_F(MainWindowTest, UnwritableSettingsAreReportedOnceAndTheProgramGoesOn)
{
    Fake.Drives.push_back(Disc("DRIVE", 3));
    // A file where the configuration folder should be: the first start cannot write there.
    const QString folder = ConfigFolder();
    ASSERT_TRUE(QDir(folder).removeRecursively());
    {
        QFile blocker(folder);
        ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    }
    const QString failure = QStringLiteral("Unable to write to %1/tarvik.ini: Not a directory");
    auto w = Open();
    ASSERT_EQ(Boxes.Shown().size(), 1);
    EXPECT_EQ(Boxes.Shown().at(0).Caption, QStringLiteral("Error Report"));
    EXPECT_TRUE(Boxes.Shown().at(0).Text.contains(failure.arg(folder)));
    EXPECT_EQ(w->cboDrive->count(), 1);
    EXPECT_EQ(w->ListView1->RowCount(), 3);
    EXPECT_EQ(w->LameCoder1->Bitrate(), 128u);
    // Closing with the settings the start could not write loses nothing: no second report.
    ShowAndSettle(w.get());
    w->close();
    EXPECT_EQ(Boxes.Shown().size(), 1);

    // Settings changed during the run and lost at close are reported, in the window while
    // there is one, on standard error otherwise.
    for (const bool shown : {true, false}) {
        Boxes.Clear();
        auto next = Open();
        Settings.BitRates = shown ? 64 : 96;
        if (shown)
            ShowAndSettle(next.get());
        testing::internal::CaptureStderr();
        next->close();
        const std::string printed = testing::internal::GetCapturedStderr();
        ASSERT_EQ(Boxes.Shown().size(), shown ? 2 : 1);
        if (shown)
            EXPECT_TRUE(Boxes.Shown().at(1).Text.contains(failure.arg(folder)));
        else
            EXPECT_NE(printed.find(failure.arg(folder).toStdString()), std::string::npos);
    }
    QFile::remove(folder);
}

TEST_F(MainWindowTest, SavingCDInformationKeepsTheAlbumAndSaysWhyItFailed)
{
    Fake.Drives.push_back(Disc("DRIVE", 3));
    auto w = Open();
    const QString id = w->RIPPER->GetDiscID();
    const auto stored = [&] {
        QString artist, album, year, genre;
        ReadStoredAlbumInfo(id, artist, album, year, genre);
        return QStringList{artist, album, year, genre};
    };
    // A disc saved for the first time gets the four album keys, empty.
    w->SaveCDInformation1Click();
    EXPECT_EQ(stored(), QStringList(4, QString()));
    EXPECT_TRUE(QFile(AlbumInfoFileName()).open(QIODevice::ReadOnly));

    // What the user or another program stored for the album stays.
    ASSERT_TRUE(WriteAlbumInfo(id, QStringLiteral("Band"), QStringLiteral("Record"),
                               QStringLiteral("1984"), QStringLiteral("Rock")));
    w->ListView1->Row(1)->SetCaption(QStringLiteral("Second"));
    w->SaveCDInformation1Click();
    EXPECT_EQ(stored(), Texts({"Band", "Record", "1984", "Rock"}));
    QString artist, title, year, genre;
    QStringList names;
    ReadAlbumInfo(id, artist, title, year, genre, names);
    EXPECT_EQ(names.mid(0, 3), Texts({"Track01", "Second", "Track03"}));
    EXPECT_TRUE(Boxes.Shown().isEmpty()); // success is silent

    // A file that cannot be written is named, with the reason.
    ASSERT_TRUE(QFile::remove(AlbumInfoFileName()));
    ASSERT_TRUE(QDir().mkdir(AlbumInfoFileName()));
    w->SaveCDInformation1Click();
    ASSERT_EQ(Boxes.Shown().size(), 1);
    EXPECT_TRUE(Boxes.Shown().at(0).Text.contains(AlbumInfoFileName() +
                                                  QStringLiteral(": it is not a regular file")));
    EXPECT_TRUE(QDir().rmdir(AlbumInfoFileName()));
}

TEST_F(MainWindowTest, StartUpHandsTheSettingsToTheEncoder)
{
    auto w = Open();
    EXPECT_EQ(w->LameCoder1->DefaultExt(), QStringLiteral(".mp3"));
    EXPECT_EQ(w->LameCoder1->EnableVBR(), -1);
    EXPECT_EQ(w->LameCoder1->WriteVBRHeader(), -1);
    EXPECT_EQ(w->LameCoder1->CRC(), -1);
    EXPECT_EQ(w->LameCoder1->VBRQuality(), 5);

    Settings.SampleRates = 32000;
    Settings.BitRates = 192;
    Settings.MaxBitRates = 256;
    Settings.Mode = 0x103; // only the low byte counts
    Settings.Quality = 2;
    Settings.EnableVBR = -1;
    Settings.WriteVBRHeader = 0;
    Settings.CopyRight = -1;
    Settings.Original = 7;
    Settings.CRC = 0;
    Settings.bPrivate = -1;
    w->SetLameCoder();
    EXPECT_EQ(w->LameCoder1->SampleRate(), 32000u);
    EXPECT_EQ(w->LameCoder1->Bitrate(), 192u);
    EXPECT_EQ(w->LameCoder1->MaxBitrate(), 256u);
    EXPECT_EQ(w->LameCoder1->Mode(), MONO);
    EXPECT_EQ(w->LameCoder1->Quality(), HIGH_QUALITY);
    EXPECT_EQ(w->LameCoder1->EnableVBR(), -1);
    EXPECT_EQ(w->LameCoder1->WriteVBRHeader(), 0);
    EXPECT_EQ(w->LameCoder1->Copyright(), -1);
    EXPECT_EQ(w->LameCoder1->Original(), 7);
    EXPECT_EQ(w->LameCoder1->CRC(), 0);
    EXPECT_EQ(w->LameCoder1->Private(), -1);
}

TEST_F(MainWindowTest, ClosingStopsPlaybackAndSavesTheSettings)
{
    Fake.Drives.push_back(Disc("DRIVE", 2));
    auto w = Open();
    w->btnPlayClick();
    PlayOn();
    Settings.OutDir = QStringLiteral("/music/out");
    w->close();
    EXPECT_EQ(Fake.Count(QStringLiteral("CR_StopPlayTrack")), 1);
    QFile file(SettingsFileName());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll().contains("OutDir=/music/out"));
}

// --- the player ---

TEST_F(MainWindowTest, PlayWithoutRowsDoesNothing)
{
    TFakeCDRip::TDrive empty = Disc("DRIVE", 0);
    empty.Toc.clear();
    Fake.Drives.push_back(empty);
    auto w = Open();
    w->btnPlayClick();
    EXPECT_FALSE(w->PlayActive());
    EXPECT_EQ(Fake.Count(QStringLiteral("CR_PlayTrack")), 0);
}

TEST_F(MainWindowTest, PlayWithoutSelectionPlaysTheFirstTrack)
{
    Fake.Drives.push_back(Disc("DRIVE", 4));
    auto w = Open();
    w->btnPlayClick();
    EXPECT_EQ(Fake.LastPlayTrack, 1);
    EXPECT_EQ(w->ListView1->SelectedIndex(), 0);
    EXPECT_EQ(w->CurrentTrack(), 0);
    EXPECT_TRUE(w->PlayActive());
    EXPECT_FALSE(w->Paused());

    // The poll marks the row now playing, and only that one.
    PlayOn();
    w->Timer1Timer();
    EXPECT_EQ(w->ListView1->Row(0)->ImageIndex(), imgNowPlaying);
    EXPECT_EQ(w->ListView1->Row(1)->ImageIndex(), imgAudioTrack);
}

TEST_F(MainWindowTest, PlayOnADataRowPlaysNothingButArmsThePlayer)
{
    Fake.Drives.push_back(Disc("DRIVE", 2, 1));
    auto w = Open();
    w->ListView1->SelectRow(2);
    w->btnPlayClick();
    EXPECT_EQ(Fake.Count(QStringLiteral("CR_PlayTrack")), 0);
    EXPECT_TRUE(w->PlayActive());
    EXPECT_EQ(w->CurrentTrack(), -1);

    // With nothing played the poll has nothing to continue from.
    w->Timer1Timer();
    EXPECT_EQ(Fake.Count(QStringLiteral("CR_PlayTrack")), 0);
}

TEST_F(MainWindowTest, NextAndPreviousStopAtTheEnds)
{
    Fake.Drives.push_back(Disc("DRIVE", 3));
    auto w = Open();
    TListView* list = w->ListView1;

    w->btnForwardClick(); // nothing selected
    w->btnBackwardClick();
    EXPECT_EQ(Fake.Count(QStringLiteral("CR_PlayTrack")), 0);

    list->SelectRow(0);
    w->btnBackwardClick();
    EXPECT_EQ(Fake.Count(QStringLiteral("CR_PlayTrack")), 0);
    EXPECT_EQ(list->SelectedIndex(), 0);

    w->btnForwardClick();
    EXPECT_EQ(Fake.LastPlayTrack, 2);
    EXPECT_EQ(list->SelectedIndex(), 1);
    EXPECT_EQ(list->SelCount(), 1);
    EXPECT_EQ(list->currentItem(), list->Row(1));
    w->btnForwardClick();
    EXPECT_EQ(Fake.LastPlayTrack, 3);
    w->btnForwardClick(); // the last row
    EXPECT_EQ(Fake.Count(QStringLiteral("CR_PlayTrack")), 2);
    EXPECT_EQ(list->SelectedIndex(), 2);

    w->btnBackwardClick();
    EXPECT_EQ(Fake.LastPlayTrack, 2);
    EXPECT_EQ(w->CurrentTrack(), 1);
}

TEST_F(MainWindowTest, EndOfTheLastTrackWrapsToTheFirst)
{
    Fake.Drives.push_back(Disc("DRIVE", 3));
    auto w = Open();
    w->ListView1->SelectRow(2);
    w->btnPlayClick();
    PlayOn();
    w->Timer1Timer(); // still playing: nothing moves on
    EXPECT_EQ(Fake.Count(QStringLiteral("CR_PlayTrack")), 1);
    w->Timer1Timer(); // the position stopped: the track ended
    EXPECT_EQ(Fake.LastPlayTrack, 1);
    EXPECT_EQ(w->CurrentTrack(), 0);
    EXPECT_EQ(w->ListView1->SelectedIndex(), 0);
    EXPECT_EQ(w->ListView1->SelCount(), 1);
    PlayOn();
    w->Timer1Timer();
    EXPECT_EQ(w->ListView1->Row(0)->ImageIndex(), imgNowPlaying);
    EXPECT_EQ(w->ListView1->Row(2)->ImageIndex(), imgAudioTrack);
}

TEST_F(MainWindowTest, ContinuationPassesOverDataTracks)
{
    // Audio, data, audio, data: after track 1 comes track 3, after track 3 track 1 again.
    Fake.Drives.push_back(TFakeCDRip::MakeDrive(
        "DRIVE", {0, 750, 1500, 2250}, 3000,
        {cdrip::AUDIOTRKFLAG, DATATRKFLAG, cdrip::AUDIOTRKFLAG, DATATRKFLAG}));
    auto w = Open();
    w->btnPlayClick();
    EXPECT_EQ(Fake.LastPlayTrack, 1);
    PlayOn();
    w->Timer1Timer();
    w->Timer1Timer();
    EXPECT_EQ(Fake.LastPlayTrack, 3);
    EXPECT_EQ(w->CurrentTrack(), 2);
    PlayOn();
    w->Timer1Timer();
    w->Timer1Timer();
    EXPECT_EQ(Fake.LastPlayTrack, 1);
    EXPECT_EQ(w->CurrentTrack(), 0);
    EXPECT_EQ(Fake.Count(QStringLiteral("CR_PlayTrack")), 3);
    EXPECT_EQ(w->ListView1->Row(1)->ImageIndex(), imgDataTrack);
}

TEST_F(MainWindowTest, SingleAudioTrackRepeatsItself)
{
    Fake.Drives.push_back(Disc("DRIVE", 1, 1));
    auto w = Open();
    w->btnPlayClick();
    w->Timer1Timer();
    EXPECT_EQ(Fake.Count(QStringLiteral("CR_PlayTrack")), 2);
    EXPECT_EQ(Fake.LastPlayTrack, 1);
    EXPECT_TRUE(w->PlayActive());
}

TEST_F(MainWindowTest, PauseHoldsThePollAndPauseAgainResumes)
{
    Fake.Drives.push_back(Disc("DRIVE", 3));
    auto w = Open();
    w->btnPlayClick();
    PlayOn();
    w->Timer1Timer();

    w->imgPauseClick();
    EXPECT_TRUE(w->Paused());
    EXPECT_NE(Fake.LastPause, 0);
    for (int tick = 0; tick < 3; ++tick)
        w->Timer1Timer();
    EXPECT_EQ(Fake.Count(QStringLiteral("CR_PlayTrack")), 1);
    EXPECT_EQ(w->CurrentTrack(), 0);

    w->imgPauseClick();
    EXPECT_FALSE(w->Paused());
    EXPECT_EQ(Fake.LastPause, 0);
    EXPECT_EQ(Fake.Count(QStringLiteral("CR_PauseCD")), 2);
}

TEST_F(MainWindowTest, PlayAfterPauseAndStopClearsThePause)
{
    Fake.Drives.push_back(Disc("DRIVE", 3));
    auto w = Open();
    w->btnPlayClick();
    w->imgPauseClick();
    w->btnStopClick();
    EXPECT_TRUE(w->Paused()); // Stop keeps it
    EXPECT_FALSE(w->PlayActive());
    EXPECT_EQ(w->CurrentTrack(), -1);
    w->ListView1->SelectRow(1);
    w->btnPlayClick();
    EXPECT_EQ(Fake.LastPlayTrack, 2);
    EXPECT_FALSE(w->Paused());
}

TEST_F(MainWindowTest, StoppedRowLosesTheNowPlayingImage)
{
    Fake.Drives.push_back(Disc("DRIVE", 3));
    auto w = Open();
    w->btnPlayClick();
    PlayOn();
    w->Timer1Timer();
    ASSERT_EQ(w->ListView1->Row(0)->ImageIndex(), imgNowPlaying);
    w->btnStopClick();
    EXPECT_EQ(Fake.Count(QStringLiteral("CR_StopPlayTrack")), 1);
    w->Timer1Timer();
    EXPECT_EQ(w->ListView1->Row(0)->ImageIndex(), imgAudioTrack);
    EXPECT_EQ(Fake.Count(QStringLiteral("CR_PlayTrack")), 1);
}

TEST_F(MainWindowTest, ChangingTheDriveWhilePlayingStopsFirst)
{
    Fake.Drives.push_back(Disc("FIRST", 3));
    Fake.Drives.push_back(Disc("SECOND", 2));
    auto w = Open();
    w->ListView1->SelectRow(1);
    w->btnPlayClick();
    w->imgPauseClick();
    w->imgPauseClick();
    PlayOn();

    w->cboDrive->setCurrentIndex(1);
    w->cboDriveClick();
    EXPECT_EQ(Fake.Count(QStringLiteral("CR_StopPlayTrack")), 1);
    EXPECT_FALSE(w->PlayActive());
    EXPECT_EQ(w->CurrentTrack(), -1);
    EXPECT_EQ(w->ListView1->RowCount(), 2);
    EXPECT_EQ(w->ListView1->SelectedIndex(), -1);
    // Nothing is continued on the new disc.
    w->Timer1Timer();
    EXPECT_EQ(Fake.Count(QStringLiteral("CR_PlayTrack")), 1);
}

TEST_F(MainWindowTest, EjectWhilePlayingLeavesThePlayerIdle)
{
    Fake.Drives.push_back(Disc("DRIVE", 3));
    auto w = Open();
    w->btnPlayClick();
    PlayOn();
    Fake.Drives[0].Toc.clear(); // the tray is open once the eject has run
    w->btnEjectClick();
    EXPECT_NE(Fake.LastEject, 0);
    EXPECT_EQ(Fake.Count(QStringLiteral("CR_StopPlayTrack")), 1);
    EXPECT_EQ(w->ListView1->RowCount(), 0);
    EXPECT_FALSE(w->PlayActive());
    EXPECT_EQ(w->CurrentTrack(), -1);

    // The disc comes back: the poll fills the list and plays nothing by itself.
    Fake.Drives[0] = Disc("DRIVE", 3);
    w->Timer1Timer();
    EXPECT_EQ(w->ListView1->RowCount(), 3);
    EXPECT_EQ(Fake.Count(QStringLiteral("CR_PlayTrack")), 1);
}

// --- the face ---

TEST_F(MainWindowTest, HotAreasIncludeBothBounds)
{
    EXPECT_EQ(TfrmMain::HotAreaAt({60, 170}), 0);
    EXPECT_EQ(TfrmMain::HotAreaAt({37, 155}), 0);
    EXPECT_EQ(TfrmMain::HotAreaAt({93, 190}), 0);
    EXPECT_EQ(TfrmMain::HotAreaAt({36, 170}), -1);
    EXPECT_EQ(TfrmMain::HotAreaAt({60, 192}), -1);
    EXPECT_EQ(TfrmMain::HotAreaAt({212, 440}), 9);
    EXPECT_EQ(TfrmMain::HotAreaAt({240, 440}), 10);
    EXPECT_EQ(TfrmMain::HotAreaAt({600, 125}), 14);
}

TEST_F(MainWindowTest, HoverLightsOneImageAtATime)
{
    Fake.Drives.push_back(Disc("DRIVE", 1));
    auto w = Open();
    ShowAndSettle(w.get());
    const QList<TImage*> images = w->HoverImages();
    ASSERT_EQ(images.size(), TfrmMain::HoverCount);
    for (TImage* image : images)
        EXPECT_FALSE(image->isVisible());
    w->ListView1->Tag = 1;
    w->Image1MouseMove(w->Image1, {}, 212, 440);
    EXPECT_TRUE(w->imgPlay->isVisible());
    EXPECT_EQ(w->ListView1->Tag, 0);
    w->Image1MouseMove(w->Image1, {}, 240, 440);
    EXPECT_FALSE(w->imgPlay->isVisible());
    EXPECT_TRUE(w->imgPause->isVisible());
    EXPECT_EQ(w->WMNCHitTest(w->mapToGlobal(QPoint(300, 20))), TfrmMain::HTCAPTION);
    EXPECT_FALSE(w->imgPause->isVisible());
    EXPECT_EQ(w->WMNCHitTest(w->mapToGlobal(QPoint(600, 125))), TfrmMain::HTCLIENT);
}

TEST_F(MainWindowTest, ErrorReportShowsTheMessageBetweenTheLineBreaks)
{
    auto w = Open();
    w->HandleProc(nullptr, Exception(QStringLiteral("Disk full")));
    w->HandleProc(nullptr, ECDRIPError(QString()));
    ASSERT_EQ(Boxes.Shown().size(), 2);
    const TMessageBoxRequest& box = Boxes.Shown().at(0);
    EXPECT_EQ(box.Caption, QStringLiteral("Error Report"));
    EXPECT_EQ(box.Kind, TMsgDlgType::mtError);
    EXPECT_EQ(box.Buttons, QList<TMsgDlgBtn>{TMsgDlgBtn::mbOK});
    EXPECT_TRUE(box.Text.startsWith(QStringLiteral("We are sorry that a problem has encounted:\r\n"
                                                   "Please tell me the Error to ")));
    EXPECT_TRUE(box.Text.endsWith(QStringLiteral(":\r\n\r\nDisk full\r\n\r\nThank you.")));
    EXPECT_TRUE(Boxes.Shown().at(1).Text.contains(QStringLiteral(":\r\n\r\n\r\n\r\nThank you.")));
}

} // namespace
