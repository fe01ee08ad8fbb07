// What of a drive is mounted, read from mountinfo text as the kernel writes it.
#include "platform/cdrip/DesktopMounts.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/sysmacros.h>

using namespace cdrip;

TEST(DesktopMounts, TheDrivesMountsAreFoundEscapesDecodedBindMountsIncluded)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QFile file(dir.filePath(QStringLiteral("mountinfo")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("22 1 0:21 / /proc rw,nosuid shared:12 - proc proc rw\n"
               "98 29 11:0 / /media/alice/MY\\040DISC ro,nosuid shared:51 - iso9660 /dev/sr0 "
               "ro,uid=1000\n"
               "99 29 11:0 /music /home/alice/cd\\040music ro shared:51 master:3 - iso9660 "
               "/dev/sr0 ro\n"
               "100 29 11:1 / /media/alice/OTHER ro - iso9660 /dev/sr1 ro\n"
               "101 29 11:0 / /mnt/back\\134slash ro - udf /dev/sr0 ro\n"
               "102 29 11:10 / /mnt/ten ro - udf /dev/sr10 ro\n"
               "garbage 11:0\n");
    file.close();
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));

    const std::vector<TMount> mounts = ParseMountInfo(file.readAll(), makedev(11, 0));
    ASSERT_EQ(mounts.size(), 3u);
    EXPECT_EQ(mounts[0].MountPoint, "/media/alice/MY DISC");
    EXPECT_EQ(mounts[0].Root, "/");
    EXPECT_EQ(mounts[0].Source, "/dev/sr0");
    EXPECT_EQ(mounts[0].FsType, "iso9660");
    EXPECT_TRUE(mounts[0].ByDesktop);
    EXPECT_EQ(mounts[1].MountPoint, "/home/alice/cd music");
    EXPECT_EQ(mounts[1].Root, "/music");
    EXPECT_FALSE(mounts[1].ByDesktop);
    EXPECT_EQ(mounts[2].MountPoint, "/mnt/back\\slash");
    EXPECT_EQ(mounts[2].FsType, "udf");

    EXPECT_TRUE(ParseMountInfo("98 29 11:0 / /media/x ro", makedev(11, 0)).empty());
    EXPECT_TRUE(DeviceMounts(dir.filePath(QStringLiteral("mountinfo")).toStdString()).empty());
}
