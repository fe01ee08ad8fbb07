#include "mp3/LameCoder.h"

#include "support/FakeLameEnc.h"
#include "support/Tools.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numbers>
#include <vector>

using namespace lameenc;

namespace {

// ---------------------------------------------------------------------------------------------
// The record

uint32_t U32At(const QByteArray& bytes, int offset)
{
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | static_cast<uint8_t>(bytes.at(offset + i));
    return v;
}

void PutU32(QByteArray& bytes, int offset, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[offset + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

// The 331 bytes a fresh component hands to the library, written out field by field.
QByteArray FreshRecord()
{
    QByteArray r(331, '\0');
    PutU32(r, 0, 256);
    PutU32(r, 4, 1);
    PutU32(r, 8, 331);
    PutU32(r, 12, 44100);
    PutU32(r, 16, 0);
    PutU32(r, 20, 0);
    PutU32(r, 24, 128);
    PutU32(r, 28, 320);
    PutU32(r, 32, 0);
    PutU32(r, 36, 1);
    PutU32(r, 52, 0xFFFFFFFF); // CRC on
    PutU32(r, 72, 4);
    return r;
}

TEST(LameCoderRecord, FreshComponentOpensWithTheInitialSettings)
{
    TFakeLameEnc lib;
    TLameCoder coder(nullptr, &lib);
    EXPECT_EQ(coder.OpenStream(), 0);
    ASSERT_EQ(lib.Configs.size(), 1);
    EXPECT_EQ(lib.Configs.at(0).toHex(), FreshRecord().toHex());
}

struct TSettingCase
{
    const char* Name;
    void (*Change)(TLameCoder&);
    QList<QPair<int, uint32_t>> Fields; // offset, value: every byte that must differ
};

TEST(LameCoderRecord, EverySettingReachesItsOwnField)
{
    const QList<TSettingCase> cases = {
        {"SampleRate", [](TLameCoder& c) { c.SetSampleRate(32000); }, {{16, 32000}}},
        {"Bitrate", [](TLameCoder& c) { c.SetBitrate(192); }, {{24, 192}}},
        {"MaxBitrate", [](TLameCoder& c) { c.SetMaxBitrate(256); }, {{28, 256}}},
        {"Quality", [](TLameCoder& c) { c.SetQuality(VOICE_QUALITY); }, {{32, 3}}},
        {"Private", [](TLameCoder& c) { c.SetPrivate(-1); }, {{48, 0xFFFFFFFF}}},
        {"CRC", [](TLameCoder& c) { c.SetCRC(0); }, {{52, 0}}},
        {"Copyright", [](TLameCoder& c) { c.SetCopyright(-1); }, {{56, 0xFFFFFFFF}}},
        {"Original", [](TLameCoder& c) { c.SetOriginal(1); }, {{60, 1}}},
        {"WriteVBRHeader", [](TLameCoder& c) { c.SetWriteVBRHeader(-1); }, {{64, 0xFFFFFFFF}}},
        {"EnableVBR",
         [](TLameCoder& c) { c.SetEnableVBR(-1); },
         {{64, 0xFFFFFFFF}, {68, 0xFFFFFFFF}}},
        {"VBRQuality", [](TLameCoder& c) { c.SetVBRQuality(0); }, {{72, 0}}},
        {"Mode joint", [](TLameCoder& c) { c.SetMode(JSTEREO); }, {{20, 1}}},
        {"Mode dual", [](TLameCoder& c) { c.SetMode(DUALCHANNEL); }, {{20, 2}}},
        // Mono file from stereo PCM: the record says the PCM has two channels.
        {"Mode mono", [](TLameCoder& c) { c.SetMode(MONO); }, {{20, 3}, {76, 2}}},
        // PCM in another layout than the file's.
        {"PCM 22050 mono",
         [](TLameCoder& c) { c.SetPCMFormat(22050, 1); },
         {{12, 22050}, {16, 44100}, {76, 1}}},
        {"PCM mono to mono file",
         [](TLameCoder& c) {
             c.SetMode(MONO);
             c.SetPCMFormat(44100, 1);
         },
         {{20, 3}}},
        {"PCM rate equals file rate",
         [](TLameCoder& c) {
             c.SetSampleRate(22050);
             c.SetPCMFormat(22050, 2);
         },
         {{12, 22050}}},
    };
    for (const TSettingCase& sc : cases) {
        SCOPED_TRACE(sc.Name);
        TFakeLameEnc lib;
        TLameCoder coder(nullptr, &lib);
        sc.Change(coder);
        coder.OpenStream();
        ASSERT_EQ(lib.Configs.size(), 1);
        QByteArray expected = FreshRecord();
        for (const auto& [offset, value] : sc.Fields) {
            if (offset == 76)
                expected[76] = static_cast<char>(value);
            else
                PutU32(expected, offset, value);
        }
        EXPECT_EQ(lib.Configs.at(0).toHex(), expected.toHex());
    }
}

TEST(LameCoderRecord, SettingsAreReadAfreshByEveryOpen)
{
    TFakeLameEnc lib;
    TLameCoder coder(nullptr, &lib);
    coder.OpenStream();
    coder.CloseStream();
    coder.SetBitrate(64);
    coder.OpenStream();
    ASSERT_EQ(lib.Configs.size(), 2);
    EXPECT_EQ(U32At(lib.Configs.at(0), 24), 128u);
    EXPECT_EQ(U32At(lib.Configs.at(1), 24), 64u);
}

// ---------------------------------------------------------------------------------------------
// Properties

TEST(LameCoderProperties, InitialValues)
{
    TFakeLameEnc lib;
    TLameCoder coder(nullptr, &lib);
    EXPECT_EQ(coder.SampleRate(), 44100u);
    EXPECT_EQ(coder.Bitrate(), 128u);
    EXPECT_EQ(coder.MaxBitrate(), 320u);
    EXPECT_EQ(coder.Quality(), NORMAL_QUALITY);
    EXPECT_EQ(coder.Private(), 0);
    EXPECT_EQ(coder.CRC(), -1);
    EXPECT_EQ(coder.Mode(), STEREO);
    EXPECT_EQ(coder.Copyright(), 0);
    EXPECT_EQ(coder.Original(), 0);
    EXPECT_EQ(coder.WriteVBRHeader(), 0);
    EXPECT_EQ(coder.EnableVBR(), 0);
    EXPECT_EQ(coder.VBRQuality(), 4);
    EXPECT_TRUE(coder.InputFiles().isEmpty());
    EXPECT_TRUE(coder.OutputFiles().isEmpty());
    EXPECT_EQ(coder.DefaultExt(), QStringLiteral(".mp3"));
    EXPECT_TRUE(coder.Mp3FileName().isEmpty());
    EXPECT_EQ(coder.PCMSampleRate(), 44100u);
    EXPECT_EQ(coder.PCMChannels(), 2u);
    EXPECT_FALSE(coder.OnProgress);
}

TEST(LameCoderProperties, EnableVBRCarriesTheHeaderAndALaterHeaderWriteWins)
{
    TFakeLameEnc lib;
    TLameCoder coder(nullptr, &lib);
    coder.SetEnableVBR(-1);
    EXPECT_EQ(coder.EnableVBR(), -1);
    EXPECT_EQ(coder.WriteVBRHeader(), -1);
    coder.SetWriteVBRHeader(0);
    EXPECT_EQ(coder.EnableVBR(), -1);
    EXPECT_EQ(coder.WriteVBRHeader(), 0);
    coder.SetWriteVBRHeader(5);
    coder.SetEnableVBR(0);
    EXPECT_EQ(coder.EnableVBR(), 0);
    EXPECT_EQ(coder.WriteVBRHeader(), 0);
}

TEST(LameCoderProperties, ModeOutsideTheFourIsIgnored)
{
    TFakeLameEnc lib;
    TLameCoder coder(nullptr, &lib);
    coder.SetMode(DUALCHANNEL);
    coder.SetMode(static_cast<TLameMode>(4));
    EXPECT_EQ(coder.Mode(), DUALCHANNEL);
    coder.SetMode(static_cast<TLameMode>(-1));
    EXPECT_EQ(coder.Mode(), DUALCHANNEL);
    coder.OpenStream();
    EXPECT_EQ(lib.LastConfig().nMode, 2);
}

TEST(LameCoderProperties, InputFilesDeriveOutputFiles)
{
    TFakeLameEnc lib;
    TLameCoder coder(nullptr, &lib);
    coder.SetOutputFiles({QStringLiteral("stale.mp3")});
    coder.SetInputFiles({});
    EXPECT_TRUE(coder.OutputFiles().isEmpty());

    coder.SetInputFiles({QStringLiteral("/music/01 Intro.wav"), QStringLiteral("/music/noext"),
                         QStringLiteral("/music/album.v2/track"),
                         QStringLiteral("C:\\My.Music\\song"), QStringLiteral("D:name"),
                         QStringLiteral("two.dots.wav"), QStringLiteral("trailing.")});
    EXPECT_EQ(coder.InputFiles().size(), 7);
    const QStringList expected = {QStringLiteral("/music/01 Intro.mp3"),
                                  QStringLiteral("/music/noext.mp3"),
                                  QStringLiteral("/music/album.v2/track.mp3"),
                                  QStringLiteral("C:\\My.Music\\song.mp3"),
                                  QStringLiteral("D:name.mp3"),
                                  QStringLiteral("two.dots.mp3"),
                                  QStringLiteral("trailing.mp3")};
    EXPECT_EQ(coder.OutputFiles(), expected);

    coder.SetDefaultExt(QStringLiteral(".MP3"));
    coder.SetInputFiles({QStringLiteral("a.wav")});
    EXPECT_EQ(coder.OutputFiles(), QStringList{QStringLiteral("a.MP3")});
}

TEST(LameCoderProperties, AssignCopiesTheSettingsOnly)
{
    TFakeLameEnc lib;
    TLameCoder source(nullptr, &lib);
    source.SetSampleRate(22050);
    source.SetMode(MONO);
    source.SetBitrate(96);
    source.SetMaxBitrate(160);
    source.SetQuality(HIGH_QUALITY);
    source.SetPrivate(-1);
    source.SetCRC(0);
    source.SetCopyright(-1);
    source.SetOriginal(-1);
    source.SetEnableVBR(-1);
    source.SetWriteVBRHeader(0);
    source.SetVBRQuality(9);
    source.SetDefaultExt(QStringLiteral(".x"));
    source.SetMp3FileName(QStringLiteral("a.mp3"));
    source.SetInputFiles({QStringLiteral("a.wav")});
    source.SetPCMFormat(11025, 1);

    TLameCoder target(nullptr, &lib);
    target.Assign(&source);
    EXPECT_EQ(target.SampleRate(), 22050u);
    EXPECT_EQ(target.Mode(), MONO);
    EXPECT_EQ(target.Bitrate(), 96u);
    EXPECT_EQ(target.MaxBitrate(), 160u);
    EXPECT_EQ(target.Quality(), HIGH_QUALITY);
    EXPECT_EQ(target.Private(), -1);
    EXPECT_EQ(target.CRC(), 0);
    EXPECT_EQ(target.Copyright(), -1);
    EXPECT_EQ(target.Original(), -1);
    EXPECT_EQ(target.EnableVBR(), -1);
    EXPECT_EQ(target.WriteVBRHeader(), 0);
    EXPECT_EQ(target.VBRQuality(), 9);
    EXPECT_EQ(target.DefaultExt(), QStringLiteral(".mp3"));
    EXPECT_TRUE(target.Mp3FileName().isEmpty());
    EXPECT_TRUE(target.InputFiles().isEmpty());
    EXPECT_TRUE(target.OutputFiles().isEmpty());
    EXPECT_EQ(target.PCMSampleRate(), 44100u);
}

TEST(LameCoderProperties, AssignFromAnotherKindFails)
{
    TFakeLameEnc lib;
    TLameCoder coder(nullptr, &lib);
    QObject other;
    try {
        coder.Assign(&other);
        FAIL() << "no failure";
    } catch (const EAssignError& e) {
        EXPECT_STREQ(e.what(), "Cannot assign a QObject to a TLameCoder");
    }
    try {
        coder.Assign(nullptr);
        FAIL() << "no failure";
    } catch (const EAssignError& e) {
        EXPECT_STREQ(e.what(), "Cannot assign a nil to a TLameCoder");
    }
    EXPECT_THROW(coder.LameVersion()->Assign(&coder), EAssignError);
}

TEST(LameCoderProperties, VersionIsAskedForOnceAtCreation)
{
    TFakeLameEnc lib;
    lib.Version.byMinorVersion = 99;
    TLameCoder coder(nullptr, &lib);
    EXPECT_EQ(lib.Calls, QStringList{QStringLiteral("beVersion")});
    const TLameVersion* v = coder.LameVersion();
    EXPECT_EQ(v->DLLMajorVersion(), 1);
    EXPECT_EQ(v->DLLMinorVersion(), 32);
    EXPECT_EQ(v->MajorVersion(), 3);
    EXPECT_EQ(v->MinorVersion(), 99);
    EXPECT_EQ(v->parent(), &coder);

    TFakeLameEnc other;
    TLameCoder second(nullptr, &other);
    second.LameVersion()->Assign(v);
    EXPECT_EQ(second.LameVersion()->MinorVersion(), 99);
}

// ---------------------------------------------------------------------------------------------
// Stream operations

TEST(LameCoderStream, OperationsReachTheLibraryInOrderWithTheStreamsHandle)
{
    TFakeLameEnc lib;
    lib.Samples = 1152;
    lib.BufferSize = 8640;
    lib.Handle = 42;
    lib.ChunkOutput = {QByteArray(), QByteArray("frame-one")};
    lib.FlushOutput = QByteArray("tail");
    TLameCoder coder(nullptr, &lib);
    lib.Calls.clear();

    ASSERT_EQ(coder.OpenStream(), 0);
    EXPECT_EQ(coder.SamplesPerChunk(), 1152u);
    EXPECT_EQ(coder.OutputBufferSize(), 8640u);
    std::vector<int16_t> pcm(1152, 0);
    for (size_t i = 0; i < pcm.size(); ++i)
        pcm[i] = static_cast<int16_t>(i);
    std::vector<uint8_t> out(coder.OutputBufferSize());
    uint32_t bytes = 99;
    EXPECT_EQ(coder.EncodeChunk(pcm.data(), out.data(), &bytes), 0);
    EXPECT_EQ(bytes, 0u);
    EXPECT_EQ(coder.EncodeChunk(pcm.data(), out.data(), &bytes), 0);
    EXPECT_EQ(QByteArray(reinterpret_cast<char*>(out.data()), bytes), QByteArray("frame-one"));
    EXPECT_EQ(coder.EncodeChunk(pcm.data(), 100, out.data(), &bytes), 0);
    EXPECT_EQ(coder.FlushStream(out.data(), &bytes), 0);
    EXPECT_EQ(QByteArray(reinterpret_cast<char*>(out.data()), bytes), QByteArray("tail"));
    EXPECT_EQ(coder.CloseStream(), 0);

    const QStringList expected = {
        QStringLiteral("beInitStream"),          QStringLiteral("beEncodeChunk 42 1152"),
        QStringLiteral("beEncodeChunk 42 1152"), QStringLiteral("beEncodeChunk 42 100"),
        QStringLiteral("beDeinitStream 42"),     QStringLiteral("beGetVBRFrame 42"),
        QStringLiteral("beCloseStream 42")};
    EXPECT_EQ(lib.Calls, expected);
    ASSERT_EQ(lib.Chunks.size(), 3);
    EXPECT_EQ(lib.Chunks.at(0), QByteArray(reinterpret_cast<const char*>(pcm.data()), 2304));
    EXPECT_EQ(lib.Chunks.at(2).size(), 200);
}

TEST(LameCoderStream, ARefusedStreamNamesTheSettingTheEncoderRefused)
{
    // The real encoder, with a rate a settings file can hold but no MP3 file has.
    TLameCoder coder;
    coder.SetSampleRate(44000);
    const int32_t result = coder.OpenStream();
    ASSERT_NE(result, 0);
    EXPECT_EQ(coder.RefusedSetting(result),
              QStringLiteral("it does not take a sample rate of 44000 Hz; an MP3 file has 8000, "
                             "11025, 12000, 16000, 22050, 24000, 32000, 44100 or 48000 Hz"));
    EXPECT_EQ(coder.RefusedSetting(BE_ERR_NO_MORE_HANDLES),
              QStringLiteral("the encoder library has no room for another stream"));
    coder.SetSampleRate(22050);
    ASSERT_EQ(coder.OpenStream(), 0);
    coder.CloseStream();
}

TEST(LameCoderStream, FailuresComeBackUnchanged)
{
    TFakeLameEnc lib;
    lib.InitResult = BE_ERR_INVALID_FORMAT_PARAMETERS;
    TLameCoder coder(nullptr, &lib);
    EXPECT_EQ(coder.OpenStream(), BE_ERR_INVALID_FORMAT_PARAMETERS);

    lib.InitResult = 0;
    lib.EncodeResult = 77;
    lib.DeinitResult = 78;
    lib.CloseResult = 79;
    lib.VBRFrame = QByteArray("header");
    ASSERT_EQ(coder.OpenStream(), 0);
    std::vector<int16_t> pcm(coder.SamplesPerChunk());
    std::vector<uint8_t> out(coder.OutputBufferSize());
    uint32_t bytes = 0;
    EXPECT_EQ(coder.EncodeChunk(pcm.data(), out.data(), &bytes), 77);
    EXPECT_EQ(coder.FlushStream(out.data(), &bytes), 78);
    // A flush that failed has no finished header to offer.
    EXPECT_TRUE(coder.VBRHeaderFrame().isEmpty());
    EXPECT_EQ(coder.CloseStream(), 79);
}

TEST(LameCoderStream, HeaderFrameIsKeptUntilTheNextOpen)
{
    TFakeLameEnc lib;
    lib.VBRFrame = QByteArray(3000, 'x'); // larger than the first guess: fetched again
    TLameCoder coder(nullptr, &lib);
    ASSERT_EQ(coder.OpenStream(), 0);
    std::vector<uint8_t> out(coder.OutputBufferSize());
    uint32_t bytes = 0;
    EXPECT_TRUE(coder.VBRHeaderFrame().isEmpty());
    coder.FlushStream(out.data(), &bytes);
    EXPECT_EQ(coder.VBRHeaderFrame(), lib.VBRFrame);
    coder.CloseStream();
    EXPECT_EQ(coder.VBRHeaderFrame(), lib.VBRFrame);
    lib.VBRFrame.clear();
    coder.OpenStream();
    EXPECT_TRUE(coder.VBRHeaderFrame().isEmpty());
    coder.FlushStream(out.data(), &bytes);
    EXPECT_TRUE(coder.VBRHeaderFrame().isEmpty());
    coder.CloseStream();
}

TEST(LameCoderStream, AStreamLeftOpenIsClosed)
{
    TFakeLameEnc lib;
    {
        TLameCoder coder(nullptr, &lib);
        coder.OpenStream();
        coder.OpenStream(); // again without closing
        lib.Calls.clear();
    }
    EXPECT_EQ(lib.Calls, QStringList{QStringLiteral("beCloseStream 7")});
    EXPECT_EQ(lib.Configs.size(), 2);
}

// ---------------------------------------------------------------------------------------------
// Real MP3 files, checked by outside tools

constexpr double kToneHz = 1000.0;

// Ten seconds of something like music: a chord progression of decaying plucked notes, each
// with a few partials, two voices panned apart, over a steady tone that stays the loudest
// component so its frequency can be measured after decoding.
std::vector<int16_t> MusicLike(double seconds, uint32_t rate, uint32_t channels)
{
    static const double chords[4][3] = {{261.63, 329.63, 392.00},
                                        {220.00, 261.63, 329.63},
                                        {174.61, 220.00, 261.63},
                                        {196.00, 246.94, 293.66}};
    const auto frames = static_cast<size_t>(seconds * rate);
    std::vector<int16_t> pcm(frames * channels);
    const double twoPi = 2 * std::numbers::pi;
    for (size_t n = 0; n < frames; ++n) {
        const double t = static_cast<double>(n) / rate;
        const int beat = static_cast<int>(t * 4);
        const double sinceBeat = t - beat / 4.0;
        const double* chord = chords[(beat / 8) % 4];
        const double env = std::exp(-sinceBeat * 6);
        double left = 0;
        double right = 0;
        for (int k = 0; k < 3; ++k) {
            double note = 0;
            for (int h = 1; h <= 3; ++h)
                note += std::sin(twoPi * chord[k] * h * t) / (h * h);
            const double pan = (k + 1) / 4.0;
            left += note * env * 0.06 * (1 - pan);
            right += note * env * 0.06 * pan;
        }
        const double tone = 0.3 * std::sin(twoPi * kToneHz * t);
        left += tone;
        right += tone;
        if (channels == 1) {
            pcm[n] = static_cast<int16_t>(std::lround((left + right) / 2 * 32767));
        } else {
            pcm[2 * n] = static_cast<int16_t>(std::lround(left * 32767));
            pcm[2 * n + 1] = static_cast<int16_t>(std::lround(right * 32767));
        }
    }
    return pcm;
}

// Streams `pcm` through a coder the way the ripper does and writes the MP3 file, with the
// finished header frame put over the placeholder.
bool EncodeToFile(TLameCoder& coder, const std::vector<int16_t>& pcm, const QString& path)
{
    if (coder.OpenStream() != 0)
        return false;
    const uint32_t chunk = coder.SamplesPerChunk();
    std::vector<uint8_t> out(coder.OutputBufferSize());
    QByteArray mp3;
    size_t pos = 0;
    bool ok = true;
    while (ok && pos < pcm.size()) {
        const auto n = static_cast<uint32_t>(std::min<size_t>(chunk, pcm.size() - pos));
        uint32_t bytes = 0;
        ok = (n == chunk ? coder.EncodeChunk(pcm.data() + pos, out.data(), &bytes)
                         : coder.EncodeChunk(pcm.data() + pos, n, out.data(), &bytes)) == 0;
        ok = ok && bytes <= coder.OutputBufferSize();
        mp3.append(reinterpret_cast<const char*>(out.data()), bytes);
        pos += n;
    }
    uint32_t bytes = 0;
    ok = coder.FlushStream(out.data(), &bytes) == 0 && ok;
    mp3.append(reinterpret_cast<const char*>(out.data()), bytes);
    const QByteArray header = coder.VBRHeaderFrame();
    coder.CloseStream();
    if (!ok || header.size() > mp3.size())
        return false;
    std::memcpy(mp3.data(), header.constData(), static_cast<size_t>(header.size()));
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(mp3) == mp3.size();
}

struct TDecoded
{
    uint32_t Rate = 0;
    uint32_t Channels = 0;
    std::vector<int16_t> Samples;
    size_t Frames() const { return Channels == 0 ? 0 : Samples.size() / Channels; }
};

// Decodes with mpg123 into a WAV file and reads its format and samples.
TDecoded DecodeWithMpg123(const QString& mp3, const QString& wav)
{
    TDecoded d;
    const TToolResult r =
        RunTool(QStringLiteral("mpg123"), {QStringLiteral("-q"), QStringLiteral("-w"), wav, mp3});
    EXPECT_EQ(r.ExitCode, 0) << r.Err.toStdString();
    QFile f(wav);
    if (!f.open(QIODevice::ReadOnly))
        return d;
    const QByteArray b = f.readAll();
    if (b.size() < 12 || !b.startsWith("RIFF") || b.mid(8, 4) != "WAVE")
        return d;
    qsizetype pos = 12;
    while (pos + 8 <= b.size()) {
        const QByteArray id = b.mid(pos, 4);
        uint32_t size = U32At(b, static_cast<int>(pos + 4));
        const qsizetype body = pos + 8;
        if (id == "fmt ") {
            d.Channels =
                static_cast<uint8_t>(b.at(body + 2)) | (static_cast<uint8_t>(b.at(body + 3)) << 8);
            d.Rate = U32At(b, static_cast<int>(body + 4));
        } else if (id == "data") {
            size = static_cast<uint32_t>(std::min<qsizetype>(size, b.size() - body));
            d.Samples.resize(size / 2);
            std::memcpy(d.Samples.data(), b.constData() + body, d.Samples.size() * 2);
            break;
        }
        pos = body + size + (size & 1);
    }
    return d;
}

// The strongest frequency between 200 and 4000 Hz of half a second of channel `channel`
// from the middle, to 1 Hz.
double DominantFrequency(const TDecoded& d, uint32_t channel)
{
    const size_t n = d.Rate / 2;
    const size_t start = d.Frames() / 2 - n / 2;
    double best = 0;
    double bestPower = -1;
    for (int f = 200; f <= 4000; ++f) {
        const double w = 2 * std::numbers::pi * f / d.Rate;
        const double coeff = 2 * std::cos(w);
        double s1 = 0;
        double s2 = 0;
        for (size_t i = 0; i < n; ++i) {
            const double x = d.Samples[(start + i) * d.Channels + channel];
            const double s0 = x + coeff * s1 - s2;
            s2 = s1;
            s1 = s0;
        }
        const double power = s1 * s1 + s2 * s2 - coeff * s1 * s2;
        if (power > bestPower) {
            bestPower = power;
            best = f;
        }
    }
    return best;
}

class LameCoderFiles : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!HaveTool(QStringLiteral("mpg123")))
            GTEST_SKIP() << "mpg123 missing";
        ASSERT_TRUE(FDir.isValid());
    }
    QString Path(const QString& name) const { return FDir.filePath(name); }

    // Encodes the signal with the coder's settings and checks the decoded file.
    void CheckFile(TLameCoder& coder, const QString& name, uint32_t channels, uint32_t rate)
    {
        const std::vector<int16_t> pcm = MusicLike(10.0, 44100, 2);
        ASSERT_TRUE(EncodeToFile(coder, pcm, Path(name + QStringLiteral(".mp3"))));
        const TDecoded d = DecodeWithMpg123(Path(name + QStringLiteral(".mp3")),
                                            Path(name + QStringLiteral(".wav")));
        EXPECT_EQ(d.Rate, rate);
        EXPECT_EQ(d.Channels, channels);
        const double frameSamples = rate >= 32000 ? 1152 : 576;
        EXPECT_NEAR(static_cast<double>(d.Frames()), 10.0 * rate, frameSamples)
            << "decoded " << d.Frames() << " frames at " << d.Rate;
        ASSERT_GT(d.Frames(), rate);
        for (uint32_t c = 0; c < d.Channels; ++c)
            EXPECT_NEAR(DominantFrequency(d, c), kToneHz, 2.0) << "channel " << c;
    }

    QTemporaryDir FDir;
};

TEST_F(LameCoderFiles, ConstantBitrate128)
{
    // With the header box left ticked, as the options dialog keeps it when VBR is turned off.
    TLameCoder coder;
    coder.SetBitrate(128);
    coder.SetWriteVBRHeader(-1);
    CheckFile(coder, QStringLiteral("cbr128"), 2, 44100);
    EXPECT_FALSE(coder.VBRHeaderFrame().isEmpty());
}

// The settings a new user starts with: VBR quality 5 from 128 to 320 kbit/s, CRC, header.
void ApplyUserDefaults(TLameCoder& coder)
{
    coder.SetSampleRate(44100);
    coder.SetBitrate(128);
    coder.SetMaxBitrate(320);
    coder.SetMode(STEREO);
    coder.SetQuality(NORMAL_QUALITY);
    coder.SetVBRQuality(5);
    coder.SetEnableVBR(-1);
    coder.SetWriteVBRHeader(-1);
    coder.SetCopyright(0);
    coder.SetOriginal(0);
    coder.SetCRC(-1);
    coder.SetPrivate(0);
}

TEST_F(LameCoderFiles, UserDefaults)
{
    TLameCoder coder;
    ApplyUserDefaults(coder);
    CheckFile(coder, QStringLiteral("defaults"), 2, 44100);
}

TEST_F(LameCoderFiles, MonoFromStereoPCM)
{
    TLameCoder coder;
    ApplyUserDefaults(coder);
    coder.SetMode(MONO);
    CheckFile(coder, QStringLiteral("mono"), 1, 44100);
}

TEST_F(LameCoderFiles, Resampled32000)
{
    TLameCoder coder;
    ApplyUserDefaults(coder);
    coder.SetSampleRate(32000);
    CheckFile(coder, QStringLiteral("r32000"), 2, 32000);
}

TEST_F(LameCoderFiles, Resampled22050ConstantBitrate)
{
    TLameCoder coder;
    coder.SetSampleRate(22050);
    coder.SetMode(JSTEREO);
    coder.SetWriteVBRHeader(-1);
    CheckFile(coder, QStringLiteral("r22050"), 2, 22050);
}

TEST_F(LameCoderFiles, Resampled22050UserDefaults)
{
    // MPEG-2 has no 320 kbit/s; the encoder keeps to what the rate allows.
    TLameCoder coder;
    ApplyUserDefaults(coder);
    coder.SetSampleRate(22050);
    CheckFile(coder, QStringLiteral("r22050vbr"), 2, 22050);
}

TEST_F(LameCoderFiles, MonoPCMIntoAStereoFile)
{
    TLameCoder coder;
    coder.SetPCMFormat(22050, 1);
    coder.SetWriteVBRHeader(-1);
    const std::vector<int16_t> pcm = MusicLike(10.0, 22050, 1);
    ASSERT_TRUE(EncodeToFile(coder, pcm, Path(QStringLiteral("up.mp3"))));
    const TDecoded d =
        DecodeWithMpg123(Path(QStringLiteral("up.mp3")), Path(QStringLiteral("up.wav")));
    EXPECT_EQ(d.Rate, 44100u);
    EXPECT_EQ(d.Channels, 2u);
    EXPECT_NEAR(static_cast<double>(d.Frames()), 441000.0, 1152);
    EXPECT_NEAR(DominantFrequency(d, 0), kToneHz, 2.0);
}

TEST_F(LameCoderFiles, HeaderFrameGivesTheExactFrameCount)
{
    const QString python = MutagenPython();
    if (RunTool(python, {QStringLiteral("-c"), QStringLiteral("import mutagen")}).ExitCode != 0)
        GTEST_SKIP() << "mutagen missing";
    TLameCoder coder;
    ApplyUserDefaults(coder);
    const QString path = Path(QStringLiteral("vbr.mp3"));
    ASSERT_TRUE(EncodeToFile(coder, MusicLike(10.0, 44100, 2), path));
    ASSERT_FALSE(coder.VBRHeaderFrame().isEmpty());

    // Count the audio frames after the header frame by walking the frame headers, and compare
    // with what the header says and with the length an outside reader derives from it.
    const QString code = QStringLiteral(R"(
import sys
from mutagen.mp3 import MP3, MPEGFrame, BitrateMode, HeaderNotFoundError
from mutagen.mp3._util import XingHeader
path = sys.argv[1]
with open(path, 'rb') as f:
    first = MPEGFrame(f)
    f.seek(XingHeader.get_offset(first))
    xing = XingHeader(f)
    f.seek(0)
    frames = 0
    while True:
        try:
            MPEGFrame(f)
        except HeaderNotFoundError:
            break
        frames += 1
info = MP3(path).info
print(xing.frames, frames - 1, info.bitrate_mode == BitrateMode.VBR, '%.6f' % info.length)
)");
    const TToolResult r = RunTool(python, {QStringLiteral("-c"), code, path});
    ASSERT_EQ(r.ExitCode, 0) << r.Err.toStdString();
    const QStringList fields = QString::fromUtf8(r.Out).trimmed().split(u' ');
    ASSERT_EQ(fields.size(), 4) << r.Out.toStdString();
    EXPECT_EQ(fields.at(0), fields.at(1)) << "header count vs frames in the file";
    EXPECT_GT(fields.at(0).toInt(), 380);
    EXPECT_EQ(fields.at(2), QStringLiteral("True"));
    // The header carries the encoder's delay and padding too, so the length is exact.
    EXPECT_NEAR(fields.at(3).toDouble(), 10.0, 1.0 / 44100);
}

TEST_F(LameCoderFiles, WithoutHeaderTheFileStillPlays)
{
    TLameCoder coder;
    coder.SetEnableVBR(-1);
    coder.SetWriteVBRHeader(0);
    const QString mp3 = Path(QStringLiteral("nohdr.mp3"));
    ASSERT_TRUE(EncodeToFile(coder, MusicLike(10.0, 44100, 2), mp3));
    EXPECT_TRUE(coder.VBRHeaderFrame().isEmpty());
    const TDecoded d = DecodeWithMpg123(mp3, Path(QStringLiteral("nohdr.wav")));
    EXPECT_EQ(d.Rate, 44100u);
    EXPECT_EQ(d.Channels, 2u);
    // Nothing tells the decoder about the encoder's delay and padding, so they stay in.
    EXPECT_GE(d.Frames(), 441000u);
    EXPECT_LE(d.Frames(), 441000u + 2 * 1152);
}

} // namespace
