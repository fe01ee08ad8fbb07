#include "app/OutputFiles.h"

#include "app/Exception.h"
#include "cd/CDRIP.h"
#include "mp3/MP3Info.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStorageInfo>

#include <cerrno>
#include <exception>
#include <memory>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

const QString ChooseFolder = u"choose an output folder in the options"_s;
const QString NoFolder = u"No output folder is chosen: "_s + ChooseFolder;
const QString NotAFullPath = u"The output folder \"%1\" is not a full path: "_s + ChooseFolder;
const QString WriteError = u"Write error"_s;
const QString UnfinishedPrefix = u".tarvik-"_s;
const QString UnfinishedSuffix = u".part"_s;
constexpr int UnfinishedLetters = 8;
constexpr int CreateAttempts = 100;
constexpr qint64 TagSize = 128;

const QRegularExpression& UnfinishedPattern()
{
    static const QRegularExpression pattern(u"\\A\\.tarvik-[A-Za-z0-9]{8}\\.part\\.(wav|mp3)\\z"_s);
    return pattern;
}

QByteArray Native(const QString& path)
{
    return QFile::encodeName(path);
}

// The system's words for `error`, continuing a sentence.
QString Reason(int error)
{
    const QString text = qt_error_string(error);
    return text.isEmpty() ? text : text.at(0).toLower() + text.mid(1);
}

QString ExpandHome(const QString& folder)
{
    if (folder == u"~"_s || folder.startsWith(u"~/"_s))
        return QDir::homePath() + folder.mid(1);
    return folder;
}

QString FolderOf(const QString& outDir)
{
    return ExpandHome(outDir.trimmed());
}

[[noreturn]] void RaiseWriteError(const QString& name, const QString& reason)
{
    throw ECDRIPError(WriteError + u": "_s + name + u": "_s + reason);
}

// A descriptor closed on every way out.
class TDescriptor
{
public:
    explicit TDescriptor(int fd = -1) : FFd(fd) {}
    ~TDescriptor() { Close(); }
    TDescriptor(const TDescriptor&) = delete;
    TDescriptor& operator=(const TDescriptor&) = delete;

    int Get() const { return FFd; }
    void Close()
    {
        if (FFd >= 0)
            ::close(FFd);
        FFd = -1;
    }

private:
    int FFd;
};

QString RandomLetters()
{
    static const char Letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    QString text;
    for (int i = 0; i < UnfinishedLetters; ++i)
        text += QLatin1Char(Letters[QRandomGenerator::global()->bounded(int(sizeof Letters) - 1)]);
    return text;
}

// One output file while it is written: a hidden name of its own in the output folder, locked
// for as long as this job writes it, so a sweep by another instance leaves it alone. It takes
// its final name in Commit; anything else removes it.
class TUnfinishedFile
{
public:
    // `finalName` is the file's name once complete, for messages.
    TUnfinishedFile(const QString& folder, const QString& extension, const QString& finalName)
    {
        int error = 0;
        for (int attempt = 0; attempt < CreateAttempts; ++attempt) {
            const QString path =
                folder + u'/' + UnfinishedPrefix + RandomLetters() + UnfinishedSuffix + extension;
            const int fd =
                ::open(Native(path).constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd < 0) {
                error = errno;
                if (error == EEXIST)
                    continue;
                break;
            }
            ::flock(fd, LOCK_EX);
            // A sweep that removed the name between its creation and the lock would leave this
            // job writing to a name nobody holds: take a fresh one then.
            struct stat held = {};
            struct stat named = {};
            if (::fstat(fd, &held) != 0 || ::lstat(Native(path).constData(), &named) != 0 ||
                held.st_ino != named.st_ino || held.st_dev != named.st_dev) {
                ::close(fd);
                continue;
            }
            FPath = path;
            FFile = std::make_unique<TDescriptor>(fd);
            return;
        }
        throw EFCreateError(finalName, CreateFailureReason(finalName, qt_error_string(error)));
    }

    ~TUnfinishedFile() { Discard(); }
    TUnfinishedFile(const TUnfinishedFile&) = delete;
    TUnfinishedFile& operator=(const TUnfinishedFile&) = delete;

    const QString& Path() const { return FPath; }

    // Makes the file's data durable, then gives it `name` in one step, replacing whatever held
    // that name (the name only: a link's target or another name of the same file keeps its
    // data), then makes the new name durable too.
    void Commit(const QString& name)
    {
        if (::fsync(FFile->Get()) != 0)
            RaiseWriteError(name, Reason(errno));
        if (::rename(Native(FPath).constData(), Native(name).constData()) != 0)
            throw EFCreateError(name, CreateFailureReason(name, qt_error_string(errno)));
        FPath.clear();
        const QString folder = QFileInfo(name).absolutePath();
        TDescriptor dir(::open(Native(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (dir.Get() >= 0)
            ::fsync(dir.Get());
        FFile.reset();
    }

    void Discard()
    {
        if (!FPath.isEmpty())
            ::unlink(Native(FPath).constData());
        FPath.clear();
        FFile.reset();
    }

private:
    QString FPath;
    std::unique_ptr<TDescriptor> FFile; // holds the lock
};

// Something under `name` that a new file cannot take the place of, or a name the file system
// refuses, fails before the track is read rather than after.
void CheckCreatable(const QString& name)
{
    const QByteArray path = Native(name);
    struct stat st = {};
    if (::lstat(path.constData(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            throw EFCreateError(name, u"a folder of that name is in the way"_s);
        return;
    }
    if (errno != ENOENT)
        throw EFCreateError(name, CreateFailureReason(name, qt_error_string(errno)));
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0)
        throw EFCreateError(name, CreateFailureReason(name, qt_error_string(errno)));
    ::close(fd);
    ::unlink(path.constData());
}

// Sets the title tag of the unfinished file `path`; failures name the file as `name`.
void TagFile(TMP3Info& tag, const QString& path, const QString& name, const QString& title)
{
    try {
        tag.SetFilename(path);
    } catch (const EInOutError& e) {
        // A track cancelled at once is too short to end in a tag; it still gets one. Any other
        // read failure stands.
        if (QFileInfo(path).size() >= TagSize)
            throw EInOutError(QString(e.Message()).replace(path, name));
    }
    tag.SetTitle(title);
    tag.Save();
    if (!tag.Saved()) {
        QString reason = u"the title tag could not be written"_s;
        const QStorageInfo volume(QFileInfo(path).absolutePath());
        if (volume.isValid() && volume.bytesAvailable() < TagSize)
            reason += u": "_s + Reason(ENOSPC);
        RaiseWriteError(name, reason);
    }
}

} // namespace

QString OutputFileName(const QString& outDir, const QString& caption)
{
    QString folder = outDir.trimmed();
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    return folder + caption.trimmed() + QStringLiteral(".wav");
}

QString TitleFileNameProblem(const QString& title)
{
    if (title.isEmpty())
        return u"the title is empty"_s;
    if (title == u"."_s || title == u".."_s)
        return u"the title \"%1\" names a folder, not a file"_s.arg(title);
    if (title.contains(u'/'))
        return u"the title holds \"/\", which separates folders in a path"_s;
    for (const QChar c : title) {
        // Control characters are legal in names here, but nobody wants a track file whose
        // name cannot be typed or shown; the other system rejects them anyway.
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            return u"the title holds a control character"_s;
    }
    if (IsUnfinishedOutputName(title + u".wav"_s) || IsUnfinishedOutputName(title + u".mp3"_s))
        return u"the title is a name kept for files that are still being written"_s;
    return {};
}

bool IsTitleFileName(const QString& title)
{
    return TitleFileNameProblem(title).isEmpty();
}

QString OutputFolderProblem(const QString& outDir)
{
    const QString folder = FolderOf(outDir);
    if (folder.isEmpty())
        return NoFolder;
    if (QDir::isRelativePath(folder))
        return NotAFullPath.arg(outDir.trimmed());
    return {};
}

QString OutputFolderPath(const QString& outDir)
{
    const QString problem = OutputFolderProblem(outDir);
    if (!problem.isEmpty())
        throw Exception(problem);
    return QDir::cleanPath(FolderOf(outDir));
}

bool IsUnfinishedOutputName(const QString& fileName)
{
    return UnfinishedPattern().match(fileName).hasMatch();
}

int SweepOutputFolder(const QString& outDir)
{
    if (!OutputFolderProblem(outDir).isEmpty())
        return 0;
    int removed = 0;
    const QDir dir(OutputFolderPath(outDir));
    const QStringList names =
        dir.entryList({UnfinishedPrefix + u'*'}, QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& name : names) {
        if (!IsUnfinishedOutputName(name))
            continue;
        const QByteArray path = Native(dir.filePath(name));
        struct stat st = {};
        if (::lstat(path.constData(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid())
            continue;
        TDescriptor file(::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        if (file.Get() < 0 || ::flock(file.Get(), LOCK_EX | LOCK_NB) != 0)
            continue; // a running job is writing it
        struct stat held = {};
        if (::fstat(file.Get(), &held) != 0 || held.st_ino != st.st_ino || held.st_dev != st.st_dev)
            continue;
        if (::unlink(path.constData()) == 0)
            ++removed;
    }
    return removed;
}

TOutputFiles::TOutputFiles(const QString& folder) : FFolder(folder)
{
    if (!QFileInfo(FFolder).isDir())
        QDir().mkpath(FFolder); // a failure shows when the first file is created
    SweepOutputFolder(FFolder);
}

QString TOutputFiles::FolderProblem() const
{
    if (QFileInfo(FFolder).isDir())
        return {};
    return CreateFailureReason(FFolder + u"/x"_s, QString());
}

bool TOutputFiles::WroteFile(const QString& name) const
{
    if (FWritten.contains(name))
        return true;
    struct stat st = {};
    return ::lstat(Native(name).constData(), &st) == 0 &&
           FWrittenFiles.count({uint64_t(st.st_dev), uint64_t(st.st_ino)}) != 0;
}

QString TOutputFiles::NameFor(const QString& title, const QString& extension) const
{
    const QString base = title.trimmed();
    const QString folder = FFolder.endsWith(u'/') ? FFolder : FFolder + u'/';
    const QString plain = folder + base + extension;
    const QString problem = TitleFileNameProblem(base);
    if (!problem.isEmpty())
        throw EFCreateError(plain, problem);
    QString name = plain;
    for (int n = 2; WroteFile(name); ++n)
        name = folder + base + u" (%1)"_s.arg(n) + extension;
    // Before the user is asked about replacing it, or waits for a track to be read.
    CheckCreatable(name);
    return name;
}

bool TOutputFiles::Exists(const QString& name)
{
    const QFileInfo info(name);
    return info.exists() || info.isSymLink();
}

bool TOutputFiles::Rip(TCDRIP& ripper, int trackNum, const QString& name, TMP3Info* tag,
                       const QString& title)
{
    CheckCreatable(name);
    TUnfinishedFile file(FFolder, ripper.Encode ? u".mp3"_s : u".wav"_s, name);
    ripper.ShownFileName = name;
    try {
        ripper.RipTrack(trackNum, file.Path());
        ripper.ShownFileName.clear();
        if (ripper.LastFileName().isEmpty())
            return false; // the library refused the track; the unfinished file goes
        if (tag != nullptr)
            TagFile(*tag, file.Path(), name, title);
        file.Commit(name);
    } catch (...) {
        ripper.ShownFileName.clear();
        throw; // the unfinished file goes with `file`
    }
    FWritten.insert(name);
    struct stat st = {};
    if (::lstat(Native(name).constData(), &st) == 0)
        FWrittenFiles.insert({uint64_t(st.st_dev), uint64_t(st.st_ino)});
    return true;
}
