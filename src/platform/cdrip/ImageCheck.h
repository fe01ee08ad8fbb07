#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

namespace cdrip {

// One file of a disc image as it was when the image was checked.
struct TFileStamp
{
    std::string Path;
    dev_t Device = 0;
    ino_t Inode = 0;
    off_t Size = -1;
    int64_t ModifiedNs = 0;

    // False when the file cannot be looked at (it is gone, say).
    bool Capture(const std::string& path);
    bool Unchanged() const;
};

struct TImageVerdict
{
    bool Usable = false;
    QString Reason; // why not, in words, when not usable
    // The image and the data files its sheet names, as they were when checked: a changed image
    // is checked again before it is opened.
    std::vector<TFileStamp> Files;
    bool Unchanged() const;
};

struct TImageCheckOptions
{
    // How long one image may take to open; the check of every image runs at the same time.
    int TimeoutMs = 5000;
    // The checking program; empty for the tarvik-imagecheck installed with the program.
    std::string Program;
};

// libcdio trusts the disc images it parses: some malformed ones crash it, and a sheet whose data
// file is a named pipe or a device makes it wait for ever. So before an image is opened in this
// process, it is refused here when it, or a data file its sheet names, is not a regular file, or
// when it is too short to hold a disc; it is otherwise opened, its table of contents read and its
// tracks' first and last sectors read by tarvik-imagecheck, a process of its own with a time
// limit. `paths` are file names as bytes; the verdicts come in their order.
std::vector<TImageVerdict> CheckImages(const std::vector<std::string>& paths,
                                       const TImageCheckOptions& options = {});

// The data files of a CUE or TOC sheet (told by its extension) as libcdio finds them: for a CUE
// sheet first the one libcdio reads (the sheet's name with "bin" for "cue"), then those its FILE
// lines name, from the sheet's folder; for a TOC file those it names, from the working folder.
// Empty for other files, which hold their data themselves.
std::vector<std::string> SheetDataFiles(const std::string& sheet);

// Where tarvik-imagecheck is: beside the running program (a build tree), in ../lib/tarvik or
// ../libexec/tarvik from it (installed), or where this build installs it. Empty when nowhere.
std::string ImageCheckerPath();

// One usable entry of the drive setting.
struct TDriveEntry
{
    std::string Path;   // as named, in bytes
    bool Image = false; // else a device, which the caller opens as a drive
    QString Name;       // the file name, for the drive text
    TImageVerdict Verdict;
};

struct TDriveSetting
{
    std::vector<TDriveEntry> Usable;
    QStringList Problems; // one line for each entry left out, naming it and why
    int Named = 0;        // entries named, usable or not
};

// Reads the colon-separated drive setting (CDRIP_DRIVES): devices are passed on, disc images
// checked. File names are bytes here: the setting is never decoded on the way to libcdio.
TDriveSetting ReadDriveSetting(const QByteArray& setting, const TImageCheckOptions& options = {});

// The line that reports entry `path` of the drive setting as unusable.
QString DriveProblem(const std::string& path, const QString& reason);

} // namespace cdrip
