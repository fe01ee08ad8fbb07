// The ripping library over scripted physical drives: discs swapped and pulled, enhanced CDs,
// drives that may not be opened, the drive's speed, and Eject past a mounted data session.
#include "cd/CDRIP.h"
#include "cd/CDRipLibrary.h"
#include "platform/cdrip/LibCdioRipLibrary.h"
#include "support/DiscImage.h"
#include "support/ScriptedDrive.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>
#include <cerrno>
#include <gtest/gtest.h>

using namespace cdrip;

namespace {

const std::string Sr0 = "/dev/sr0";

class DrivesTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(FDir.isValid());
        qputenv("CDRIP_DRIVES", "");
    }

    TScriptedDrives::TDisc Disc(const QList<TDiscTrackSpec>& tracks, uint32_t seed,
                                const QString& name)
    {
        TDiscImage image;
        EXPECT_TRUE(image.Write(FDir.path(), tracks, seed, name)) << qPrintable(image.Error);
        return TScriptedDrives::FromImage(image);
    }

    std::unique_ptr<ICDRipLibrary> Library()
    {
        TCDRipOptions options;
        options.Drives = &Drives;
        auto lib = CreateCDRipLibrary(options);
        EXPECT_EQ(lib->CR_Init(), CDEX_OK);
        return lib;
    }

    QString LastError(ICDRipLibrary& lib)
    {
        char text[1024];
        return lib.CR_GetLastErrorText(text, sizeof text) == CDEX_ERROR ? QString()
                                                                        : QString::fromUtf8(text);
    }

    void Mount(const std::string& where, bool byDesktop = true)
    {
        std::lock_guard<std::mutex> lock(Drives.Lock());
        Drives.Drives[0].Mounted.push_back({where, "/", Sr0, "iso9660", byDesktop});
    }

    QTemporaryDir FDir;
    TScriptedDrives Drives;
};

TEST_F(DrivesTest, ADiscSwappedOrTakenOutIsNoticedWhetherOrNotTheDriveTellsOfChanges)
{
    for (const bool tells : {true, false}) {
        Drives.Drives.clear();
        Drives.Add(Sr0, QStringLiteral("VENDOR MODEL 1.0")).TellsChanges = tells;
        Drives.Insert(Sr0, Disc({{100}, {200}}, 1, QStringLiteral("a")));
        auto lib = Library();
        ASSERT_EQ(lib->CR_GetNumCDROM(), 1);
        ASSERT_EQ(lib->CR_ReadToc(), CDEX_OK);
        EXPECT_EQ(lib->CR_DiscChanged(), 0);
        EXPECT_EQ(lib->CR_DiscChanged(), 0);

        Drives.Insert(Sr0, Disc({{150}, {50}, {70}}, 2, QStringLiteral("b")));
        EXPECT_EQ(lib->CR_DiscChanged(), 1) << tells;
        ASSERT_EQ(lib->CR_ReadToc(), CDEX_OK);
        EXPECT_EQ(lib->CR_GetNumTocEntries(), 3);
        EXPECT_EQ(lib->CR_DiscChanged(), 0);

        Drives.Pull(Sr0);
        EXPECT_EQ(lib->CR_DiscChanged(), 1) << tells;
        EXPECT_EQ(lib->CR_ReadToc(), CDEX_ERROR);
    }
}

TEST_F(DrivesTest, TheLastAudioTrackOfAnEnhancedCDEndsBeforeTheGapBetweenTheSessions)
{
    Drives.Add(Sr0);
    TScriptedDrives::TDisc disc = Disc({{100}}, 1, QStringLiteral("enhanced"));
    disc.Toc.Tracks = {{0, true}, {20000, true}, {40000, false}};
    disc.Toc.LastSessionStart = 40000;
    disc.Toc.LeadOut = 50000;
    Drives.Insert(Sr0, disc);
    auto lib = Library();
    TCDRIP ripper(nullptr, lib.get());
    ASSERT_EQ(ripper.Tracks.size(), 3u);
    EXPECT_EQ(ripper.Tracks[0].second->EndSector, 19999);
    EXPECT_EQ(ripper.Tracks[1].second->EndSector, 40000 - 11400 - 1);
    EXPECT_EQ(ripper.Tracks[2].second->EndSector, 49999);
    EXPECT_EQ(ripper.GetTrackDuration(1), QStringLiteral("1:54"));
}

TEST_F(DrivesTest, AReadOffsetGivesSilenceRatherThanReadingIntoTheGapBeforeTheDataSession)
{
    Drives.Add(Sr0);
    TDiscImage image;
    ASSERT_TRUE(image.Write(FDir.path(), {{60}, {40}}, 5, QStringLiteral("offset")));
    TScriptedDrives::TDisc disc = TScriptedDrives::FromImage(image);
    // The image ends with the audio session; a drive could not read past it either.
    disc.Toc.Tracks.push_back({100 + 11400, false});
    disc.Toc.LastSessionStart = 100 + 11400;
    disc.Toc.LeadOut = 100 + 11400 + 500;
    Drives.Insert(Sr0, disc);
    auto lib = Library();
    ASSERT_EQ(lib->CR_ReadToc(), CDEX_OK);
    CDROMPARAMS p{};
    lib->CR_GetCDROMParameters(&p);
    p.nOffsetStart = 700;
    ASSERT_EQ(lib->CR_SetCDROMParameters(&p), CDEX_OK);
    int32_t size = 0;
    ASSERT_EQ(lib->CR_OpenRipper(&size, 60, 99), CDEX_OK);
    QByteArray pcm;
    std::vector<uint8_t> buffer(static_cast<size_t>(size));
    for (int32_t bytes = 0;; pcm.append(reinterpret_cast<const char*>(buffer.data()), bytes)) {
        const CDSTATUS status = lib->CR_RipChunk(buffer.data(), &bytes, 0);
        ASSERT_NE(status, CDEX_ERROR);
        if (status == CDEX_RIPPING_DONE)
            break;
    }
    const QByteArray disc0 = image.ReadSectors(0, 100);
    const QByteArray expected = disc0.mid((60 * 588 + 700) * 4) + QByteArray(700 * 4, 0);
    EXPECT_TRUE(pcm == expected);
}

TEST_F(DrivesTest, ADriveThatMayNotBeOpenedIsNamedWithTheReason)
{
    Drives.Add("/dev/scripted-sr1").OpenError = EACCES;
    Drives.Add(Sr0, QStringLiteral("GOOD DRIVE"));
    auto lib = Library();
    ASSERT_EQ(lib->CR_GetNumCDROM(), 1);
    TCDRIP ripper(nullptr, lib.get());
    EXPECT_STREQ(ripper.DriveID, "GOOD DRIVE");
    const QStringList problems = ripper.DriveProblems();
    ASSERT_EQ(problems.size(), 1);
    EXPECT_TRUE(problems[0].startsWith(
        QStringLiteral("The CD drive /dev/scripted-sr1 cannot be opened: Permission denied")))
        << qPrintable(problems[0]);
    EXPECT_TRUE(problems[0].contains(QStringLiteral("\"cdrom\"")));
}

TEST_F(DrivesTest, ADeviceThatIsNoCDDriveIsRefusedWithTheReason)
{
    int error = 0;
    EXPECT_EQ(CdioDriveSystem().Open("/dev/zero", error), nullptr);
    qputenv("CDRIP_DRIVES", "/dev/zero");
    auto lib = CreateCDRipLibrary();
    ASSERT_EQ(lib->CR_Init(), CDEX_OK);
    char text[512] = {};
    bool told = false;
    for (int32_t i = 0; lib->CR_GetDriveProblem(i, text, sizeof text) == CDEX_OK; ++i)
        told = told || QString::fromUtf8(text).contains(
                           QStringLiteral("/dev/zero cannot be used: it is not a CD drive"));
    EXPECT_TRUE(told);
    for (int32_t i = 0; i < lib->CR_GetNumCDROM(); ++i) {
        lib->CR_SetActiveCDROM(i);
        CDROMPARAMS p{};
        lib->CR_GetCDROMParameters(&p);
        EXPECT_STRNE(p.lpszCDROMID, "/dev/zero");
    }
}

TEST_F(DrivesTest, PlaybackEndsAtOnceWhenTheDiscIsPulledOut)
{
    Drives.Add(Sr0);
    Drives.Insert(Sr0, Disc({{75 * 20}, {75}}, 3, QStringLiteral("long")));
    auto lib = Library();
    ASSERT_EQ(lib->CR_ReadToc(), CDEX_OK);
    ASSERT_EQ(lib->CR_PlayTrack(1), CDEX_OK);
    QThread::msleep(300);
    Drives.Pull(Sr0);
    // What the player had read ahead plays out, then the position stands still.
    QElapsedTimer clock;
    clock.start();
    int32_t rel = 0, abs = 0, previous = -1;
    while (clock.elapsed() < 8000) {
        QThread::msleep(300);
        lib->CR_GetPlayPosition(&rel, &abs);
        if (abs == previous)
            break;
        previous = abs;
    }
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_LT(abs, 75 * 6);
    EXPECT_EQ(lib->CR_DiscChanged(), 1);
    EXPECT_EQ(lib->CR_ReadToc(), CDEX_ERROR);
}

TEST_F(DrivesTest, TheDriveSpeedIsAskedForAndARefusalIsNoFailure)
{
    for (const bool accepts : {true, false}) {
        Drives.Drives.clear();
        Drives.Add(Sr0).AcceptsSpeed = accepts;
        Drives.Insert(Sr0, Disc({{40}}, 4, QStringLiteral("speed")));
        auto lib = Library();
        ASSERT_EQ(lib->CR_ReadToc(), CDEX_OK);
        CDROMPARAMS p{};
        lib->CR_GetCDROMParameters(&p);
        p.nDriveSpeed = 8;
        lib->CR_SetCDROMParameters(&p);
        int32_t size = 0;
        ASSERT_EQ(lib->CR_OpenRipper(&size, 0, 39), CDEX_OK);
        std::vector<uint8_t> buffer(static_cast<size_t>(size));
        int32_t bytes = 0;
        EXPECT_EQ(lib->CR_RipChunk(buffer.data(), &bytes, 0), CDEX_OK);
        lib->CR_CloseRipper();
        const TScriptedDrives::TDrive d = Drives.Snapshot(Sr0);
        EXPECT_EQ(d.SpeedCalls, 1);
        EXPECT_EQ(d.Speed, accepts ? 8 : 0);
    }
}

TEST_F(DrivesTest, EjectAsksTheDesktopOnlyToUnmountWhatIsMounted)
{
    Drives.Add(Sr0);
    Drives.Insert(Sr0, Disc({{75}, {75}}, 7, QStringLiteral("eject")));
    auto lib = Library();
    ASSERT_EQ(lib->CR_ReadToc(), CDEX_OK);
    EXPECT_EQ(lib->CR_EjectCD(-1), CDEX_OK);
    TScriptedDrives::TDrive d = Drives.Snapshot(Sr0);
    EXPECT_EQ(d.MountQueries, 1);
    EXPECT_EQ(d.Unmounts, 0);
    EXPECT_EQ(d.Ejects, 1);

    // A data session the desktop mounted, and a bind mount of it, go before the disc does.
    Drives.Insert(Sr0, Disc({{75}, {75}}, 7, QStringLiteral("eject")));
    ASSERT_EQ(lib->CR_ReadToc(), CDEX_OK);
    Mount("/media/alice/DATA");
    Mount("/home/alice/cd", false);
    EXPECT_EQ(lib->CR_EjectCD(-1), CDEX_OK);
    d = Drives.Snapshot(Sr0);
    EXPECT_EQ(d.Unmounts, 2);
    EXPECT_TRUE(d.Mounted.empty());
    EXPECT_EQ(d.Ejects, 2);
    EXPECT_EQ(LastError(*lib), QString());
}

TEST_F(DrivesTest, ARefusedEjectLeavesTheDiscInAndSaysWhyUntilAnEjectWorks)
{
    Drives.Add(Sr0);
    Drives.Insert(Sr0, Disc({{75}, {75}}, 7, QStringLiteral("eject")));
    auto lib = Library();
    ASSERT_EQ(lib->CR_ReadToc(), CDEX_OK);
    Mount("/media/alice/MY DISC");
    Drives.Drives[0].UnmountRefusal = QStringLiteral("target is busy");
    EXPECT_EQ(lib->CR_EjectCD(-1), CDEX_ERROR);
    EXPECT_EQ(LastError(*lib), QStringLiteral("its data session, mounted at /media/alice/MY DISC, "
                                              "could not be unmounted: target is busy"));
    TScriptedDrives::TDrive d = Drives.Snapshot(Sr0);
    EXPECT_EQ(d.EjectTries, 0);
    EXPECT_TRUE(d.Disc.has_value());

    // Mounted by the system: the message says it was not the desktop's doing.
    Drives.Drives[0].Mounted[0] = {"/mnt/cd", "/", Sr0, "iso9660", false};
    Drives.Drives[0].UnmountRefusal = QStringLiteral("you may not do this here");
    EXPECT_EQ(lib->CR_EjectCD(-1), CDEX_ERROR);
    EXPECT_TRUE(LastError(*lib).contains(QStringLiteral("/mnt/cd by the system or by hand")))
        << qPrintable(LastError(*lib));

    // The service says it unmounted, yet the mount is still there: asked once, not for ever.
    Drives.Drives[0].UnmountRefusal.clear();
    Drives.Drives[0].UnmountIgnored = true;
    EXPECT_EQ(lib->CR_EjectCD(-1), CDEX_ERROR);
    EXPECT_EQ(LastError(*lib), QStringLiteral("its data session is still mounted at /mnt/cd"));
    Drives.Drives[0].UnmountIgnored = false;

    // Unmounted, but the door stays locked.
    Drives.Drives[0].EjectRefusal = QStringLiteral("its door is locked");
    EXPECT_EQ(lib->CR_EjectCD(-1), CDEX_ERROR);
    EXPECT_EQ(LastError(*lib), QStringLiteral("its door is locked"));

    // The next eject that works leaves no stale reason behind.
    Drives.Drives[0].EjectRefusal.clear();
    EXPECT_EQ(lib->CR_EjectCD(-1), CDEX_OK);
    EXPECT_EQ(LastError(*lib), QString());
    EXPECT_EQ(Drives.Snapshot(Sr0).Ejects, 1);
}

} // namespace
