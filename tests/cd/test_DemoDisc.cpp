// The program's own library on a machine without a CD drive: the demo disc shipped beside the
// program is the one drive, with four pieces of music and a data track.
#include "cd/CDRIP.h"
#include "support/Tools.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>

#include <gtest/gtest.h>

namespace {

TEST(DemoDisc, ShowsFourAudioTracksAndADataTrack)
{
    qputenv("CDRIP_DRIVES", QByteArray());
    TCDRIP rip; // the process's own library
    if (rip.GetDriveCount() != 1 || QByteArray(rip.DriveID) != "tarvik-demo.cue")
        GTEST_SKIP() << "a CD drive is present: " << rip.DriveID;

    ASSERT_EQ(rip.TrackCount, 5);
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_TRUE(rip.IsAudioTrack(i));
        const TTrack& t = *rip.Tracks[size_t(i)].second;
        const int seconds = (t.EndSector - t.StartSector + 1) / 75;
        EXPECT_GE(seconds, 20);
        EXPECT_LE(seconds, 40);
    }
    EXPECT_FALSE(rip.IsAudioTrack(4));
    EXPECT_EQ(rip.Tracks[4].second->TrackType, QStringLiteral("Data"));
    EXPECT_EQ(rip.GetDiscID().size(), 6);
    EXPECT_NE(rip.GetDiscID(), QStringLiteral("000000"));

    // Its music extracts like any disc's, and is not silence.
    QTemporaryDir dir;
    const QString name = dir.filePath(QStringLiteral("demo1.wav"));
    rip.WriteWAV = true;
    rip.RipTrack(1, name);
    QFile f(name);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray wav = f.readAll();
    const TTrack& first = *rip.Tracks[0].second;
    const qint64 pcm = qint64(first.EndSector - first.StartSector + 1) * 2352;
    ASSERT_EQ(wav.size(), 44 + pcm);
    EXPECT_EQ(qFromLittleEndian<uint32_t>(wav.constData() + 40), uint32_t(pcm));
    int loud = 0;
    const auto* s = reinterpret_cast<const int16_t*>(wav.constData() + 44);
    for (qint64 i = 0; i < pcm / 2; i += 97)
        loud += std::abs(int(s[i])) > 1000;
    EXPECT_GT(loud, int(pcm / 2 / 97 / 4)) << "the demo music is (nearly) silent";
    if (HaveTool(QStringLiteral("soxi"))) {
        const TToolResult r = RunTool(QStringLiteral("soxi"), {QStringLiteral("-D"), name});
        EXPECT_EQ(r.ExitCode, 0) << r.Err.constData();
        EXPECT_NEAR(r.Out.trimmed().toDouble(), (first.EndSector - first.StartSector + 1) / 75.0,
                    0.01);
    }
}

} // namespace
