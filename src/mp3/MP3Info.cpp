#include "mp3/MP3Info.h"

#include "app/Exception.h"

#include <QFile>
#include <QFileInfo>

#include <array>

using namespace Qt::StringLiterals;

namespace {

constexpr qint64 TagSize = 128;
constexpr qsizetype TitleAt = 3, ArtistAt = 33, AlbumAt = 63, YearAt = 93, CommentAt = 97,
                    GenreAt = 127;
constexpr qsizetype TextLength = 30, YearLength = 4;

const QString MissingFile = u"File doesn`t exist !"_s;
const QString NoTag = u"Wrong file format or no ID3 Tag !"_s;
const QString SaveMissingFile = u"File doesn`t exist or is not valid !"_s;
const QString SaveReadOnly = u"Can't write ID3 tag information !"_s;
const QString RemoveReadOnly = u"Can\u00B4t write ID3 tag information !"_s;
const QString Untagged = u"File is already untagged !"_s;
const QString CannotOpen = u"Could not open file !"_s;

// Index = the genre byte.
constexpr std::array<const char*, 115> GenreNames = {
    "Blues",
    "Classic Rock",
    "Country",
    "Dance",
    "Disco",
    "Funk",
    "Grunge",
    "Hip-Hop",
    "Jazz",
    "Metal",
    "New Age",
    "Oldies",
    "Other",
    "Pop",
    "R&B",
    "Rap",
    "Reggae",
    "Rock",
    "Techno",
    "Industrial",
    "Alternative",
    "Ska",
    "Death Metal",
    "Pranks",
    "Soundtrack",
    "Euro-Techno",
    "Ambient",
    "Trip-Hop",
    "Vocal",
    "Jazz+Funk",
    "Fusion",
    "Trance",
    "Classical",
    "Instrumental",
    "Acid",
    "House",
    "Game",
    "Sound Clip",
    "Gospel",
    "Noise",
    "AlternRock",
    "Bass",
    "Soul",
    "Punk",
    "Space",
    "Meditative",
    "Instrumental Pop",
    "Instrumental Rock",
    "Ethnic",
    "Gothic",
    "Darkwave",
    "Techno-Industrial",
    "Electronic",
    "Pop-Folk",
    "Eurodance",
    "Dream",
    "Southern Rock",
    "Comedy",
    "Cult",
    "Gangsta",
    "Top 40",
    "Christian Rap",
    "Pop/Funk",
    "Jungle",
    "Native American",
    "Cabaret",
    "New Wave",
    "Psychedelic",
    "Rave",
    "Showtunes",
    "Trailer",
    "Lo-Fi",
    "Tribal",
    "Acid Punk",
    "Acid Jazz",
    "Polka",
    "Retro",
    "Musical",
    "Rock & Roll",
    "Hard Rock",
    "Folk",
    "Folk/Rock",
    "National Folk",
    "Swing",
    "Bebob",
    "Latin",
    "Revival",
    "Celtic",
    "Bluegrass",
    "Avantgarde",
    "Gothic Rock",
    "Progressive Rock",
    "Psychedelic Rock",
    "Symphonic Rock",
    "Slow Rock",
    "Big Band",
    "Chorus",
    "Easy Listening",
    "Acoustic",
    "Humour",
    "Speech",
    "Chanson",
    "Opera",
    "Chamber Music",
    "Sonata",
    "Symphony",
    "Booty Bass",
    "Primus",
    "Porn Groove",
    "Satire",
    "Slow Jam",
    "Club",
    "Tango",
    "Samba",
    "Folklore",
};

// The first `count` characters of `value` as the file will hold them: composed where a
// composed form exists (so a decomposed accent stays one Latin-1 character), one byte each.
QString FirstCharacters(const QString& value, qsizetype count)
{
    const QString text = value.normalized(QString::NormalizationForm_C);
    qsizetype end = 0;
    for (qsizetype n = 0; n < count && end < text.size(); ++n)
        end += (text.at(end).isHighSurrogate() && end + 1 < text.size() &&
                text.at(end + 1).isLowSurrogate())
                   ? 2
                   : 1;
    return text.left(end);
}

// Latin-1 bytes of `text`, "?" for each character outside it, cut to `length` bytes.
QByteArray FieldBytes(const QString& text, qsizetype length)
{
    QByteArray bytes;
    const QList<uint> codePoints = text.toUcs4();
    for (uint c : codePoints) {
        if (bytes.size() == length)
            break;
        bytes.append(c < 256 ? char(c) : '?');
    }
    return bytes;
}

// A field read back: Latin-1, trailing spaces removed (zero bytes stay part of the text).
QString FieldText(const QByteArray& tag, qsizetype at, qsizetype length)
{
    QByteArrayView field = QByteArrayView(tag).sliced(at, length);
    while (!field.isEmpty() && field.back() == ' ')
        field.chop(1);
    return QString::fromLatin1(field);
}

// The last 128 bytes of an open file, or nothing when they cannot be read.
QByteArray LastBlock(QFile& file)
{
    const qint64 size = file.size();
    if (size < TagSize || !file.seek(size - TagSize))
        return {};
    QByteArray block = file.read(TagSize);
    return block.size() == TagSize ? block : QByteArray();
}

[[noreturn]] void RaiseInOut(const QString& what, const QFile& file)
{
    throw EInOutError(u"%1 %2: %3"_s.arg(what, file.fileName(), file.errorString()));
}

bool IsFile(const QString& path)
{
    return !path.isEmpty() && QFileInfo(path).isFile();
}

} // namespace

TMP3Info::TMP3Info(QObject* owner) : QObject(owner)
{
    FGenres.reserve(qsizetype(GenreNames.size()));
    for (const char* name : GenreNames)
        FGenres.append(QString::fromLatin1(name));
}

void TMP3Info::SetFilename(const QString& value)
{
    FFilename = value;
    ReadTag();
}

void TMP3Info::SetArtist(const QString& value)
{
    FArtist = FirstCharacters(value, TextLength);
    Changed();
}

void TMP3Info::SetTitle(const QString& value)
{
    FTitle = FirstCharacters(value, TextLength);
    Changed();
}

void TMP3Info::SetAlbum(const QString& value)
{
    FAlbum = FirstCharacters(value, TextLength);
    Changed();
}

void TMP3Info::SetYear(const QString& value)
{
    FYear = FirstCharacters(value, YearLength);
    Changed();
}

void TMP3Info::SetComment(const QString& value)
{
    FComment = FirstCharacters(value, TextLength);
    Changed();
}

void TMP3Info::SetGenreID(uint8_t value)
{
    FGenreID = value < FGenres.size() ? value : DefaultGenreID;
    FGenre = FGenres.at(FGenreID);
    Changed();
}

void TMP3Info::ReadTag()
{
    FSaved = false;
    FValid = true;
    FAppended = false;
    if (!IsFile(FFilename)) {
        FValid = false;
        Fail(MissingFile);
        return;
    }
    // Until a tag has been read whole, nothing here may count as one: a later Save would
    // otherwise write over the file's last 128 bytes of audio.
    FValid = false;
    QFile file(FFilename);
    if (!file.open(QIODevice::ReadOnly))
        RaiseInOut(u"Cannot open"_s, file);
    if (file.size() < TagSize)
        throw EInOutError(u"%1 is too short to hold a tag"_s.arg(FFilename));
    const QByteArray tag = LastBlock(file);
    if (tag.isEmpty())
        RaiseInOut(u"Cannot read"_s, file);
    file.close();

    if (!tag.startsWith("TAG")) {
        FTitle.clear();
        FArtist.clear();
        FAlbum.clear();
        FComment.clear();
        FYear.clear();
        FGenreID = DefaultGenreID;
        Fail(NoTag);
        return;
    }
    FValid = true;
    FTitle = FieldText(tag, TitleAt, TextLength);
    FArtist = FieldText(tag, ArtistAt, TextLength);
    FAlbum = FieldText(tag, AlbumAt, TextLength);
    FComment = FieldText(tag, CommentAt, TextLength);
    FYear = FieldText(tag, YearAt, YearLength);
    const uint8_t genre = uint8_t(tag[GenreAt]);
    FGenreID = genre < FGenres.size() ? genre : DefaultGenreID;
    FGenre = FGenres.at(FGenreID);
    if (onChangeFile)
        onChangeFile(this);
}

void TMP3Info::Save()
{
    FSaved = true;
    if (!IsFile(FFilename)) {
        FValid = false;
        FSaved = false;
        Fail(SaveMissingFile);
        return;
    }
    QByteArray block(TagSize, ' ');
    const auto put = [&](qsizetype at, const QString& text, qsizetype length) {
        const QByteArray bytes = FieldBytes(text, length);
        block.replace(at, bytes.size(), bytes);
    };
    block.replace(0, 3, "TAG");
    put(TitleAt, FTitle, TextLength);
    put(ArtistAt, FArtist, TextLength);
    put(AlbumAt, FAlbum, TextLength);
    put(CommentAt, FComment, TextLength);
    put(YearAt, FYear, YearLength);
    block[GenreAt] = char(FGenreID);

    if (!MakeWritable()) {
        FSaved = false;
        Fail(SaveReadOnly);
        return;
    }
    QFile file(FFilename);
    // Unbuffered, so a write that fails does so here, while the length can still be restored.
    if (!file.open(QIODevice::ReadWrite | QIODevice::Unbuffered)) {
        FSaved = false;
        return;
    }
    const qint64 size = file.size();
    // Replace only what is a tag on disk right now, whatever was read before.
    const bool overwrite = (FValid || FAppended) && LastBlock(file).startsWith("TAG");
    const qint64 at = overwrite ? size - TagSize : size;
    bool ok = file.seek(at) && file.write(block) == TagSize;
    if (!ok && !overwrite)
        file.resize(size); // no half tag left behind
    file.close();
    ok = ok && file.error() == QFileDevice::NoError;
    FSaved = ok;
    if (ok && !overwrite)
        FAppended = true;
}

void TMP3Info::RemoveID3()
{
    if (!IsFile(FFilename)) {
        Fail(MissingFile);
        return;
    }
    if (!FValid) {
        Fail(Untagged);
        return;
    }
    if (!MakeWritable()) {
        Fail(RemoveReadOnly);
        return;
    }
    QFile file(FFilename);
    if (!file.open(QIODevice::ReadWrite)) {
        Fail(CannotOpen);
        return;
    }
    const qint64 size = file.size();
    if (size < TagSize)
        throw EInOutError(u"%1 is too short to hold a tag"_s.arg(FFilename));
    // The file may have changed since it was read: never cut off anything but a tag.
    if (!LastBlock(file).startsWith("TAG")) {
        FValid = false;
        FAppended = false;
        Fail(Untagged);
        return;
    }
    if (!file.resize(size - TagSize))
        RaiseInOut(u"Cannot cut the tag off"_s, file);
    file.close();
    if (file.error() != QFileDevice::NoError)
        RaiseInOut(u"Cannot close"_s, file);
    FValid = false;
    FAppended = false;
}

void TMP3Info::Fail(const QString& message)
{
    FError = message;
    if (onError)
        onError(this);
}

void TMP3Info::Changed()
{
    if (onChange)
        onChange(this);
}

bool TMP3Info::MakeWritable() const
{
    const QFileDevice::Permissions permissions = QFile::permissions(FFilename);
    if (permissions & QFileDevice::WriteOwner)
        return true;
    QFile::setPermissions(FFilename, permissions | QFileDevice::WriteOwner);
    return QFile::permissions(FFilename) & QFileDevice::WriteOwner;
}
