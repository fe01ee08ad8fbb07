#include "app/globals.h"

#include "app/Exception.h"
#include "platform/profile/Profile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <gtest/gtest.h>

#include <csignal>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

QByteArray ReadBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void WriteBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

QString MusicFolder()
{
    return QDir::toNativeSeparators(
        QStandardPaths::writableLocation(QStandardPaths::MusicLocation));
}

class GlobalsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const QString config = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
        QFileInfo info(config);
        if (info.isFile())
            QFile::remove(config);
        QDir(config).removeRecursively();
        SetDefaultSettings();
    }
};

TEST(SettingsPath, FollowsTheProgramPath)
{
    EXPECT_EQ(SettingsPathFor(u"D:\\Apps\\Ripper.EXE"_s), u"d:\\apps\\ripper.ini"_s);
    EXPECT_EQ(SettingsPathFor(u"D:\\Apps\\Ripper"_s), u"d:\\apps\\ripper.ini"_s);
    EXPECT_EQ(SettingsPathFor(u"C:\\My.Tools\\Rip"_s), u"c:\\my.tools\\rip.ini"_s);
    EXPECT_EQ(SettingsPathFor(u"C:\\Tools\\rip.old.exe"_s), u"c:\\tools\\rip.old.ini"_s);
    EXPECT_EQ(SettingsPathFor(u"E:Rip.exe"_s), u"e:rip.ini"_s);
    EXPECT_EQ(SettingsPathFor(u"/opt/Tarvik/bin/Tarvik"_s), u"/opt/tarvik/bin/tarvik.ini"_s);
    // Only the ASCII letters are lower-cased.
    EXPECT_EQ(SettingsPathFor(u"C:\\\u00c9t\u00c9\\R.EXE"_s), u"c:\\\u00c9t\u00c9\\r.ini"_s);
}

TEST(TwoDigitsTest, FillsToTwoAndNeverCuts)
{
    EXPECT_EQ(TwoDigits(0), u"00"_s);
    EXPECT_EQ(TwoDigits(7), u"07"_s);
    EXPECT_EQ(TwoDigits(42), u"42"_s);
    EXPECT_EQ(TwoDigits(100), u"100"_s);
    EXPECT_EQ(TwoDigits(65535), u"65535"_s);
}

TEST_F(GlobalsTest, DefaultsAndFileLocations)
{
    EXPECT_TRUE(Settings.ConfirmReplace);
    EXPECT_EQ(Settings.OutDir, MusicFolder());
    EXPECT_TRUE(Settings.OpenWhenDone);
    EXPECT_EQ(Settings.EnableVBR, -1);
    EXPECT_EQ(Settings.WriteVBRHeader, -1);
    EXPECT_EQ(Settings.CRC, -1);
    EXPECT_EQ(Settings.CopyRight, 0);
    const QString config = QDir(qEnvironmentVariable("XDG_CONFIG_HOME")).filePath(u"tarvik"_s);
    EXPECT_EQ(SettingsFileName(), config + u"/tarvik.ini"_s);
    EXPECT_EQ(AlbumInfoFileName(), config + u"/cdplayer.ini"_s);
    EXPECT_TRUE(QFileInfo(config).isDir());
}

TEST_F(GlobalsTest, FirstStartWritesTheDefaults)
{
    Settings.ConfirmReplace = false;
    EXPECT_FALSE(LoadSettings());
    EXPECT_EQ(ReadBytes(SettingsFileName()),
              "[System]\nOutDir=" + MusicFolder().toUtf8() +
                  "\nOpenWhenDone=1\n\n[MP3]\nSampleRates=44100\nBitRates=128\n"
                  "MaxBitRates=320\nMode=0\nQuality=0\nEnableVBR=1\nWriteVBRHeader=1\n"
                  "VBRQuality=5\nCopyRight=0\nOriginal=0\nCRC=1\nbPrivate=0\n");
    EXPECT_TRUE(LoadSettings());
    EXPECT_FALSE(Settings.ConfirmReplace);
    EXPECT_EQ(Settings.EnableVBR, -1);
    EXPECT_EQ(Settings.WriteVBRHeader, -1);
}

TEST_F(GlobalsTest, MissingKeysTakeTheirOwnValues)
{
    WriteBytes(SettingsFileName(), "[System]\nOutDir=\n[MP3]\n");
    Settings.SampleRates = 1;
    Settings.OpenWhenDone = false;
    ASSERT_TRUE(LoadSettings());
    EXPECT_EQ(Settings.OutDir, QString()); // present but empty: no fallback
    EXPECT_TRUE(Settings.OpenWhenDone);
    EXPECT_EQ(Settings.SampleRates, 44100);
    EXPECT_EQ(Settings.BitRates, 128);
    EXPECT_EQ(Settings.MaxBitRates, 320);
    EXPECT_EQ(Settings.Mode, 0);
    EXPECT_EQ(Settings.Quality, 0);
    EXPECT_EQ(Settings.VBRQuality, 5);
    EXPECT_EQ(Settings.EnableVBR, 0);
    EXPECT_EQ(Settings.WriteVBRHeader, 0);
    EXPECT_EQ(Settings.CRC, -1);
    EXPECT_EQ(Settings.CopyRight, 0);
    EXPECT_EQ(Settings.Original, 0);
    EXPECT_EQ(Settings.bPrivate, 0);

    WriteBytes(SettingsFileName(), "; nothing of ours\n");
    Settings.OutDir = u"x"_s;
    ASSERT_TRUE(LoadSettings());
    EXPECT_EQ(Settings.OutDir, MusicFolder());
}

TEST_F(GlobalsTest, ValueSyntax)
{
    struct TCase
    {
        const char* Text;
        int32_t Expected; // the missing-key value of "Mode" is 0, of "BitRates" 128
    };
    const TCase cases[] = {
        {"11025", 11025},
        {"  42", 42},
        {"+7", 7},
        {"-5", -5},
        {"0x7", 7},
        {"0X1f", 31},
        {"$A", 10},
        {"-$10", -16},
        {"$FFFFFFFF", -1},
        {"2147483647", INT32_MAX},
        {"-2147483648", INT32_MIN},
        {"2147483648", 128},
        {"99999999999999999999", 128},
        {"$100000000", 128},
        {"-0x", 128},
        {"0x", 128},
        {"$", 128},
        {"-", 128},
        {"", 128},
        {"12abc", 128},
        {"1 2", 128},
        {"0x1g", 128},
        {"\"64\"", 64},
        {"' 64'", 64},
        {"1e3", 128},
        {"\xd9\xa3", 128}, // an Arabic-Indic digit is not a digit here
    };
    for (const TCase& c : cases) {
        WriteBytes(SettingsFileName(), QByteArray("[MP3]\nBitRates=") + c.Text + "\n");
        Settings.BitRates = 0;
        ASSERT_TRUE(LoadSettings());
        EXPECT_EQ(Settings.BitRates, c.Expected) << c.Text;
    }
}

TEST_F(GlobalsTest, BooleansReadAnyNonZeroAndWriteOneOrZero)
{
    WriteBytes(SettingsFileName(), "[System]\nOpenWhenDone=yes\n[MP3]\nCRC=2\nCopyRight=-1\n"
                                   "Original=true\nEnableVBR=0x10\nbPrivate=0\n");
    ASSERT_TRUE(LoadSettings());
    EXPECT_TRUE(Settings.OpenWhenDone); // not an integer: the missing-key value
    EXPECT_EQ(Settings.CRC, -1);
    EXPECT_EQ(Settings.CopyRight, -1);
    EXPECT_EQ(Settings.Original, 0);
    EXPECT_EQ(Settings.EnableVBR, -1);
    EXPECT_EQ(Settings.bPrivate, 0);
    Settings.OpenWhenDone = false;
    Settings.Mode = -3;
    SaveSettings();
    const QString file = SettingsFileName();
    auto get = [&](const char* section, const char* key) {
        return profile::GetPrivateProfileString(QString::fromLatin1(section),
                                                QString::fromLatin1(key), u"?"_s, 100, file);
    };
    EXPECT_EQ(get("MP3", "CRC"), u"1"_s);
    EXPECT_EQ(get("MP3", "CopyRight"), u"1"_s);
    EXPECT_EQ(get("MP3", "EnableVBR"), u"1"_s);
    EXPECT_EQ(get("MP3", "Mode"), u"-3"_s);
    EXPECT_EQ(get("System", "OpenWhenDone"), u"0"_s);
}

TEST_F(GlobalsTest, SaveKeepsForeignKeysAndRoundTrips)
{
    WriteBytes(SettingsFileName(),
               "; my settings\n[system]\ntheme=dark\noutdir = old\n[Plugins]\na=1\n");
    Settings.OutDir = u"  /home/me/M\u00fcsic \"live\" "_s;
    Settings.SampleRates = 11025;
    Settings.EnableVBR = 0;
    SaveSettings();
    const QByteArray bytes = ReadBytes(SettingsFileName());
    EXPECT_TRUE(bytes.startsWith("; my settings\n[system]\ntheme=dark\noutdir = \""));
    EXPECT_TRUE(bytes.contains("\n[Plugins]\na=1\n"));
    SetDefaultSettings();
    ASSERT_TRUE(LoadSettings());
    EXPECT_EQ(Settings.OutDir, u"  /home/me/M\u00fcsic \"live\" "_s);
    EXPECT_EQ(Settings.SampleRates, 11025);
    EXPECT_EQ(Settings.EnableVBR, 0);
    EXPECT_EQ(Settings.WriteVBRHeader, -1);
}

TEST_F(GlobalsTest, UnwritableSettingsRaise)
{
    // A file where the configuration folder should be: nothing can be written there.
    const QString config = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    WriteBytes(config, "not a folder");
    // The message names the file and the system's reason.
    const QString expected = u"Unable to write to "_s + config + u"/tarvik.ini: Not a directory"_s;
    try {
        SaveSettings();
        ADD_FAILURE() << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), expected);
        EXPECT_STREQ(e.what(), expected.toUtf8().constData());
    }
    EXPECT_THROW(LoadSettings(), Exception);
    EXPECT_EQ(ReadBytes(config), QByteArray("not a folder"));
}

TEST_F(GlobalsTest, HostileSettingsFilesLoad)
{
    const auto loadsAsMissing = [&](const QByteArray& bytes) {
        WriteBytes(SettingsFileName(), bytes);
        Settings.BitRates = 0;
        Settings.VBRQuality = 0;
        ASSERT_TRUE(LoadSettings());
        EXPECT_EQ(Settings.BitRates, 128);
        EXPECT_EQ(Settings.VBRQuality, 5);
    };
    QRandomGenerator random(4);
    QByteArray noise(1 << 16, '\0');
    random.fillRange(reinterpret_cast<quint32*>(noise.data()), noise.size() / 4);
    noise.replace("[MP3]", "[MP4]");
    loadsAsMissing(noise);
    loadsAsMissing("[MP3]\nBitRates=" + QByteArray(100000, '9') + "\nVBRQuality=-0x\n");

    // Ten megabytes of other sections before ours: still read, and nothing of it is lost.
    QByteArray big;
    for (int i = 0; big.size() < 10 * 1024 * 1024; ++i)
        big += "[S" + QByteArray::number(i) + "]\nkey=" + QByteArray(1000, 'v') + "\n";
    WriteBytes(SettingsFileName(), big + "[MP3]\nBitRates=96\n");
    ASSERT_TRUE(LoadSettings());
    EXPECT_EQ(Settings.BitRates, 96);
    SaveSettings();
    EXPECT_TRUE(ReadBytes(SettingsFileName()).startsWith(big));

    // A long text keeps the first 2047 characters.
    WriteBytes(SettingsFileName(), "[System]\nOutDir=" + QByteArray(100000, 'd') + "\n");
    ASSERT_TRUE(LoadSettings());
    EXPECT_EQ(Settings.OutDir, QString(2047, u'd'));
}

TEST_F(GlobalsTest, InterruptedSavesLeaveALoadableFile)
{
    ASSERT_FALSE(LoadSettings());
    QRandomGenerator random(7);
    int saved = 0;
    for (int round = 0; round < 25; ++round) {
        int ready[2];
        ASSERT_EQ(pipe(ready), 0);
        const pid_t child = fork();
        ASSERT_NE(child, -1);
        if (child == 0) {
            // Saves two different records as fast as it can until it is killed, and says when
            // the first one is whole, so a slow machine still kills it in the middle of a later
            // save rather than before any.
            close(ready[0]);
            for (int32_t i = 0;; ++i) {
                Settings.SampleRates = (i % 2 == 0) ? 22050 : 48000;
                Settings.BitRates = (i % 2 == 0) ? 64 : 256;
                Settings.OutDir = QString(1 + i % 3000, QChar(u'a' + i % 2));
                try {
                    SaveSettings();
                } catch (...) {
                    _exit(1);
                }
                if (i == 0 && write(ready[1], "s", 1) != 1)
                    _exit(1);
            }
        }
        close(ready[1]);
        pollfd saving{ready[0], POLLIN, 0};
        poll(&saving, 1, 30000);
        close(ready[0]);
        usleep(random.bounded(20000));
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the saving child failed";
        SetDefaultSettings();
        ASSERT_TRUE(LoadSettings());
        // Either record, whole, or the first start's defaults.
        const bool first = Settings.SampleRates == 22050 && Settings.BitRates == 64;
        const bool second = Settings.SampleRates == 48000 && Settings.BitRates == 256;
        const bool initial = Settings.SampleRates == 44100 && Settings.BitRates == 128;
        EXPECT_TRUE(first || second || initial) << Settings.SampleRates << " " << Settings.BitRates;
        saved += first || second;
        if (first || second) {
            EXPECT_EQ(Settings.OutDir.count(first ? u'a' : u'b'), Settings.OutDir.size());
        }
        EXPECT_EQ(Settings.CRC, -1);
    }
    EXPECT_GT(saved, 0) << "no save ever completed before the kill";
}

class AlbumInfoTest : public GlobalsTest
{
protected:
    struct TAlbum
    {
        QString Artist = u"caller artist"_s;
        QString Title = u"caller title"_s;
        QString Year = u"caller year"_s;
        QString Genre = u"caller genre"_s;
        QStringList Tracks = {u"stale"_s};
        bool Result = false;
    };

    TAlbum Read(const QString& id) const
    {
        TAlbum a;
        a.Result = ReadAlbumInfo(id, a.Artist, a.Title, a.Year, a.Genre, a.Tracks);
        return a;
    }

    static QStringList Titles(int n, const QString& prefix = u"Track "_s)
    {
        QStringList titles;
        for (int i = 0; i < n; ++i)
            titles.append(prefix + QString::number(i + 1));
        return titles;
    }
};

TEST_F(AlbumInfoTest, SavedDiscReadsBack)
{
    const QStringList titles = Titles(10);
    ASSERT_TRUE(WriteAlbumInfo(u"7a0b2c0a"_s, {}, {}, {}, {}, &titles));
    EXPECT_EQ(ReadBytes(AlbumInfoFileName()),
              "[7a0b2c0a]\nartist=\nalbum=\nyear=\ngenre=\n0=Track 1\n1=Track 2\n2=Track 3\n"
              "3=Track 4\n4=Track 5\n5=Track 6\n6=Track 7\n7=Track 8\n8=Track 9\n9=Track 10\n");
    const TAlbum a = Read(u"7A0B2C0A"_s);
    EXPECT_TRUE(a.Result);
    EXPECT_EQ(a.Tracks, titles);
    EXPECT_EQ(a.Artist, u"No Artist"_s);
    EXPECT_EQ(a.Title, u"No Title"_s);
    EXPECT_EQ(a.Genre, u"Other"_s);
    EXPECT_EQ(a.Year, QString());
}

TEST_F(AlbumInfoTest, ReadsEveryTrackKeyAndCountsEveryKeyWithAValue)
{
    // A title left empty hides none after it.
    QStringList titles = Titles(10);
    titles[4].clear();
    ASSERT_TRUE(WriteAlbumInfo(u"d1"_s, {}, {}, {}, {}, &titles));
    EXPECT_EQ(Read(u"d1"_s).Tracks, titles);
    WriteBytes(AlbumInfoFileName(), "[d1]\n0=Alpha\n1=\n2=Gamma\n3=\n98=last\n99=none\n");
    QStringList reach(99, QString());
    reach[0] = u"Alpha"_s;
    reach[2] = u"Gamma"_s;
    reach[98] = u"last"_s;
    EXPECT_EQ(Read(u"d1"_s).Tracks, reach);

    // Other keys with values count as well; "01" is not a track key; repeats count once.
    WriteBytes(AlbumInfoFileName(), "[d2]\n0=A\n1=B\nTitle=The Album\nartist=  \nfoo=bar\n"
                                    "01=x\nFOO=again\n[d3]\n");
    const TAlbum a = Read(u"d2"_s);
    EXPECT_EQ(a.Tracks, QStringList({u"A"_s, u"B"_s, QString(), QString(), QString()}));
    EXPECT_EQ(a.Title, u"The Album"_s);
    EXPECT_EQ(a.Artist, u"No Artist"_s);
}

TEST_F(AlbumInfoTest, MissingSectionKeepsTheCallersTexts)
{
    for (const char* id : {"none", "d3"}) {
        WriteBytes(AlbumInfoFileName(), "[d3]\n; only a comment\n");
        const TAlbum a = Read(QString::fromLatin1(id));
        EXPECT_TRUE(a.Result);
        EXPECT_TRUE(a.Tracks.isEmpty());
        EXPECT_EQ(a.Artist, u"caller artist"_s);
        EXPECT_EQ(a.Title, u"caller title"_s);
        EXPECT_EQ(a.Year, u"caller year"_s);
        EXPECT_EQ(a.Genre, u"caller genre"_s);
    }
    QFile::remove(AlbumInfoFileName());
    QString artist = u" "_s, title, year = u"1999"_s, genre = u"\t"_s;
    QStringList tracks{u"x"_s};
    EXPECT_TRUE(ReadAlbumInfo(u"x"_s, artist, title, year, genre, tracks));
    EXPECT_EQ(artist, u"No Artist"_s);
    EXPECT_EQ(title, u"No Title"_s);
    EXPECT_EQ(genre, u"Other"_s);
    EXPECT_EQ(year, u"1999"_s);
    EXPECT_TRUE(tracks.isEmpty());
}

TEST_F(AlbumInfoTest, AlbumIsWrittenAsAlbumAndReadFromTitle)
{
    ASSERT_TRUE(WriteAlbumInfo(u"d"_s, u"Band"_s, u"Record"_s, u"1984"_s, u"Rock"_s));
    WriteBytes(AlbumInfoFileName(), ReadBytes(AlbumInfoFileName()) + "title=Old Name\n");
    ASSERT_TRUE(WriteAlbumInfo(u"d"_s, u"Band"_s, u"New Record"_s, u"1984"_s, u"Rock"_s));
    const TAlbum a = Read(u"d"_s);
    EXPECT_EQ(a.Title, u"Old Name"_s); // never changed by a save
    EXPECT_EQ(a.Artist, u"Band"_s);
    EXPECT_EQ(a.Year, u"1984"_s);
    EXPECT_EQ(a.Genre, u"Rock"_s);
    // artist, album, year, genre, title: five entries, none of them a track.
    EXPECT_EQ(a.Tracks, QStringList(5, QString()));
}

TEST_F(AlbumInfoTest, FewerRowsLeaveHigherTracks)
{
    const QStringList twelve = Titles(12, u"Old "_s);
    const QStringList three = Titles(3, u"New "_s);
    ASSERT_TRUE(WriteAlbumInfo(u"d"_s, {}, {}, {}, {}, &twelve));
    ASSERT_TRUE(WriteAlbumInfo(u"d"_s, {}, {}, {}, {}, &three));
    EXPECT_EQ(
        Read(u"d"_s).Tracks,
        QStringList({u"New 1"_s, u"New 2"_s, u"New 3"_s, u"Old 4"_s, u"Old 5"_s, u"Old 6"_s,
                     u"Old 7"_s, u"Old 8"_s, u"Old 9"_s, u"Old 10"_s, u"Old 11"_s, u"Old 12"_s}));
}

TEST_F(AlbumInfoTest, TitlesOfEveryShapeSurvive)
{
    const QStringList titles = {u"\"Heroes\""_s,
                                u"  Intro  "_s,
                                u"a=b; [c]"_s,
                                u"Line\nbreak"_s,
                                u"Caf\u00e9 \u6771\u4eac"_s,
                                u"; starts like a comment"_s};
    ASSERT_TRUE(WriteAlbumInfo(u"d"_s, {}, {}, {}, {}, &titles));
    ASSERT_TRUE(WriteAlbumInfo(u"other"_s, u"x"_s, {}, {}, {}));
    QStringList expected = titles;
    expected[3] = u"Line break"_s;
    EXPECT_EQ(Read(u"d"_s).Tracks, expected);
}

TEST_F(AlbumInfoTest, UnwritableFileSaysWhy)
{
    const QString config = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    WriteBytes(config, "not a folder");
    const QStringList titles = Titles(2);
    QString failure;
    EXPECT_FALSE(WriteAlbumInfo(u"d"_s, {}, {}, {}, {}, &titles, &failure));
    EXPECT_EQ(failure, u"Unable to write to "_s + config + u"/cdplayer.ini: Not a directory"_s);
    EXPECT_TRUE(Read(u"d"_s).Result);
}

// Album files as other programs and editors leave them: a save of the titles read from them
// writes back what was read and loses nothing else.
TEST_F(AlbumInfoTest, HostileFilesSurviveAReadThenSave)
{
    const auto utf16 = [](const QString& text) {
        QByteArray bytes = "\xFF\xFE";
        for (const QChar c : text)
            bytes.append(char(c.unicode() & 0xFF)).append(char(c.unicode() >> 8));
        return bytes;
    };
    const QList<QByteArray> files = {
        "[d]\r\nartist=Caf\x92 Band\r\nalbum=\x93Live\x94\r\n0=It\x92s\r\n1=\r\n2=Gamma\r\n",
        utf16(u"[d]\r\nartist=\u6771\u4eac\r\nyear=1999\r\n0=A\r\n1=B\r\n2=\U0001F600\r\n"_s),
        "[d]\n[broken\ngenre=Jazz\n0=A\n1=B\n2=C\n",
        "[d]\nTitle=Theirs\nARTIST=\"  padded  \"\nyear=" + QByteArray(5000, 'y') + "\n0=A\n1=B\n",
        "[d]\n0=A\n0=dup\n1=B\n2=C\nfoo=bar\n[e]\n0=other\n",
    };
    const auto keysOf = [](const QString& section) {
        return profile::GetPrivateProfileSectionValues(section, 16384, 1 << 20,
                                                       AlbumInfoFileName());
    };
    for (const QByteArray& bytes : files) {
        WriteBytes(AlbumInfoFileName(), bytes);
        const TAlbum before = Read(u"d"_s);
        const auto keysBefore = keysOf(u"d"_s);
        const auto otherBefore = keysOf(u"e"_s);
        QString artist, album, year, genre;
        ReadStoredAlbumInfo(u"d"_s, artist, album, year, genre);
        const QStringList rows = before.Tracks.mid(0, 3);
        ASSERT_TRUE(WriteAlbumInfo(u"d"_s, artist, album, year, genre, &rows));
        const TAlbum after = Read(u"d"_s);
        EXPECT_EQ(after.Tracks.mid(0, 3), rows) << bytes.toStdString();
        EXPECT_EQ(after.Artist, before.Artist);
        EXPECT_EQ(after.Title, before.Title);
        EXPECT_EQ(after.Year, before.Year);
        EXPECT_EQ(after.Genre, before.Genre);
        // Every key stays as it was; only the album keys and row titles a section lacked are
        // added, the album keys empty; a file in UTF-16 stays UTF-16.
        const auto keysAfter = keysOf(u"d"_s);
        EXPECT_EQ(keysAfter.mid(0, keysBefore.size()), keysBefore);
        const QStringList added = {u"artist"_s, u"album"_s, u"year"_s, u"genre"_s};
        for (const auto& [name, value] : keysAfter.mid(keysBefore.size())) {
            const qsizetype row = QStringList({u"0"_s, u"1"_s, u"2"_s}).indexOf(name);
            EXPECT_TRUE(row >= 0 || added.contains(name)) << name.toStdString();
            EXPECT_EQ(value, row >= 0 ? rows[row] : QString());
        }
        EXPECT_EQ(keysOf(u"e"_s), otherBefore);
        EXPECT_EQ(ReadBytes(AlbumInfoFileName()).left(2), bytes.left(2));
    }
}

} // namespace
