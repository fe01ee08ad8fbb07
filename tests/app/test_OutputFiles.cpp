// The output folder and the output files of a job, on real files: hostile folder settings, links
// that must not be written through, two tracks of one title, failed tracks that must leave
// nothing, a disk that fills up, and the sweep after a crash.
#include "app/OutputFiles.h"

#include "cd/CDRIP.h"
#include "support/FakeCDRip.h"
#include "support/FileSizeLimit.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kSector = 2352;

QByteArray ReadFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void WriteFile(const QString& path, const QByteArray& data)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << qPrintable(path);
    f.write(data);
}

// Every entry under `root`, hidden ones included, relative to it.
QStringList Entries(const QString& root)
{
    QStringList found;
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        found << QDir(root).relativeFilePath(it.next());
    found.sort();
    return found;
}

class OutputFilesTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Dir.isValid());
        Out = Dir.filePath(QStringLiteral("out"));
        Outside = Dir.filePath(QStringLiteral("outside"));
        ASSERT_TRUE(QDir().mkpath(Outside));
        // Two tracks of 10 sectors.
        Lib.Drives.push_back(TFakeCDRip::MakeDrive("FAKE", {0, 10}, 20));
        Lib.ReadSize = 2 * kSector;
        Rip = std::make_unique<TCDRIP>(nullptr, &Lib);
        Rip->WriteWAV = true;
    }

    void Script(char fill = 'a') { Lib.ScriptPcm(QByteArray(10 * kSector, fill), 2 * kSector); }

    QTemporaryDir Dir;
    QString Out;
    QString Outside;
    TFakeCDRip Lib;
    std::unique_ptr<TCDRIP> Rip;
};

TEST(OutputFolder, OnlyAFullPathIsAnOutputFolder)
{
    const QString choose = QStringLiteral("choose an output folder in the options");
    // Each of these once put the files at the root, or wherever the program was started.
    const char* hostile[] = {"",     "   ",         "\t",           "Music", "./Music",
                             "../x", "~user/Music", "C:\\My Music", "-",     "~~"};
    for (const char* outDir : hostile) {
        const QString problem = OutputFolderProblem(QString::fromUtf8(outDir));
        EXPECT_TRUE(problem.endsWith(choose)) << outDir << ": " << qPrintable(problem);
        EXPECT_THROW(OutputFolderPath(QString::fromUtf8(outDir)), Exception) << outDir;
    }
    EXPECT_EQ(OutputFolderProblem(QString()),
              QStringLiteral("No output folder is chosen: ") + choose);
    EXPECT_EQ(OutputFolderProblem(QStringLiteral(" Music ")),
              QStringLiteral("The output folder \"Music\" is not a full path: ") + choose);

    EXPECT_EQ(OutputFolderPath(QStringLiteral("~")), QDir::homePath());
    EXPECT_EQ(OutputFolderPath(QStringLiteral(" ~/Music/ ")),
              QDir::homePath() + QStringLiteral("/Music"));
    EXPECT_EQ(OutputFolderPath(QStringLiteral("/srv//rips/./a/")), QStringLiteral("/srv/rips/a"));
    EXPECT_EQ(OutputFolderPath(QStringLiteral("/")), QStringLiteral("/"));
}

TEST_F(OutputFilesTest, ALinkedOutputIsReplacedByANewFileNeverWrittenThrough)
{
    ASSERT_TRUE(QDir().mkpath(Out));
    const QString target = Outside + QStringLiteral("/precious.wav");
    WriteFile(target, "keep me");
    ASSERT_EQ(
        ::link(QFile::encodeName(target), QFile::encodeName(Out + QStringLiteral("/Hard.wav"))), 0);
    ASSERT_TRUE(QFile::link(target, Out + QStringLiteral("/Soft.wav")));
    ASSERT_TRUE(QFile::link(Outside + QStringLiteral("/nowhere.wav"),
                            Out + QStringLiteral("/Dangling.wav")));

    TOutputFiles files(Out);
    for (const char* title : {"Hard", "Soft", "Dangling"}) {
        SCOPED_TRACE(title);
        const QString name = files.NameFor(QString::fromUtf8(title), QStringLiteral(".wav"));
        EXPECT_TRUE(TOutputFiles::Exists(name));
        Script();
        ASSERT_TRUE(files.Rip(*Rip, 1, name, nullptr, QString()));
        const QFileInfo made(name);
        EXPECT_FALSE(made.isSymLink());
        EXPECT_EQ(made.size(), 44 + 10 * kSector);
    }
    EXPECT_EQ(ReadFile(target), "keep me");
    struct stat st = {};
    ASSERT_EQ(::stat(QFile::encodeName(target), &st), 0);
    EXPECT_EQ(st.st_nlink, 1u);
    EXPECT_EQ(Entries(Outside), QStringList{QStringLiteral("precious.wav")});
}

TEST_F(OutputFilesTest, ATitleTwiceInOneJobGetsANumberedNameAndTheFirstFileStays)
{
    ASSERT_TRUE(QDir().mkpath(Out));
    WriteFile(Out + QStringLiteral("/Song.wav"), "from an earlier job");
    TOutputFiles files(Out);

    // A file of an earlier job is replaced (after the question); this job's own never is.
    const QString first = files.NameFor(QStringLiteral(" Song "), QStringLiteral(".wav"));
    EXPECT_EQ(first, Out + QStringLiteral("/Song.wav"));
    Script('a');
    ASSERT_TRUE(files.Rip(*Rip, 1, first, nullptr, QStringLiteral("Song")));
    const QString second = files.NameFor(QStringLiteral("Song"), QStringLiteral(".wav"));
    EXPECT_EQ(second, Out + QStringLiteral("/Song (2).wav"));
    Script('b');
    ASSERT_TRUE(files.Rip(*Rip, 2, second, nullptr, QStringLiteral("Song")));
    EXPECT_EQ(files.NameFor(QStringLiteral("Song"), QStringLiteral(".wav")),
              Out + QStringLiteral("/Song (3).wav"));
    EXPECT_EQ(files.NameFor(QStringLiteral("Song"), QStringLiteral(".mp3")),
              Out + QStringLiteral("/Song.mp3"));

    EXPECT_EQ(ReadFile(first).mid(44), QByteArray(10 * kSector, 'a'));
    EXPECT_EQ(ReadFile(second).mid(44), QByteArray(10 * kSector, 'b'));
    // A new job may replace them again, as any file.
    TOutputFiles next(Out);
    EXPECT_EQ(next.NameFor(QStringLiteral("Song"), QStringLiteral(".wav")), first);
}

TEST_F(OutputFilesTest, AFailedTrackLeavesNoFileAndTheOldOneUntouched)
{
    ASSERT_TRUE(QDir().mkpath(Out));
    const QString name = Out + QStringLiteral("/Song.wav");
    WriteFile(name, "the old song");
    TOutputFiles files(Out);

    // The disk fills half-way.
    Script();
    {
        const TFileSizeLimit full(44 + 3 * kSector);
        try {
            files.Rip(*Rip, 1, name, nullptr, QString());
            FAIL() << "no exception";
        } catch (const ECDRIPError& e) {
            EXPECT_EQ(e.Message(),
                      QStringLiteral("Write error: ") + name + QStringLiteral(": file too large"));
        }
    }
    EXPECT_EQ(Entries(Out), QStringList{QStringLiteral("Song.wav")});
    EXPECT_EQ(ReadFile(name), "the old song");

    // The disc stops answering after one chunk.
    Lib.Script = {{cdrip::CDEX_OK, QByteArray(2 * kSector, 'x')}};
    try {
        files.Rip(*Rip, 1, name, nullptr, QString());
        FAIL() << "no exception";
    } catch (const ECDRIPError& e) {
        EXPECT_TRUE(e.Message().startsWith(QStringLiteral("Read error in track 1: ")))
            << qPrintable(e.Message());
    }
    EXPECT_EQ(Entries(Out), QStringList{QStringLiteral("Song.wav")});
    EXPECT_EQ(ReadFile(name), "the old song");

    // A name the file system refuses fails when it is given, before the disc is read.
    Lib.ClearLog();
    try {
        files.NameFor(QString(300, QLatin1Char('x')), QStringLiteral(".wav"));
        FAIL() << "no exception";
    } catch (const EFCreateError& e) {
        EXPECT_TRUE(e.Message().endsWith(QStringLiteral("longer than the file system allows "
                                                        "(304 bytes; at most 255)")))
            << qPrintable(e.Message());
    }
    EXPECT_EQ(Lib.Count(QStringLiteral("CR_OpenRipper")), 0);
    EXPECT_EQ(Entries(Out), QStringList{QStringLiteral("Song.wav")});
}

TEST_F(OutputFilesTest, ACancelledTrackIsKeptUnderItsName)
{
    TOutputFiles files(Out);
    const QString name = files.NameFor(QStringLiteral("Half"), QStringLiteral(".wav"));
    Script();
    Lib.OnRipChunk = [&](int call) {
        if (call == 1)
            Rip->AbortRip();
    };
    ASSERT_TRUE(files.Rip(*Rip, 1, name, nullptr, QString()));
    EXPECT_TRUE(Rip->Aborted);
    EXPECT_EQ(Entries(Out), QStringList{QStringLiteral("Half.wav")});
    EXPECT_EQ(QFileInfo(name).size(), 44 + 4 * kSector);
}

TEST_F(OutputFilesTest, AFullDiskOnARealFileSystemNamesItsCauseAndLeavesNothing)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "mounting a small file system to fill needs root";
    ASSERT_TRUE(QDir().mkpath(Out));
    if (::mount("tarvik-test", QFile::encodeName(Out).constData(), "tmpfs", MS_NOSUID | MS_NODEV,
                "size=64k") != 0)
        GTEST_SKIP() << "this machine does not allow mounting a tmpfs: " << std::strerror(errno);
    struct Unmount
    {
        QString Path;
        ~Unmount() { ::umount2(QFile::encodeName(Path).constData(), MNT_DETACH); }
    } unmount{Out};

    Lib.Drives[0] = TFakeCDRip::MakeDrive("FAKE", {0}, 100); // 235 kB, more than the disk holds
    Rip->SetCDRomNum(0);
    Lib.ScriptPcm(QByteArray(100 * kSector, 'z'), 2 * kSector);
    TOutputFiles files(Out);
    const QString name = files.NameFor(QStringLiteral("Big"), QStringLiteral(".wav"));
    try {
        files.Rip(*Rip, 1, name, nullptr, QString());
        FAIL() << "no exception";
    } catch (const ECDRIPError& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Write error: ") + name +
                                   QStringLiteral(": no space left on device"));
    }
    EXPECT_TRUE(Entries(Out).isEmpty()) << qPrintable(Entries(Out).join(u' '));
}

TEST_F(OutputFilesTest, TheSweepRemovesOnlyWhatAnInterruptedJobLeft)
{
    ASSERT_TRUE(QDir().mkpath(Out + QStringLiteral("/sub")));
    const QStringList ours = {QStringLiteral(".tarvik-Ab3dEf9H.part.wav"),
                              QStringLiteral(".tarvik-00000000.part.mp3")};
    const QStringList others = {QStringLiteral(".tarvik-Ab3dEf9H.part.flac"),
                                QStringLiteral(".tarvik-Ab3dEf9.part.wav"),
                                QStringLiteral("tarvik-Ab3dEf9H.part.wav"),
                                QStringLiteral(".tarvik-Ab3dEf9H.wav"),
                                QStringLiteral(".tarvik-Ab3dEf9H.part.wav~"),
                                QStringLiteral(".tarvik-Ab3d-f9H.part.mp3"),
                                QStringLiteral("Song.wav"),
                                QStringLiteral("sub/.tarvik-Ab3dEf9H.part.wav")};
    for (const QString& name : ours + others)
        WriteFile(Out + u'/' + name, "x");
    // Our pattern, but a link to a file elsewhere, a folder, and a file a running job holds.
    const QString elsewhere = Outside + QStringLiteral("/kept.wav");
    WriteFile(elsewhere, "x");
    ASSERT_TRUE(QFile::link(elsewhere, Out + QStringLiteral("/.tarvik-LinkLink.part.wav")));
    ASSERT_TRUE(QDir().mkpath(Out + QStringLiteral("/.tarvik-FolderXX.part.wav")));
    const QString held = Out + QStringLiteral("/.tarvik-HeldHeld.part.mp3");
    WriteFile(held, "x");
    const int fd = ::open(QFile::encodeName(held).constData(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);

    const QStringList before = Entries(Out);
    EXPECT_EQ(SweepOutputFolder(Out), 2);
    ::close(fd);

    QStringList expected = before;
    for (const QString& name : ours)
        expected.removeAll(name);
    EXPECT_EQ(Entries(Out), expected);
    EXPECT_TRUE(QFile::exists(elsewhere));
    // A folder setting that is refused sweeps nothing.
    EXPECT_EQ(SweepOutputFolder(QStringLiteral("out")), 0);
    // A title never takes a name the sweep would remove.
    EXPECT_FALSE(IsTitleFileName(QStringLiteral(".tarvik-Ab3dEf9H.part")));
}

} // namespace
