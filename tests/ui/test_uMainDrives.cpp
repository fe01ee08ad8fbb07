// Drives the user named that cannot be used are told in the window's status line, and stay told
// while there is no disc to show; the good ones are listed as ever.
#include "ui/uMain.h"

#include "app/globals.h"
#include "cd/CDRIP.h"
#include "platform/cdrip/LibCdioRipLibrary.h"
#include "support/DiscImage.h"

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>
#include <memory>

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

} // namespace
