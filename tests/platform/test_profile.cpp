#include "platform/profile/Profile.h"

#include "support/FileSizeLimit.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace profile;

namespace {

class ProfileTest : public ::testing::Test
{
protected:
    QString Path(const QString& name = u"test.ini"_s) const { return FDir.filePath(name); }

    void WriteFile(const QByteArray& bytes, const QString& name = u"test.ini"_s) const
    {
        QFile file(Path(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    QByteArray ReadFile(const QString& name = u"test.ini"_s) const
    {
        QFile file(Path(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QString Get(const QString& section, const QString& key, const QString& def = u"<def>"_s,
                int size = 2048) const
    {
        return GetPrivateProfileString(section, key, def, size, Path());
    }

    bool Put(const QString& section, const QString& key, const QString& value) const
    {
        return WritePrivateProfileString(section, key, value, Path());
    }

    QTemporaryDir FDir;
};

TEST_F(ProfileTest, NamesMatchWithoutCaseAndOuterBlanks)
{
    WriteFile("[System]\nOutDir=/music\n  Mixed Case Key  = v \n");
    EXPECT_EQ(Get(u"system"_s, u"OUTDIR"_s), u"/music"_s);
    EXPECT_EQ(Get(u"  SYSTEM "_s, u" outdir\t"_s), u"/music"_s);
    EXPECT_EQ(Get(u"System"_s, u"mixed case key"_s), u"v"_s);
    EXPECT_EQ(Get(u"System"_s, u"Mixed"_s), u"<def>"_s);
    EXPECT_EQ(Get(u"Other"_s, u"OutDir"_s), u"<def>"_s);
    // Only ASCII letters fold: these are different names.
    WriteFile("[\xc3\x84]\nk=1\n");
    EXPECT_EQ(Get(u"\u00e4"_s, u"k"_s), u"<def>"_s);
    EXPECT_EQ(Get(u"\u00c4"_s, u"k"_s), u"1"_s);
}

TEST_F(ProfileTest, FirstOfDuplicateSectionsAndKeysWins)
{
    WriteFile("[a]\nk=first\nk=second\nK=third\n[b]\nx=1\n[A]\nk=later\nonly=later\n");
    EXPECT_EQ(Get(u"a"_s, u"k"_s), u"first"_s);
    // A later section of the same name is never consulted.
    EXPECT_EQ(Get(u"a"_s, u"only"_s), u"<def>"_s);
    EXPECT_EQ(GetPrivateProfileKeyNames(u"A"_s, 16384, Path()),
              QStringList({u"k"_s, u"k"_s, u"K"_s}));
}

TEST_F(ProfileTest, LineShapes)
{
    WriteFile("top=nameless\n"
              "; comment=not a key\n"
              "  ;indented=comment\n"
              "  [  spaced ] name ]  trailing\n"
              "a=b=c\n"
              "no equals sign here\n"
              "=no name\n"
              "  padded   =   value with  inner  blanks   \n"
              "dq=\"quoted \"\n"
              "sq=' single '\n"
              "mixed=\"x'\n"
              "lone=\"\n"
              "twice=\"\"two\"\"\n"
              "empty=\n"
              "blank=    \n"
              "[unclosed\n"
              "u=1\n"
              "[also=unclosed\n");
    EXPECT_EQ(Get(QString(), u"top"_s), u"nameless"_s);
    EXPECT_EQ(Get(u"  spaced ] name"_s, u"a"_s), u"b=c"_s);
    EXPECT_EQ(Get(u"spaced ] name"_s, u"no equals sign here"_s), u"<def>"_s);
    EXPECT_EQ(Get(u"spaced ] name"_s, u"padded"_s), u"value with  inner  blanks"_s);
    EXPECT_EQ(Get(u"spaced ] name"_s, u"dq"_s), u"quoted "_s);
    EXPECT_EQ(Get(u"spaced ] name"_s, u"sq"_s), u" single "_s);
    EXPECT_EQ(Get(u"spaced ] name"_s, u"mixed"_s), u"\"x'"_s);
    EXPECT_EQ(Get(u"spaced ] name"_s, u"lone"_s), u"\""_s);
    EXPECT_EQ(Get(u"spaced ] name"_s, u"twice"_s), u"\"two\""_s);
    EXPECT_EQ(Get(u"spaced ] name"_s, u"empty"_s), QString());
    EXPECT_EQ(Get(u"spaced ] name"_s, u"blank"_s), QString());
    // A "[" line without its "]" opens no section: the keys after it stay where they are.
    EXPECT_EQ(Get(u"unclosed"_s, u"u"_s), u"<def>"_s);
    EXPECT_EQ(Get(u"spaced ] name"_s, u"u"_s), u"1"_s);
    EXPECT_EQ(Get(u"spaced ] name"_s, u"[also"_s), u"unclosed"_s);
    EXPECT_EQ(GetPrivateProfileKeyNames(u"spaced ] name"_s, 16384, Path()),
              QStringList({u"a"_s, u"padded"_s, u"dq"_s, u"sq"_s, u"mixed"_s, u"lone"_s, u"twice"_s,
                           u"empty"_s, u"blank"_s, u"u"_s, u"[also"_s}));
    EXPECT_EQ(GetPrivateProfileKeyNames(QString(), 16384, Path()), QStringList({u"top"_s}));
}

TEST_F(ProfileTest, EveryLineBreakEndsALine)
{
    WriteFile("[s]\ra=1\r\nb=2\nc=3\r\r\nd=4");
    EXPECT_EQ(Get(u"s"_s, u"a"_s), u"1"_s);
    EXPECT_EQ(Get(u"s"_s, u"b"_s), u"2"_s);
    EXPECT_EQ(Get(u"s"_s, u"c"_s), u"3"_s);
    EXPECT_EQ(Get(u"s"_s, u"d"_s), u"4"_s);
}

TEST_F(ProfileTest, EightBitTextPassesThrough)
{
    // UTF-8 reads as such; bytes that are not UTF-8 (another program's code page) as
    // Windows-1252, whose quotes and dashes are printable characters, not control codes.
    const QByteArray before = "\xEF\xBB\xBF[s]\nutf=Bj\xc3\xb6rk\nlatin=Bj\xf6rk\n"
                              "cp=Don\x92t \x96 \x80\x81\x9f\n";
    WriteFile(before);
    EXPECT_EQ(Get(u"s"_s, u"utf"_s), u"Bj\u00f6rk"_s);
    EXPECT_EQ(Get(u"s"_s, u"latin"_s), u"Bj\u00f6rk"_s);
    EXPECT_EQ(Get(u"s"_s, u"cp"_s), u"Don\u2019t \u2013 \u20ac\u0081\u0178"_s);
    // Writing back what was read changes nothing; new text goes in as UTF-8.
    ASSERT_TRUE(Put(u"s"_s, u"cp"_s, Get(u"s"_s, u"cp"_s)));
    ASSERT_TRUE(Put(u"s"_s, u"new"_s, u"\u00e9"_s));
    EXPECT_EQ(ReadFile(), before + "new=\xc3\xa9\n");
}

TEST_F(ProfileTest, Utf16FilesStayUtf16)
{
    const auto utf16 = [](const QString& text, bool little) {
        QByteArray bytes = little ? "\xFF\xFE" : "\xFE\xFF";
        for (const QChar c : text) {
            const char high = char(c.unicode() >> 8), low = char(c.unicode() & 0xFF);
            bytes.append(little ? low : high).append(little ? high : low);
        }
        return bytes;
    };
    for (const bool little : {true, false}) {
        const QString text = u"; \u6771\u4eac\r\n[s]\r\nk=Bj\u00f6rk \U0001F600\r\n"_s;
        WriteFile(utf16(text, little));
        EXPECT_EQ(Get(u"s"_s, u"k"_s), u"Bj\u00f6rk \U0001F600"_s);
        ASSERT_TRUE(Put(u"s"_s, u"new"_s, u"\u00e9"_s));
        EXPECT_EQ(ReadFile(), utf16(text + u"new=\u00e9\r\n"_s, little)) << little;
    }
    // Text that would not come back as it is (a lone surrogate, half a character at the end)
    // reads as far as it goes and is never rewritten.
    for (const QByteArray& broken :
         {utf16(u"[s]\nk=v\n"_s, true) + "x", utf16(u"[s]\nk=v\n\xd800"_s, false)}) {
        WriteFile(broken);
        EXPECT_EQ(Get(u"s"_s, u"k"_s), u"v"_s);
        QString failure;
        EXPECT_FALSE(WritePrivateProfileStrings({{u"s"_s, u"k"_s, u"w"_s}}, Path(), &failure));
        EXPECT_TRUE(failure.contains(u"UTF-16"_s)) << failure.toStdString();
        EXPECT_EQ(ReadFile(), broken);
    }
}

TEST_F(ProfileTest, BufferSizeLimitsWhatIsReturned)
{
    WriteFile("[s]\nk=abcdef\nsmiley=a\xf0\x9f\x98\x80\n");
    EXPECT_EQ(Get(u"s"_s, u"k"_s, {}, 4), u"abc"_s);
    EXPECT_EQ(Get(u"s"_s, u"k"_s, {}, 7), u"abcdef"_s);
    EXPECT_EQ(Get(u"s"_s, u"k"_s, {}, 1), QString());
    EXPECT_EQ(Get(u"s"_s, u"k"_s, {}, 0), QString());
    EXPECT_EQ(Get(u"s"_s, u"missing"_s, u"default"_s, 4), u"def"_s);
    // A character is never cut in half.
    EXPECT_EQ(Get(u"s"_s, u"smiley"_s, {}, 3), u"a"_s);

    QByteArray many = "[s]\n";
    for (int i = 0; i < 5000; ++i)
        many += QByteArray::number(i) + "=x\n";
    WriteFile(many);
    // 1+1 bytes for 0..9, 2+1 for 10..99, 3+1 for 100..999, 4+1 from 1000: with the final
    // terminator, 16384 bytes hold the names 0 to 3497.
    const QStringList names = GetPrivateProfileKeyNames(u"s"_s, 16384, Path());
    ASSERT_EQ(names.size(), 3498);
    EXPECT_EQ(names.back(), u"3497"_s);
    EXPECT_EQ(GetPrivateProfileSectionValues(u"s"_s, 16384, 2048, Path()).size(), 3498);
}

TEST_F(ProfileTest, SectionValuesReadAsSingleReadsWould)
{
    WriteFile("[s]\nA=\"1\"\nb=\na=2\nlong=abcdef\n");
    const auto pairs = GetPrivateProfileSectionValues(u"S"_s, 16384, 4, Path());
    ASSERT_EQ(pairs.size(), 4);
    EXPECT_EQ(pairs[0], qMakePair(u"A"_s, u"1"_s));
    EXPECT_EQ(pairs[1], qMakePair(u"b"_s, QString()));
    EXPECT_EQ(pairs[2], qMakePair(u"a"_s, u"1"_s));
    EXPECT_EQ(pairs[3], qMakePair(u"long"_s, u"abc"_s));
    EXPECT_TRUE(GetPrivateProfileSectionValues(u"none"_s, 16384, 4, Path()).isEmpty());
}

TEST_F(ProfileTest, WritesCreateFileThenSectionsThenKeys)
{
    ASSERT_TRUE(Put(u"System"_s, u"OutDir"_s, u"/m"_s));
    ASSERT_TRUE(Put(u"MP3"_s, u"Mode"_s, u"0"_s));
    ASSERT_TRUE(Put(u"system"_s, u"OpenWhenDone"_s, u"1"_s));
    EXPECT_EQ(ReadFile(), QByteArray("[System]\nOutDir=/m\nOpenWhenDone=1\n\n[MP3]\nMode=0\n"));
    ASSERT_TRUE(Put(u"SYSTEM"_s, u"OUTDIR"_s, u"/other"_s));
    EXPECT_EQ(ReadFile(), QByteArray("[System]\nOutDir=/other\nOpenWhenDone=1\n\n[MP3]\nMode=0\n"));
    // A file without a folder to live in cannot be created.
    EXPECT_FALSE(WritePrivateProfileString(u"s"_s, u"k"_s, u"v"_s, Path(u"no/such.ini"_s)));
    EXPECT_FALSE(QFileInfo::exists(Path(u"no"_s)));
}

TEST_F(ProfileTest, ForeignFileKeepsEverythingNotWritten)
{
    const QByteArray foreign = "; written by hand\r\n"
                               "global = yes\r\n"
                               "\r\n"
                               "[ System ]\r\n"
                               "  outdir   =  \"C:\\Old\"   ; not a comment\r\n"
                               "; a note inside the section\r\n"
                               "Theme=dark\r\n"
                               "\r\n"
                               "\r\n"
                               "[Other]\r\n"
                               "OutDir=untouched\r\n"
                               "garbage line\r\n"
                               "[MP3]";
    WriteFile(foreign);
    ASSERT_TRUE(Put(u"System"_s, u"OutDir"_s, u"/new"_s));
    ASSERT_TRUE(Put(u"System"_s, u"OpenWhenDone"_s, u"0"_s));
    ASSERT_TRUE(Put(u"MP3"_s, u"CRC"_s, u"1"_s));
    ASSERT_TRUE(Put(u"Fresh"_s, u"k"_s, u"v"_s));
    EXPECT_EQ(ReadFile(), QByteArray("; written by hand\r\n"
                                     "global = yes\r\n"
                                     "\r\n"
                                     "[ System ]\r\n"
                                     "  outdir   =  /new\r\n"
                                     "; a note inside the section\r\n"
                                     "Theme=dark\r\n"
                                     "OpenWhenDone=0\r\n"
                                     "\r\n"
                                     "\r\n"
                                     "[Other]\r\n"
                                     "OutDir=untouched\r\n"
                                     "garbage line\r\n"
                                     "[MP3]\r\n"
                                     "CRC=1\r\n"
                                     "\r\n"
                                     "[Fresh]\r\n"
                                     "k=v\r\n"));
}

TEST_F(ProfileTest, WritingTheSameValueLeavesTheFileAlone)
{
    WriteFile("[s]\nk = \"same\"  \n");
    const QDateTime before = QFileInfo(Path()).lastModified();
    QFile::setPermissions(Path(), QFile::ReadOwner);
    // Even a file that may not be written accepts a write that changes nothing.
    EXPECT_TRUE(Put(u"S"_s, u"K"_s, u"same"_s));
    QFile::setPermissions(Path(), QFile::ReadOwner | QFile::WriteOwner);
    EXPECT_EQ(ReadFile(), QByteArray("[s]\nk = \"same\"  \n"));
    EXPECT_EQ(QFileInfo(Path()).lastModified(), before);
}

TEST_F(ProfileTest, NamesAndValuesCannotInjectLines)
{
    ASSERT_TRUE(Put(u"s"_s, u"k"_s, u"a\r\n[evil]\ninjected=1"_s));
    ASSERT_TRUE(Put(u"s]\n[x"_s, u"key\rother"_s, u"v"_s));
    EXPECT_EQ(Get(u"s"_s, u"k"_s), u"a  [evil] injected=1"_s);
    EXPECT_EQ(Get(u"evil"_s, u"injected"_s), u"<def>"_s);
    EXPECT_EQ(Get(u"s] [x"_s, u"key other"_s), u"v"_s);
    EXPECT_EQ(ReadFile().count('\n'), 5);
    for (const QString& bad : {u""_s, u"  "_s, u"a=b"_s, u";k"_s, u"[k"_s})
        EXPECT_FALSE(Put(u"s"_s, bad, u"v"_s)) << bad.toStdString();
}

TEST_F(ProfileTest, ValuesReadBackAsWritten)
{
    const QStringList values = {u" leading"_s,   u"trailing "_s, u"\"Heroes\""_s, u"'q'"_s,
                                u"\""_s,         u"a\"b"_s,      u"tab\t"_s,      u"\u00e9\u4e2d"_s,
                                u"\ufeffmark"_s, u""_s};
    for (qsizetype i = 0; i < values.size(); ++i)
        ASSERT_TRUE(Put(u"s"_s, QString::number(i), values[i]));
    for (qsizetype i = 0; i < values.size(); ++i)
        EXPECT_EQ(Get(u"s"_s, QString::number(i)), values[i]) << i;
    // Plain values are stored as they are, for other programs reading the file.
    ASSERT_TRUE(Put(u"s"_s, u"plain"_s, u"C:\\My Music"_s));
    EXPECT_TRUE(ReadFile().contains("\nplain=C:\\My Music\n"));
}

TEST_F(ProfileTest, FailedWriteLeavesTheOldFile)
{
    QByteArray big = "[s]\nk=old\n";
    big += "pad=" + QByteArray(20000, 'x') + "\n";
    WriteFile(big);
    {
        TFileSizeLimit limit(8192);
        EXPECT_FALSE(Put(u"s"_s, u"k"_s, u"new"_s));
    }
    EXPECT_EQ(ReadFile(), big);
    EXPECT_EQ(QDir(FDir.path()).entryList(QDir::Files), QStringList({u"test.ini"_s}));

    // A folder in place of the file, and a file in place of the folder; each says why.
    ASSERT_TRUE(QDir(FDir.path()).mkdir(u"dir.ini"_s));
    const auto failure = [&](const QString& name, const QString& key = u"k"_s) {
        QString why;
        EXPECT_FALSE(WritePrivateProfileStrings({{u"s"_s, key, u"v"_s}}, Path(name), &why));
        return why;
    };
    EXPECT_EQ(failure(u"dir.ini"_s), u"it is not a regular file"_s);
    EXPECT_EQ(GetPrivateProfileString(u"s"_s, u"k"_s, u"d"_s, 10, Path(u"dir.ini"_s)), u"d"_s);
    EXPECT_FALSE(failure(u"test.ini/x.ini"_s).isEmpty());
    EXPECT_FALSE(failure(u"no/such.ini"_s).isEmpty());
    EXPECT_EQ(failure(u"test.ini"_s, u"a=b"_s), u"the key name \"a=b\" cannot be stored"_s);
}

TEST_F(ProfileTest, BatchIsAllOrNothing)
{
    WriteFile("[a]\nk=1\n");
    EXPECT_FALSE(
        WritePrivateProfileStrings({{u"a"_s, u"k"_s, u"2"_s}, {u"a"_s, u"="_s, u"x"_s}}, Path()));
    EXPECT_EQ(ReadFile(), QByteArray("[a]\nk=1\n"));
    EXPECT_TRUE(WritePrivateProfileStrings(
        {{u"a"_s, u"k"_s, u"2"_s}, {u"b"_s, u"k"_s, u"3"_s}, {u"a"_s, u"j"_s, u"4"_s}}, Path()));
    EXPECT_EQ(ReadFile(), QByteArray("[a]\nk=2\nj=4\n\n[b]\nk=3\n"));
}

} // namespace
