// The watch on the device folder: a drive node that comes, goes or is given to the user is
// noticed; the other devices of the machine are not.
#include "platform/cdrip/DriveWatch.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

void Touch(const QString& path)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
}

TEST(DriveWatch, DriveNodesThatComeGoOrChangeHandsAreNoticedOtherDevicesAreNot)
{
    QTemporaryDir dev;
    ASSERT_TRUE(dev.isValid());
    const QString folder = dev.path();
    QByteArray look = TDriveWatch::Look(folder);

    Touch(folder + QStringLiteral("/sda"));
    Touch(folder + QStringLiteral("/sr0x"));
    EXPECT_EQ(TDriveWatch::Look(folder), look);

    Touch(folder + QStringLiteral("/sr0"));
    EXPECT_NE(TDriveWatch::Look(folder), look);
    look = TDriveWatch::Look(folder);
    QFile::setPermissions(folder + QStringLiteral("/sr0"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
    EXPECT_NE(TDriveWatch::Look(folder), look);

    // A node plugged in is told.
    TDriveWatch watch(folder);
    int told = 0;
    watch.OnChange = [&told] { ++told; };
    Touch(folder + QStringLiteral("/sr1"));
    QElapsedTimer clock;
    clock.start();
    while (told == 0 && clock.elapsed() < 30000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_EQ(told, 1);
}

} // namespace
