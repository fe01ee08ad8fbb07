#include "mp3/LameEncLibrary.h"

#include "support/Tools.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numbers>
#include <random>
#include <tuple>
#include <vector>

using namespace lameenc;

namespace {

ILameEncLibrary& Lib()
{
    return DefaultLameEncLibrary();
}

BE_CONFIG Record(uint32_t pcmRate = 44100, uint32_t fileRate = 0, int32_t mode = 0,
                 uint8_t pcmChannels = 0)
{
    BE_CONFIG c{};
    c.dwConfig = BE_CONFIG_LAME;
    c.dwStructVersion = 1;
    c.dwStructSize = 331;
    c.dwSampleRate = pcmRate;
    c.dwReSampleRate = fileRate;
    c.nMode = mode;
    c.btPCMChannels = pcmChannels;
    c.dwBitrate = 128;
    c.dwMaxBitrate = 320;
    c.dwMpegVersion = 1;
    c.bCRC = BE_TRUE;
    c.nVBRQuality = 4;
    return c;
}

std::vector<int16_t> Noise(size_t samples, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> d(-32768, 32767);
    std::vector<int16_t> pcm(samples);
    for (auto& s : pcm)
        s = static_cast<int16_t>(d(rng));
    return pcm;
}

std::vector<int16_t> Tones(size_t frames, uint32_t rate, uint32_t channels)
{
    std::vector<int16_t> pcm(frames * channels);
    for (size_t n = 0; n < frames; ++n) {
        const double t = static_cast<double>(n) / rate;
        for (uint32_t c = 0; c < channels; ++c) {
            const double f = c == 0 ? 440.0 : 660.0;
            pcm[n * channels + c] = static_cast<int16_t>(
                std::lround(9000 * std::sin(2 * std::numbers::pi * f * t) +
                            3000 * std::sin(2 * std::numbers::pi * 3.01 * f * t)));
        }
    }
    return pcm;
}

// What a whole stream gives: the MP3 bytes with the header frame put in place.
struct TEncoded
{
    BE_ERR InitResult = -1;
    uint32_t Samples = 0;
    uint32_t BufferSize = 0;
    QByteArray Mp3;
    QByteArray Header;
    bool Overrun = false;
};

constexpr size_t kCanary = 64;

TEncoded Encode(const BE_CONFIG& config, const std::vector<int16_t>& pcm)
{
    TEncoded e;
    HBE_STREAM h = 0;
    e.InitResult = Lib().beInitStream(&config, &e.Samples, &e.BufferSize, &h);
    if (e.InitResult != BE_ERR_SUCCESSFUL)
        return e;
    std::vector<uint8_t> out(e.BufferSize + kCanary, 0xA5);
    auto check = [&] {
        for (size_t i = e.BufferSize; i < out.size(); ++i)
            e.Overrun = e.Overrun || out[i] != 0xA5;
    };
    for (size_t pos = 0; pos < pcm.size(); pos += e.Samples) {
        const auto n = static_cast<uint32_t>(std::min<size_t>(e.Samples, pcm.size() - pos));
        uint32_t bytes = 0;
        EXPECT_EQ(Lib().beEncodeChunk(h, n, pcm.data() + pos, out.data(), &bytes), 0);
        EXPECT_LE(bytes, e.BufferSize);
        check();
        e.Mp3.append(reinterpret_cast<const char*>(out.data()), bytes);
    }
    uint32_t bytes = 0;
    EXPECT_EQ(Lib().beDeinitStream(h, out.data(), &bytes), 0);
    check();
    e.Mp3.append(reinterpret_cast<const char*>(out.data()), bytes);
    uint8_t frame[4096];
    uint32_t frameBytes = 0;
    EXPECT_EQ(Lib().beGetVBRFrame(h, frame, sizeof frame, &frameBytes), 0);
    e.Header = QByteArray(reinterpret_cast<const char*>(frame), frameBytes);
    EXPECT_EQ(Lib().beCloseStream(h), 0);
    if (e.Header.size() <= e.Mp3.size())
        std::memcpy(e.Mp3.data(), e.Header.constData(), static_cast<size_t>(e.Header.size()));
    return e;
}

// The fields of an MPEG audio frame header.
struct TFrameHeader
{
    bool Valid = false;
    int Version = 0; // 3 = MPEG-1, 2 = MPEG-2, 0 = MPEG-2.5
    bool Crc = false;
    int BitrateIndex = 0;
    int RateIndex = 0;
    bool Padding = false;
    bool Private = false;
    int Mode = 0;
    bool Copyright = false;
    bool Original = false;
    int Emphasis = 0;
    int Length = 0;
};

TFrameHeader ParseFrame(const QByteArray& mp3, qsizetype pos)
{
    static const int kBitrates[2][15] = {
        {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}};
    static const int kRates[4][3] = {
        {11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000}, {44100, 48000, 32000}};
    TFrameHeader f;
    if (pos + 4 > mp3.size())
        return f;
    const auto b = [&](int i) { return static_cast<uint8_t>(mp3.at(pos + i)); };
    if (b(0) != 0xFF || (b(1) & 0xE0) != 0xE0 || ((b(1) >> 1) & 3) != 1)
        return f;
    f.Version = (b(1) >> 3) & 3;
    f.Crc = (b(1) & 1) == 0;
    f.BitrateIndex = b(2) >> 4;
    f.RateIndex = (b(2) >> 2) & 3;
    f.Padding = (b(2) >> 1) & 1;
    f.Private = b(2) & 1;
    f.Mode = b(3) >> 6;
    f.Copyright = (b(3) >> 3) & 1;
    f.Original = (b(3) >> 2) & 1;
    f.Emphasis = b(3) & 3;
    if (f.Version == 1 || f.RateIndex == 3 || f.BitrateIndex == 0 || f.BitrateIndex == 15)
        return f;
    const int kbps = kBitrates[f.Version == 3 ? 0 : 1][f.BitrateIndex];
    const int rate = kRates[f.Version][f.RateIndex];
    f.Length = (f.Version == 3 ? 144000 : 72000) * kbps / rate + (f.Padding ? 1 : 0);
    f.Valid = true;
    return f;
}

int Kbps(const TFrameHeader& f)
{
    static const int kBitrates[2][15] = {
        {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}};
    return kBitrates[f.Version == 3 ? 0 : 1][f.BitrateIndex];
}

// Every frame header of the stream; an empty list when the stream does not parse throughout.
QList<TFrameHeader> Frames(const QByteArray& mp3)
{
    QList<TFrameHeader> frames;
    qsizetype pos = 0;
    while (pos < mp3.size()) {
        const TFrameHeader f = ParseFrame(mp3, pos);
        if (!f.Valid)
            return {};
        frames << f;
        pos += f.Length;
    }
    return frames;
}

// ---------------------------------------------------------------------------------------------

TEST(LameEnc, VersionComesFromTheLinkedEncoder)
{
    BE_VERSION v;
    std::memset(&v, 0x5A, sizeof v);
    Lib().beVersion(&v);
    EXPECT_EQ(v.byDLLMajorVersion, 1);
    EXPECT_EQ(v.byDLLMinorVersion, 0);
    EXPECT_EQ(v.byMajorVersion, 3);
    EXPECT_GE(v.byMinorVersion, 99);
    EXPECT_GT(std::strlen(v.zHomepage), 0u);
    EXPECT_LT(std::strlen(v.zHomepage), sizeof v.zHomepage);
    if (HaveTool(QStringLiteral("lame"))) {
        const TToolResult r = RunTool(QStringLiteral("lame"), {QStringLiteral("--version")});
        const QString expected =
            QStringLiteral("%1.%2").arg(v.byMajorVersion).arg(v.byMinorVersion);
        EXPECT_TRUE(QString::fromUtf8(r.Out).contains(expected)) << r.Out.toStdString();
    }
}

TEST(LameEnc, RecordsItCannotHonourAreRefused)
{
    struct TCase
    {
        const char* Name;
        void (*Break)(BE_CONFIG&);
        BE_ERR Expected;
    };
    const TCase cases[] = {
        {"other kind", [](BE_CONFIG& c) { c.dwConfig = 0; }, BE_ERR_INVALID_FORMAT},
        {"other size", [](BE_CONFIG& c) { c.dwStructSize = 330; }, BE_ERR_INVALID_FORMAT},
        {"version 0", [](BE_CONFIG& c) { c.dwStructVersion = 0; }, BE_ERR_INVALID_FORMAT},
        {"PCM rate 0", [](BE_CONFIG& c) { c.dwSampleRate = 0; }, BE_ERR_INVALID_FORMAT_PARAMETERS},
        {"file rate 12345", [](BE_CONFIG& c) { c.dwReSampleRate = 12345; },
         BE_ERR_INVALID_FORMAT_PARAMETERS},
        {"PCM rate 96000 for itself", [](BE_CONFIG& c) { c.dwSampleRate = 96000; },
         BE_ERR_INVALID_FORMAT_PARAMETERS},
        {"mode 4", [](BE_CONFIG& c) { c.nMode = 4; }, BE_ERR_INVALID_FORMAT_PARAMETERS},
        {"mode -1", [](BE_CONFIG& c) { c.nMode = -1; }, BE_ERR_INVALID_FORMAT_PARAMETERS},
        {"3 PCM channels", [](BE_CONFIG& c) { c.btPCMChannels = 3; },
         BE_ERR_INVALID_FORMAT_PARAMETERS},
    };
    for (const TCase& tc : cases) {
        SCOPED_TRACE(tc.Name);
        BE_CONFIG c = Record();
        tc.Break(c);
        uint32_t samples = 1;
        uint32_t size = 1;
        HBE_STREAM h = 1;
        EXPECT_EQ(Lib().beInitStream(&c, &samples, &size, &h), tc.Expected);
    }
    uint32_t samples = 0;
    uint32_t size = 0;
    HBE_STREAM h = 0;
    EXPECT_NE(Lib().beInitStream(nullptr, &samples, &size, &h), 0);

    // High PCM rates are fine when the file's rate is one an MP3 can have.
    BE_CONFIG c = Record(96000, 48000);
    ASSERT_EQ(Lib().beInitStream(&c, &samples, &size, &h), 0);
    EXPECT_EQ(Lib().beCloseStream(h), 0);
}

TEST(LameEnc, AbsurdButHarmlessValuesStillEncode)
{
    // Quality -1 is what an options list with nothing selected stores; VBR quality 42 is
    // outside 0..9. Neither should cost the user the rip.
    BE_CONFIG c = Record();
    c.nQuality = -1;
    c.bEnableVBR = BE_TRUE;
    c.nVBRQuality = 42;
    const TEncoded e = Encode(c, Tones(44100, 44100, 2));
    ASSERT_EQ(e.InitResult, 0);
    EXPECT_FALSE(Frames(e.Mp3).isEmpty());

    // A VBR range upside down, and constant bitrates no MPEG frame has.
    for (auto [vbr, low, high] : {std::tuple{BE_TRUE, 320u, 128u}, std::tuple{BE_FALSE, 100u, 0u},
                                  std::tuple{BE_FALSE, 1000u, 0u}}) {
        SCOPED_TRACE(testing::Message() << low << ".." << high);
        c = Record();
        c.bEnableVBR = vbr;
        c.dwBitrate = low;
        c.dwMaxBitrate = high;
        const TEncoded odd = Encode(c, Tones(44100, 44100, 2));
        // The encoder settles on the nearest bitrate it has.
        ASSERT_EQ(odd.InitResult, 0);
        EXPECT_FALSE(Frames(odd.Mp3).isEmpty());
    }
}

// Every pairing of the PCM layouts the ripper delivers with every file rate and both channel
// counts, fed full-scale noise at the highest bitrate: no call may return more than the buffer
// size the stream announced, nor write past it.
TEST(LameEnc, ChunkSizesAndBufferBoundsHoldForEveryLayout)
{
    const uint32_t pcmRates[] = {44100, 22050, 11025};
    const uint32_t fileRates[] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};
    for (uint32_t pcmRate : pcmRates) {
        for (uint32_t fileRate : fileRates) {
            for (uint8_t channels : {uint8_t(1), uint8_t(2)}) {
                SCOPED_TRACE(testing::Message()
                             << pcmRate << " -> " << fileRate << " x" << int(channels));
                BE_CONFIG c = Record(pcmRate, fileRate, BE_MP3_MODE_STEREO, channels);
                c.dwBitrate = fileRate >= 32000 ? 320 : 160;
                c.nQuality = BE_QUALITY_HIGH;
                const TEncoded e = Encode(c, Noise(pcmRate / 2 * channels, fileRate + channels));
                ASSERT_EQ(e.InitResult, 0);
                const uint32_t frame = fileRate >= 32000 ? 1152 : 576;
                EXPECT_EQ(e.Samples, frame * channels);
                const double fileSamples = std::max(1.0, double(fileRate) / pcmRate) * frame;
                EXPECT_GE(e.BufferSize, 1.25 * fileSamples + 7200);
                EXPECT_FALSE(e.Overrun);
                const QList<TFrameHeader> frames = Frames(e.Mp3);
                ASSERT_FALSE(frames.isEmpty());
                EXPECT_EQ(frames.at(1).Mode, 0); // stereo, also from mono PCM
            }
        }
    }
}

TEST(LameEnc, CallsOutsideTheStreamsRulesAreRefused)
{
    BE_CONFIG c = Record();
    uint32_t samples = 0;
    uint32_t size = 0;
    HBE_STREAM h = 0;
    ASSERT_EQ(Lib().beInitStream(&c, &samples, &size, &h), 0);
    EXPECT_NE(h, 0u);
    std::vector<int16_t> pcm(samples * 2);
    std::vector<uint8_t> out(size);
    uint32_t bytes = 123;
    EXPECT_EQ(Lib().beEncodeChunk(h, samples + 2, pcm.data(), out.data(), &bytes),
              BE_ERR_INVALID_FORMAT_PARAMETERS);
    EXPECT_EQ(bytes, 0u);
    EXPECT_EQ(Lib().beEncodeChunk(h, 3, pcm.data(), out.data(), &bytes),
              BE_ERR_INVALID_FORMAT_PARAMETERS);
    EXPECT_EQ(Lib().beEncodeChunk(h, samples, nullptr, out.data(), &bytes),
              BE_ERR_INVALID_FORMAT_PARAMETERS);
    EXPECT_EQ(Lib().beEncodeChunk(h, samples, pcm.data(), out.data(), &bytes), 0);
    uint8_t frame[4096];
    EXPECT_EQ(Lib().beGetVBRFrame(h, frame, sizeof frame, &bytes),
              BE_ERR_INVALID_FORMAT_PARAMETERS); // not final before the flush
    EXPECT_EQ(Lib().beDeinitStream(h, out.data(), &bytes), 0);
    EXPECT_EQ(Lib().beEncodeChunk(h, samples, pcm.data(), out.data(), &bytes),
              BE_ERR_INVALID_FORMAT_PARAMETERS);
    EXPECT_EQ(Lib().beDeinitStream(h, out.data(), &bytes), 0);
    EXPECT_EQ(bytes, 0u);
    EXPECT_EQ(Lib().beCloseStream(h), 0);
    EXPECT_EQ(Lib().beCloseStream(h), BE_ERR_INVALID_HANDLE);
    EXPECT_EQ(Lib().beEncodeChunk(h, samples, pcm.data(), out.data(), &bytes),
              BE_ERR_INVALID_HANDLE);
    EXPECT_EQ(Lib().beDeinitStream(h, out.data(), &bytes), BE_ERR_INVALID_HANDLE);
    EXPECT_EQ(Lib().beGetVBRFrame(h, frame, sizeof frame, &bytes), BE_ERR_INVALID_HANDLE);
    EXPECT_EQ(Lib().beCloseStream(0), BE_ERR_INVALID_HANDLE);
}

TEST(LameEnc, StreamsOpenAtOnceDoNotShareState)
{
    BE_CONFIG a = Record();
    a.bEnableVBR = BE_TRUE;
    a.bWriteVBRHeader = BE_TRUE;
    BE_CONFIG b = Record(22050, 32000, BE_MP3_MODE_MONO, 2);
    const std::vector<int16_t> pcmA = Tones(44100 * 2, 44100, 2);
    const std::vector<int16_t> pcmB = Tones(22050 * 2, 22050, 2);
    const TEncoded aloneA = Encode(a, pcmA);
    const TEncoded aloneB = Encode(b, pcmB);

    uint32_t sa = 0, sb = 0, za = 0, zb = 0;
    HBE_STREAM ha = 0, hb = 0;
    ASSERT_EQ(Lib().beInitStream(&a, &sa, &za, &ha), 0);
    ASSERT_EQ(Lib().beInitStream(&b, &sb, &zb, &hb), 0);
    EXPECT_NE(ha, hb);
    std::vector<uint8_t> out(std::max(za, zb));
    QByteArray mp3A, mp3B;
    size_t pa = 0, pb = 0;
    uint32_t bytes = 0;
    while (pa < pcmA.size() || pb < pcmB.size()) {
        if (pa < pcmA.size()) {
            const auto n = static_cast<uint32_t>(std::min<size_t>(sa, pcmA.size() - pa));
            ASSERT_EQ(Lib().beEncodeChunk(ha, n, pcmA.data() + pa, out.data(), &bytes), 0);
            mp3A.append(reinterpret_cast<const char*>(out.data()), bytes);
            pa += n;
        }
        if (pb < pcmB.size()) {
            const auto n = static_cast<uint32_t>(std::min<size_t>(sb, pcmB.size() - pb));
            ASSERT_EQ(Lib().beEncodeChunk(hb, n, pcmB.data() + pb, out.data(), &bytes), 0);
            mp3B.append(reinterpret_cast<const char*>(out.data()), bytes);
            pb += n;
        }
    }
    ASSERT_EQ(Lib().beDeinitStream(hb, out.data(), &bytes), 0);
    mp3B.append(reinterpret_cast<const char*>(out.data()), bytes);
    EXPECT_EQ(Lib().beCloseStream(hb), 0);
    ASSERT_EQ(Lib().beDeinitStream(ha, out.data(), &bytes), 0);
    mp3A.append(reinterpret_cast<const char*>(out.data()), bytes);
    uint8_t frame[4096];
    uint32_t frameBytes = 0;
    ASSERT_EQ(Lib().beGetVBRFrame(ha, frame, sizeof frame, &frameBytes), 0);
    std::memcpy(mp3A.data(), frame, frameBytes);
    EXPECT_EQ(Lib().beCloseStream(ha), 0);

    EXPECT_TRUE(mp3A == aloneA.Mp3);
    EXPECT_TRUE(mp3B == aloneB.Mp3);
}

TEST(LameEnc, EveryFieldReachesTheFrames)
{
    const std::vector<int16_t> pcm = Tones(44100, 44100, 2);
    const int32_t modes[] = {BE_MP3_MODE_STEREO, BE_MP3_MODE_JSTEREO, BE_MP3_MODE_DUALCHANNEL,
                             BE_MP3_MODE_MONO};
    for (int32_t mode : modes) {
        SCOPED_TRACE(testing::Message() << "mode " << mode);
        BE_CONFIG c = Record(44100, 0, mode, 2);
        c.dwBitrate = 192;
        c.bCRC = (mode & 1) ? BE_TRUE : BE_FALSE;
        c.bPrivate = (mode & 2) ? BE_TRUE : BE_FALSE;
        c.bCopyright = mode == 0 ? BE_TRUE : BE_FALSE;
        c.bOriginal = mode == 1 ? 1 : 0; // any non-zero value is true
        const TEncoded e = Encode(c, pcm);
        const QList<TFrameHeader> frames = Frames(e.Mp3);
        ASSERT_GT(frames.size(), 30);
        for (const TFrameHeader& f : frames) {
            EXPECT_EQ(f.Version, 3);
            EXPECT_EQ(f.RateIndex, 0); // 44100
            EXPECT_EQ(Kbps(f), 192);
            EXPECT_EQ(f.Crc, c.bCRC != 0);
            EXPECT_EQ(f.Private, c.bPrivate != 0);
            EXPECT_EQ(f.Copyright, c.bCopyright != 0);
            EXPECT_EQ(f.Original, c.bOriginal != 0);
            EXPECT_EQ(f.Emphasis, 0);
            if (mode == BE_MP3_MODE_JSTEREO)
                EXPECT_EQ(f.Mode == 1 || f.Mode == 0, true);
            else
                EXPECT_EQ(f.Mode, mode);
        }
    }
}

TEST(LameEnc, VBRSettingsShapeTheStream)
{
    const std::vector<int16_t> pcm = Tones(44100 * 3, 44100, 2);
    BE_CONFIG c = Record();
    c.bEnableVBR = BE_TRUE;
    c.dwBitrate = 112;
    c.dwMaxBitrate = 160;
    c.nVBRQuality = 0;
    const TEncoded narrow = Encode(c, pcm);
    QList<TFrameHeader> frames = Frames(narrow.Mp3);
    ASSERT_GT(frames.size(), 100);
    EXPECT_TRUE(narrow.Header.isEmpty()); // not asked for
    for (const TFrameHeader& f : frames.mid(1)) {
        EXPECT_GE(Kbps(f), 112);
        EXPECT_LE(Kbps(f), 160);
    }

    c.dwBitrate = 32;
    c.dwMaxBitrate = 320;
    c.bWriteVBRHeader = BE_TRUE;
    const TEncoded best = Encode(c, pcm);
    c.nVBRQuality = 9;
    const TEncoded smallest = Encode(c, pcm);
    EXPECT_GT(best.Mp3.size(), smallest.Mp3.size());
    ASSERT_FALSE(best.Header.isEmpty());
    EXPECT_EQ(best.Header.size(), ParseFrame(best.Mp3, 0).Length);
    EXPECT_TRUE(best.Mp3.mid(36, 4) == "Xing");
}

TEST(LameEnc, TheFourQualityChoicesAreDistinct)
{
    const std::vector<int16_t> pcm = Tones(44100, 44100, 2);
    QList<QByteArray> outputs;
    for (int32_t q : {BE_QUALITY_NORMAL, BE_QUALITY_LOW, BE_QUALITY_HIGH, BE_QUALITY_VOICE}) {
        BE_CONFIG c = Record();
        c.nQuality = q;
        outputs << Encode(c, pcm).Mp3;
    }
    for (int i = 0; i < outputs.size(); ++i)
        for (int j = i + 1; j < outputs.size(); ++j)
            EXPECT_FALSE(outputs.at(i) == outputs.at(j)) << i << " vs " << j;
}

// Debian's command-line encoder, given the same PCM and the record's settings spelled out,
// must produce the very same file: the record's fields mean what its options mean.
TEST(LameEnc, SameBytesAsTheCommandLineEncoder)
{
    if (!HaveTool(QStringLiteral("lame")))
        GTEST_SKIP() << "lame missing";
    QTemporaryDir dir;
    const std::vector<int16_t> pcm = Tones(44100 * 4, 44100, 2);
    const QByteArray raw(reinterpret_cast<const char*>(pcm.data()),
                         static_cast<qsizetype>(pcm.size() * 2));
    struct TCase
    {
        const char* Name;
        BE_CONFIG Config;
        QStringList Flags;
    };
    BE_CONFIG vbr = Record();
    vbr.bEnableVBR = vbr.bWriteVBRHeader = BE_TRUE;
    vbr.nVBRQuality = 5;
    BE_CONFIG cbr = Record();
    cbr.bWriteVBRHeader = BE_TRUE;
    cbr.bCRC = BE_FALSE;
    cbr.nQuality = BE_QUALITY_HIGH;
    cbr.nMode = BE_MP3_MODE_JSTEREO;
    BE_CONFIG mono = Record(44100, 22050, BE_MP3_MODE_MONO, 2);
    mono.dwBitrate = 64;
    const QList<TCase> cases = {
        {"defaults", vbr, QString::fromLatin1("-m s -q 3 -V 5 -b 128 -B 320 -p -o").split(u' ')},
        {"cbr joint high", cbr, QString::fromLatin1("-m j -q 2 -b 128 -o").split(u' ')},
        // Raw input with "-m m" would be read as one channel; "-a" mixes two down.
        {"mono 22050", mono,
         QString::fromLatin1("-a -q 3 -b 64 --resample 22.05 -p -o -t").split(u' ')},
    };
    for (const TCase& tc : cases) {
        SCOPED_TRACE(tc.Name);
        const QString out = dir.filePath(QString::fromLatin1(tc.Name) + QStringLiteral(".mp3"));
        QStringList args = {QStringLiteral("-r"),
                            QStringLiteral("-s"),
                            QStringLiteral("44.1"),
                            QStringLiteral("--bitwidth"),
                            QStringLiteral("16"),
                            QStringLiteral("--signed"),
                            QStringLiteral("--little-endian"),
                            QStringLiteral("--noreplaygain"),
                            QStringLiteral("--silent")};
        args << tc.Flags << QStringLiteral("-") << out;
        const TToolResult r = RunTool(QStringLiteral("lame"), args, raw);
        ASSERT_EQ(r.ExitCode, 0) << r.Err.toStdString();
        QFile f(out);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const QByteArray expected = f.readAll();
        const TEncoded e = Encode(tc.Config, pcm);
        EXPECT_EQ(e.Mp3.size(), expected.size());
        EXPECT_TRUE(e.Mp3 == expected);
    }
}

} // namespace
