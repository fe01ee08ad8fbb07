// The extraction job end to end over a generated disc image with the real ripping library and
// the real encoder: WAV files bit for bit, MP3 files that outside tools decode at the chosen
// rate and channel count and whose title tag they read back.
#include "ui/uprg.h"

#include "app/globals.h"
#include "platform/cdrip/LibCdioRipLibrary.h"
#include "support/DiscImage.h"
#include "support/Tools.h"
#include "support/gui/MessageBoxAnswerer.h"
#include "support/gui/ShellRecorder.h"
#include "ui/uMain.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QtEndian>

#include <gtest/gtest.h>
#include <memory>

namespace {

QByteArray ReadFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

struct TDecoded
{
    int Channels = 0;
    int Rate = 0;
    qint64 Frames = 0;
};

// Decodes with mpg123 into a WAV file and reads its format and length.
TDecoded Mpg123(const QString& mp3, const QString& wav)
{
    TDecoded d;
    const TToolResult r =
        RunTool(QStringLiteral("mpg123"), {QStringLiteral("-q"), QStringLiteral("-w"), wav, mp3});
    EXPECT_EQ(r.ExitCode, 0) << r.Err.toStdString();
    const QByteArray b = ReadFile(wav);
    qsizetype pos = 12;
    while (b.startsWith("RIFF") && pos + 8 <= b.size()) {
        const QByteArray id = b.mid(pos, 4);
        const quint32 size = qFromLittleEndian<quint32>(b.constData() + pos + 4);
        if (id == "fmt " && pos + 16 <= b.size()) {
            d.Channels = qFromLittleEndian<quint16>(b.constData() + pos + 10);
            d.Rate = int(qFromLittleEndian<quint32>(b.constData() + pos + 12));
        } else if (id == "data" && d.Channels > 0) {
            // mpg123 may leave the size open when writing; the bytes that follow count.
            const qint64 bytes = std::min<qint64>(size, b.size() - pos - 8);
            d.Frames = bytes / (2 * d.Channels);
            break;
        }
        pos += 8 + size + (size & 1);
    }
    return d;
}

// The real library, made as slow as a real drive when asked: every chunk takes its time.
class TSlowRip final : public cdrip::ICDRipLibrary
{
public:
    explicit TSlowRip(cdrip::ICDRipLibrary& lib) : L(lib) {}
    int ChunkMs = 0;

    cdrip::CDSTATUS CR_Init() override { return L.CR_Init(); }
    int32_t CR_GetCDRipVersion() override { return L.CR_GetCDRipVersion(); }
    int32_t CR_GetNumCDROM() override { return L.CR_GetNumCDROM(); }
    cdrip::CDSTATUS CR_SetActiveCDROM(int32_t d) override { return L.CR_SetActiveCDROM(d); }
    int32_t CR_GetActiveCDROM() override { return L.CR_GetActiveCDROM(); }
    cdrip::CDSTATUS CR_GetCDROMParameters(cdrip::CDROMPARAMS* p) override
    {
        return L.CR_GetCDROMParameters(p);
    }
    cdrip::CDSTATUS CR_SetCDROMParameters(const cdrip::CDROMPARAMS* p) override
    {
        return L.CR_SetCDROMParameters(p);
    }
    cdrip::CDSTATUS CR_ReadToc() override { return L.CR_ReadToc(); }
    int32_t CR_GetNumTocEntries() override { return L.CR_GetNumTocEntries(); }
    cdrip::TOCENTRY CR_GetTocEntry(int32_t i) override { return L.CR_GetTocEntry(i); }
    cdrip::CDSTATUS CR_OpenRipper(int32_t* size, int32_t first, int32_t last) override
    {
        return L.CR_OpenRipper(size, first, last);
    }
    cdrip::CDSTATUS CR_RipChunk(uint8_t* buffer, int32_t* bytes, int32_t abort) override
    {
        if (ChunkMs > 0)
            QThread::msleep(ChunkMs);
        return L.CR_RipChunk(buffer, bytes, abort);
    }
    int32_t CR_GetPercentCompleted() override { return L.CR_GetPercentCompleted(); }
    cdrip::CDSTATUS CR_GetLastJitterErrorPosition(int32_t* a, int32_t* b) override
    {
        return L.CR_GetLastJitterErrorPosition(a, b);
    }
    int32_t CR_GetNumberOfJitterErrors() override { return L.CR_GetNumberOfJitterErrors(); }
    cdrip::CDSTATUS CR_CloseRipper() override { return L.CR_CloseRipper(); }
    cdrip::CDSTATUS CR_PlayTrack(int32_t t) override { return L.CR_PlayTrack(t); }
    cdrip::CDSTATUS CR_StopPlayTrack() override { return L.CR_StopPlayTrack(); }
    cdrip::CDSTATUS CR_PauseCD(int32_t p) override { return L.CR_PauseCD(p); }
    cdrip::CDSTATUS CR_EjectCD(int32_t e) override { return L.CR_EjectCD(e); }
    cdrip::CDSTATUS CR_GetPlayPosition(int32_t* r, int32_t* a) override
    {
        return L.CR_GetPlayPosition(r, a);
    }

private:
    cdrip::ICDRipLibrary& L;
};

class DiscJobTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Dir.isValid());
        SetDefaultSettings();
        QFile::remove(SettingsFileName());
        QFile::remove(AlbumInfoFileName());
        Settings.OutDir = Dir.filePath(QStringLiteral("Music"));
        Settings.OpenWhenDone = false;

        ASSERT_TRUE(Image.Write(Dir.path(), {{300}, {375}, {450}, {225}}, 11))
            << qPrintable(Image.Error);
        cdrip::TCDRipOptions options;
        options.SoundDevice = false;
        // The library makes its drive list when it starts, from CDRIP_DRIVES as it is then.
        qputenv("CDRIP_DRIVES", QFile::encodeName(Image.CuePath));
        Lib = cdrip::CreateCDRipLibrary(options);
        Slow = std::make_unique<TSlowRip>(*Lib);
        Main = std::make_unique<TfrmMain>(Slow.get());
        qputenv("CDRIP_DRIVES", QByteArray());
        Main->Timer1->stop();
        ASSERT_EQ(Main->ListView1->RowCount(), 4) << "a physical drive is present";
    }

    int Run(bool toWav)
    {
        Tfrmprg frm(Main.get());
        Window = &frm;
        frm.ToWAV = toWav;
        frm.Timer1->setInterval(20);
        const int result = frm.exec();
        Window = nullptr;
        return result;
    }

    void TickOnly(std::initializer_list<int> rows)
    {
        for (int i = 0; i < Main->ListView1->RowCount(); ++i)
            Main->ListView1->Row(i)->SetChecked(false);
        for (int i : rows)
            Main->ListView1->Row(i)->SetChecked(true);
    }

    QString Out(const QString& name) const { return Settings.OutDir + QLatin1Char('/') + name; }

    QTemporaryDir Dir;
    TDiscImage Image;
    std::unique_ptr<cdrip::ICDRipLibrary> Lib;
    std::unique_ptr<TSlowRip> Slow;
    std::unique_ptr<TfrmMain> Main;
    TMessageBoxAnswerer Boxes;
    TShellRecorder Shell;
    Tfrmprg* Window = nullptr;
};

TEST_F(DiscJobTest, WavFilesHoldTheDiscBitForBit)
{
    TickOnly({0, 1, 2, 3});
    EXPECT_EQ(Run(true), mrOk);

    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        const QString name = Out(QStringLiteral("Track%1.wav").arg(i + 1, 2, 10, QLatin1Char('0')));
        const QByteArray wav = ReadFile(name);
        const QByteArray expected = Image.TrackBytes(i);
        ASSERT_EQ(wav.size(), 44 + expected.size());
        EXPECT_TRUE(wav.mid(44) == expected) << "the PCM differs from the disc";
        EXPECT_EQ(Main->ListView1->Row(i)->SubItem(TTrackRow::siStatus), QStringLiteral("OK"));
        if (HaveTool(QStringLiteral("soxi"))) {
            const TToolResult r = RunTool(QStringLiteral("soxi"), {name});
            ASSERT_EQ(r.ExitCode, 0) << r.Err.toStdString();
            const QString info = QString::fromUtf8(r.Out);
            EXPECT_TRUE(info.contains(QStringLiteral("Channels       : 2"))) << r.Out.toStdString();
            EXPECT_TRUE(info.contains(QStringLiteral("Sample Rate    : 44100")));
            EXPECT_TRUE(info.contains(QStringLiteral("= %1 samples").arg(expected.size() / 4)))
                << r.Out.toStdString();
        }
    }
}

TEST_F(DiscJobTest, Mp3FilesDecodeAndCarryTheRowTitle)
{
    if (!HaveTool(QStringLiteral("mpg123")))
        GTEST_SKIP() << "mpg123 missing";
    TickOnly({1, 3});
    Main->ListView1->Row(1)->SetCaption(QStringLiteral("Caf\u00e9 del Mar"));
    Main->ListView1->Row(3)->SetCaption(QStringLiteral("Last One"));
    EXPECT_EQ(Run(false), mrOk);

    for (int i : {1, 3}) {
        SCOPED_TRACE(i);
        const QString title = Main->ListView1->Row(i)->Caption();
        const QString mp3 = Out(title + QStringLiteral(".mp3"));
        ASSERT_TRUE(QFile::exists(mp3));
        const TDecoded d = Mpg123(mp3, Dir.filePath(QStringLiteral("decoded%1.wav").arg(i)));
        EXPECT_EQ(d.Channels, 2);
        EXPECT_EQ(d.Rate, 44100);
        const qint64 frames = Image.Tracks[i].Sectors * 588;
        EXPECT_NEAR(double(d.Frames), double(frames), 44100 * 0.1);

        const TToolResult r = RunTool(MutagenPython(), {QStringLiteral("-c"), QStringLiteral(R"(
import sys, mutagen.id3
t = mutagen.id3.ID3(sys.argv[1])
sys.stdout.buffer.write(str(t["TIT2"]).encode("utf-8"))
)"),
                                                        mp3});
        if (r.ExitCode != 0 && r.Err.contains("No module named"))
            GTEST_SKIP() << "mutagen missing";
        ASSERT_EQ(r.ExitCode, 0) << r.Err.toStdString();
        EXPECT_EQ(QString::fromUtf8(r.Out), title);
    }
}

TEST_F(DiscJobTest, Mp3HonoursTheChosenRateAndMono)
{
    if (!HaveTool(QStringLiteral("mpg123")))
        GTEST_SKIP() << "mpg123 missing";
    Settings.SampleRates = 22050;
    Settings.Mode = 3; // mono
    Main->SetLameCoder();
    TickOnly({2});
    EXPECT_EQ(Run(false), mrOk);

    const TDecoded d =
        Mpg123(Out(QStringLiteral("Track03.mp3")), Dir.filePath(QStringLiteral("d.wav")));
    EXPECT_EQ(d.Rate, 22050);
    EXPECT_EQ(d.Channels, 1);
    // 450 sectors are six seconds: played at the right speed, not faster or slower.
    EXPECT_NEAR(double(d.Frames) / 22050, 6.0, 0.1);
}

// Not a check: takes pictures of the window during a slow job for a person to look at. Runs
// only when TARVIK_SHOTS names a folder and a real display is used.
TEST_F(DiscJobTest, Screenshots)
{
    const QString folder = qEnvironmentVariable("TARVIK_SHOTS");
    if (folder.isEmpty() || !HaveTool(QStringLiteral("import")))
        GTEST_SKIP() << "set TARVIK_SHOTS to a folder to take screenshots";
    Main->show();
    TickOnly({0, 1, 2});
    Main->ListView1->Row(1)->SetCaption(
        QStringLiteral("A Song With a Rather Long Title That Runs On Past the Edge of the Window"));
    Slow->ChunkMs = 120;
    int shots = 0;
    // Taken from the window's own thread between two chunks, once everything has painted.
    QTimer camera;
    camera.setInterval(2500);
    QObject::connect(&camera, &QTimer::timeout, [&] {
        if (Window == nullptr)
            return;
        const QString shot =
            folder + QStringLiteral("/job-%1-%2.png")
                         .arg(Window->ToWAV ? QStringLiteral("wav") : QStringLiteral("mp3"))
                         .arg(++shots);
        RunTool(QStringLiteral("import"),
                {QStringLiteral("-window"), QStringLiteral("root"), shot});
    });
    camera.start();
    EXPECT_EQ(Run(true), mrOk);
    EXPECT_EQ(Run(false), mrOk);
}

} // namespace
