// Extraction of a sector range to PCM, WAV and MP3, against a scripted ripping library: every
// chunk status, cancel, failures and the order of the calls.
#include "cd/CDRIP.h"
#include "mp3/LameCoder.h"
#include "support/FakeCDRip.h"
#include "support/FileSizeLimit.h"
#include "support/Tools.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <QtEndian>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

namespace {

constexpr int kSector = 2352;

QByteArray Pcm(int bytes, int seed = 1)
{
    QByteArray b(bytes, '\0');
    for (int i = 0; i < bytes; ++i)
        b[i] = char((i * 7 + seed * 13 + (i >> 9)) & 0xFF);
    return b;
}

QByteArray ReadFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

uint32_t U32(const QByteArray& b, int at)
{
    return qFromLittleEndian<uint32_t>(b.constData() + at);
}

uint16_t U16(const QByteArray& b, int at)
{
    return qFromLittleEndian<uint16_t>(b.constData() + at);
}

// An encoder library whose output tells what it was given: "c<seq>:<samples>;" per chunk and
// "flush;" at the end, so a test can read the order of the calls back from the file. Its calls
// go into the ripping library's record, beside the library's own.
class TScriptedLameEnc : public lameenc::ILameEncLibrary
{
public:
    explicit TScriptedLameEnc(TFakeCDRip& log) : FLog(log) {}

    lameenc::BE_ERR InitResult = lameenc::BE_ERR_SUCCESSFUL;
    uint32_t Samples = 1152 * 2;
    uint32_t BufferSize = 64;
    QByteArray VBRFrame;
    int FailChunk = -1; // the chunk call, from 0, that fails
    lameenc::BE_CONFIG LastConfig{};
    std::vector<uint32_t> Encoded; // samples of every chunk call

    QByteArray Expected() const
    {
        QByteArray e;
        for (size_t i = 0; i < Encoded.size(); ++i)
            e += "c" + QByteArray::number(qulonglong(i)) + ":" + QByteArray::number(Encoded[i]) +
                 ";";
        return e + "flush;";
    }

    void beVersion(lameenc::BE_VERSION* version) override { *version = {}; }
    lameenc::BE_ERR beInitStream(const lameenc::BE_CONFIG* config, uint32_t* samples,
                                 uint32_t* bufferSize, lameenc::HBE_STREAM* stream) override
    {
        FLog.Record(QStringLiteral("beInitStream"));
        LastConfig = *config;
        if (InitResult != lameenc::BE_ERR_SUCCESSFUL)
            return InitResult;
        *samples = Samples;
        *bufferSize = BufferSize;
        *stream = 1;
        return lameenc::BE_ERR_SUCCESSFUL;
    }
    lameenc::BE_ERR beEncodeChunk(lameenc::HBE_STREAM, uint32_t samples, const int16_t*,
                                  uint8_t* output, uint32_t* bytes) override
    {
        FLog.Record(QStringLiteral("beEncodeChunk"));
        if (int(Encoded.size()) == FailChunk) {
            *bytes = 0;
            return lameenc::BE_ERR_INVALID_HANDLE;
        }
        const QByteArray out = "c" + QByteArray::number(qulonglong(Encoded.size())) + ":" +
                               QByteArray::number(samples) + ";";
        Encoded.push_back(samples);
        std::memcpy(output, out.constData(), size_t(out.size()));
        *bytes = uint32_t(out.size());
        return lameenc::BE_ERR_SUCCESSFUL;
    }
    lameenc::BE_ERR beDeinitStream(lameenc::HBE_STREAM, uint8_t* output, uint32_t* bytes) override
    {
        FLog.Record(QStringLiteral("beDeinitStream"));
        std::memcpy(output, "flush;", 6);
        *bytes = 6;
        return lameenc::BE_ERR_SUCCESSFUL;
    }
    lameenc::BE_ERR beCloseStream(lameenc::HBE_STREAM) override
    {
        FLog.Record(QStringLiteral("beCloseStream"));
        return lameenc::BE_ERR_SUCCESSFUL;
    }
    lameenc::BE_ERR beGetVBRFrame(lameenc::HBE_STREAM, uint8_t* buffer, uint32_t size,
                                  uint32_t* bytes) override
    {
        *bytes = uint32_t(VBRFrame.size());
        if (size < uint32_t(VBRFrame.size()))
            return lameenc::BE_ERR_BUFFER_TOO_SMALL;
        std::memcpy(buffer, VBRFrame.constData(), size_t(VBRFrame.size()));
        return lameenc::BE_ERR_SUCCESSFUL;
    }

private:
    TFakeCDRip& FLog;
};

class RipRangeTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Dir.isValid());
        Lib.Drives.push_back(TFakeCDRip::MakeDrive("FAKE", {0, 100, 250}, 400));
        Lib.ReadSize = 4 * kSector;
        Rip = std::make_unique<TCDRIP>(nullptr, &Lib);
        Lib.ClearLog();
    }
    QString Path(const QString& name) const { return Dir.filePath(name); }

    QTemporaryDir Dir;
    TFakeCDRip Lib;
    std::unique_ptr<TCDRIP> Rip;
};

TEST_F(RipRangeTest, BarePcmIsWrittenExactlyAsDelivered)
{
    const QByteArray pcm = Pcm(10 * kSector + 100);
    Lib.ScriptPcm(pcm, 4 * kSector);
    Rip->RipRange(0, 9, Path(QStringLiteral("raw.pcm")));
    EXPECT_EQ(ReadFile(Path(QStringLiteral("raw.pcm"))), pcm);
    EXPECT_EQ(Lib.OpenStart, 0);
    EXPECT_EQ(Lib.OpenEnd, 9);
    EXPECT_EQ(Rip->LastFileName(), Path(QStringLiteral("raw.pcm")));
}

TEST_F(RipRangeTest, TheCallsComeInTheLibrarysOrder)
{
    Lib.Script = {{cdrip::CDEX_OK, Pcm(kSector)},
                  {cdrip::CDEX_JITTER_ERROR, Pcm(kSector), 1000, 1005},
                  {cdrip::CDEX_RIPPING_DONE, Pcm(kSector)}};
    Rip->RipRange(0, 2, Path(QStringLiteral("a.pcm")));
    const QStringList expected = {
        QStringLiteral("CR_SetCDROMParameters"),
        QStringLiteral("CR_OpenRipper"),
        QStringLiteral("CR_RipChunk"),
        QStringLiteral("CR_GetPercentCompleted"),
        QStringLiteral("CR_RipChunk"),
        QStringLiteral("CR_GetLastJitterErrorPosition"),
        QStringLiteral("CR_GetPercentCompleted"),
        QStringLiteral("CR_RipChunk"),
        QStringLiteral("CR_GetPercentCompleted"),
        QStringLiteral("CR_GetNumberOfJitterErrors"),
        QStringLiteral("CR_CloseRipper"),
    };
    EXPECT_EQ(Lib.CallLog, expected);
}

TEST_F(RipRangeTest, WavHeaderIsWrittenFirstAndRevisedToTheDataItHolds)
{
    // The first header counts end minus start sectors; here the library delivers the inclusive
    // range, one sector more, and the finished file must say so.
    QByteArray firstHeader;
    Lib.OnRipChunk = [&](int call) {
        if (call == 0)
            firstHeader = ReadFile(Path(QStringLiteral("a.wav")));
    };
    const QByteArray pcm = Pcm(2 * kSector);
    Lib.ScriptPcm(pcm, kSector);
    Rip->WriteWAV = true;
    Rip->RipRange(50, 51, Path(QStringLiteral("a.wav")));

    ASSERT_EQ(firstHeader.size(), 44);
    EXPECT_EQ(U32(firstHeader, 40), 2352u);
    EXPECT_EQ(U32(firstHeader, 4), 2388u);

    const QByteArray wav = ReadFile(Path(QStringLiteral("a.wav")));
    ASSERT_EQ(wav.size(), 44 + pcm.size());
    EXPECT_EQ(wav.left(4), "RIFF");
    EXPECT_EQ(wav.mid(8, 8), "WAVEfmt ");
    EXPECT_EQ(U32(wav, 16), 16u);
    EXPECT_EQ(U16(wav, 20), 1);
    EXPECT_EQ(wav.mid(36, 4), "data");
    EXPECT_EQ(U32(wav, 40), uint32_t(pcm.size()));
    EXPECT_EQ(U32(wav, 4), uint32_t(pcm.size()) + 36);
    EXPECT_EQ(wav.mid(44), pcm);

    // A library that delivers exactly end minus start sectors matches the first header.
    Lib.ScriptPcm(Pcm(kSector), kSector);
    Rip->RipRange(50, 51, Path(QStringLiteral("b.wav")));
    const QByteArray b = ReadFile(Path(QStringLiteral("b.wav")));
    EXPECT_EQ(U32(b, 40), 2352u);
    EXPECT_EQ(U32(b, 4), 2388u);
}

TEST_F(RipRangeTest, WavHeaderDescribesEveryOutputFormatAndReadsInSox)
{
    const struct
    {
        TOutputFormat Format;
        uint16_t Channels;
        uint32_t Rate;
    } rows[] = {{STEREO44100, 2, 44100}, {MONO44100, 1, 44100},   {STEREO22050, 2, 22050},
                {MONO22050, 1, 22050},   {STEREO11025, 2, 11025}, {MONO11025, 1, 11025}};
    for (const auto& row : rows) {
        SCOPED_TRACE(int(row.Format));
        Rip->SetOutputFormat(row.Format);
        const int perSector = cdrip::BytesPerSector(row.Format);
        Lib.ReadSize = 10 * perSector;
        Lib.ScriptPcm(Pcm(75 * perSector), 10 * perSector);
        Rip->WriteWAV = true;
        const QString name = Path(QStringLiteral("f%1.wav").arg(int(row.Format)));
        Rip->RipRange(1000, 1075, name);
        const QByteArray wav = ReadFile(name);
        EXPECT_EQ(U16(wav, 22), row.Channels);
        EXPECT_EQ(U32(wav, 24), row.Rate);
        EXPECT_EQ(U32(wav, 28), row.Rate * row.Channels * 2);
        EXPECT_EQ(U16(wav, 32), row.Channels * 2);
        EXPECT_EQ(U16(wav, 34), 16);
        EXPECT_EQ(U32(wav, 40), uint32_t(75 * perSector));
        if (HaveTool(QStringLiteral("soxi"))) {
            const TToolResult r =
                RunTool(QStringLiteral("soxi"), {QStringLiteral("-c"), QStringLiteral("-r"), name});
            EXPECT_EQ(r.ExitCode, 0) << r.Err.constData();
            const TToolResult s = RunTool(QStringLiteral("soxi"), {QStringLiteral("-s"), name});
            EXPECT_EQ(s.Out.trimmed().toLongLong(), 75 * perSector / 2 / row.Channels);
        }
    }
}

TEST_F(RipRangeTest, StatusOneWritesNothingAndTheLoopGoesOn)
{
    const QByteArray a = Pcm(kSector, 1);
    const QByteArray c = Pcm(kSector, 3);
    Lib.Script = {{cdrip::CDEX_OK, a},
                  {cdrip::CDEX_ERROR, Pcm(kSector, 2)},
                  {cdrip::CDEX_ERROR, Pcm(kSector, 2)},
                  {cdrip::CDEX_RIPPING_DONE, c}};
    std::vector<uint16_t> progress;
    Rip->OnProgress = [&](QObject* sender, uint16_t p) {
        EXPECT_EQ(sender, Rip.get());
        progress.push_back(p);
    };
    Rip->RipRange(0, 2, Path(QStringLiteral("a.pcm")));
    EXPECT_EQ(ReadFile(Path(QStringLiteral("a.pcm"))), a + c);
    EXPECT_EQ(progress, (std::vector<uint16_t>{25, 50, 75, 100}));
}

TEST_F(RipRangeTest, ADiscThatStopsAnsweringEndsTheRangeWithAnError)
{
    // The script runs out after one good chunk: every later call fails, as a removed disc does.
    Lib.Script = {{cdrip::CDEX_OK, Pcm(kSector)}};
    Rip->WriteWAV = true;
    bool ended = false;
    Rip->OnEndTrack = [&](QObject*, uint16_t) { ended = true; };
    Lib.Drives[0] = TFakeCDRip::MakeDrive("FAKE", {0}, 100);
    Rip->SetCDRomNum(0);
    Lib.ClearLog();
    try {
        Rip->RipTrack(1, Path(QStringLiteral("gone.wav")));
        FAIL() << "no exception";
    } catch (const ECDRIPError& e) {
        EXPECT_TRUE(e.Message().startsWith(QStringLiteral("Read error in track 1: ")))
            << qPrintable(e.Message());
    }
    EXPECT_FALSE(ended);
    EXPECT_EQ(Lib.Count(QStringLiteral("CR_RipChunk")), 1 + TCDRIP::MaxFailedChunks);
    EXPECT_EQ(Lib.CallLog.last(), QStringLiteral("CR_CloseRipper"));
    EXPECT_FALSE(Lib.RangeOpen);
    // What was read is kept, in a file that declares it.
    const QByteArray wav = ReadFile(Path(QStringLiteral("gone.wav")));
    EXPECT_EQ(wav.size(), 44 + kSector);
    EXPECT_EQ(U32(wav, 40), uint32_t(kSector));

    // Failures shorter than the bound are only a bad patch.
    std::vector<TFakeCDRip::TChunk> script;
    for (int i = 0; i < TCDRIP::MaxFailedChunks - 1; ++i)
        script.push_back({cdrip::CDEX_ERROR, {}});
    script.push_back({cdrip::CDEX_OK, Pcm(kSector)});
    for (int i = 0; i < TCDRIP::MaxFailedChunks - 1; ++i)
        script.push_back({cdrip::CDEX_ERROR, {}});
    script.push_back({cdrip::CDEX_RIPPING_DONE, Pcm(kSector)});
    Lib.Script = script;
    EXPECT_NO_THROW(Rip->RipTrack(1, Path(QStringLiteral("patchy.wav"))));
    EXPECT_TRUE(ended);
}

TEST_F(RipRangeTest, ALibraryThatNeverDeliversNorFinishesEndsTheRange)
{
    Lib.AfterScript = {cdrip::CDEX_OK, {}};
    EXPECT_THROW(Rip->RipRange(0, 9, Path(QStringLiteral("empty.pcm"))), ECDRIPError);
    EXPECT_EQ(Lib.Count(QStringLiteral("CR_RipChunk")), TCDRIP::MaxFailedChunks);
}

TEST_F(RipRangeTest, FailuresThatLastTooLongEndTheRange)
{
    // Few calls, but each takes long: the wall-clock bound ends it.
    Lib.Script = {{cdrip::CDEX_OK, Pcm(kSector)}};
    Lib.OnRipChunk = [](int call) {
        if (call > 0)
            std::this_thread::sleep_for(
                std::chrono::milliseconds(TCDRIP::MaxFailedMilliseconds / 3));
    };
    EXPECT_THROW(Rip->RipRange(0, 9, Path(QStringLiteral("slow.pcm"))), ECDRIPError);
    EXPECT_LE(Lib.Count(QStringLiteral("CR_RipChunk")), 1 + 4);
}

TEST_F(RipRangeTest, JitterErrorsAreLoggedAndTheirDataKept)
{
    const QByteArray a = Pcm(kSector, 1);
    const QByteArray b = Pcm(kSector, 2);
    Lib.Script = {{cdrip::CDEX_JITTER_ERROR, a, 1000, 1005},
                  {cdrip::CDEX_JITTER_ERROR, b, -1, 7},
                  {cdrip::CDEX_RIPPING_DONE, {}}};
    Lib.JitterErrorCount = 2;
    Rip->JitterLog << QStringLiteral("earlier");
    Rip->RipRange(0, 1, Path(QStringLiteral("j.pcm")));
    EXPECT_EQ(ReadFile(Path(QStringLiteral("j.pcm"))), a + b);
    EXPECT_EQ(Rip->JitterLog, (QStringList{QStringLiteral("earlier"), QStringLiteral("1000 1005"),
                                           QStringLiteral("4294967295 7")}));
    EXPECT_EQ(Rip->JitterErrors, 2);
}

TEST_F(RipRangeTest, StatusFourEndsTheRangeWithItsData)
{
    Lib.Script = {{cdrip::CDEX_RIPPING_DONE, Pcm(kSector)}, {cdrip::CDEX_OK, Pcm(kSector)}};
    Rip->RipRange(0, 1, Path(QStringLiteral("a.pcm")));
    EXPECT_EQ(Lib.Count(QStringLiteral("CR_RipChunk")), 1);
    EXPECT_EQ(ReadFile(Path(QStringLiteral("a.pcm"))), Pcm(kSector));
}

TEST_F(RipRangeTest, CancelFromAnEventEndsAfterTheCurrentChunk)
{
    Lib.ScriptPcm(Pcm(20 * kSector), kSector);
    Rip->WriteWAV = true;
    // An event the window runs while the first chunk is read.
    Lib.OnRipChunk = [this](int) { Rip->AbortRip(); };
    Rip->RipRange(0, 19, Path(QStringLiteral("c.wav")));
    EXPECT_TRUE(Rip->Aborted);
    EXPECT_EQ(Lib.Count(QStringLiteral("CR_RipChunk")), 1);
    EXPECT_EQ(Lib.CallLog.last(), QStringLiteral("CR_CloseRipper"));
    const QByteArray wav = ReadFile(Path(QStringLiteral("c.wav")));
    EXPECT_EQ(wav.size(), 44 + kSector);
    EXPECT_EQ(U32(wav, 40), uint32_t(kSector)); // declares what it holds, not the whole range

    // The next range starts afresh.
    Lib.OnRipChunk = nullptr;
    Lib.ScriptPcm(Pcm(2 * kSector), kSector);
    Rip->RipRange(0, 1, Path(QStringLiteral("d.wav")));
    EXPECT_FALSE(Rip->Aborted);
    EXPECT_EQ(ReadFile(Path(QStringLiteral("d.wav"))).size(), 44 + 2 * kSector);
}

TEST_F(RipRangeTest, ARangeThatNeverOpensCreatesNothingAndSaysWhy)
{
    Lib.OpenStatus = cdrip::CDEX_ERROR;
    bool progressed = false;
    Rip->OnProgress = [&](QObject*, uint16_t) { progressed = true; };
    try {
        Rip->RipRange(0, 9, Path(QStringLiteral("none.wav")));
        ADD_FAILURE() << "no exception";
    } catch (const ECDRIPError& e) {
        EXPECT_TRUE(e.Message().startsWith(QStringLiteral("The drive could not be opened")));
    }
    EXPECT_FALSE(QFile::exists(Path(QStringLiteral("none.wav"))));
    EXPECT_FALSE(progressed);
    EXPECT_TRUE(Rip->LastFileName().isEmpty());
    EXPECT_EQ(Lib.Count(QStringLiteral("CR_OpenRipper")), 1) << "an image is not waited for";
    EXPECT_EQ(Lib.Count(QStringLiteral("CR_RipChunk")), 0);
}

TEST_F(RipRangeTest, ADriveBecomingReadyIsWaitedFor)
{
    Lib.Drives[0].Params.nSpinUpTime = 2;
    Rip->SetCDRomNum(0);
    // Not ready for about half a second, then the range opens and reads.
    Lib.OpenFailures = 5;
    Lib.ScriptPcm(Pcm(2 * kSector), kSector);
    Rip->RipRange(0, 1, Path(QStringLiteral("late.pcm")));
    EXPECT_EQ(ReadFile(Path(QStringLiteral("late.pcm"))).size(), 2 * kSector);
    EXPECT_EQ(Lib.Count(QStringLiteral("CR_OpenRipper")), 6);

    // Never ready: given up after the drive's own limit. Aborted while waiting: no message.
    Lib.OpenStatus = cdrip::CDEX_ERROR;
    QElapsedTimer clock;
    clock.start();
    EXPECT_THROW(Rip->RipRange(0, 1, Path(QStringLiteral("never.pcm"))), ECDRIPError);
    EXPECT_GE(clock.elapsed(), 2000);
    EXPECT_LT(clock.elapsed(), 4000);
    QTimer::singleShot(300, [&] { Rip->AbortRip(); });
    clock.restart();
    EXPECT_NO_THROW(Rip->RipRange(0, 1, Path(QStringLiteral("never.pcm"))));
    EXPECT_LT(clock.elapsed(), 1500);
    EXPECT_FALSE(QFile::exists(Path(QStringLiteral("never.pcm"))));
}

TEST_F(RipRangeTest, RefusedParametersRaiseBeforeAnythingOpens)
{
    Lib.SetParamsStatus = cdrip::CDEX_ERROR;
    try {
        Rip->RipRange(0, 9, Path(QStringLiteral("x.wav")));
        FAIL() << "no exception";
    } catch (const ECDRIPError& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Invalid CD-ROM parameters"));
    }
    EXPECT_EQ(Lib.Count(QStringLiteral("CR_OpenRipper")), 0);
    EXPECT_FALSE(QFile::exists(Path(QStringLiteral("x.wav"))));
}

TEST_F(RipRangeTest, TheReadOffsetReachesTheLibraryAndOneNoDriveHasIsRefused)
{
    Rip->ReadOffset = -667;
    Lib.Script = {{cdrip::CDEX_RIPPING_DONE, Pcm(kSector, 1)}};
    Rip->RipRange(0, 9, Path(QStringLiteral("a.wav")));
    EXPECT_EQ(Lib.LastSetParams.nOffsetStart, -667);
    Rip->ReadOffset = 66700;
    try {
        Rip->RipRange(0, 9, Path(QStringLiteral("b.wav")));
        FAIL() << "no exception";
    } catch (const ECDRIPError& e) {
        EXPECT_TRUE(e.Message().startsWith(QStringLiteral("The read offset 66700 is not one")));
    }
    EXPECT_EQ(Lib.Count(QStringLiteral("CR_OpenRipper")), 1);
    EXPECT_FALSE(QFile::exists(Path(QStringLiteral("b.wav"))));
}

TEST_F(RipRangeTest, AFileThatCannotBeCreatedClosesTheRangeFirst)
{
    Lib.ScriptPcm(Pcm(kSector), kSector);
    const QString name = Path(QStringLiteral("no/such/folder/x.wav"));
    try {
        Rip->RipRange(0, 0, name);
        FAIL() << "no exception";
    } catch (const EFCreateError& e) {
        EXPECT_EQ(e.Message(),
                  QStringLiteral("Cannot create file ") + name + QStringLiteral(": the folder ") +
                      Path(QStringLiteral("no/such/folder")) + QStringLiteral(" does not exist"));
    }
    EXPECT_EQ(Lib.CallLog.last(), QStringLiteral("CR_CloseRipper"));
    EXPECT_EQ(Lib.Count(QStringLiteral("CR_RipChunk")), 0);

    // A title longer than a file name may be says so, in the bytes the file system counts.
    const QString tooLong = Path(QString(150, QChar(0xE9)) + QStringLiteral(".wav"));
    try {
        Rip->RipRange(0, 0, tooLong);
        FAIL() << "no exception";
    } catch (const EFCreateError& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Cannot create file ") + tooLong +
                                   QStringLiteral(": the name is longer than the file system "
                                                  "allows (304 bytes; at most 255)"));
    }

    // An empty name is never taken as a file in the working folder.
    Rip->Encode = true;
    EXPECT_THROW(Rip->RipRange(0, 0, QString()), EFCreateError);
    EXPECT_FALSE(QFile::exists(QStringLiteral(".mp3")));
    EXPECT_THROW(Rip->RipRange(0, 0, Dir.path() + QLatin1Char('/')), EFCreateError);
    EXPECT_FALSE(QFile::exists(Path(QStringLiteral(".mp3"))));
}

TEST_F(RipRangeTest, AFullDiskRaisesWriteErrorAndSkipsOnEndTrack)
{
    Lib.Drives[0] = TFakeCDRip::MakeDrive("FAKE", {0}, 40);
    Rip->SetCDRomNum(0);
    Lib.ScriptPcm(Pcm(40 * kSector), 4 * kSector);
    Rip->WriteWAV = true;
    bool began = false;
    bool ended = false;
    Rip->OnBeginTrack = [&](QObject*, uint16_t n) { began = n == 1; };
    Rip->OnEndTrack = [&](QObject*, uint16_t) { ended = true; };
    {
        TFileSizeLimit limit(5 * kSector);
        // The message names the file the user will look for, with the system's reason.
        Rip->ShownFileName = Path(QStringLiteral("Final.wav"));
        try {
            Rip->RipTrack(1, Path(QStringLiteral("full.wav")));
            FAIL() << "no exception";
        } catch (const ECDRIPError& e) {
            EXPECT_EQ(e.Message(), QStringLiteral("Write error: ") +
                                       Path(QStringLiteral("Final.wav")) +
                                       QStringLiteral(": file too large"));
        }
        Rip->ShownFileName.clear();
    }
    EXPECT_TRUE(began);
    EXPECT_FALSE(ended);
    EXPECT_FALSE(Lib.RangeOpen);
    EXPECT_EQ(Lib.Count(QStringLiteral("CR_CloseRipper")), 1);
    // The file is closed and declares the whole PCM it got before the disk filled.
    const QByteArray wav = ReadFile(Path(QStringLiteral("full.wav")));
    EXPECT_LE(wav.size(), 5 * kSector);
    EXPECT_EQ(U32(wav, 40) % kSector, 0u);
    EXPECT_LE(qint64(U32(wav, 40)) + 44, wav.size());
}

TEST_F(RipRangeTest, RipTrackExtractsTheTracksInclusiveRange)
{
    std::vector<uint16_t> events;
    Rip->OnBeginTrack = [&](QObject* s, uint16_t n) {
        EXPECT_EQ(s, Rip.get());
        events.push_back(n);
    };
    Rip->OnEndTrack = [&](QObject*, uint16_t n) { events.push_back(uint16_t(100 + n)); };
    Lib.ScriptPcm(Pcm(kSector), kSector);
    Rip->RipTrack(2, Path(QStringLiteral("t2.wav")));
    EXPECT_EQ(Lib.OpenStart, 100);
    EXPECT_EQ(Lib.OpenEnd, 249);
    EXPECT_EQ(events, (std::vector<uint16_t>{2, 102}));

    EXPECT_THROW(Rip->RipTrack(4, Path(QStringLiteral("t4.wav"))), ECDRIPError);
    EXPECT_THROW(Rip->RipTrack(0, Path(QStringLiteral("t0.wav"))), ECDRIPError);
}

// The disc is read on one thread and the file written on another: the corners where they meet.
TEST_F(RipRangeTest, CancelAtTheFirstAMiddleAndTheLastChunkKeepsEveryChunkRead)
{
    constexpr int chunks = 12;
    const QByteArray pcm = Pcm(chunks * kSector);
    Rip->WriteWAV = true;
    for (const int at : {0, chunks / 2, chunks - 1}) {
        SCOPED_TRACE(at);
        Lib.ClearLog();
        Lib.ScriptPcm(pcm, kSector);
        Lib.OnRipChunk = [&](int call) {
            if (call == at)
                Rip->AbortRip();
        };
        const QString name = Path(QStringLiteral("c%1.wav").arg(at));
        Rip->RipRange(0, chunks - 1, name);
        EXPECT_EQ(Lib.Count(QStringLiteral("CR_RipChunk")), at + 1);
        EXPECT_EQ(Lib.CallLog.last(), QStringLiteral("CR_CloseRipper"));
        const QByteArray wav = ReadFile(name);
        EXPECT_EQ(U32(wav, 40), uint32_t((at + 1) * kSector));
        EXPECT_TRUE(wav.mid(44) == pcm.left((at + 1) * kSector));
    }
}

TEST_F(RipRangeTest, AWriteFailingWhileTheReaderWaitsForRoomStopsBoth)
{
    // Chunks of a second each: the queue holds two, so the reader soon waits for the writer.
    constexpr int second = 75 * kSector;
    Lib.ReadSize = second;
    Lib.ScriptPcm(Pcm(20 * second), second);
    Rip->WriteWAV = true;
    {
        TFileSizeLimit limit(2 * second + 1000);
        try {
            Rip->RipRange(0, 20 * 75 - 1, Path(QStringLiteral("full.wav")));
            FAIL() << "no exception";
        } catch (const ECDRIPError& e) {
            EXPECT_TRUE(e.Message().startsWith(QStringLiteral("Write error")))
                << qPrintable(e.Message());
        }
    }
    // The failing chunk, one queued behind it and one being read at most.
    EXPECT_LE(Lib.Count(QStringLiteral("CR_RipChunk")), 5);
    EXPECT_EQ(Lib.Count(QStringLiteral("CR_CloseRipper")), 1);
    EXPECT_FALSE(Lib.RangeOpen);
    const QByteArray wav = ReadFile(Path(QStringLiteral("full.wav")));
    EXPECT_EQ(U32(wav, 40), uint32_t(2 * second));
}

TEST_F(RipRangeTest, TheWindowRunsOnWhileOneReadStalls)
{
    Lib.ScriptPcm(Pcm(6 * kSector), kSector);
    std::atomic<bool> stalling{false};
    Lib.OnRipChunkInReader = [&](int call) {
        if (call != 3)
            return;
        stalling = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        stalling = false;
    };
    std::vector<uint16_t> progress;
    Rip->OnProgress = [&](QObject*, uint16_t p) { progress.push_back(p); };
    int ticksInStall = 0;
    size_t progressInStall = 0;
    QTimer timer;
    timer.setInterval(10);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (stalling) {
            ++ticksInStall;
            progressInStall = progress.size();
        }
    });
    timer.start();
    Rip->RipRange(0, 5, Path(QStringLiteral("s.pcm")));
    // A frozen window would tick once at most, after the stall.
    EXPECT_GE(ticksInStall, 20);
    // The chunks read before the stall were reported during it.
    EXPECT_EQ(progressInStall, 3u);
    EXPECT_EQ(progress.size(), 6u);
    EXPECT_EQ(ReadFile(Path(QStringLiteral("s.pcm"))).size(), 6 * kSector);
}

class RipMp3Test : public RipRangeTest
{
protected:
    void SetUp() override
    {
        RipRangeTest::SetUp();
        Coder = std::make_unique<TLameCoder>(nullptr, &Enc);
        Rip->SetCoder(Coder.get());
        Rip->Encode = true;
    }
    TScriptedLameEnc Enc{Lib};
    std::unique_ptr<TLameCoder> Coder;
};

TEST_F(RipMp3Test, ChunksAreCutToTheEncodersSizeAndTheTailIsKept)
{
    // 10 sectors of stereo: 23520 bytes = 5 chunks of 4608 bytes and 480 bytes over.
    Lib.ScriptPcm(Pcm(10 * kSector), 3 * kSector);
    Rip->RipRange(0, 9, Path(QStringLiteral("song.wav")));
    EXPECT_FALSE(QFile::exists(Path(QStringLiteral("song.wav"))));
    EXPECT_EQ(Rip->LastFileName(), Path(QStringLiteral("song.mp3")));
    EXPECT_EQ(Enc.Encoded, (std::vector<uint32_t>{2304, 2304, 2304, 2304, 2304, 240}));
    EXPECT_EQ(ReadFile(Path(QStringLiteral("song.mp3"))), Enc.Expected());
    EXPECT_EQ(Coder->PCMSampleRate(), 44100u);
    EXPECT_EQ(Coder->PCMChannels(), 2u);
    EXPECT_EQ(Lib.CallLog.first(), QStringLiteral("CR_SetCDROMParameters"));
    EXPECT_EQ(Lib.CallLog.mid(1, 2),
              (QStringList{QStringLiteral("CR_OpenRipper"), QStringLiteral("beInitStream")}));
    EXPECT_EQ(Lib.CallLog.mid(Lib.CallLog.size() - 4),
              (QStringList{QStringLiteral("beDeinitStream"), QStringLiteral("beCloseStream"),
                           QStringLiteral("CR_GetNumberOfJitterErrors"),
                           QStringLiteral("CR_CloseRipper")}));
}

TEST_F(RipMp3Test, ExtensionsBecomeMp3)
{
    const struct
    {
        const char* In;
        const char* Out;
    } rows[] = {{"a.wav", "a.mp3"},
                {"a.b.wav", "a.b.mp3"},
                {"noext", "noext.mp3"},
                {"dotted.dir/name", "dotted.dir/name.mp3"}};
    QDir(Dir.path()).mkpath(QStringLiteral("dotted.dir"));
    for (const auto& row : rows) {
        Lib.ScriptPcm(Pcm(kSector), kSector);
        Rip->RipRange(0, 0, Path(QString::fromLatin1(row.In)));
        EXPECT_TRUE(QFile::exists(Path(QString::fromLatin1(row.Out)))) << row.Out;
    }
}

TEST_F(RipMp3Test, LowerRatesAndMonoFeedTheEncoderTheirLayout)
{
    Rip->SetOutputFormat(MONO22050);
    Lib.ScriptPcm(Pcm(8 * 588), 588);
    Rip->RipRange(0, 7, Path(QStringLiteral("m.mp3")));
    EXPECT_EQ(Coder->PCMSampleRate(), 22050u);
    EXPECT_EQ(Coder->PCMChannels(), 1u);
    EXPECT_EQ(Enc.LastConfig.dwSampleRate, 22050u);
    // 4704 bytes of mono: one chunk of 2304 samples and a tail of 48.
    EXPECT_EQ(Enc.Encoded, (std::vector<uint32_t>{2304, 48}));
}

TEST_F(RipMp3Test, CancelStillFlushesTheEncoder)
{
    Lib.ScriptPcm(Pcm(20 * kSector), 2 * kSector);
    Lib.OnRipChunk = [&](int call) {
        if (call == 1)
            Rip->AbortRip();
    };
    Rip->RipRange(0, 19, Path(QStringLiteral("c.mp3")));
    EXPECT_EQ(Lib.Count(QStringLiteral("CR_RipChunk")), 2);
    const QByteArray mp3 = ReadFile(Path(QStringLiteral("c.mp3")));
    EXPECT_TRUE(mp3.endsWith("flush;"));
    EXPECT_EQ(mp3, Enc.Expected());
    EXPECT_EQ(Lib.Count(QStringLiteral("beCloseStream")), 1);
}

TEST_F(RipMp3Test, CancelAtTheFirstAMiddleAndTheLastChunkEncodesEveryChunkRead)
{
    constexpr int chunks = 10;
    for (const int at : {0, chunks / 2, chunks - 1}) {
        SCOPED_TRACE(at);
        Enc.Encoded.clear();
        Lib.ScriptPcm(Pcm(chunks * kSector), kSector);
        Lib.OnRipChunk = [&](int call) {
            if (call == at)
                Rip->AbortRip();
        };
        const QString name = Path(QStringLiteral("c%1.mp3").arg(at));
        Rip->RipRange(0, chunks - 1, name);
        // Every sample read went to the encoder, in order, the tail included, then the flush.
        uint32_t samples = 0;
        for (const uint32_t n : Enc.Encoded)
            samples += n;
        EXPECT_EQ(samples, uint32_t((at + 1) * kSector / 2));
        EXPECT_EQ(ReadFile(name), Enc.Expected());
    }
    EXPECT_EQ(Lib.Count(QStringLiteral("beCloseStream")), 3);
}

TEST_F(RipMp3Test, AnEncoderFailingInTheMiddleEndsTheRangeWithWhatItEncoded)
{
    Enc.FailChunk = 3;
    Lib.ScriptPcm(Pcm(20 * kSector), kSector);
    try {
        Rip->RipRange(0, 19, Path(QStringLiteral("e.mp3")));
        FAIL() << "no exception";
    } catch (const ECDRIPError& e) {
        EXPECT_TRUE(e.Message().contains(QStringLiteral("encoder"))) << qPrintable(e.Message());
    }
    EXPECT_EQ(Enc.Encoded.size(), 3u);
    EXPECT_EQ(ReadFile(Path(QStringLiteral("e.mp3"))), Enc.Expected());
    EXPECT_EQ(Lib.Count(QStringLiteral("beCloseStream")), 1);
    EXPECT_EQ(Lib.CallLog.last(), QStringLiteral("CR_CloseRipper"));
}

TEST_F(RipMp3Test, TheFinishedVbrFrameReplacesThePlaceholder)
{
    Coder->SetEnableVBR(-1);
    Enc.VBRFrame = "VBRHDR";
    Lib.ScriptPcm(Pcm(4 * kSector), kSector);
    Rip->RipRange(0, 3, Path(QStringLiteral("v.mp3")));
    const QByteArray expected = Enc.Expected();
    const QByteArray mp3 = ReadFile(Path(QStringLiteral("v.mp3")));
    ASSERT_EQ(mp3.size(), expected.size());
    EXPECT_EQ(mp3, "VBRHDR" + expected.mid(6));

    // A frame longer than the stream's data is not written past it.
    Enc.VBRFrame = QByteArray(4096, 'V');
    Lib.ScriptPcm(Pcm(kSector), kSector);
    Rip->RipRange(0, 0, Path(QStringLiteral("w.mp3")));
    EXPECT_FALSE(ReadFile(Path(QStringLiteral("w.mp3"))).contains('V'));
}

TEST_F(RipMp3Test, AStreamThatFailsToOpenEndsTheRangeWithoutAFile)
{
    Enc.InitResult = lameenc::BE_ERR_INVALID_FORMAT_PARAMETERS;
    Lib.ScriptPcm(Pcm(4 * kSector), kSector);
    try {
        Rip->RipRange(0, 3, Path(QStringLiteral("bad.mp3")));
        FAIL() << "no exception";
    } catch (const ECDRIPError& e) {
        EXPECT_TRUE(e.Message().startsWith(
            QStringLiteral("The MP3 encoder could not be started (error 2): it refused these "
                           "settings together: sample rate 44100 Hz, ")))
            << qPrintable(e.Message());
    }
    EXPECT_TRUE(Enc.Encoded.empty());
    EXPECT_EQ(Lib.Count(QStringLiteral("CR_RipChunk")), 0);
    EXPECT_EQ(Lib.Count(QStringLiteral("beDeinitStream")), 0);
    EXPECT_EQ(Lib.CallLog.last(), QStringLiteral("CR_CloseRipper"));
    EXPECT_FALSE(QFile::exists(Path(QStringLiteral("bad.mp3"))));
}

TEST_F(RipMp3Test, ACreateFailureStillClosesTheStream)
{
    Lib.ScriptPcm(Pcm(kSector), kSector);
    EXPECT_THROW(Rip->RipRange(0, 0, Path(QStringLiteral("missing/x.mp3"))), EFCreateError);
    EXPECT_EQ(Lib.Count(QStringLiteral("beDeinitStream")), 1);
    EXPECT_EQ(Lib.Count(QStringLiteral("beCloseStream")), 1);
}

TEST_F(RipMp3Test, WithoutACoderTheFileStaysEmpty)
{
    Rip->SetCoder(nullptr);
    Lib.ScriptPcm(Pcm(4 * kSector), kSector);
    Rip->RipRange(0, 3, Path(QStringLiteral("e.wav")));
    EXPECT_TRUE(QFile::exists(Path(QStringLiteral("e.mp3"))));
    EXPECT_TRUE(ReadFile(Path(QStringLiteral("e.mp3"))).isEmpty());
}

// The real encoder behind the component: the file decodes at the coder's rate and the track's
// length, whatever the PCM layout the library delivers.
TEST(RipRealEncoder, Mp3DecodesWithTheTracksLength)
{
    if (!HaveTool(QStringLiteral("mpg123")))
        GTEST_SKIP() << "mpg123 is not installed";
    QTemporaryDir dir;
    TFakeCDRip lib;
    lib.Drives.push_back(TFakeCDRip::MakeDrive("FAKE", {0}, 225));
    lib.ReadSize = 13 * kSector;
    TCDRIP rip(nullptr, &lib);
    TLameCoder coder;
    rip.SetCoder(&coder);
    rip.Encode = true;

    const struct
    {
        TOutputFormat Format;
        bool Vbr;
        int Channels;
        int Rate;
    } rows[] = {{STEREO44100, false, 2, 44100},
                {STEREO44100, true, 2, 44100},
                {MONO22050, false, 1, 22050}};
    for (const auto& row : rows) {
        SCOPED_TRACE(int(row.Format) * 10 + row.Vbr);
        rip.SetOutputFormat(row.Format);
        coder.SetEnableVBR(row.Vbr ? -1 : 0);
        const int perSector = cdrip::BytesPerSector(row.Format);
        // Three seconds of a 440 Hz tone in the delivered layout.
        QByteArray pcm(225 * perSector, '\0');
        auto* s = reinterpret_cast<int16_t*>(pcm.data());
        const int frames = pcm.size() / 2 / row.Channels;
        for (int i = 0; i < frames; ++i)
            for (int c = 0; c < row.Channels; ++c)
                s[i * row.Channels + c] = int16_t(8000 * std::sin(i * 2 * M_PI * 440 / row.Rate));
        lib.ScriptPcm(pcm, 13 * perSector);
        const QString name = dir.filePath(QStringLiteral("tone%1.mp3").arg(int(row.Vbr)));
        rip.RipRange(0, 224, name);

        const TToolResult r =
            RunTool(QStringLiteral("mpg123"), {QStringLiteral("-q"), QStringLiteral("-s"), name});
        ASSERT_EQ(r.ExitCode, 0) << r.Err.constData();
        const TToolResult info =
            RunTool(QStringLiteral("mpg123"), {QStringLiteral("-t"), QStringLiteral("-v"), name});
        const QByteArray layout =
            QByteArray::number(row.Rate) + (row.Channels == 2 ? " stereo" : " mono");
        EXPECT_TRUE(info.Err.contains(layout)) << info.Err.constData();
        // Without the length frame the encoder's delay and padding stay: at most two frames.
        const qint64 decodedFrames = r.Out.size() / 2 / row.Channels;
        EXPECT_NEAR(double(decodedFrames), double(frames), 2 * 1152);
        if (row.Vbr) {
            const QByteArray mp3 = ReadFile(name);
            EXPECT_TRUE(mp3.left(200).contains("Xing")) << "the finished VBR frame is missing";
            EXPECT_EQ(decodedFrames, frames); // the frame tells the decoder the exact length
        }
    }
}

} // namespace
