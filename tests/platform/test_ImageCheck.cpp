// Hostile disc images through the ripping library's drive list: a generated corpus of broken CUE
// sheets, TOC files and NRG images (some of which crash libcdio, some of which would block it for
// ever) is named in CDRIP_DRIVES with one good disc. The program lists the good disc, tells every
// other entry with its reason, and neither crashes nor hangs.
#include "cd/CDRIP.h"
#include "platform/cdrip/ImageCheck.h"
#include "platform/cdrip/LibCdioRipLibrary.h"
#include "support/DiscImage.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <cstdio>
#include <gtest/gtest.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

using namespace cdrip;

namespace {

QByteArray BigEndian(quint64 value, int bytes)
{
    QByteArray out(bytes, 0);
    for (int i = bytes - 1; i >= 0; --i, value >>= 8)
        out[i] = char(value & 0xFF);
    return out;
}

// The hostile images, written at run time into one folder.
class TCorpus
{
public:
    explicit TCorpus(const QString& folder) : FFolder(folder) {}

    QByteArray Path(const QString& name) const { return QFile::encodeName(FFolder + u'/' + name); }

    void Write(const QString& name, const QByteArray& bytes)
    {
        QFile f(FFolder + u'/' + name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        Entries << Path(name);
    }
    void Fifo(const QString& name, bool entry)
    {
        ASSERT_EQ(::mkfifo(Path(name).constData(), 0600), 0);
        if (entry)
            Entries << Path(name);
    }

    // What precedes an NRG image's chunks: a disc's worth of sectors, here only just long enough.
    const QByteArray Pad = QByteArray(2400, 0);

    // NRG images are parsed from a footer pointing at a chain of tagged chunks; chunks of every
    // kind with odd lengths are what makes libcdio misbehave. Files too short to hold a disc are
    // refused before libcdio reads them.
    void Nrg()
    {
        const char* tags[] = {"CUEX", "CUES", "DAOX", "DAOI", "ETNF",
                              "ETN2", "SINF", "MTYP", "END!", "\0\0\0\0"};
        const quint64 lengths[] = {0, 1, 8, 16, 0xFFFFFFFF};
        int n = 0;
        for (const char* tag : tags) {
            for (const quint64 length : lengths) {
                QByteArray chunk = QByteArray(tag, 4) + BigEndian(length, 4);
                chunk += QByteArray(int(std::min<quint64>(length, 24)), '\xFF');
                const bool v2 = n % 2 == 0;
                Write(QStringLiteral("chunk%1.nrg").arg(n++),
                      Pad + chunk +
                          (v2 ? QByteArray("NER5") + BigEndian(Pad.size(), 8)
                              : QByteArray("NERO") + BigEndian(Pad.size(), 4)));
            }
        }
        // Footers alone, at every short size, and footers pointing past the file.
        for (int size = 0; size <= 48; size += 4)
            Write(QStringLiteral("short%1.nrg").arg(size), QByteArray(size, 0) + "NER5");
        Write(QStringLiteral("far.nrg"), Pad + "NER5" + BigEndian(1ull << 40, 8));
        Write(QStringLiteral("self.nrg"), Pad + "NERO" + BigEndian(Pad.size(), 4));
        QRandomGenerator random(7);
        for (int i = 0; i < 10; ++i) {
            QByteArray noise(64 + 32 * i, 0);
            for (char& c : noise)
                c = char(random.bounded(256));
            Write(QStringLiteral("noise%1.nrg").arg(i),
                  Pad + noise + "NERO" + BigEndian(Pad.size(), 4));
        }
    }

    // cdrdao TOC files: two lines are enough for libcdio to divide by zero. "@" stands for the
    // corpus folder: libcdio looks for a TOC file's data from the working folder.
    void Toc()
    {
        const char* bodies[] = {
            "TRACK MODE2\nDATAFILE \"@/data.bin\"\n",
            "TRACK MODE2_FORM1\nDATAFILE \"@/data.bin\"\n",
            "TRACK MODE2_FORM2\nDATAFILE \"@/data.bin\"\n",
            "TRACK MODE2_FORM_MIX\nDATAFILE \"@/data.bin\"\n",
            "TRACK MODE2_RAW\nDATAFILE \"@/data.bin\"\n",
            "TRACK MODE1\nDATAFILE \"@/data.bin\"\nTRACK MODE2\nDATAFILE \"@/data.bin\"\n",
            "CD_DA\nTRACK AUDIO\n",
            "TRACK AUDIO\nFILE \"@/data.bin\" 0 99:59:74\n",
            "TRACK AUDIO\nFILE \"@/data.bin\" 00:01:00 0\n",
            "TRACK AUDIO\nFILE \"@/data.bin\" -1\n",
            "TRACK AUDIO\nFILE \"@/empty.bin\" 0\n",
            "TRACK AUDIO\nSILENCE 0\n",
            "TRACK AUDIO\nZERO 99:59:74\n",
            "TRACK AUDIO\nFILE \"@/missing.bin\" 0\n",
            "TRACK AUDIO\nFILE \"@/fifo.bin\" 0\n",
            "TRACK AUDIO\nAUDIOFILE \"@/link.bin\" 0\n",
            "TRACK AUDIO\nFILE \"/dev/zero\" 0\n",
            "TRACK AUDIO\nFILE \"-\" 0\n",
            "TRACK AUDIO\nFILE \"@\" 0\n",
            "CD_TEXT { LANGUAGE 0 { TITLE \"\xff\xfe\" } }\nTRACK AUDIO\nFILE \"@/data.bin\" 0\n",
            "TRACK AUDIO\nINDEX 00:00:01\nINDEX 00:00:00\nFILE \"@/data.bin\" 0\n",
            "TRACK AUDIO\nFILE \"@/data.bin\" 0\nSTART 99:00:00\n",
            "\xff\xfe\x00T\x00R\x00A\x00",
        };
        int n = 0;
        for (const char* body : bodies)
            Write(QStringLiteral("sheet%1.toc").arg(n++), QByteArray(body).replace('@', Path({})));
        QByteArray many;
        for (int i = 0; i < 120; ++i)
            many += "TRACK AUDIO\nFILE \"" + Path(QStringLiteral("data.bin")) + "\" 0 1\n";
        Write(QStringLiteral("many.toc"), many);
    }

    // CUE sheets, each with the data file libcdio reads for it (the sheet's name with ".bin"),
    // made as `bin` says: a link to some audio, a named pipe, a link to a device or a folder.
    void Cue()
    {
        const std::pair<const char*, const char*> sheets[] = {
            {"data.bin", "FILE \"fifo.bin\" BINARY\n TRACK 01 AUDIO\n  INDEX 01 00:00:00\n"},
            {"fifo.bin", "FILE \"x.bin\" BINARY\n TRACK 01 AUDIO\n  INDEX 01 00:00:00\n"},
            {"link.bin", "FILE x.bin BINARY\n TRACK 01 AUDIO\n  INDEX 01 00:00:00\n"},
            {"/dev/zero", "FILE \"x.bin\" BINARY\n TRACK 01 AUDIO\n  INDEX 01 00:00:00\n"},
            {".", "FILE \"x.bin\" BINARY\n TRACK 01 AUDIO\n  INDEX 01 00:00:00\n"},
            {"missing.bin", "FILE \"x.bin\" BINARY\n TRACK 01 AUDIO\n  INDEX 01 00:00:00\n"},
            {"empty.bin", "FILE \"x.bin\" BINARY\n TRACK 01 AUDIO\n  INDEX 01 00:00:00\n"},
            {"odd.bin", "FILE \"x.bin\" BINARY\n TRACK 01 AUDIO\n  INDEX 01 00:00:00\n"},
            {"data.bin", "FILE \"x.bin\" BINARY\n"},
            {"data.bin", "TRACK 01 AUDIO\n INDEX 01 00:00:00\n"},
            {"data.bin", "FILE \"x.bin\" BINARY\n TRACK 01 AUDIO\n  INDEX 01 00:00:50\n"
                         " TRACK 02 AUDIO\n  INDEX 01 00:00:10\n"},
            {"data.bin", "FILE \"x.bin\" BINARY\n TRACK 01 AUDIO\n  INDEX 01 00:00:00\n"
                         " TRACK 02 AUDIO\n  INDEX 01 90:00:00\n"},
            {"data.bin", "FILE \"x.bin\" BINARY\n TRACK 00 AUDIO\n  INDEX 01 00:00:00\n"},
            {"data.bin", "FILE \"x.bin\" BINARY\n TRACK 100 AUDIO\n  INDEX 01 00:00:00\n"},
            {"data.bin", "FILE \"x.bin\" BINARY\n TRACK 01 AUDIO\n  INDEX 01 99:99:99\n"},
            {"data.bin", "FILE \"x.bin\" BINARY\n TRACK 01 MODE2/2336\n  INDEX 01 00:00:00\n"},
            {"data.bin", "FILE \"x.bin\" BINARY\n TRACK 01 MODE2/2352\n  INDEX 01 00:00:00\n"},
            {"data.bin", "FILE \"x.bin\" BINARY\n TRACK 01 CDG\n  INDEX 01 00:00:00\n"},
            {"data.bin", "FILE \"x.bin\" WAVE\n TRACK 01 AUDIO\n  INDEX 01 00:00:00\n"},
            {"data.bin", "FILE \"x.bin\" BINARY\n TRACK 01 AUDIO\n  PREGAP 99:00:00\n"
                         "  INDEX 01 00:00:00\n"},
            {"data.bin", "FILE \"x.bin\" BINARY\n TRACK 01 AUDIO\n  INDEX 00 00:00:00\n"},
            {"data.bin", "FILE \"x.bin\" BINARY\n TRACK 01 AUDIO\n  INDEX 01 -1:00:00\n"},
            {"data.bin", "FILE \"x.bin\" BINARY\n TRACK 01 AUDIO\n  FLAGS DCP 4CH PRE XXX\n"
                         "  ISRC 123\n  INDEX 01 00:00:00\n"},
            {"data.bin", "FILE \"x.bin\" BINARY\n TRACK 01 AUDIO\n  TITLE \"\xff\xfe\x80\"\n"
                         "  PERFORMER\n  INDEX 01 00:00:00\n"},
            {"data.bin", "\"\"\"\"\n FILE \"\n TRACK\n INDEX\n"},
        };
        int n = 0;
        for (const auto& [bin, body] : sheets) {
            const QString name = QStringLiteral("sheet%1").arg(n++);
            const QByteArray target =
                bin[0] == '/' ? QByteArray(bin) : Path(QString::fromLatin1(bin));
            if (QByteArray(bin) != "missing.bin") {
                ASSERT_EQ(
                    ::symlink(target.constData(), Path(name + QStringLiteral(".bin")).constData()),
                    0);
            }
            Write(name + QStringLiteral(".cue"), body);
        }
        QByteArray many = "FILE \"x.bin\" BINARY\n";
        for (int i = 1; i <= 110; ++i)
            many += QStringLiteral(" TRACK %1 AUDIO\n  INDEX 01 00:00:%2\n")
                        .arg(i, 2, 10, QLatin1Char('0'))
                        .arg(i % 75, 2, 10, QLatin1Char('0'))
                        .toLatin1();
        ASSERT_EQ(::symlink("data.bin", Path(QStringLiteral("many.bin")).constData()), 0);
        Write(QStringLiteral("many.cue"), many);
    }

    // The files the sheets lean on: a little audio, a named pipe, a link to the pipe.
    void DataFiles()
    {
        QFile data(FFolder + QStringLiteral("/data.bin"));
        ASSERT_TRUE(data.open(QIODevice::WriteOnly));
        data.write(QByteArray(2352 * 75, '\x11'));
        data.close();
        QFile odd(FFolder + QStringLiteral("/odd.bin"));
        ASSERT_TRUE(odd.open(QIODevice::WriteOnly));
        odd.write(QByteArray(1000, '\x22'));
        odd.close();
        QFile(FFolder + QStringLiteral("/empty.bin")).open(QIODevice::WriteOnly);
        Fifo(QStringLiteral("fifo.bin"), false);
        ASSERT_EQ(::symlink("fifo.bin", Path(QStringLiteral("link.bin")).constData()), 0);
        // Images that are themselves pipes.
        Fifo(QStringLiteral("pipe.cue"), true);
        Fifo(QStringLiteral("pipe.toc"), true);
        Fifo(QStringLiteral("pipe.nrg"), true);
    }

    QList<QByteArray> Entries;

private:
    QString FFolder;
};

class ImageCheckTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(FDir.isValid()); }
    void TearDown() override { qunsetenv("CDRIP_DRIVES"); }

    std::unique_ptr<ICDRipLibrary> Library(const QList<QByteArray>& entries)
    {
        qputenv("CDRIP_DRIVES", entries.isEmpty() ? QByteArray() : entries.join(':'));
        auto lib = CreateCDRipLibrary();
        EXPECT_EQ(lib->CR_Init(), CDEX_OK);
        return lib;
    }
    static QStringList Problems(ICDRipLibrary& lib)
    {
        QStringList lines;
        char text[1024];
        for (int i = 0; lib.CR_GetDriveProblem(i, text, sizeof text) == CDEX_OK; ++i)
            lines << QString::fromUtf8(text);
        return lines;
    }
    static QString LastError(ICDRipLibrary& lib)
    {
        char text[1024];
        lib.CR_GetLastErrorText(text, sizeof text);
        return QString::fromUtf8(text);
    }

    QTemporaryDir FDir;
};

TEST_F(ImageCheckTest, AHostileCorpusNeitherCrashesNorHangsAndEveryEntryIsTold)
{
    TCorpus corpus(FDir.path());
    corpus.DataFiles();
    corpus.Nrg();
    corpus.Toc();
    corpus.Cue();
    TDiscImage good;
    ASSERT_TRUE(good.Write(FDir.filePath(QStringLiteral("good")), {{40}, {30}}, 3));
    QList<QByteArray> entries = corpus.Entries;
    entries.insert(entries.size() / 2, QFile::encodeName(good.CuePath));

    auto lib = Library(entries);
    const QStringList problems = Problems(*lib);
    const int drives = lib->CR_GetNumCDROM();
    // Nothing is left out without a word.
    EXPECT_EQ(drives + problems.size(), entries.size());
    int crashed = 0, hung = 0;
    for (const QString& line : problems) {
        EXPECT_TRUE(line.startsWith(QStringLiteral("CDRIP_DRIVES: ") + FDir.path()))
            << qPrintable(line);
        EXPECT_TRUE(line.contains(QStringLiteral(" cannot be used: "))) << qPrintable(line);
        crashed +=
            line.contains(QStringLiteral("crashed")) || line.contains(QStringLiteral("malformed"));
        hung += line.contains(QStringLiteral("did not finish"));
    }
    EXPECT_EQ(hung, 0);
    // The corpus holds what it claims: images that bring libcdio down.
    EXPECT_GE(crashed, 3);
    std::printf("hostile images tried: %lld, listed: %d, refused: %lld, of which libcdio "
                "crashed on: %d, hung: %d\n",
                qlonglong(corpus.Entries.size()), drives - 1, qlonglong(problems.size()), crashed,
                hung);

    // Whatever was let through opens in this process too, and the good disc reads.
    bool sawGood = false;
    for (int d = 0; d < drives; ++d) {
        ASSERT_EQ(lib->CR_SetActiveCDROM(d), CDEX_OK);
        CDROMPARAMS p{};
        lib->CR_GetCDROMParameters(&p);
        const bool isGood = QByteArray(p.lpszCDROMID) == "disc.cue";
        sawGood |= isGood;
        const CDSTATUS toc = lib->CR_ReadToc();
        if (isGood) {
            ASSERT_EQ(toc, CDEX_OK);
            EXPECT_EQ(lib->CR_GetNumTocEntries(), 2);
        }
    }
    EXPECT_TRUE(sawGood);
}

TEST_F(ImageCheckTest, NamedImagesNoneOfWhichWorksAreToldNotReplacedByTheDemoDisc)
{
    TCorpus corpus(FDir.path());
    corpus.Write(QStringLiteral("crash.toc"),
                 "TRACK MODE2\nDATAFILE \"" + corpus.Path(QStringLiteral("crash.toc")) + "\"\n");
    corpus.Write(QStringLiteral("crash.nrg"), corpus.Pad + "CUEX\xff\xff\xff\xff" +
                                                  QByteArray(20, 0) + "NERO" +
                                                  BigEndian(corpus.Pad.size(), 4));
    auto lib = Library(corpus.Entries);
    if (lib->CR_GetNumCDROM() > 0)
        GTEST_SKIP() << "this machine has a CD drive";
    const QStringList problems = Problems(*lib);
    ASSERT_EQ(problems.size(), 3);
    EXPECT_TRUE(problems[0].contains(QStringLiteral("crash.toc cannot be used: libcdio crashed")))
        << qPrintable(problems[0]);
    EXPECT_TRUE(problems[1].contains(QStringLiteral("crash.nrg cannot be used: libcdio")))
        << qPrintable(problems[1]);
    EXPECT_TRUE(problems[2].startsWith(QStringLiteral("No drive is listed")))
        << qPrintable(problems[2]);

    // The ripper component hands the same lines on, for the window and the command line.
    TCDRIP ripper(nullptr, lib.get());
    EXPECT_EQ(ripper.DriveProblems(), problems);

    // Naming nothing still gets the demo disc, and no complaint.
    auto demo = Library({});
    EXPECT_EQ(demo->CR_GetNumCDROM(), 1);
    EXPECT_TRUE(Problems(*demo).isEmpty());
}

TEST_F(ImageCheckTest, AnImageWhosePathIsNotUtf8OpensAndReads)
{
    TDiscImage image;
    ASSERT_TRUE(image.Write(FDir.filePath(QStringLiteral("sub")), {{20}, {10}}, 5));
    const QByteArray expected = image.TrackBytes(1);
    // A folder and a sheet named in Latin-1 bytes, as an older system may have left them.
    const QByteArray folder = QFile::encodeName(FDir.path()) + "/M\xfasica";
    const QByteArray sheet = folder + "/caf\xe9.cue";
    ASSERT_EQ(::rename(QFile::encodeName(FDir.filePath(QStringLiteral("sub"))).constData(),
                       folder.constData()),
              0);
    // Qt cannot name such files to remove them: they get their first names back at the end.
    const std::shared_ptr<void> restore(nullptr, [&](void*) {
        ::rename(sheet.constData(), (folder + "/disc.cue").constData());
        ::rename((folder + "/caf\xe9.bin").constData(), (folder + "/disc.bin").constData());
        ::rename(folder.constData(),
                 QFile::encodeName(FDir.filePath(QStringLiteral("sub"))).constData());
    });
    ASSERT_EQ(::rename((folder + "/disc.cue").constData(), sheet.constData()), 0);
    ASSERT_EQ(::rename((folder + "/disc.bin").constData(), (folder + "/caf\xe9.bin").constData()),
              0);
    auto lib = Library({sheet});
    ASSERT_EQ(lib->CR_GetNumCDROM(), 1) << qPrintable(Problems(*lib).join(u'\n'));
    ASSERT_EQ(lib->CR_ReadToc(), CDEX_OK);
    ASSERT_EQ(lib->CR_GetNumTocEntries(), 2);
    int32_t size = 0;
    ASSERT_EQ(lib->CR_OpenRipper(&size, 20, 29), CDEX_OK);
    std::vector<uint8_t> buffer(static_cast<size_t>(size));
    QByteArray pcm;
    for (CDSTATUS s = CDEX_OK; s != CDEX_RIPPING_DONE && s != CDEX_ERROR;) {
        int32_t bytes = 0;
        s = lib->CR_RipChunk(buffer.data(), &bytes, 0);
        pcm.append(reinterpret_cast<const char*>(buffer.data()), bytes);
    }
    EXPECT_TRUE(pcm == expected);
}

TEST_F(ImageCheckTest, AnImageShorterThanItsSheetIsRefusedWithTheReason)
{
    TDiscImage image;
    ASSERT_TRUE(image.Write(FDir.path(), {{100}, {100}, {100}}, 9));
    ASSERT_TRUE(QFile::resize(image.BinPath, 2352 * 150));
    auto lib = Library({QFile::encodeName(image.CuePath)});
    const QStringList problems = Problems(*lib);
    ASSERT_FALSE(problems.isEmpty());
    EXPECT_TRUE(problems[0].contains(QStringLiteral("shorter than its sheet says: track 3")))
        << qPrintable(problems[0]);
}

TEST_F(ImageCheckTest, AnImageChangedAfterItsCheckIsCheckedAgainBeforeItOpens)
{
    TDiscImage image;
    ASSERT_TRUE(image.Write(FDir.path(), {{30}}, 2));
    auto lib = Library({QFile::encodeName(image.CuePath)});
    ASSERT_EQ(lib->CR_GetNumCDROM(), 1);
    ASSERT_EQ(lib->CR_ReadToc(), CDEX_OK);
    // Its data file becomes a named pipe: opening it now would block the program for ever.
    ASSERT_TRUE(QFile::remove(image.BinPath));
    ASSERT_EQ(::mkfifo(QFile::encodeName(image.BinPath).constData(), 0600), 0);
    EXPECT_EQ(lib->CR_ReadToc(), CDEX_ERROR);
    EXPECT_TRUE(LastError(*lib).contains(QStringLiteral("named pipe")))
        << qPrintable(LastError(*lib));
}

TEST_F(ImageCheckTest, ACheckerThatDoesNotAnswerInTimeIsStoppedAndTheImageRefused)
{
    const QString script = FDir.filePath(QStringLiteral("slow-checker"));
    QFile f(script);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("#!/bin/sh\nexec sleep 60\n");
    f.close();
    f.setPermissions(QFile::ReadOwner | QFile::ExeOwner);
    TDiscImage image;
    ASSERT_TRUE(image.Write(FDir.path(), {{10}}, 1));
    TImageCheckOptions options;
    options.Program = QFile::encodeName(script).toStdString();
    options.TimeoutMs = 300;
    const std::vector<TImageVerdict> v =
        CheckImages({QFile::encodeName(image.CuePath).toStdString(),
                     QFile::encodeName(image.CuePath).toStdString()},
                    options);
    ASSERT_EQ(v.size(), 2u);
    for (const TImageVerdict& verdict : v) {
        EXPECT_FALSE(verdict.Usable);
        EXPECT_TRUE(
            verdict.Reason.contains(QStringLiteral("did not finish reading it within 0.3 seconds")))
            << qPrintable(verdict.Reason);
    }
}

// An image that goes away before or during a job ends it with a message naming the file.
TEST_F(ImageCheckTest, AnImageThatDisappearsEndsTheJobNamingTheCause)
{
    for (const bool during : {false, true}) {
        TDiscImage image;
        const QString folder =
            FDir.filePath(during ? QStringLiteral("during") : QStringLiteral("before"));
        ASSERT_TRUE(image.Write(folder, {{300}}, 4));
        qputenv("CDRIP_DRIVES", QFile::encodeName(image.CuePath));
        TCDRipOptions options;
        int reads = 0;
        if (during) {
            options.ReadFilter = [&](int32_t, long, uint8_t*) {
                if (++reads == 2)
                    QFile::remove(image.BinPath);
            };
        }
        auto lib = CreateCDRipLibrary(options);
        TCDRIP ripper(nullptr, lib.get());
        ASSERT_EQ(ripper.GetDriveCount(), 1);
        ASSERT_EQ(ripper.Tracks.size(), 1u);
        if (!during) {
            ASSERT_TRUE(QFile::remove(image.BinPath));
        }
        try {
            ripper.RipTrack(1, folder + QStringLiteral("/out.wav"));
            ADD_FAILURE() << "the job went on without its disc";
        } catch (const ECDRIPError& e) {
            EXPECT_TRUE(e.Message().contains(QStringLiteral("the disc image file ") +
                                             image.BinPath + QStringLiteral(" is gone")))
                << qPrintable(e.Message());
        }
    }
}

} // namespace
