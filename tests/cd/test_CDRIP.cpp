// The ripper component's drive, table-of-contents and playback half, against a scripted library.
#include "cd/CDRIP.h"
#include "mp3/LameCoder.h"
#include "support/FakeCDRip.h"

#include <gtest/gtest.h>

namespace {

QStringList Names(std::initializer_list<const char*> names)
{
    QStringList list;
    for (const char* n : names)
        list << QString::fromLatin1(n);
    return list;
}

class CDRIPTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        Lib.Drives.push_back(TFakeCDRip::MakeDrive("TEST DRIVE A 1.0", {0, 18000}, 30000));
        Lib.Drives.push_back(
            TFakeCDRip::MakeDrive("TEST DRIVE B 2.0", {0, 4500, 4574}, 9000, {0x10, 0x10, 0x14}));
    }
    TFakeCDRip Lib;
};

TEST_F(CDRIPTest, ConstructionReadsTheActiveDrive)
{
    Lib.Drives[0].Params.nDriveSpeed = 24;
    Lib.Drives[0].Params.nOutputFormat = MONO22050;
    Lib.Drives[0].Params.DriveTable = {3, 2, 1, 1, 1, 777, -1};
    TCDRIP rip(nullptr, &Lib);

    EXPECT_EQ(rip.Version, QStringLiteral("115"));
    EXPECT_STREQ(rip.DriveID, "TEST DRIVE A 1.0");
    EXPECT_EQ(rip.Speed, 24);
    EXPECT_EQ(rip.OutputFormat(), MONO22050);
    EXPECT_EQ(rip.DriveTable.DriveType, IBM);
    EXPECT_EQ(rip.DriveTable.ReadMethod, READNEC);
    EXPECT_EQ(rip.DriveTable.SetSpeed, SPEEDMMC);
    EXPECT_EQ(rip.DriveTable.Endian, LITTLEENDIAN);
    EXPECT_EQ(rip.DriveTable.EnableMode, ENABLESTD);
    EXPECT_EQ(rip.DriveTable.Density, 777);
    EXPECT_TRUE(rip.DriveTable.Atapi);
    EXPECT_TRUE(rip.JitterCorrect());
    EXPECT_EQ(rip.CDRomNum(), 0);
    EXPECT_EQ(rip.JitterErrors, 0);

    ASSERT_EQ(rip.TrackCount, 2);
    ASSERT_EQ(rip.Tracks.size(), 2u);
    EXPECT_EQ(rip.Tracks[0].first, QStringLiteral("Track01"));
    EXPECT_EQ(rip.Tracks[1].first, QStringLiteral("Track02"));
    const TTrack& t = *rip.Tracks[1].second;
    EXPECT_EQ(t.TrackNo, 2);
    EXPECT_EQ(t.StartSector, 18000);
    EXPECT_EQ(t.EndSector, 29999); // the lead-out's start minus one
    EXPECT_EQ(t.TrackType, QStringLiteral("Audio"));

    // The order the library expects: version, init, the drive, its table of contents.
    EXPECT_EQ(Lib.CallLog.mid(0, 6),
              Names({"CR_GetCDRipVersion", "CR_Init", "CR_GetCDROMParameters", "CR_GetActiveCDROM",
                     "CR_ReadToc", "CR_GetNumTocEntries"}));
    EXPECT_EQ(Lib.Count(QStringLiteral("CR_GetTocEntry")), 3);
}

TEST_F(CDRIPTest, FailedInitReadsNothing)
{
    Lib.InitStatus = cdrip::CDEX_ERROR;
    TCDRIP rip(nullptr, &Lib);
    EXPECT_EQ(rip.TrackCount, 0);
    EXPECT_EQ(Lib.Count(QStringLiteral("CR_GetCDROMParameters")), 0);
    EXPECT_EQ(Lib.Count(QStringLiteral("CR_ReadToc")), 0);
}

TEST_F(CDRIPTest, EmptyOrUnreadableDiscGivesAnEmptyTable)
{
    Lib.Drives[0].ReadTocStatus = cdrip::CDEX_ERROR;
    TCDRIP rip(nullptr, &Lib);
    EXPECT_TRUE(rip.Tracks.empty());
    EXPECT_EQ(rip.TrackCount, 0);
    EXPECT_EQ(rip.GetDiscID(), QStringLiteral("000000"));
    EXPECT_EQ(rip.GetTrackDuration(0), QStringLiteral("00:00"));
    EXPECT_FALSE(rip.IsAudioTrack(0));

    Lib.Drives[0].ReadTocStatus = cdrip::CDEX_OK;
    Lib.Drives[0].Toc = {{0, 0x10, 0xAA, {}}}; // only a lead-out: no tracks
    rip.SetCDRomNum(0);
    EXPECT_EQ(rip.TrackCount, 0);
}

TEST_F(CDRIPTest, ExceptionsWhileReadingBecomeInitializationFailure)
{
    Lib.ThrowOnReadToc = true;
    try {
        TCDRIP rip(nullptr, &Lib);
        FAIL() << "no exception";
    } catch (const ECDRIPError& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Initialization failure"));
    }
    Lib.ThrowOnReadToc = false;
    TCDRIP rip(nullptr, &Lib);
    Lib.ThrowOnReadToc = true;
    EXPECT_THROW(rip.SetCDRomNum(1), ECDRIPError);
}

TEST_F(CDRIPTest, ChangingDriveReadsItsParametersAndTable)
{
    TCDRIP rip(nullptr, &Lib);
    rip.SetCDRomNum(1);
    EXPECT_EQ(rip.CDRomNum(), 1);
    EXPECT_STREQ(rip.DriveID, "TEST DRIVE B 2.0");
    ASSERT_EQ(rip.TrackCount, 3);
    EXPECT_EQ(rip.Tracks[2].second->TrackType, QStringLiteral("Data"));
    EXPECT_TRUE(rip.IsAudioTrack(1));
    EXPECT_FALSE(rip.IsAudioTrack(2));
    EXPECT_FALSE(rip.IsAudioTrack(3));
    EXPECT_FALSE(rip.IsAudioTrack(-1));

    // A drive the library refuses keeps the old number and identification, but the table is read
    // again all the same.
    Lib.ClearLog();
    rip.SetCDRomNum(7);
    EXPECT_EQ(rip.CDRomNum(), 1);
    EXPECT_STREQ(rip.DriveID, "TEST DRIVE B 2.0");
    EXPECT_EQ(Lib.Count(QStringLiteral("CR_ReadToc")), 1);
    EXPECT_EQ(rip.TrackCount, 3);

    Lib.GetParamsStatus = cdrip::CDEX_ERROR;
    rip.SetCDRomNum(0);
    EXPECT_EQ(rip.CDRomNum(), 1); // selected, but its parameters could not be read
}

TEST_F(CDRIPTest, NinetyNineTracksAreNamedTrack01ToTrack99)
{
    std::vector<int32_t> starts;
    for (int i = 0; i < 99; ++i)
        starts.push_back(i * 100);
    Lib.Drives[0] = TFakeCDRip::MakeDrive("BIG", starts, 9900);
    TCDRIP rip(nullptr, &Lib);
    ASSERT_EQ(rip.TrackCount, 99);
    EXPECT_EQ(rip.Tracks[0].first, QStringLiteral("Track01"));
    EXPECT_EQ(rip.Tracks[8].first, QStringLiteral("Track09"));
    EXPECT_EQ(rip.Tracks[9].first, QStringLiteral("Track10"));
    EXPECT_EQ(rip.Tracks[98].first, QStringLiteral("Track99"));
    EXPECT_EQ(rip.Tracks[98].second->EndSector, 9899);
}

TEST_F(CDRIPTest, DurationsRoundDownToWholeSeconds)
{
    // 4500 sectors, 74 sectors, 12:30 and 4:05 plus a frame.
    Lib.Drives[0] = TFakeCDRip::MakeDrive("D", {0, 4500, 4574, 4574 + 56250},
                                          4574 + 56250 + 4 * 4500 + 5 * 75 + 1);
    TCDRIP rip(nullptr, &Lib);
    EXPECT_EQ(rip.GetTrackDuration(0), QStringLiteral("1:00"));
    EXPECT_EQ(rip.GetTrackDuration(1), QStringLiteral("0:00"));
    EXPECT_EQ(rip.GetTrackDuration(2), QStringLiteral("12:30"));
    EXPECT_EQ(rip.GetTrackDuration(3), QStringLiteral("4:05"));
    EXPECT_EQ(rip.GetTrackDuration(4), QStringLiteral("00:00"));

    // A table whose next entry starts before this one is not shown as a negative time.
    Lib.Drives[0] = TFakeCDRip::MakeDrive("D", {5000}, 100);
    rip.SetCDRomNum(0);
    EXPECT_EQ(rip.GetTrackDuration(0), QStringLiteral("0:00"));
}

TEST_F(CDRIPTest, DiscIdentifier)
{
    TCDRIP rip(nullptr, &Lib);
    EXPECT_EQ(rip.GetDiscID(), QStringLiteral("040400"));

    Lib.Drives[0] = TFakeCDRip::MakeDrive("D", {0}, 1000);
    rip.SetCDRomNum(0);
    EXPECT_EQ(rip.GetDiscID(), QStringLiteral("000200"));

    // A single track adds its start sector; the sum is upper-case hex.
    Lib.Drives[0] = TFakeCDRip::MakeDrive("D", {300000}, 310000);
    rip.SetCDRomNum(0);
    const uint32_t p = 300150;
    const uint32_t expected = (p / 4500) * 65536 + ((p / 75) % 60) * 256 + p % 75 + 300000;
    EXPECT_EQ(rip.GetDiscID(),
              QString::number(expected, 16).toUpper().rightJustified(6, QLatin1Char('0')));
    EXPECT_EQ(rip.GetDiscID(), rip.GetDiscID().toUpper());
}

TEST_F(CDRIPTest, OnlyJitterAndOutputFormatReachTheParameterBlock)
{
    TCDRIP rip(nullptr, &Lib);
    rip.Speed = 4;
    rip.DriveTable.DriveType = SONY;
    rip.DriveTable.Density = 5;
    ASSERT_TRUE(rip.ApplyParameters());
    EXPECT_EQ(Lib.LastSetParams.nDriveSpeed, 48);
    EXPECT_EQ(Lib.LastSetParams.DriveTable.DriveType, GENERIC);
    // A copy: the packed field itself is not aligned for a reference.
    const int32_t density = Lib.LastSetParams.DriveTable.nDensity;
    EXPECT_EQ(density, 0x1000000);
    EXPECT_EQ(Lib.LastSetParams.bJitterCorrection, -1);
    EXPECT_STREQ(Lib.LastSetParams.lpszCDROMID, "TEST DRIVE A 1.0");

    rip.SetJitterCorrect(false);
    rip.SetOutputFormat(STEREO11025);
    ASSERT_TRUE(rip.ApplyParameters());
    EXPECT_EQ(Lib.LastSetParams.bJitterCorrection, 0);
    EXPECT_EQ(Lib.LastSetParams.nOutputFormat, STEREO11025);
    rip.SetJitterCorrect(true);
    ASSERT_TRUE(rip.ApplyParameters());
    EXPECT_EQ(Lib.LastSetParams.bJitterCorrection, -1);

    Lib.SetParamsStatus = cdrip::CDEX_ERROR;
    EXPECT_FALSE(rip.ApplyParameters());
    Lib.ThrowOnSetParams = true;
    try {
        rip.ApplyParameters();
        FAIL() << "no exception";
    } catch (const ECDRIPError& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Error setting parameters"));
    }
}

TEST_F(CDRIPTest, OutputFormatSetsTheCodersModeAndRate)
{
    TCDRIP rip(nullptr, &Lib);
    TLameCoder coder;
    coder.SetMode(JSTEREO);
    coder.SetSampleRate(48000);
    rip.SetCoder(&coder);
    EXPECT_EQ(rip.Coder(), &coder);
    EXPECT_EQ(coder.Mode(), STEREO);
    EXPECT_EQ(coder.SampleRate(), 44100u);

    const struct
    {
        TOutputFormat Format;
        TLameMode Mode;
        uint32_t Rate;
    } rows[] = {{MONO44100, MONO, 44100}, {STEREO22050, STEREO, 22050},
                {MONO22050, MONO, 22050}, {STEREO11025, STEREO, 11025},
                {MONO11025, MONO, 11025}, {STEREO44100, STEREO, 44100}};
    for (const auto& row : rows) {
        rip.SetOutputFormat(row.Format);
        EXPECT_EQ(rip.OutputFormat(), row.Format);
        EXPECT_EQ(coder.Mode(), row.Mode) << int(row.Format);
        EXPECT_EQ(coder.SampleRate(), row.Rate) << int(row.Format);
    }

    // The block is one for the process: another instance's change stays in it when this one is
    // set to the value it already holds, yet mode and rate are applied again.
    TCDRIP other(nullptr, &Lib);
    other.SetOutputFormat(MONO11025);
    coder.SetMode(DUALCHANNEL);
    rip.SetOutputFormat(STEREO44100);
    EXPECT_EQ(coder.Mode(), STEREO);
    rip.ApplyParameters();
    EXPECT_EQ(Lib.LastSetParams.nOutputFormat, MONO11025);
    rip.SetOutputFormat(MONO44100);
    rip.ApplyParameters();
    EXPECT_EQ(Lib.LastSetParams.nOutputFormat, MONO44100);

    // The coder is not owned, and a destroyed coder is forgotten rather than dangling.
    {
        TLameCoder shortLived;
        rip.SetCoder(&shortLived);
    }
    EXPECT_EQ(rip.Coder(), nullptr);
    rip.SetOutputFormat(MONO44100);
}

TEST_F(CDRIPTest, PlaybackRequestsPassThrough)
{
    TCDRIP rip(nullptr, &Lib);
    EXPECT_EQ(rip.GetDriveCount(), 2);
    rip.PlayTrack(3);
    EXPECT_EQ(Lib.LastPlayTrack, 3);
    rip.PauseCD(true);
    EXPECT_EQ(Lib.LastPause, -1);
    rip.PauseCD(false);
    EXPECT_EQ(Lib.LastPause, 0);
    rip.EjectCD(true);
    EXPECT_EQ(Lib.LastEject, -1);
    rip.StopPlay();
    EXPECT_EQ(Lib.Count(QStringLiteral("CR_StopPlayTrack")), 1);
}

TEST_F(CDRIPTest, IsPlayingWhenThePositionMovesByTenOrMore)
{
    TCDRIP rip(nullptr, &Lib);
    Lib.PlayAbsolute = 9;
    EXPECT_FALSE(rip.IsPlaying()); // compared with 0 at first
    Lib.PlayAbsolute = 19;
    EXPECT_TRUE(rip.IsPlaying());
    EXPECT_FALSE(rip.IsPlaying()); // standing still
    Lib.PlayAbsolute = 5;
    EXPECT_TRUE(rip.IsPlaying()); // a jump back counts too
    Lib.PlayPositionStatus = cdrip::CDEX_ERROR;
    Lib.PlayAbsolute = 500;
    EXPECT_FALSE(rip.IsPlaying()); // no answer is not movement
}

} // namespace
