// Drives the user named that cannot be used are told in the window's status line, and stay told
// while there is no disc to show; the good ones are listed as ever. Physical drives, scripted:
// one that spins its disc up, one whose disc never reads, drives plugged in and out.
#include "ui/uMain.h"

#include "app/globals.h"
#include "cd/CDRIP.h"
#include "platform/cdrip/LibCdioRipLibrary.h"
#include "support/DiscImage.h"
#include "support/ScriptedDrive.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>
#include <memory>

void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace {

class NamedDrives : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Dir.isValid());
        SetDefaultSettings();
        // libcdio divides by zero on this two-line TOC file.
        Broken = Dir.filePath(QStringLiteral("broken.toc"));
        QFile toc(Broken);
        ASSERT_TRUE(toc.open(QIODevice::WriteOnly));
        toc.write("TRACK MODE2\nDATAFILE \"" + QFile::encodeName(Broken) + "\"\n");
    }

    void Open(const QStringList& drives)
    {
        cdrip::TCDRipOptions options;
        options.SoundDevice = false;
        qputenv("CDRIP_DRIVES", QFile::encodeName(drives.join(u':')));
        Lib = cdrip::CreateCDRipLibrary(options);
        Main = std::make_unique<TfrmMain>(Lib.get());
        qputenv("CDRIP_DRIVES", QByteArray());
        Main->Timer1->stop();
    }

    QTemporaryDir Dir;
    QString Broken;
    std::unique_ptr<cdrip::ICDRipLibrary> Lib;
    std::unique_ptr<TfrmMain> Main;
};

TEST_F(NamedDrives, AnImageThatCannotBeUsedIsToldBesideTheGoodOnes)
{
    TDiscImage good;
    ASSERT_TRUE(good.Write(Dir.path(), {{75}, {75}}, 2));
    Open({Broken, good.CuePath});
    if (Main->cboDrive->count() != 1)
        GTEST_SKIP() << "a physical drive is present";
    EXPECT_EQ(Main->cboDrive->itemText(0), QStringLiteral("disc.cue"));
    EXPECT_EQ(Main->ListView1->RowCount(), 2);
    EXPECT_EQ(Main->lblStatus->text(),
              QStringLiteral("CDRIP_DRIVES: broken.toc cannot be used: libcdio crashed while "
                             "reading it"));
}

TEST_F(NamedDrives, NamedImagesNoneOfWhichWorksLeaveNoDemoDiscAndStayTold)
{
    Open({Broken, Dir.filePath(QStringLiteral("gone.cue"))});
    if (Main->cboDrive->count() > 0)
        GTEST_SKIP() << "a physical drive is present";
    EXPECT_EQ(Main->ListView1->RowCount(), 0);
    const QString told = Main->lblStatus->text();
    EXPECT_TRUE(told.startsWith(QStringLiteral("CDRIP_DRIVES: broken.toc cannot be used: ")))
        << qPrintable(told);
    EXPECT_TRUE(told.endsWith(QStringLiteral("(and 1 more)"))) << qPrintable(told);
    // The poll reloads an empty drive list every second; the reason stays in sight.
    Main->Timer1Timer();
    EXPECT_EQ(Main->lblStatus->text(), told);
}

const std::string Sr0 = "/dev/sr0";
const std::string Sr1 = "/dev/sr1";

class ScriptedDrivesWindow : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Dir.isValid());
        SetDefaultSettings();
    }
    void TearDown() override
    {
        // No read may still wait on a drive when the window goes.
        for (const TScriptedDrives::TDrive& d : Drives.Drives)
            Drives.Release(d.Path);
        Main.reset();
    }

    void Insert(const std::string& drive, const QList<TDiscTrackSpec>& tracks, uint32_t seed)
    {
        TDiscImage image;
        ASSERT_TRUE(image.Write(Dir.path(), tracks, seed, QString::number(seed)));
        Drives.Insert(drive, TScriptedDrives::FromImage(image));
    }

    void Open()
    {
        cdrip::TCDRipOptions options;
        options.SoundDevice = false;
        options.Drives = &Drives;
        Lib = cdrip::CreateCDRipLibrary(options);
        Main = std::make_unique<TfrmMain>(Lib.get());
        Main->Timer1->stop();
    }

    // The window's events run (the drive thread's answers come back through them) until
    // `ready`, or for a long while.
    static bool Until(const std::function<bool()>& ready)
    {
        QElapsedTimer clock;
        clock.start();
        while (!ready() && clock.elapsed() < 30000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        return ready();
    }

    // Polls as the timer would, each answer waited for.
    void Tick(int times = 1)
    {
        for (int i = 0; i < times; ++i) {
            Main->Timer1Timer();
            ASSERT_TRUE(Main->DriveFree(30000));
        }
    }

    QStringList DriveItems() const
    {
        QStringList items;
        for (int i = 0; i < Main->cboDrive->count(); ++i)
            items << Main->cboDrive->itemText(i);
        return items;
    }

    QTemporaryDir Dir;
    TScriptedDrives Drives;
    std::unique_ptr<cdrip::ICDRipLibrary> Lib;
    std::unique_ptr<TfrmMain> Main;
};

TEST_F(ScriptedDrivesWindow, ADiscSpinningUpLeavesTheWindowAnsweringAndIsListedOnceItReads)
{
    Drives.Add(Sr0, QStringLiteral("SPIN DRIVE"));
    Insert(Sr0, {{75}, {75}, {75}}, 1);
    Drives.Hold(Sr0);
    Open();
    ASSERT_TRUE(Until([&] { return Main->cboDrive->count() == 1; }));
    EXPECT_EQ(Main->cboDrive->itemText(0), QStringLiteral("SPIN DRIVE"));
    EXPECT_TRUE(Main->cboDrive->isEnabled());
    EXPECT_EQ(Main->ListView1->RowCount(), 0);
    EXPECT_EQ(Main->lblStatus->text(), QStringLiteral("Reading disc..."));

    // The read blocks, the window does not: its events run, and the poll stays off the drive.
    bool answered = false;
    QTimer::singleShot(0, Main.get(), [&] { answered = true; });
    ASSERT_TRUE(Until([&] { return answered; }));
    Main->Timer1Timer();
    Main->btnPlayClick();
    EXPECT_FALSE(Main->DriveFree(0));
    EXPECT_EQ(Main->lblStatus->text(), QStringLiteral("Reading disc..."));

    Drives.Release(Sr0);
    ASSERT_TRUE(Until([&] { return Main->ListView1->RowCount() == 3; }));
    EXPECT_EQ(Main->lblStatus->text(), QStringLiteral("No Tracks Selected."));
    EXPECT_FALSE(Main->PlayActive());
}

TEST_F(ScriptedDrivesWindow, APickWhileADiscSpinsUpDropsThatDiscForThePickedOne)
{
    Drives.Add(Sr0, QStringLiteral("SLOW DRIVE"));
    Drives.Add(Sr1, QStringLiteral("FAST DRIVE"));
    Insert(Sr0, {{75}}, 7);
    Insert(Sr1, {{75}, {75}, {75}, {75}}, 8);
    Drives.Hold(Sr0);
    Open();
    ASSERT_TRUE(Until([&] { return Main->cboDrive->count() == 2; }));
    Main->cboDrive->setCurrentIndex(1);
    Main->cboDriveClick(Main->cboDrive);
    EXPECT_EQ(Main->lblStatus->text(), QStringLiteral("Reading disc..."));

    // The library answers one call at a time: the pick is read once the first read ends, and
    // what that one found is not shown meanwhile.
    Drives.Hold(Sr1);
    Drives.Release(Sr0);
    ASSERT_TRUE(Until([&] { return Drives.Snapshot(Sr1).TocReads == 1; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(Main->ListView1->RowCount(), 0);
    EXPECT_EQ(Main->lblStatus->text(), QStringLiteral("Reading disc..."));
    Drives.Release(Sr1);
    ASSERT_TRUE(Main->DriveFree(30000));
    EXPECT_EQ(Main->cboDrive->currentIndex(), 1);
    EXPECT_EQ(Main->ListView1->RowCount(), 4);
}

TEST_F(ScriptedDrivesWindow, ADriveSayingItIsBecomingReadyIsReadingNotEmptyAndIsReadOnceReady)
{
    Drives.Add(Sr0);
    TDiscImage image;
    ASSERT_TRUE(image.Write(Dir.path(), {{75}, {75}}, 6));
    // Its reads fail at once while it spins up, as some drives' do.
    Drives.Insert(Sr0, TScriptedDrives::FromImage(image), 3600 * 1000);
    Open();
    ASSERT_TRUE(Main->DriveFree(30000));
    EXPECT_EQ(Main->ListView1->RowCount(), 0);
    EXPECT_EQ(Main->lblStatus->text(), QStringLiteral("Reading disc..."));
    Tick(3);
    EXPECT_EQ(Main->lblStatus->text(), QStringLiteral("Reading disc..."));

    {
        const std::lock_guard<std::mutex> lock(Drives.Lock());
        Drives.Drives[0].ReadyAt = {};
    }
    Tick();
    EXPECT_EQ(Main->ListView1->RowCount(), 2);
}

TEST_F(ScriptedDrivesWindow, ClosingWhileADiscSpinsUpNeitherHangsNorLeavesTheReadAWindowToReach)
{
    Drives.Add(Sr0);
    Insert(Sr0, {{75}}, 5);
    Drives.Hold(Sr0);
    Open();
    ASSERT_TRUE(Until([&] { return Main->cboDrive->count() == 1; }));
    Main->close();
    Main.reset(); // returns while the read still waits for the disc
    EXPECT_EQ(TDriveThread::Outstanding(), 1);
    Drives.Release(Sr0);
    EXPECT_TRUE(Until([] { return TDriveThread::Outstanding() == 0; }));
}

TEST_F(ScriptedDrivesWindow, AnEmptyTrayIsNeverReadAndADiscPutInIsReadAtTheNextPoll)
{
    for (const bool needsDisc : {false, true}) {
        SCOPED_TRACE(needsDisc);
        Main.reset();
        Lib.reset();
        Drives.Drives.clear();
        Drives.Add(Sr0).NeedsDisc = needsDisc;
        Open();
        ASSERT_TRUE(Main->DriveFree(30000));
        const int reads = Drives.Snapshot(Sr0).TocReads;
        Tick(40);
        EXPECT_EQ(Drives.Snapshot(Sr0).TocReads, reads);
        Insert(Sr0, {{75}, {75}}, 9);
        Tick();
        EXPECT_EQ(Main->ListView1->RowCount(), 2);
    }
}

TEST_F(ScriptedDrivesWindow, ADiscThatNeverReadsIsTriedAgainEverLaterNotEverySecond)
{
    Drives.Add(Sr0).Unreadable = true;
    Insert(Sr0, {{75}}, 2);
    Open();
    ASSERT_TRUE(Main->DriveFree(30000));
    EXPECT_EQ(Main->ListView1->RowCount(), 0);
    const TScriptedDrives::TDrive first = Drives.Snapshot(Sr0);

    Tick(60);
    const TScriptedDrives::TDrive later = Drives.Snapshot(Sr0);
    // Tried at 1, 2, 4, 8, 16 and 32 polls, not at each of the 60.
    EXPECT_EQ(later.TocReads - first.TocReads, 6);
    EXPECT_LE(later.Opens - first.Opens, 7);

    // Picking the drive again reads it at once.
    Main->cboDriveClick(Main->cboDrive);
    ASSERT_TRUE(Main->DriveFree(30000));
    EXPECT_EQ(Drives.Snapshot(Sr0).TocReads, later.TocReads + 1);
}

TEST_F(ScriptedDrivesWindow, DrivesThatComeAndGoAreListedAndThePickedOneStaysPicked)
{
    Drives.Add(Sr0, QStringLiteral("FIRST DRIVE")).Attached = false;
    Drives.Add(Sr1, QStringLiteral("SECOND DRIVE")).Attached = false;
    Insert(Sr0, {{75}}, 3);
    Insert(Sr1, {{75}, {75}}, 4);
    Open();
    ASSERT_TRUE(Main->DriveFree(30000));
    // With no drive the demo disc shows, until a drive comes.
    EXPECT_EQ(DriveItems(), QStringList{QStringLiteral("tarvik-demo.cue")});

    Drives.Attach(Sr1, true);
    Main->DriveListChanged();
    ASSERT_TRUE(Main->DriveFree(30000));
    EXPECT_EQ(DriveItems(), QStringList{QStringLiteral("SECOND DRIVE")});
    ASSERT_EQ(Main->ListView1->RowCount(), 2);
    Main->ListView1->Row(1)->SetCaption(QStringLiteral("Typed title"));
    Main->ListView1->Row(0)->SetChecked(true);

    // A drive plugged in ahead of it while a track plays: the list waits for the player (making
    // it stops the player), then the picked drive stays picked, its rows as they were.
    Main->btnPlayClick();
    ASSERT_TRUE(Main->PlayActive());
    Drives.Attach(Sr0, true);
    Main->DriveListChanged();
    ASSERT_TRUE(Main->DriveFree(30000));
    EXPECT_EQ(DriveItems(), QStringList{QStringLiteral("SECOND DRIVE")});
    Main->btnStopClick();
    Tick();
    EXPECT_EQ(DriveItems(),
              (QStringList{QStringLiteral("FIRST DRIVE"), QStringLiteral("SECOND DRIVE")}));
    EXPECT_EQ(Main->cboDrive->currentIndex(), 1);
    ASSERT_EQ(Main->ListView1->RowCount(), 2);
    EXPECT_EQ(Main->ListView1->Row(1)->Caption(), QStringLiteral("Typed title"));
    EXPECT_TRUE(Main->ListView1->Row(0)->Checked());

    // The picked drive unplugged: the next one shows, as a disc taken out would.
    Drives.Attach(Sr1, false);
    Main->DriveListChanged();
    ASSERT_TRUE(Main->DriveFree(30000));
    EXPECT_EQ(DriveItems(), QStringList{QStringLiteral("FIRST DRIVE")});
    EXPECT_EQ(Main->cboDrive->currentIndex(), 0);
    EXPECT_EQ(Main->ListView1->RowCount(), 1);
}

} // namespace
