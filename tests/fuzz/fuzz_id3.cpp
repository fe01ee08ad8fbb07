// Feeds arbitrary files to the tag reader. Whatever it reads must save back to the same fields
// without changing the file's length, and removing the tag must cut exactly 128 bytes.
#include "app/Exception.h"
#include "mp3/MP3Info.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

// A failed check names its line, so the crash report says which property broke.
void CheckAt(bool condition, int line)
{
    if (!condition) {
        std::fprintf(stderr, "check failed at %s:%d\n", __FILE__, line);
        std::abort();
    }
}
#define Check(condition) CheckAt((condition), __LINE__)

QString Folder()
{
    // Memory-backed when the system has it: the target writes one file per input.
    static const QTemporaryDir dir(QFileInfo(QStringLiteral("/dev/shm")).isWritable()
                                       ? QStringLiteral("/dev/shm/tarvik-fuzz-XXXXXX")
                                       : QDir::tempPath() + QStringLiteral("/tarvik-fuzz-XXXXXX"));
    return dir.path();
}

struct TFields
{
    QString Title, Artist, Album, Year, Comment;
    uint8_t GenreID;
    bool operator==(const TFields&) const = default;
};

TFields FieldsOf(const TMP3Info& info)
{
    return {info.Title(), info.Artist(), info.Album(), info.Year(), info.Comment(), info.GenreID()};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    const QString path = Folder() + QStringLiteral("/input.mp3");
    {
        QFile file(path);
        Check(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        Check(file.write(reinterpret_cast<const char*>(bytes), qint64(size)) == qint64(size));
    }
    TMP3Info info;
    try {
        info.SetFilename(path);
    } catch (const EInOutError&) {
        Check(size < 128 && !info.Valid());
        return 0;
    }
    const qint64 length = qint64(size);
    if (info.Valid()) {
        const TFields fields = FieldsOf(info);
        info.Save();
        Check(info.Saved() && QFileInfo(path).size() == length);
        info.SetFilename(path);
        Check(info.Valid() && FieldsOf(info) == fields);
        info.RemoveID3();
        Check(!info.Valid() && QFileInfo(path).size() == length - 128);
    } else {
        Check(info.Title().isEmpty() && info.GenreID() == TMP3Info::DefaultGenreID);
        info.SetTitle(QString::fromLatin1(reinterpret_cast<const char*>(bytes),
                                          qsizetype(std::min<size_t>(size, 40))));
        info.Save();
        Check(info.Saved() && QFileInfo(path).size() == length + 128);
        const QString title = info.Title();
        info.SetFilename(path);
        Check(info.Valid());
        // Trailing spaces are padding in the file.
        QString trimmed = title;
        while (trimmed.endsWith(u' '))
            trimmed.chop(1);
        Check(info.Title() == trimmed);
    }
    return 0;
}
