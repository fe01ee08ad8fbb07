#include "app/globals.h"

#include "app/Exception.h"
#include "platform/profile/Profile.h"

#include <QDir>
#include <QHash>
#include <QStandardPaths>

#include <limits>
#include <optional>

using namespace Qt::StringLiterals;

TMP3Settings Settings{};

namespace {

// Texts read from the settings and album files go through a caller's buffer of this size.
constexpr int ValueBufferSize = 2048;
// The key names of an album section are listed into a buffer of this many bytes.
constexpr int KeyListBufferSize = 16384;
// A disc holds at most this many tracks, so no row has a track key from this number on.
constexpr qsizetype MaxTrackKeys = 99;

constexpr int32_t True32 = -1;

const QString SystemSection = u"System"_s;
const QString MP3Section = u"MP3"_s;

const QString UnableToWrite = u"Unable to write to %1: %2"_s;

const QString NoTitle = u"No Title"_s;
const QString NoArtist = u"No Artist"_s;
const QString OtherGenre = u"Other"_s;

// The program's own name, from which its settings file is named.
const QString ProgramName = u"tarvik"_s;

QString DefaultOutDir()
{
    QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
    if (music.isEmpty())
        music = QDir::homePath() + u"/Music"_s;
    return QDir::toNativeSeparators(music);
}

// Runs with the module's initialisation, before any window exists.
const bool DefaultsSet = [] {
    SetDefaultSettings();
    return true;
}();

bool IsBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

int HexDigit(QChar c)
{
    if (c >= u'0' && c <= u'9')
        return c.unicode() - u'0';
    if (c >= u'a' && c <= u'f')
        return c.unicode() - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c.unicode() - u'A' + 10;
    return -1;
}

// Leading blanks, an optional sign, then decimal digits, or hexadecimal digits after "0x", "0X"
// or "$". A hexadecimal value may use all 32 bits ("$FFFFFFFF" is -1); a decimal one must fit.
std::optional<int32_t> ParseInteger(const QString& text)
{
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && IsBlank(text[i]))
        ++i;
    bool negative = false;
    if (i < n && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    int base = 10;
    if (i < n && text[i] == u'$') {
        base = 16;
        ++i;
    } else if (i + 1 < n && text[i] == u'0' && (text[i + 1] == u'x' || text[i + 1] == u'X')) {
        base = 16;
        i += 2;
    }
    if (i == n)
        return std::nullopt;
    const uint64_t limit = base == 16 ? 0xFFFFFFFFull : (negative ? 0x80000000ull : 0x7FFFFFFFull);
    uint64_t magnitude = 0;
    for (; i < n; ++i) {
        const int digit = HexDigit(text[i]);
        if (digit < 0 || digit >= base)
            return std::nullopt;
        magnitude = magnitude * base + digit;
        if (magnitude > limit)
            return std::nullopt;
    }
    const uint32_t bits = negative ? uint32_t(0) - uint32_t(magnitude) : uint32_t(magnitude);
    return static_cast<int32_t>(bits);
}

QString ReadText(const QString& file, const QString& section, const QString& key,
                 const QString& missing)
{
    return profile::GetPrivateProfileString(section, key, missing, ValueBufferSize, file);
}

int32_t ReadInteger(const QString& file, const QString& section, const QString& key,
                    int32_t missing)
{
    // A missing key reads as empty text, which does not convert either.
    const QString text = ReadText(file, section, key, QString());
    return ParseInteger(text).value_or(missing);
}

QString Flag(int32_t value)
{
    return value != 0 ? u"1"_s : u"0"_s;
}

QString AsciiLower(const QString& text)
{
    QString lower = text;
    for (QChar& c : lower) {
        if (c >= u'A' && c <= u'Z')
            c = QChar(c.unicode() + (u'a' - u'A'));
    }
    return lower;
}

} // namespace

void SetDefaultSettings()
{
    Settings.ConfirmReplace = true;
    Settings.OutDir = DefaultOutDir();
    Settings.OpenWhenDone = true;
    Settings.SampleRates = 44100;
    Settings.BitRates = 128;
    Settings.MaxBitRates = 320;
    Settings.Mode = 0;
    Settings.Quality = 0;
    Settings.EnableVBR = True32;
    Settings.WriteVBRHeader = True32;
    Settings.VBRQuality = 5;
    Settings.CopyRight = 0;
    Settings.Original = 0;
    Settings.CRC = True32;
    Settings.bPrivate = 0;
    Settings.ReadOffset = 0;
}

bool LoadSettings()
{
    const QString file = SettingsFileName();
    if (!QFileInfo::exists(file)) {
        SaveSettings();
        return false;
    }
    const auto mp3Flag = [&](const QString& key, int missing) {
        return ReadInteger(file, MP3Section, key, missing) != 0 ? True32 : 0;
    };
    Settings.OutDir = ReadText(file, SystemSection, u"OutDir"_s, DefaultOutDir());
    Settings.OpenWhenDone = ReadInteger(file, SystemSection, u"OpenWhenDone"_s, 1) != 0;
    Settings.SampleRates = ReadInteger(file, MP3Section, u"SampleRates"_s, 44100);
    Settings.BitRates = ReadInteger(file, MP3Section, u"BitRates"_s, 128);
    Settings.MaxBitRates = ReadInteger(file, MP3Section, u"MaxBitRates"_s, 320);
    Settings.Mode = ReadInteger(file, MP3Section, u"Mode"_s, 0);
    Settings.Quality = ReadInteger(file, MP3Section, u"Quality"_s, 0);
    // A file without these keys predates them: VBR stays off rather than changing its sound.
    Settings.EnableVBR = mp3Flag(u"EnableVBR"_s, 0);
    Settings.WriteVBRHeader = mp3Flag(u"WriteVBRHeader"_s, 0);
    Settings.VBRQuality = ReadInteger(file, MP3Section, u"VBRQuality"_s, 5);
    Settings.CopyRight = mp3Flag(u"CopyRight"_s, 0);
    Settings.Original = mp3Flag(u"Original"_s, 0);
    Settings.CRC = mp3Flag(u"CRC"_s, 1);
    Settings.bPrivate = mp3Flag(u"bPrivate"_s, 0);
    Settings.ReadOffset = ReadInteger(file, SystemSection, u"ReadOffset"_s, 0);
    return true;
}

void SaveSettings()
{
    const QString file = SettingsFileName();
    // All keys go into the file in one replacement, so an interrupted save leaves either the
    // old settings or the new ones, never a mixture.
    const QList<profile::TProfileWrite> writes = {
        {SystemSection, u"OutDir"_s, Settings.OutDir},
        {SystemSection, u"OpenWhenDone"_s, Flag(Settings.OpenWhenDone)},
        {MP3Section, u"SampleRates"_s, QString::number(Settings.SampleRates)},
        {MP3Section, u"BitRates"_s, QString::number(Settings.BitRates)},
        {MP3Section, u"MaxBitRates"_s, QString::number(Settings.MaxBitRates)},
        {MP3Section, u"Mode"_s, QString::number(Settings.Mode)},
        {MP3Section, u"Quality"_s, QString::number(Settings.Quality)},
        {MP3Section, u"EnableVBR"_s, Flag(Settings.EnableVBR)},
        {MP3Section, u"WriteVBRHeader"_s, Flag(Settings.WriteVBRHeader)},
        {MP3Section, u"VBRQuality"_s, QString::number(Settings.VBRQuality)},
        {MP3Section, u"CopyRight"_s, Flag(Settings.CopyRight)},
        {MP3Section, u"Original"_s, Flag(Settings.Original)},
        {MP3Section, u"CRC"_s, Flag(Settings.CRC)},
        {MP3Section, u"bPrivate"_s, Flag(Settings.bPrivate)},
    };
    QString reason;
    if (!profile::WritePrivateProfileStrings(writes, file, &reason))
        throw Exception(UnableToWrite.arg(file, reason));
}

QString SettingsPathFor(const QString& programPath)
{
    QString path = AsciiLower(programPath);
    const qsizetype lastSeparator =
        std::max({path.lastIndexOf(u'\\'), path.lastIndexOf(u'/'), path.lastIndexOf(u':')});
    const qsizetype dot = path.lastIndexOf(u'.');
    if (dot > lastSeparator)
        path.truncate(dot);
    return path + u".ini"_s;
}

QString ConfigFolder()
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    if (!folder.isEmpty())
        QDir().mkpath(folder);
    return folder;
}

QString SettingsFileName()
{
    return ConfigFolder() + u'/' + SettingsPathFor(ProgramName);
}

QString AlbumInfoFileName()
{
    return ConfigFolder() + u"/cdplayer.ini"_s;
}

bool ReadAlbumInfo(const QString& DiscID, QString& Artist, QString& Title, QString& Year,
                   QString& Genre, QStringList& TrackNames)
{
    TrackNames.clear();
    const QString file = AlbumInfoFileName();
    const QList<QPair<QString, QString>> keys =
        profile::GetPrivateProfileSectionValues(DiscID, KeyListBufferSize, ValueBufferSize, file);
    if (!keys.isEmpty()) {
        // Keys with a value, by name without regard to case; a repeated name counts once.
        QHash<QString, QString> table;
        for (const auto& [name, value] : keys) {
            if (!value.isEmpty())
                table.insert(AsciiLower(name), value);
        }
        Title = table.value(u"title"_s);
        Artist = table.value(u"artist"_s);
        Year = table.value(u"year"_s);
        Genre = table.value(u"genre"_s);
        // Track titles are numbered from 0; any key with a value counts towards how many
        // titles are taken, so entries for missing numbers stay empty. Every track key present
        // is read as well, an empty one included: a title the user cleared must not hide the
        // titles after it.
        qsizetype count = table.size();
        for (const auto& pair : keys) {
            bool isNumber = false;
            const qsizetype track = pair.first.toLongLong(&isNumber);
            if (isNumber && track >= count && track < MaxTrackKeys &&
                pair.first == QString::number(track))
                count = track + 1;
        }
        TrackNames.reserve(count);
        for (qsizetype i = 0; i < count; ++i)
            TrackNames.append(table.value(QString::number(i)));
    }
    if (Title.trimmed().isEmpty())
        Title = NoTitle;
    if (Artist.trimmed().isEmpty())
        Artist = NoArtist;
    if (Genre.trimmed().isEmpty())
        Genre = OtherGenre;
    return true;
}

void ReadStoredAlbumInfo(const QString& DiscID, QString& Artist, QString& Album, QString& Year,
                         QString& Genre)
{
    const QString file = AlbumInfoFileName();
    // Read whole, however long: what is read here is written back.
    const auto stored = [&](const QString& key) {
        return profile::GetPrivateProfileString(DiscID, key, QString(),
                                                std::numeric_limits<int>::max(), file);
    };
    Artist = stored(u"artist"_s);
    Album = stored(u"album"_s);
    Year = stored(u"year"_s);
    Genre = stored(u"genre"_s);
}

bool WriteAlbumInfo(const QString& DiscID, const QString& Artist, const QString& Album,
                    const QString& Year, const QString& Genre, const QStringList* TrackNames,
                    QString* Failure)
{
    QList<profile::TProfileWrite> writes = {
        {DiscID, u"artist"_s, Artist},
        {DiscID, u"album"_s, Album},
        {DiscID, u"year"_s, Year},
        {DiscID, u"genre"_s, Genre},
    };
    if (TrackNames != nullptr) {
        for (qsizetype i = 0; i < TrackNames->size(); ++i)
            writes.append({DiscID, QString::number(i), TrackNames->at(i)});
    }
    // One replacement of the file for the whole disc: a save never leaves half an album.
    const QString file = AlbumInfoFileName();
    QString reason;
    if (profile::WritePrivateProfileStrings(writes, file, &reason))
        return true;
    if (Failure != nullptr)
        *Failure = UnableToWrite.arg(file, reason);
    return false;
}

QString TwoDigits(uint16_t n)
{
    return QString::number(n).rightJustified(2, u'0');
}
