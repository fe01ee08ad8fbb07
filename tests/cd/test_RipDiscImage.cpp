// The ripper over the real ripping library, reading disc images written by the fixture: every
// track bit for bit, files that outside tools read at the right length, odd discs.
#include "cd/CDRIP.h"
#include "mp3/LameCoder.h"
#include "platform/cdrip/LibCdioRipLibrary.h"
#include "support/DiscImage.h"
#include "support/Tools.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>

#include <gtest/gtest.h>

namespace {

constexpr int kSector = 2352;

QByteArray ReadFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class RipDiscImageTest : public ::testing::Test
{
protected:
    void WriteDisc(const QList<TDiscTrackSpec>& tracks, uint32_t seed = 7)
    {
        ASSERT_TRUE(Dir.isValid());
        ASSERT_TRUE(Image.Write(Dir.path(), tracks, seed)) << qPrintable(Image.Error);
        // A library of its own for every disc: it makes its drive list when it starts (in the
        // component's construction), from CDRIP_DRIVES as it is then.
        qputenv("CDRIP_DRIVES", QFile::encodeName(Image.CuePath));
        Lib = cdrip::CreateCDRipLibrary();
        Rip = std::make_unique<TCDRIP>(nullptr, Lib.get());
        qputenv("CDRIP_DRIVES", QByteArray());
        // A disc image is the drive only when no physical drive is found.
        ASSERT_EQ(Rip->GetDriveCount(), 1) << "a physical drive is present";
    }
    QString Path(const QString& name) const { return Dir.filePath(name); }

    QTemporaryDir Dir;
    TDiscImage Image;
    std::unique_ptr<cdrip::ICDRipLibrary> Lib;
    std::unique_ptr<TCDRIP> Rip;
};

TEST_F(RipDiscImageTest, EveryTrackIsExtractedBitForBit)
{
    WriteDisc({{300}, {451}, {150, false}});
    EXPECT_STREQ(Rip->DriveID, "disc.cue");
    ASSERT_EQ(Rip->TrackCount, 3);
    EXPECT_TRUE(Rip->IsAudioTrack(0));
    EXPECT_TRUE(Rip->IsAudioTrack(1));
    EXPECT_FALSE(Rip->IsAudioTrack(2));
    EXPECT_EQ(Rip->Tracks[2].second->TrackType, QStringLiteral("Data"));
    EXPECT_EQ(Rip->GetTrackDuration(0), QStringLiteral("0:04"));
    EXPECT_EQ(Rip->GetTrackDuration(1), QStringLiteral("0:06"));

    Rip->WriteWAV = true;
    std::vector<uint16_t> progress;
    Rip->OnProgress = [&](QObject*, uint16_t p) { progress.push_back(p); };
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        const TTrack& t = *Rip->Tracks[size_t(i)].second;
        EXPECT_EQ(t.StartSector, Image.Tracks[i].FirstSector);
        EXPECT_EQ(t.EndSector, Image.Tracks[i].LastSector());
        const QString name = Path(QStringLiteral("track%1.wav").arg(i + 1));
        progress.clear();
        Rip->RipTrack(i + 1, name);
        ASSERT_FALSE(progress.empty());
        EXPECT_EQ(progress.back(), 100);
        EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
        const QByteArray wav = ReadFile(name);
        const QByteArray expected = Image.TrackBytes(i);
        ASSERT_EQ(wav.size(), 44 + expected.size());
        EXPECT_TRUE(wav.mid(44) == expected) << "the PCM differs from the disc";
        EXPECT_EQ(qFromLittleEndian<uint32_t>(wav.constData() + 40), uint32_t(expected.size()));
        EXPECT_EQ(Rip->JitterErrors, 0);
        if (HaveTool(QStringLiteral("soxi"))) {
            const TToolResult r = RunTool(QStringLiteral("soxi"), {QStringLiteral("-s"), name});
            EXPECT_EQ(r.ExitCode, 0) << r.Err.constData();
            EXPECT_EQ(r.Out.trimmed().toLongLong(), Image.Tracks[i].Sectors * 588LL);
        }
    }

    // The bare PCM of a range inside a track, both bounds included.
    Rip->WriteWAV = false;
    Rip->RipRange(10, 19, Path(QStringLiteral("range.pcm")));
    EXPECT_TRUE(ReadFile(Path(QStringLiteral("range.pcm"))) == Image.ReadSectors(10, 10));
}

TEST_F(RipDiscImageTest, Mp3DecodesWithTheTracksLength)
{
    if (!HaveTool(QStringLiteral("mpg123")))
        GTEST_SKIP() << "mpg123 is not installed";
    WriteDisc({{40 * 75}, {150, false}});
    TLameCoder coder;
    Rip->SetCoder(&coder);
    coder.SetEnableVBR(-1);
    coder.SetVBRQuality(4);
    Rip->Encode = true;
    Rip->RipTrack(1, Path(QStringLiteral("Track01.wav")));
    const QString name = Path(QStringLiteral("Track01.mp3"));
    ASSERT_TRUE(QFile::exists(name));

    const TToolResult r =
        RunTool(QStringLiteral("mpg123"), {QStringLiteral("-q"), QStringLiteral("-s"), name});
    ASSERT_EQ(r.ExitCode, 0) << r.Err.constData();
    EXPECT_EQ(r.Out.size(), Image.TrackBytes(0).size()); // 44100 Hz stereo, sample for sample
    const TToolResult info =
        RunTool(QStringLiteral("mpg123"), {QStringLiteral("-t"), QStringLiteral("-v"), name});
    EXPECT_TRUE(info.Err.contains("44100 stereo") || info.Err.contains("44100 joint"))
        << info.Err.constData();
}

TEST_F(RipDiscImageTest, NinetyNineTracks)
{
    QList<TDiscTrackSpec> tracks;
    for (int i = 0; i < 99; ++i)
        tracks.append(TDiscTrackSpec{12 + i % 5});
    WriteDisc(tracks);
    ASSERT_EQ(Rip->TrackCount, 99);
    EXPECT_EQ(Rip->Tracks[0].first, QStringLiteral("Track01"));
    EXPECT_EQ(Rip->Tracks[98].first, QStringLiteral("Track99"));
    EXPECT_EQ(Rip->Tracks[98].second->EndSector, Image.LeadOut - 1);
    Rip->RipTrack(99, Path(QStringLiteral("last.pcm")));
    EXPECT_TRUE(ReadFile(Path(QStringLiteral("last.pcm"))) == Image.TrackBytes(98));
    Rip->RipTrack(50, Path(QStringLiteral("mid.pcm")));
    EXPECT_TRUE(ReadFile(Path(QStringLiteral("mid.pcm"))) == Image.TrackBytes(49));
}

TEST_F(RipDiscImageTest, ADiscThatVanishesEndsTheRangeInsteadOfHanging)
{
    WriteDisc({{75 * 60}});
    Rip->WriteWAV = true;
    int chunks = 0;
    Rip->OnProgress = [&](QObject*, uint16_t) {
        if (++chunks == 3) {
            QFile::remove(Image.BinPath);
            QFile::remove(Image.CuePath);
        }
    };
    QElapsedTimer timer;
    timer.start();
    EXPECT_THROW(Rip->RipTrack(1, Path(QStringLiteral("gone.wav"))), ECDRIPError);
    EXPECT_LT(timer.elapsed(), 30000);
    // What was read before is kept, whole sectors, in a file that declares it.
    const QByteArray wav = ReadFile(Path(QStringLiteral("gone.wav")));
    ASSERT_GE(wav.size(), 44);
    const uint32_t data = qFromLittleEndian<uint32_t>(wav.constData() + 40);
    EXPECT_EQ(qint64(data) + 44, wav.size());
    EXPECT_EQ(data % kSector, 0u);
    EXPECT_GT(data, 0u);

    // The empty drive reads as an empty disc.
    Rip->SetCDRomNum(0);
    EXPECT_EQ(Rip->TrackCount, 0);
    EXPECT_EQ(Rip->GetDiscID(), QStringLiteral("000000"));
}

} // namespace
