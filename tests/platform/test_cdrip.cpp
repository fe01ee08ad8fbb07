// The ripping library over real disc images read through libcdio and libcdio-paranoia.
#include "cd/CDRipLibrary.h"
#include "platform/cdrip/FormatConverter.h"
#include "platform/cdrip/LibCdioRipLibrary.h"
#include "support/DiscImage.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <cmath>
#include <gtest/gtest.h>

using namespace cdrip;

namespace {

struct TRipResult
{
    QByteArray Pcm;
    int Calls = 0;
    int LastStatus = -1;
    int BufferSize = 0;
    QList<int> Percents;
};

// Rips start..end the way the ripper does: every call's bytes are kept unless it failed, and
// the loop ends at status 4.
TRipResult Rip(ICDRipLibrary& lib, int start, int end)
{
    TRipResult result;
    int32_t size = 0;
    EXPECT_EQ(lib.CR_OpenRipper(&size, start, end), CDEX_OK);
    result.BufferSize = size;
    std::vector<uint8_t> buffer(size_t(std::max(size, 1)));
    for (int guard = 0; guard < 100000; ++guard) {
        int32_t bytes = -1;
        const CDSTATUS s = lib.CR_RipChunk(buffer.data(), &bytes, -1);
        ++result.Calls;
        result.LastStatus = s;
        EXPECT_LE(bytes, size);
        if (s == CDEX_ERROR)
            break;
        result.Pcm.append(reinterpret_cast<const char*>(buffer.data()), bytes);
        result.Percents << lib.CR_GetPercentCompleted();
        if (s == CDEX_RIPPING_DONE)
            break;
    }
    lib.CR_CloseRipper();
    return result;
}

std::vector<int16_t> Samples(const QByteArray& pcm)
{
    std::vector<int16_t> s(size_t(pcm.size() / 2));
    for (size_t i = 0; i < s.size(); ++i)
        s[i] = int16_t(uint8_t(pcm[int(2 * i)]) | (uint8_t(pcm[int(2 * i + 1)]) << 8));
    return s;
}

// Power of one frequency in channel `channel` of interleaved samples, as a share of the
// channel's whole power (Goertzel).
double ToneShare(const std::vector<int16_t>& s, int channels, int channel, double rate, double hz)
{
    const double w = 2 * M_PI * hz / rate, coeff = 2 * std::cos(w);
    double s1 = 0, s2 = 0, total = 0;
    size_t n = 0;
    for (size_t i = size_t(channel); i < s.size(); i += size_t(channels), ++n) {
        const double x = s[i];
        const double s0 = x + coeff * s1 - s2;
        s2 = s1;
        s1 = s0;
        total += x * x;
    }
    const double power = s1 * s1 + s2 * s2 - coeff * s1 * s2;
    return total > 0 ? 2 * power / (double(n) * total) : 0;
}

double Rms(const std::vector<int16_t>& s, size_t skip = 0)
{
    double sum = 0;
    for (size_t i = skip; i + skip < s.size(); ++i)
        sum += double(s[i]) * s[i];
    return std::sqrt(sum / double(std::max<size_t>(1, s.size() - 2 * skip)));
}

class CDRipTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(FDir.isValid()); }
    void TearDown() override { qunsetenv("CDRIP_DRIVES"); }

    // Writes an image, makes it the only drive, and reads its table of contents.
    std::unique_ptr<ICDRipLibrary> Open(TDiscImage& image, const QList<TDiscTrackSpec>& tracks,
                                        const QString& name = QStringLiteral("disc"),
                                        TCDRipOptions options = {})
    {
        EXPECT_TRUE(image.Write(FDir.path(), tracks, 11, name)) << qPrintable(image.Error);
        qputenv("CDRIP_DRIVES", QFile::encodeName(image.CuePath));
        auto lib = CreateCDRipLibrary(options);
        EXPECT_EQ(lib->CR_Init(), CDEX_OK);
        EXPECT_EQ(lib->CR_GetNumCDROM(), 1);
        EXPECT_EQ(lib->CR_SetActiveCDROM(0), CDEX_OK);
        EXPECT_EQ(lib->CR_ReadToc(), CDEX_OK);
        return lib;
    }

    void SetFormat(ICDRipLibrary& lib, uint8_t format)
    {
        CDROMPARAMS p{};
        ASSERT_EQ(lib.CR_GetCDROMParameters(&p), CDEX_OK);
        p.nOutputFormat = format;
        ASSERT_EQ(lib.CR_SetCDROMParameters(&p), CDEX_OK);
    }

    QTemporaryDir FDir;
};

TEST_F(CDRipTest, TableOfContentsListsAudioAndDataTracksAndTheLeadOut)
{
    TDiscImage image;
    auto lib = Open(image, {{300}, {451}, {200, false}});
    ASSERT_EQ(lib->CR_GetNumTocEntries(), 3);
    const uint8_t flags[] = {AUDIOTRKFLAG, AUDIOTRKFLAG, DATATRKFLAG};
    for (int i = 0; i < 3; ++i) {
        const TOCENTRY e = lib->CR_GetTocEntry(i);
        EXPECT_EQ(e.dwStartSector, image.Tracks[i].FirstSector);
        EXPECT_EQ(e.btFlag, flags[i]);
        EXPECT_EQ(e.btTrackNumber, i + 1);
    }
    EXPECT_EQ(lib->CR_GetTocEntry(3).dwStartSector, image.LeadOut);
    EXPECT_EQ(lib->CR_GetTocEntry(4).dwStartSector, 0); // past the lead-out: an empty entry
    EXPECT_EQ(lib->CR_GetTocEntry(-1).dwStartSector, 0);

    CDROMPARAMS p{};
    ASSERT_EQ(lib->CR_GetCDROMParameters(&p), CDEX_OK);
    EXPECT_STREQ(p.lpszCDROMID, "disc.cue");
    EXPECT_EQ(p.bJitterCorrection, -1);
    EXPECT_EQ(p.nOutputFormat, STEREO44100);
}

TEST_F(CDRipTest, EveryTrackIsExtractedBitForBitIncludingItsLastSector)
{
    TDiscImage image;
    // Lengths that leave a partial last chunk, one shorter than a chunk, and a single sector.
    auto lib = Open(image, {{SectorsPerChunk * 3 + 7}, {5}, {1}, {400}});
    for (int t = 0; t < image.Tracks.size(); ++t) {
        const TDiscImageTrack& track = image.Tracks[t];
        const TRipResult r = Rip(*lib, track.FirstSector, track.LastSector());
        EXPECT_EQ(r.LastStatus, CDEX_RIPPING_DONE) << "track " << t + 1;
        EXPECT_EQ(r.BufferSize, SectorsPerChunk * 2352);
        ASSERT_EQ(r.Pcm.size(), track.Sectors * 2352) << "track " << t + 1;
        EXPECT_TRUE(r.Pcm == image.TrackBytes(t)) << "track " << t + 1;
        ASSERT_FALSE(r.Percents.isEmpty());
        EXPECT_TRUE(std::is_sorted(r.Percents.begin(), r.Percents.end()));
        EXPECT_EQ(r.Percents.back(), 100);
    }
    // Status 4 comes on the call after the one that delivered the last sector, with no data.
    const TRipResult one = Rip(*lib, 0, SectorsPerChunk - 1);
    EXPECT_EQ(one.Calls, 2);

    // Jitter correction off reads the same bytes.
    CDROMPARAMS p{};
    lib->CR_GetCDROMParameters(&p);
    p.bJitterCorrection = 0;
    lib->CR_SetCDROMParameters(&p);
    EXPECT_TRUE(Rip(*lib, 0, image.Tracks[0].LastSector()).Pcm == image.TrackBytes(0));
}

TEST_F(CDRipTest, AReadOffsetShiftsTheAudioBitForBitWithSilenceWhereTheDiscEnds)
{
    TDiscImage image;
    auto lib = Open(image, {{SectorsPerChunk * 3 + 5}, {SectorsPerChunk * 2 + 3}});
    const QByteArray disc = image.ReadSectors(0, image.LeadOut);
    for (const int offset : {30, -30, 700, -1300}) {
        CDROMPARAMS p{};
        lib->CR_GetCDROMParameters(&p);
        p.nOffsetStart = offset;
        lib->CR_SetCDROMParameters(&p);
        for (const TDiscImageTrack& track : image.Tracks) {
            QByteArray expected(track.Sectors * 2352, 0);
            const qint64 from = (qint64(track.FirstSector) * 588 + offset) * 4;
            for (qint64 i = 0; i < expected.size(); ++i)
                if (from + i >= 0 && from + i < disc.size())
                    expected[i] = disc[from + i];
            EXPECT_TRUE(Rip(*lib, track.FirstSector, track.LastSector()).Pcm == expected)
                << "offset " << offset << ", track " << track.Number;
        }
    }
}

TEST_F(CDRipTest, RangesOutsideTheDiscDoNotOpen)
{
    TDiscImage image;
    auto lib = Open(image, {{100}});
    int32_t size = 123;
    EXPECT_EQ(lib->CR_OpenRipper(&size, 0, 100), CDEX_ERROR); // the lead-out is not on the disc
    EXPECT_EQ(size, 0);
    EXPECT_EQ(lib->CR_OpenRipper(&size, 50, 49), CDEX_ERROR);
    EXPECT_EQ(lib->CR_OpenRipper(&size, -1, 10), CDEX_ERROR);
    uint8_t buffer[16];
    int32_t bytes = 7;
    EXPECT_EQ(lib->CR_RipChunk(buffer, &bytes, -1), CDEX_ERROR); // nothing open
    EXPECT_EQ(bytes, 0);
}

TEST_F(CDRipTest, EachOutputFormatDeliversItsBytesPerSector)
{
    TDiscImage image;
    auto lib = Open(image, {{SectorsPerChunk * 2 + 3}});
    const QByteArray cd = image.TrackBytes(0);
    const std::vector<int16_t> cdSamples = Samples(cd);
    for (uint8_t format = STEREO44100; format <= MONO11025; ++format) {
        SetFormat(*lib, format);
        const TRipResult r = Rip(*lib, 0, image.Tracks[0].LastSector());
        EXPECT_EQ(r.LastStatus, CDEX_RIPPING_DONE);
        EXPECT_EQ(r.Pcm.size(), image.Tracks[0].Sectors * BytesPerSector(format))
            << "format " << int(format);
        if (format == MONO44100) {
            const std::vector<int16_t> mono = Samples(r.Pcm);
            for (size_t i = 0; i < mono.size(); ++i)
                ASSERT_EQ(mono[i], (cdSamples[2 * i] + cdSamples[2 * i + 1]) >> 1) << i;
        }
    }
    CDROMPARAMS p{};
    lib->CR_GetCDROMParameters(&p);
    p.nOutputFormat = 6;
    EXPECT_EQ(lib->CR_SetCDROMParameters(&p), CDEX_ERROR);
}

TEST_F(CDRipTest, LowerRatesKeepTheirToneAndDoNotAliasWhatLiesAbove)
{
    struct TCase
    {
        uint8_t Format;
        double Rate, InBand, AboveNyquist, Alias;
    };
    const TCase cases[] = {{STEREO22050, 22050, 1000, 15000, 7050},
                           {MONO22050, 22050, 3000, 12000, 10050},
                           {STEREO11025, 11025, 1000, 8000, 3025},
                           {MONO11025, 11025, 2500, 6000, 5025}};
    for (const TCase& c : cases) {
        TDiscImage image;
        auto lib = Open(image, {{150, true, c.InBand}, {150, true, c.AboveNyquist}},
                        QStringLiteral("tone%1").arg(c.Format));
        SetFormat(*lib, c.Format);
        const int channels = (c.Format == MONO22050 || c.Format == MONO11025) ? 1 : 2;
        const std::vector<int16_t> kept = Samples(Rip(*lib, 0, 149).Pcm);
        EXPECT_GT(ToneShare(kept, channels, 0, c.Rate, c.InBand), 0.99) << int(c.Format);
        EXPECT_NEAR(Rms(kept, 200), 0.5 * 32767 / std::sqrt(2.0), 100) << int(c.Format);
        // A tone above the new Nyquist frequency is filtered away instead of folding back.
        const std::vector<int16_t> above = Samples(Rip(*lib, 150, 299).Pcm);
        EXPECT_LT(Rms(above, 200), 3.0) << int(c.Format) << " alias at " << c.Alias;
    }
}

TEST(FormatConverterTest, ChunkBordersLeaveNoTrace)
{
    TDiscImage image;
    QTemporaryDir dir;
    ASSERT_TRUE(image.Write(dir.path(), {{40}}, 3));
    const std::vector<int16_t> in = Samples(image.TrackBytes(0));
    const int frames = int(in.size() / 2);
    for (uint8_t format = STEREO44100; format <= MONO11025; ++format) {
        TFormatConverter whole(format), pieces(format);
        std::vector<uint8_t> a(size_t(whole.MaxOutputBytes(frames))), b(a.size() * 2);
        int na = whole.Convert(in.data(), frames, a.data());
        na += whole.Flush(a.data() + na);
        int nb = 0;
        const int sizes[] = {588, 7, 1, 2000, 4096, 333};
        for (int at = 0, k = 0; at < frames; ++k) {
            const int n = std::min(sizes[k % 6], frames - at);
            nb += pieces.Convert(in.data() + 2 * at, n, b.data() + nb);
            at += n;
        }
        nb += pieces.Flush(b.data() + nb);
        ASSERT_EQ(na, 40 * BytesPerSector(format));
        ASSERT_EQ(na, nb);
        EXPECT_EQ(std::memcmp(a.data(), b.data(), size_t(na)), 0) << int(format);
    }
}

TEST_F(CDRipTest, ANinetyNineTrackDiscIsReadWhole)
{
    TDiscImage image;
    QList<TDiscTrackSpec> tracks;
    for (int i = 0; i < 99; ++i)
        tracks << TDiscTrackSpec{3 + i % 5};
    auto lib = Open(image, tracks);
    ASSERT_EQ(lib->CR_GetNumTocEntries(), 99);
    EXPECT_EQ(lib->CR_GetTocEntry(98).btTrackNumber, 99);
    EXPECT_EQ(lib->CR_GetTocEntry(99).dwStartSector, image.LeadOut);
    const TRipResult last = Rip(*lib, image.Tracks[98].FirstSector, image.Tracks[98].LastSector());
    EXPECT_TRUE(last.Pcm == image.TrackBytes(98));
}

TEST_F(CDRipTest, DrivesComeInTheirOrderAndBadEntriesAreSkipped)
{
    TDiscImage a, b;
    ASSERT_TRUE(a.Write(FDir.path(), {{10}}, 1, QStringLiteral("first")));
    ASSERT_TRUE(
        b.Write(FDir.path() + QStringLiteral("/sub"), {{20}, {5}}, 2, QStringLiteral("second")));
    const QString junk = FDir.filePath(QStringLiteral("junk.cue"));
    QFile f(junk);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("this is not a cue sheet\n");
    f.close();
    const QString list = QStringList{FDir.filePath(QStringLiteral("missing.cue")),
                                     a.CuePath,
                                     junk,
                                     QString(),
                                     FDir.path(),
                                     b.CuePath,
                                     a.CuePath}
                             .join(QLatin1Char(':'));
    qputenv("CDRIP_DRIVES", QFile::encodeName(list));
    auto lib = CreateCDRipLibrary();
    ASSERT_EQ(lib->CR_Init(), CDEX_OK);
    ASSERT_EQ(lib->CR_GetNumCDROM(), 2); // no drives here; the same image twice is one drive
    CDROMPARAMS p{};
    ASSERT_EQ(lib->CR_SetActiveCDROM(1), CDEX_OK);
    EXPECT_EQ(lib->CR_GetActiveCDROM(), 1);
    lib->CR_GetCDROMParameters(&p);
    EXPECT_STREQ(p.lpszCDROMID, "second.cue");
    ASSERT_EQ(lib->CR_ReadToc(), CDEX_OK);
    EXPECT_EQ(lib->CR_GetNumTocEntries(), 2);

    // Each drive keeps its own parameters.
    SetFormat(*lib, MONO22050);
    lib->CR_SetActiveCDROM(0);
    lib->CR_GetCDROMParameters(&p);
    EXPECT_STREQ(p.lpszCDROMID, "first.cue");
    EXPECT_EQ(p.nOutputFormat, STEREO44100);
    lib->CR_SetActiveCDROM(1);
    lib->CR_GetCDROMParameters(&p);
    EXPECT_EQ(p.nOutputFormat, MONO22050);
    EXPECT_EQ(lib->CR_SetActiveCDROM(2), CDEX_ERROR);
    EXPECT_EQ(lib->CR_GetActiveCDROM(), 1);
}

TEST_F(CDRipTest, ADiscThatVanishesFailsItsChunksAtOnce)
{
    for (const bool truncate : {true, false}) {
        TDiscImage image;
        auto lib = Open(image, {{SectorsPerChunk * 10}},
                        truncate ? QStringLiteral("cut") : QStringLiteral("gone"));
        int32_t size = 0;
        ASSERT_EQ(lib->CR_OpenRipper(&size, 0, SectorsPerChunk * 10 - 1), CDEX_OK);
        std::vector<uint8_t> buffer(static_cast<size_t>(size));
        int32_t bytes = 0;
        ASSERT_EQ(lib->CR_RipChunk(buffer.data(), &bytes, -1), CDEX_OK);
        if (truncate)
            ASSERT_TRUE(QFile::resize(image.BinPath, 2352 * SectorsPerChunk * 2));
        else
            ASSERT_TRUE(QFile::remove(image.BinPath));
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < 20; ++i) {
            EXPECT_EQ(lib->CR_RipChunk(buffer.data(), &bytes, -1), CDEX_ERROR);
            EXPECT_EQ(bytes, 0);
        }
        EXPECT_LT(clock.elapsed(), 2000);
        lib->CR_CloseRipper();
        if (truncate) {
            // What is left reads as a shorter disc.
            ASSERT_EQ(lib->CR_ReadToc(), CDEX_OK);
            EXPECT_EQ(lib->CR_GetTocEntry(1).dwStartSector, SectorsPerChunk * 2);
        } else {
            EXPECT_EQ(lib->CR_ReadToc(), CDEX_ERROR);
            EXPECT_EQ(lib->CR_GetNumTocEntries(), 0);
            EXPECT_EQ(lib->CR_PlayTrack(1), CDEX_ERROR);
        }
    }
}

TEST_F(CDRipTest, AnEjectedImageIsGoneForAWhileThenBack)
{
    TDiscImage image;
    TCDRipOptions options;
    options.ImageEjectMs = 400;
    auto lib = Open(image, {{30}}, QStringLiteral("disc"), options);
    ASSERT_EQ(lib->CR_EjectCD(-1), CDEX_OK);
    EXPECT_EQ(lib->CR_GetNumTocEntries(), 0);
    EXPECT_EQ(lib->CR_ReadToc(), CDEX_ERROR);
    int32_t size = 0;
    EXPECT_EQ(lib->CR_OpenRipper(&size, 0, 10), CDEX_ERROR);
    QThread::msleep(500);
    ASSERT_EQ(lib->CR_ReadToc(), CDEX_OK);
    EXPECT_EQ(lib->CR_GetNumTocEntries(), 1);
    // Closing the tray brings it back at once.
    lib->CR_EjectCD(-1);
    lib->CR_EjectCD(0);
    EXPECT_EQ(lib->CR_ReadToc(), CDEX_OK);
}

TEST_F(CDRipTest, PlaybackAdvancesPausesAndEndsByItself)
{
    TDiscImage image;
    auto lib = Open(image, {{75}, {225}, {100, false}});
    int32_t rel = -1, abs = -1;
    EXPECT_EQ(lib->CR_PlayTrack(3), CDEX_ERROR); // data
    EXPECT_EQ(lib->CR_PlayTrack(4), CDEX_ERROR);
    EXPECT_EQ(lib->CR_PlayTrack(0), CDEX_ERROR);
    ASSERT_EQ(lib->CR_PlayTrack(2), CDEX_OK);
    QThread::msleep(200);
    lib->CR_GetPlayPosition(&rel, &abs);
    const int32_t start = abs;
    EXPECT_GE(start, image.Tracks[1].FirstSector);
    QThread::msleep(1000);
    lib->CR_GetPlayPosition(&rel, &abs);
    EXPECT_NEAR(abs - start, 75, 20);
    EXPECT_EQ(rel, abs - image.Tracks[1].FirstSector);

    lib->CR_PauseCD(-1);
    int32_t held = 0;
    lib->CR_GetPlayPosition(&rel, &held);
    QThread::msleep(500);
    lib->CR_GetPlayPosition(&rel, &abs);
    EXPECT_EQ(abs, held);
    lib->CR_PauseCD(0);

    QElapsedTimer clock;
    clock.start();
    int32_t previous = -1;
    while (clock.elapsed() < 5000) {
        QThread::msleep(250);
        lib->CR_GetPlayPosition(&rel, &abs);
        if (abs == previous)
            break;
        previous = abs;
    }
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_EQ(abs, image.Tracks[1].LastSector());

    // Stop is immediate and the position stays put.
    ASSERT_EQ(lib->CR_PlayTrack(1), CDEX_OK);
    QThread::msleep(300);
    lib->CR_StopPlayTrack();
    lib->CR_GetPlayPosition(&rel, &held);
    QThread::msleep(300);
    lib->CR_GetPlayPosition(&rel, &abs);
    EXPECT_EQ(abs, held);
}

TEST_F(CDRipTest, TheDemoDiscStandsInWhenThereIsNoOtherDrive)
{
    qputenv("CDRIP_DRIVES", "");
    auto lib = CreateCDRipLibrary();
    ASSERT_EQ(lib->CR_Init(), CDEX_OK);
    CDROMPARAMS p{};
    ASSERT_GE(lib->CR_GetNumCDROM(), 1) << "the build writes the demo disc beside the tests";
    lib->CR_GetCDROMParameters(&p);
    if (lib->CR_GetNumCDROM() > 1 || QByteArray(p.lpszCDROMID) != "tarvik-demo.cue")
        GTEST_SKIP() << "this machine has a CD drive, so the demo disc is not listed";

    ASSERT_EQ(lib->CR_ReadToc(), CDEX_OK);
    ASSERT_EQ(lib->CR_GetNumTocEntries(), 5);
    QList<double> levels;
    for (int i = 0; i < 5; ++i) {
        const TOCENTRY e = lib->CR_GetTocEntry(i);
        const int sectors = lib->CR_GetTocEntry(i + 1).dwStartSector - e.dwStartSector;
        EXPECT_EQ(e.btFlag, i < 4 ? AUDIOTRKFLAG : DATATRKFLAG) << i;
        if (i == 4)
            break;
        EXPECT_GE(sectors, 20 * 75) << i;
        EXPECT_LE(sectors, 40 * 75) << i;
        // Music at a sensible level: well above silence, never touching full scale.
        const std::vector<int16_t> s =
            Samples(Rip(*lib, e.dwStartSector, e.dwStartSector + sectors - 1).Pcm);
        ASSERT_EQ(s.size(), size_t(sectors) * 1176);
        const auto [lo, hi] = std::minmax_element(s.begin(), s.end());
        EXPECT_LT(std::max(-int(*lo), int(*hi)), 32000) << i;
        EXPECT_GT(Rms(s), 1000) << i;
        levels << Rms(s);
    }
    // Four different pieces, not one piece four times.
    for (int i = 0; i < levels.size(); ++i)
        for (int j = i + 1; j < levels.size(); ++j)
            EXPECT_NE(levels[i], levels[j]);
}

TEST_F(CDRipTest, ASectorThatNeverReadsTheSameIsReportedAsAJitterError)
{
    // Sector 40 comes back different on every read, as from a badly scratched disc: paranoia
    // gives up on it after its retries and the chunk holding it answers 3.
    constexpr int Bad = 40;
    uint32_t noise = 1;
    TCDRipOptions options;
    options.ReadFilter = [&](int32_t first, long sectors, uint8_t* data) {
        if (Bad < first || Bad >= first + sectors)
            return;
        uint8_t* sector = data + (Bad - first) * 2352;
        for (int i = 0; i < 2352; ++i) {
            noise = noise * 1664525u + 1013904223u;
            sector[i] = uint8_t(noise >> 24);
        }
    };
    TDiscImage image;
    auto lib = Open(image, {{SectorsPerChunk * 6}}, QStringLiteral("scratched"), options);
    int32_t size = 0;
    ASSERT_EQ(lib->CR_OpenRipper(&size, 0, SectorsPerChunk * 6 - 1), CDEX_OK);
    std::vector<uint8_t> buffer(static_cast<size_t>(size));
    QByteArray pcm;
    QList<int> jitterChunks;
    for (int call = 0; call < 100; ++call) {
        int32_t bytes = 0;
        const CDSTATUS s = lib->CR_RipChunk(buffer.data(), &bytes, -1);
        ASSERT_NE(s, CDEX_ERROR);
        if (s == CDEX_RIPPING_DONE)
            break;
        pcm.append(reinterpret_cast<const char*>(buffer.data()), bytes);
        if (s == CDEX_JITTER_ERROR) {
            jitterChunks << call;
            int32_t from = -1, to = -1;
            ASSERT_EQ(lib->CR_GetLastJitterErrorPosition(&from, &to), CDEX_OK);
            EXPECT_LE(from, Bad);
            EXPECT_GE(to, Bad);
            EXPECT_GE(from, call * SectorsPerChunk);
            EXPECT_LT(to, (call + 1) * SectorsPerChunk);
        }
    }
    EXPECT_EQ(jitterChunks, QList<int>{Bad / SectorsPerChunk});
    EXPECT_EQ(lib->CR_GetNumberOfJitterErrors(), 1);
    lib->CR_CloseRipper();
    // Every other sector is still exact.
    const QByteArray expected = image.TrackBytes(0);
    ASSERT_EQ(pcm.size(), expected.size());
    EXPECT_TRUE(pcm.left(Bad * 2352) == expected.left(Bad * 2352));
    EXPECT_TRUE(pcm.mid((Bad + 1) * 2352) == expected.mid((Bad + 1) * 2352));
}

TEST_F(CDRipTest, WithoutASoundDevicePlaybackRunsAgainstTheClock)
{
    TDiscImage image;
    TCDRipOptions options;
    options.SoundDevice = false;
    auto lib = Open(image, {{30}, {90}}, QStringLiteral("silent"), options);
    int32_t rel = 0, abs = 0, held = 0;
    ASSERT_EQ(lib->CR_PlayTrack(2), CDEX_OK);
    QThread::msleep(400);
    lib->CR_GetPlayPosition(&rel, &abs);
    EXPECT_NEAR(rel, 30, 8);
    lib->CR_PauseCD(-1);
    lib->CR_GetPlayPosition(&rel, &held);
    QThread::msleep(300);
    lib->CR_GetPlayPosition(&rel, &abs);
    EXPECT_EQ(abs, held);
    lib->CR_PauseCD(0);
    QThread::msleep(1300);
    lib->CR_GetPlayPosition(&rel, &abs);
    EXPECT_EQ(abs, image.Tracks[1].LastSector());
}

} // namespace
