#pragma once

#include <QSet>
#include <QString>

#include <cstdint>
#include <set>
#include <utility>

class TCDRIP;
class TMP3Info;

// The output path of a track titled `caption` in the folder `outDir`: both trimmed of leading
// and trailing blanks, joined by "/" (unless the folder already ends in one), with ".wav".
// The title is used as it stands; an empty folder gives "/" + title + ".wav".
QString OutputFileName(const QString& outDir, const QString& caption);

// Whether a trimmed track title can name a file in the output folder and nowhere else: not
// empty, not "." or "..", free of "/" and of control characters (NUL included), and not one of
// the names unfinished files are written under.
bool IsTitleFileName(const QString& title);
// Why a trimmed title cannot name a file, in a user's words; empty when it can.
QString TitleFileNameProblem(const QString& title);

// Why `outDir` (as the settings hold it) cannot be the output folder, in a sentence that tells
// the user to choose one in the options; empty when it can. An empty, blank or relative folder
// cannot: it would put the files wherever the program happened to be started, or at the root.
QString OutputFolderProblem(const QString& outDir);
// The folder `outDir` names: trimmed, "~" and "~/..." for the home folder, cleaned. Raises
// Exception with OutputFolderProblem's message when it cannot be the output folder.
QString OutputFolderPath(const QString& outDir);

// Whether `fileName` (a name without folder) is one of the hidden names an output file is
// written under until it is complete: ".tarvik-" + 8 letters or digits + ".part.wav" / ".mp3".
bool IsUnfinishedOutputName(const QString& fileName);
// Removes what interrupted jobs left in the output folder `outDir` (as the settings hold it;
// nothing happens for one OutputFolderProblem refuses): regular files of this user with an
// unfinished output's name that no running job is still writing, after a crash, a kill or a
// power loss. Nothing else is touched, nor anything in sub-folders. Returns how many went.
int SweepOutputFolder(const QString& outDir);

// The files of one job in one output folder. Every file is written under a hidden temporary
// name in the folder and takes its own name only when it is complete and closed, so a crash
// never leaves a file under a track's name that claims more audio than it holds, and an
// existing file is replaced by a new one (never written through, be it a link). A file this
// job wrote is never replaced by the same job: a second track of the same title gets " (2)".
class TOutputFiles
{
public:
    // `folder` as OutputFolderPath gives it. Makes the folder with its parents (a failure shows
    // when the first file cannot be created in it) and sweeps what earlier jobs left there.
    explicit TOutputFiles(const QString& folder);

    QString Folder() const { return FFolder; }
    // Why the folder is not there to write in (it could not be made); empty when it is.
    QString FolderProblem() const;

    // The file of a track titled `title` with `extension` (".wav" or ".mp3"): the title,
    // trimmed, in the folder; with " (2)", " (3)", ... before the extension when this job
    // already wrote that file. Raises EFCreateError with the reason for a title that cannot be
    // a file name, or a name the file system refuses (too long, a character it does not allow,
    // a folder of that name in the way); the folder must be there by then.
    QString NameFor(const QString& title, const QString& extension) const;
    // Whether `name` would replace something that is there (a dangling link included).
    static bool Exists(const QString& name);

    // Rips track `trackNum` (from 1) through `ripper` to the file `name` (a name NameFor gave)
    // and, when `tag` is given, sets its title tag to `title`. Returns false when the library
    // refused the track: no file is made. A cancelled track is kept as far as it got. A failure
    // (reading, writing, a full disk) leaves no new file and the old one, if any, unchanged;
    // it travels on, naming `name`.
    bool Rip(TCDRIP& ripper, int trackNum, const QString& name, TMP3Info* tag,
             const QString& title);

private:
    bool WroteFile(const QString& name) const;

    QString FFolder;
    QSet<QString> FWritten;
    // The files (device, inode) the job wrote: two names may reach one file (letter case on
    // some file systems, links).
    std::set<std::pair<uint64_t, uint64_t>> FWrittenFiles;
};
