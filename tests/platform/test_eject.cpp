// Eject over scripted drives: a disc whose data session the desktop mounted is unmounted first,
// and a disc that stays in is told with its reason.
#include "cd/CDRipLibrary.h"
#include "platform/cdrip/LibCdioRipLibrary.h"
#include "support/DiscImage.h"
#include "support/ScriptedDrive.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace cdrip;

namespace {

const std::string Sr0 = "/dev/sr0";

class EjectTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(FDir.isValid());
        qputenv("CDRIP_DRIVES", "");
        TDiscImage image;
        ASSERT_TRUE(image.Write(FDir.path(), {{75}, {75}}, 7)) << qPrintable(image.Error);
        Drives.Add(Sr0);
        Drives.Insert(Sr0, TScriptedDrives::FromImage(image));
        TCDRipOptions options;
        options.Drives = &Drives;
        options.SoundDevice = false;
        Lib = CreateCDRipLibrary(options);
        ASSERT_EQ(Lib->CR_Init(), CDEX_OK);
        ASSERT_EQ(Lib->CR_ReadToc(), CDEX_OK);
    }

    void Mount(const std::string& where, bool byDesktop = true)
    {
        std::lock_guard<std::mutex> lock(Drives.Lock());
        Drives.Drives[0].Mounted.push_back({where, "/", Sr0, "iso9660", byDesktop});
    }

    QString LastError()
    {
        char text[1024];
        return Lib->CR_GetLastErrorText(text, sizeof text) == CDEX_ERROR ? QString()
                                                                         : QString::fromUtf8(text);
    }

    QTemporaryDir FDir;
    TScriptedDrives Drives;
    std::unique_ptr<ICDRipLibrary> Lib;
};

TEST_F(EjectTest, AMountedDataSessionIsUnmountedThenTheDiscEjected)
{
    Mount("/media/alice/DATA");
    Mount("/home/alice/cd", false); // a bind mount of it
    EXPECT_EQ(Lib->CR_EjectCD(-1), CDEX_OK);
    const TScriptedDrives::TDrive d = Drives.Snapshot(Sr0);
    EXPECT_EQ(d.Unmounts, 2);
    EXPECT_TRUE(d.Mounted.empty());
    EXPECT_EQ(d.Ejects, 1);
    EXPECT_EQ(LastError(), QString());
}

TEST_F(EjectTest, NothingMountedNeverAsksTheDesktop)
{
    EXPECT_EQ(Lib->CR_EjectCD(-1), CDEX_OK);
    const TScriptedDrives::TDrive d = Drives.Snapshot(Sr0);
    EXPECT_EQ(d.MountQueries, 1);
    EXPECT_EQ(d.Unmounts, 0);
    EXPECT_EQ(d.Ejects, 1);
}

TEST_F(EjectTest, ARefusalLeavesTheDiscInAndSaysWhyUntilAnEjectWorks)
{
    Mount("/media/alice/MY DISC");
    Drives.Drives[0].UnmountRefusal = QStringLiteral("target is busy");
    EXPECT_EQ(Lib->CR_EjectCD(-1), CDEX_ERROR);
    EXPECT_EQ(LastError(), QStringLiteral("its data session, mounted at /media/alice/MY DISC, "
                                          "could not be unmounted: target is busy"));
    TScriptedDrives::TDrive d = Drives.Snapshot(Sr0);
    EXPECT_EQ(d.EjectTries, 0);
    EXPECT_TRUE(d.Disc.has_value());

    // Mounted by the system: the message says it was not the desktop's doing.
    Drives.Drives[0].Mounted[0] = {"/mnt/cd", "/", Sr0, "iso9660", false};
    Drives.Drives[0].UnmountRefusal = QStringLiteral("you may not do this here");
    EXPECT_EQ(Lib->CR_EjectCD(-1), CDEX_ERROR);
    EXPECT_TRUE(LastError().contains(QStringLiteral("/mnt/cd by the system or by hand")))
        << qPrintable(LastError());

    // The service says it unmounted, yet the mount is still there: asked once, not for ever.
    Drives.Drives[0].UnmountRefusal.clear();
    Drives.Drives[0].UnmountIgnored = true;
    EXPECT_EQ(Lib->CR_EjectCD(-1), CDEX_ERROR);
    EXPECT_EQ(LastError(), QStringLiteral("its data session is still mounted at /mnt/cd"));
    Drives.Drives[0].UnmountIgnored = false;

    // Unmounted, but the door stays locked.
    Drives.Drives[0].EjectRefusal = QStringLiteral("its door is locked");
    EXPECT_EQ(Lib->CR_EjectCD(-1), CDEX_ERROR);
    EXPECT_EQ(LastError(), QStringLiteral("its door is locked"));

    // The next eject that works leaves no stale reason behind.
    Drives.Drives[0].EjectRefusal.clear();
    EXPECT_EQ(Lib->CR_EjectCD(-1), CDEX_OK);
    EXPECT_EQ(LastError(), QString());
    EXPECT_EQ(Drives.Snapshot(Sr0).Ejects, 1);
}

} // namespace
