// Eject from the window on a scripted drive whose data session the desktop has mounted.
#include "ui/uMain.h"

#include "app/globals.h"
#include "platform/cdrip/LibCdioRipLibrary.h"
#include "support/DiscImage.h"
#include "support/ScriptedDrive.h"
#include "support/gui/MessageBoxAnswerer.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>
#include <memory>

namespace {

const std::string Sr0 = "/dev/sr0";

// The eject is done on the drive thread and its refusal told from the event loop.
void RunEvents(int times = 20)
{
    for (int i = 0; i < times; ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
    }
}

TEST(MainWindowEject, ADiscThatStaysInIsToldOnceWithTheReason)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    SetDefaultSettings();
    TDiscImage image;
    ASSERT_TRUE(image.Write(dir.path(), {{75}, {75}, {75}}, 9)) << qPrintable(image.Error);
    TScriptedDrives drives;
    drives.Add(Sr0, QStringLiteral("SCRIPTED DRIVE"));
    drives.Insert(Sr0, TScriptedDrives::FromImage(image));
    drives.Drives[0].Mounted.push_back({"/media/alice/EXTRAS", "/", Sr0, "iso9660", true});
    drives.Drives[0].UnmountRefusal = QStringLiteral("target is busy");
    cdrip::TCDRipOptions options;
    options.Drives = &drives;
    options.SoundDevice = false;
    qputenv("CDRIP_DRIVES", QByteArray());
    auto lib = cdrip::CreateCDRipLibrary(options);
    TMessageBoxAnswerer boxes;
    TfrmMain window(lib.get());
    window.Timer1->stop();
    ASSERT_EQ(window.ListView1->RowCount(), 3);

    window.btnEjectClick();
    RunEvents();
    EXPECT_EQ(drives.Snapshot(Sr0).EjectTries, 0);
    ASSERT_EQ(boxes.Shown().size(), 1);
    EXPECT_EQ(boxes.Shown()[0].Caption, QStringLiteral("Eject CD"));
    EXPECT_EQ(boxes.Shown()[0].Text,
              QStringLiteral("The disc was not ejected: its data session, mounted at "
                             "/media/alice/EXTRAS, could not be unmounted: target is busy."));
    // The disc is still in: its list is there to rip or play.
    EXPECT_EQ(window.ListView1->RowCount(), 3);

    // Once the program holding it lets go, Eject unmounts and ejects without a word.
    drives.Drives[0].UnmountRefusal.clear();
    boxes.Clear();
    window.btnEjectClick();
    RunEvents();
    EXPECT_EQ(drives.Snapshot(Sr0).Ejects, 1);
    EXPECT_TRUE(boxes.Shown().isEmpty());
    EXPECT_EQ(window.ListView1->RowCount(), 0);
}

} // namespace
