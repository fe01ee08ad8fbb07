// Titles a disc carries itself (CD-Text, here the TITLE lines of a real CUE sheet read by the
// real ripping library) fill the rows the album information file says nothing about; a title
// saved in that file always wins, and saving stores the titles as shown.
#include "ui/uMain.h"

#include "app/globals.h"
#include "cd/CDRIP.h"
#include "platform/cdrip/LibCdioRipLibrary.h"
#include "platform/profile/Profile.h"
#include "support/DiscImage.h"

#include <QComboBox>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>
#include <memory>

namespace {

class CDTextTitles : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Dir.isValid());
        SetDefaultSettings();
        QFile::remove(AlbumInfoFileName());
        // A UTF-8 sheet, as editors write them today; track 2 has no title, track 4 is data.
        Image.DiscTitle = QStringLiteral("Sheet Album");
        Image.DiscPerformer = QStringLiteral("Sheet Band");
        ASSERT_TRUE(Image.Write(Dir.path(),
                                {{75, true, 0, 0.5, QStringLiteral("Café Overture")},
                                 {75},
                                 {75, true, 0, 0.5, QStringLiteral("Finale")},
                                 {75, false, 0, 0.5, QStringLiteral("Bonus Data")}},
                                3))
            << qPrintable(Image.Error);
        cdrip::TCDRipOptions options;
        options.SoundDevice = false;
        qputenv("CDRIP_DRIVES", QFile::encodeName(Image.CuePath));
        Lib = cdrip::CreateCDRipLibrary(options);
        Main = std::make_unique<TfrmMain>(Lib.get());
        qputenv("CDRIP_DRIVES", QByteArray());
        Main->Timer1->stop();
        ASSERT_EQ(Main->ListView1->RowCount(), 4) << "a physical drive is present";
    }

    QStringList Captions() const
    {
        QStringList result;
        for (int i = 0; i < Main->ListView1->RowCount(); ++i)
            result << Main->ListView1->Row(i)->Caption();
        return result;
    }

    QTemporaryDir Dir;
    TDiscImage Image;
    std::unique_ptr<cdrip::ICDRipLibrary> Lib;
    std::unique_ptr<TfrmMain> Main;
};

TEST_F(CDTextTitles, FillTheRowsTheAlbumFileLeavesAndNeverBeatIt)
{
    // No album information yet: the disc's own titles, decoded from UTF-8, and the defaults
    // where the disc has none or the track is data.
    EXPECT_EQ(Captions(), (QStringList{QStringLiteral("Café Overture"), QStringLiteral("Track02"),
                                       QStringLiteral("Finale"), QStringLiteral("Track04")}));
    EXPECT_EQ(Main->RIPPER->CDTextAlbum, QStringLiteral("Sheet Album"));
    EXPECT_EQ(Main->RIPPER->CDTextPerformer, QStringLiteral("Sheet Band"));

    // A title saved for the first row wins at the next load; the others keep the disc's titles.
    const QString id = Main->RIPPER->GetDiscID();
    const QStringList saved = {QStringLiteral("Mine")};
    ASSERT_TRUE(WriteAlbumInfo(id, QString(), QString(), QString(), QString(), &saved));
    Main->cboDriveClick();
    EXPECT_EQ(Captions(), (QStringList{QStringLiteral("Mine"), QStringLiteral("Track02"),
                                       QStringLiteral("Finale"), QStringLiteral("Track04")}));

    // Saving stores what the user sees, the disc's titles included.
    Main->SaveCDInformation1Click();
    const QString file = AlbumInfoFileName();
    EXPECT_EQ(profile::GetPrivateProfileString(id, QStringLiteral("0"), QString(), 2048, file),
              QStringLiteral("Mine"));
    EXPECT_EQ(profile::GetPrivateProfileString(id, QStringLiteral("2"), QString(), 2048, file),
              QStringLiteral("Finale"));
    EXPECT_EQ(profile::GetPrivateProfileString(id, QStringLiteral("3"), QString(), 2048, file),
              QStringLiteral("Track04"));
}

} // namespace
