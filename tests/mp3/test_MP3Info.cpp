#include "mp3/MP3Info.h"

#include "app/Exception.h"
#include "support/FileSizeLimit.h"
#include "support/Tools.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

QByteArray Audio(qsizetype size)
{
    QByteArray audio(size, '\0');
    for (qsizetype i = 0; i < size; ++i)
        audio[i] = char((i * 7 + 3) % 251);
    return audio;
}

QByteArray Tag(const QByteArray& title, uint8_t genre = 17)
{
    QByteArray tag = "TAG" + title.leftJustified(30, ' ') + QByteArray(94, ' ');
    tag.append(char(genre));
    return tag;
}

class MP3InfoTest : public ::testing::Test
{
protected:
    QString Path(const QString& name = u"a.mp3"_s) const { return FDir.filePath(name); }

    void WriteFile(const QByteArray& bytes, const QString& name = u"a.mp3"_s) const
    {
        QFile file(Path(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(file.write(bytes), bytes.size());
    }

    QByteArray ReadFile(const QString& name = u"a.mp3"_s) const
    {
        QFile file(Path(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    void SetUp() override
    {
        FInfo.onError = [this](QObject* sender) {
            EXPECT_EQ(sender, &FInfo);
            FErrors.append(FInfo.Error());
        };
        FInfo.onChange = [this](QObject*) { ++FChanges; };
        FInfo.onChangeFile = [this](QObject*) { ++FFileChanges; };
    }

    QTemporaryDir FDir;
    TMP3Info FInfo;
    QStringList FErrors;
    int FChanges = 0;
    int FFileChanges = 0;
};

TEST_F(MP3InfoTest, NewComponent)
{
    const TMP3Info info;
    EXPECT_EQ(info.GenreID(), 12);
    EXPECT_FALSE(info.Valid());
    EXPECT_FALSE(info.Saved());
    EXPECT_TRUE(info.Title().isEmpty() && info.Genre().isEmpty() && info.Error().isEmpty());
    ASSERT_EQ(info.Genres().size(), 115);
    EXPECT_EQ(info.Genres().at(0), u"Blues"_s);
    EXPECT_EQ(info.Genres().at(12), u"Other"_s);
    EXPECT_EQ(info.Genres().at(79), u"Hard Rock"_s);
    EXPECT_EQ(info.Genres().at(81), u"Folk/Rock"_s);
    EXPECT_EQ(info.Genres().at(83), u"Swing"_s);
    EXPECT_EQ(info.Genres().at(84), u"Bebob"_s);
    EXPECT_EQ(info.Genres().at(114), u"Folklore"_s);
    QStringList unique = info.Genres();
    EXPECT_EQ(unique.removeDuplicates(), 0);
}

TEST_F(MP3InfoTest, UntaggedFileGetsATagAppended)
{
    const QByteArray audio = Audio(5000);
    WriteFile(audio);
    FInfo.SetTitle(u"stale"_s);
    FInfo.SetGenreID(3);
    FInfo.SetFilename(Path());
    EXPECT_FALSE(FInfo.Valid());
    EXPECT_TRUE(FInfo.Title().isEmpty());
    EXPECT_EQ(FInfo.GenreID(), 12);
    EXPECT_EQ(FInfo.Genre(), u"Dance"_s); // the name is left as it was
    EXPECT_EQ(FErrors, QStringList({u"Wrong file format or no ID3 Tag !"_s}));
    EXPECT_EQ(FFileChanges, 0);

    FChanges = 0;
    FInfo.SetTitle(u"Caf\u00e9 \u6771"_s);
    EXPECT_EQ(FChanges, 1);
    FInfo.Save();
    EXPECT_TRUE(FInfo.Saved());
    EXPECT_FALSE(FInfo.Valid());
    const QByteArray bytes = ReadFile();
    ASSERT_EQ(bytes.size(), 5000 + 128);
    EXPECT_EQ(bytes.left(5000), audio);
    QByteArray expected = "TAGCaf\xe9 ?" + QByteArray(128 - 9, ' ');
    expected[127] = char(12);
    EXPECT_EQ(bytes.mid(5000), expected);

    // A second save replaces the tag it appended instead of stacking another.
    FInfo.SetArtist(u"Band"_s);
    FInfo.Save();
    EXPECT_TRUE(FInfo.Saved());
    EXPECT_EQ(ReadFile().size(), 5000 + 128);
    EXPECT_EQ(ReadFile().mid(5000 + 33, 4), QByteArray("Band"));
}

TEST_F(MP3InfoTest, FieldsReadAtFullWidth)
{
    QByteArray tag = "TAG" + QByteArray("abc").leftJustified(30, ' ') + QByteArray("nul", 3) +
                     QByteArray(27, '\0') + QByteArray(" lead\xe9").leftJustified(30, ' ') + "19" +
                     "  " + QByteArray(30, 'c') + char(255);
    ASSERT_EQ(tag.size(), 128);
    WriteFile(Audio(300) + tag);
    FChanges = 0;
    FInfo.SetFilename(Path());
    EXPECT_TRUE(FInfo.Valid());
    EXPECT_EQ(FInfo.Title(), u"abc"_s);
    EXPECT_EQ(FInfo.Artist(), u"nul"_s + QString(27, QChar(0)));
    EXPECT_EQ(FInfo.Album(), u" lead\u00e9"_s);
    EXPECT_EQ(FInfo.Year(), u"19"_s);
    EXPECT_EQ(FInfo.Comment(), QString(30, u'c'));
    EXPECT_EQ(FInfo.GenreID(), 12);
    EXPECT_EQ(FInfo.Genre(), u"Other"_s);
    EXPECT_EQ(FFileChanges, 1);
    EXPECT_EQ(FChanges, 0);
    EXPECT_TRUE(FErrors.isEmpty());

    WriteFile(Audio(300) + Tag("x", 114));
    FInfo.SetFilename(Path()); // the same path reads again
    EXPECT_EQ(FInfo.Genre(), u"Folklore"_s);
    EXPECT_EQ(FFileChanges, 2);
    // "TAG" is matched exactly.
    WriteFile(Audio(300) + "tag" + Tag("x").mid(3));
    FInfo.SetFilename(Path());
    EXPECT_FALSE(FInfo.Valid());
}

TEST_F(MP3InfoTest, SettersKeepTheFieldWidths)
{
    FInfo.SetTitle(QString(40, u't'));
    FInfo.SetArtist(u"a"_s);
    FInfo.SetYear(u"1999-12-31"_s);
    FInfo.SetComment(QString(29, u'x') + u"\U0001F600\U0001F600"_s);
    FInfo.SetAlbum(u"e\u0301"_s.repeated(30)); // decomposed accents become one character each
    EXPECT_EQ(FInfo.Title(), QString(30, u't'));
    EXPECT_EQ(FInfo.Year(), u"1999"_s);
    EXPECT_EQ(FInfo.Comment(), QString(29, u'x') + u"\U0001F600"_s);
    EXPECT_EQ(FInfo.Album(), QString(30, QChar(0xE9)));
    FInfo.SetGenreID(115);
    EXPECT_EQ(FInfo.GenreID(), 12);
    FInfo.SetGenreID(84);
    EXPECT_EQ(FInfo.Genre(), u"Bebob"_s);
    EXPECT_EQ(FChanges, 7);

    WriteFile(Audio(200));
    const TNotifyEvent onChange = FInfo.onChange;
    FInfo.onChange = nullptr;
    const QString title = FInfo.Title();
    FInfo.SetFilename(Path()); // clears the fields: no tag
    FInfo.SetTitle(title);
    FInfo.SetArtist(u"a"_s);
    FInfo.SetComment(QString(29, u'x') + u"\U0001F600"_s);
    FInfo.SetGenreID(84);
    FInfo.onChange = onChange;
    FInfo.Save();
    const QByteArray tag = ReadFile().mid(200);
    ASSERT_EQ(tag.size(), 128);
    EXPECT_EQ(tag.mid(3, 30), QByteArray(30, 't'));
    EXPECT_EQ(tag.mid(33, 30), QByteArray("a").leftJustified(30, ' '));
    EXPECT_EQ(tag.mid(93, 4), QByteArray(4, ' '));
    EXPECT_EQ(tag.mid(97, 30), QByteArray(29, 'x') + '?');
    EXPECT_EQ(uint8_t(tag[127]), 84);
}

TEST_F(MP3InfoTest, SavingOverATagReplacesOnlyTheTag)
{
    const QByteArray audio = Audio(1000);
    WriteFile(audio + Tag("old title"));
    FInfo.SetFilename(Path());
    ASSERT_TRUE(FInfo.Valid());
    FInfo.SetTitle(u"new"_s);
    FInfo.Save();
    EXPECT_TRUE(FInfo.Saved());
    EXPECT_TRUE(FInfo.Valid());
    EXPECT_EQ(ReadFile(), audio + Tag("new"));

    // The file lost its tag behind our back: the audio's end is never written over.
    WriteFile(audio);
    FInfo.Save();
    EXPECT_EQ(ReadFile(), audio + Tag("new"));
}

TEST_F(MP3InfoTest, MissingAndShortFiles)
{
    FInfo.SetTitle(u"kept"_s);
    FInfo.SetFilename(Path(u"missing.mp3"_s));
    EXPECT_FALSE(FInfo.Valid());
    EXPECT_EQ(FInfo.Title(), u"kept"_s);
    FInfo.Save();
    EXPECT_FALSE(FInfo.Saved());
    FInfo.RemoveID3();
    EXPECT_EQ(FErrors,
              QStringList({u"File doesn`t exist !"_s, u"File doesn`t exist or is not valid !"_s,
                           u"File doesn`t exist !"_s}));
    EXPECT_FALSE(QFileInfo::exists(Path(u"missing.mp3"_s)));
    // A folder is not a file.
    FInfo.SetFilename(FDir.path());
    EXPECT_EQ(FErrors.back(), u"File doesn`t exist !"_s);

    // Too short to hold a tag: an input/output failure, and no later Save writes over it.
    WriteFile("TAG short");
    EXPECT_THROW(FInfo.SetFilename(Path()), EInOutError);
    EXPECT_FALSE(FInfo.Valid());
    FInfo.Save();
    EXPECT_TRUE(FInfo.Saved());
    EXPECT_EQ(ReadFile().left(9), QByteArray("TAG short"));
    EXPECT_EQ(ReadFile().size(), 9 + 128);
    WriteFile({});
    EXPECT_THROW(FInfo.SetFilename(Path()), EInOutError);
}

TEST_F(MP3InfoTest, ReadOnlyFiles)
{
    WriteFile(Audio(400));
    FInfo.SetFilename(Path());
    QFile::setPermissions(Path(), QFile::ReadOwner | QFile::ReadGroup);
    FInfo.Save();
    EXPECT_TRUE(FInfo.Saved());
    EXPECT_TRUE(QFile::permissions(Path()) & QFile::WriteOwner);
    EXPECT_EQ(ReadFile().size(), 400 + 128);

    FInfo.SetFilename(Path());
    ASSERT_TRUE(FInfo.Valid());
    QFile::setPermissions(Path(), QFile::ReadOwner);
    FInfo.RemoveID3();
    EXPECT_FALSE(FInfo.Valid());
    EXPECT_EQ(ReadFile(), Audio(400));
    EXPECT_TRUE(QFile::permissions(Path()) & QFile::WriteOwner);
}

TEST_F(MP3InfoTest, RemoveCutsOnlyATag)
{
    const QByteArray audio = Audio(2000);
    WriteFile(audio + Tag("t"));
    FInfo.SetFilename(Path());
    FInfo.RemoveID3();
    EXPECT_EQ(ReadFile(), audio);
    EXPECT_FALSE(FInfo.Valid());
    FInfo.RemoveID3();
    EXPECT_EQ(FErrors, QStringList({u"File is already untagged !"_s}));
    EXPECT_EQ(ReadFile(), audio);

    // The tag went away after it was read: the audio stays whole.
    WriteFile(audio + Tag("t"));
    FInfo.SetFilename(Path());
    WriteFile(audio);
    FInfo.RemoveID3();
    EXPECT_EQ(ReadFile(), audio);
    EXPECT_EQ(FErrors.back(), u"File is already untagged !"_s);
}

TEST_F(MP3InfoTest, FullDiskLeavesTheFileAsItWas)
{
    const QByteArray audio = Audio(8000);
    WriteFile(audio);
    FInfo.SetFilename(Path());
    FInfo.SetTitle(u"t"_s);
    {
        TFileSizeLimit limit(8050);
        FInfo.Save();
    }
    EXPECT_FALSE(FInfo.Saved());
    EXPECT_EQ(ReadFile(), audio);
    FInfo.Save();
    EXPECT_TRUE(FInfo.Saved());
    EXPECT_EQ(ReadFile().size(), 8000 + 128);
}

TEST_F(MP3InfoTest, TagsReadTheSameInMutagen)
{
    WriteFile(Audio(3000));
    FInfo.SetFilename(Path());
    FInfo.SetTitle(u"Caf\u00e9 au lait"_s);
    FInfo.SetArtist(u"The Band"_s);
    FInfo.SetAlbum(u"A Record With a Long Name Here!"_s); // 31 characters: cut to 30
    FInfo.SetYear(u"1987"_s);
    FInfo.SetComment(u"Ripped"_s);
    FInfo.SetGenreID(17);
    FInfo.Save();
    ASSERT_TRUE(FInfo.Saved());

    const QString read = uR"(
import sys, mutagen.id3
t = mutagen.id3.ID3(sys.argv[1])
assert t.version[0] == 1, t.version
print("\n".join([str(t["TIT2"]), str(t["TPE1"]), str(t["TALB"]), str(t["TDRC"]),
                 str(t["COMM:ID3v1 Comment:eng"]), mutagen.id3.ParseID3v1(
                     open(sys.argv[1], "rb").read()[-128:])["TCON"].text[0], t["TCON"].genres[0]]))
)"_s;
    const TToolResult result = RunPython(read, {Path()});
    ASSERT_EQ(result.ExitCode, 0) << result.Err.toStdString();
    EXPECT_EQ(
        QString::fromUtf8(result.Out).split(u'\n'),
        QStringList({u"Caf\u00e9 au lait"_s, u"The Band"_s, u"A Record With a Long Name Here"_s,
                     u"1987"_s, u"Ripped"_s, u"17"_s, u"Rock"_s, QString()}));

    const QString write = uR"(
import sys, mutagen.id3 as m
tag = m.MakeID3v1({"TIT2": m.TIT2(text=["Na\u00efve Song"]), "TPE1": m.TPE1(text=["Someone"]),
                   "TALB": m.TALB(text=["Best Of"]), "TDRC": m.TDRC(text=["2001"]),
                   "COMM": m.COMM(text=["hi"]), "TCON": m.TCON(text=["Jazz"])})
open(sys.argv[1], "ab").write(tag)
)"_s;
    WriteFile(Audio(3000), u"b.mp3"_s);
    const TToolResult written = RunPython(write, {Path(u"b.mp3"_s)});
    ASSERT_EQ(written.ExitCode, 0) << written.Err.toStdString();
    TMP3Info other;
    other.SetFilename(Path(u"b.mp3"_s));
    ASSERT_TRUE(other.Valid());
    // Its fields are padded with zero bytes, which belong to the text as read.
    const auto unpadded = [](QString s) { return s.left(s.indexOf(QChar(0))); };
    EXPECT_EQ(unpadded(other.Title()), u"Na\u00efve Song"_s);
    EXPECT_EQ(other.Title().size(), 30);
    EXPECT_EQ(unpadded(other.Artist()), u"Someone"_s);
    EXPECT_EQ(unpadded(other.Album()), u"Best Of"_s);
    EXPECT_EQ(other.Year(), u"2001"_s);
    EXPECT_EQ(unpadded(other.Comment()), u"hi"_s);
    EXPECT_EQ(other.GenreID(), 8);
    EXPECT_EQ(other.Genre(), u"Jazz"_s);
}

TEST_F(MP3InfoTest, TaggedMp3StillDecodes)
{
    ASSERT_TRUE(HaveTool(u"sox"_s) && HaveTool(u"lame"_s) && HaveTool(u"mpg123"_s));
    const QString wav = Path(u"s.wav"_s);
    ASSERT_EQ(RunTool(u"sox"_s, {u"-n"_s, u"-r"_s, u"44100"_s, u"-c"_s, u"2"_s, u"-b"_s, u"16"_s,
                                 wav, u"synth"_s, u"1"_s, u"sine"_s, u"440"_s})
                  .ExitCode,
              0);
    ASSERT_EQ(RunTool(u"lame"_s, {u"--quiet"_s, wav, Path()}).ExitCode, 0);
    FInfo.SetFilename(Path());
    FInfo.SetTitle(u"Sine"_s);
    FInfo.Save();
    ASSERT_TRUE(FInfo.Saved());
    const TToolResult decoded = RunTool(u"mpg123"_s, {u"-q"_s, u"-s"_s, Path()});
    ASSERT_EQ(decoded.ExitCode, 0);
    // One second of 16-bit stereo at 44.1 kHz, give or take the encoder's padding.
    EXPECT_NEAR(double(decoded.Out.size()), 44100.0 * 4, 44100.0 * 4 * 0.1);
    FInfo.SetFilename(Path());
    EXPECT_EQ(FInfo.Title(), u"Sine"_s);
}

} // namespace
