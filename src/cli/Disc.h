#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>

class TCDRIP;

// The disc the command line works on: the ripping library's drive that --drive names, its table
// of contents, and the titles its tracks get, as the window would show them.
class TDisc
{
public:
    // `drive`: empty for drive 0, a drive number, or the path of a disc image or device, which
    // is handed to the ripping library before it makes its drive list. Raises EUsageError when
    // there is no such drive or the path cannot be opened. `path`, when given, is the path as
    // bytes (file names need not decode), used in place of `drive`'s text.
    explicit TDisc(const QString& drive, const QByteArray& path = {});
    ~TDisc();

    TCDRIP& Ripper() { return *FRipper; }
    // Every drive's text, in drive-number order (as the window's drop-down list).
    const QStringList& DriveNames() const { return FNames; }
    int Number() const { return FNumber; }
    QString Name() const { return FNames.value(FNumber); }

    // Selects the chosen drive, which reads its table of contents.
    void Load();
    // Each track's title: the one the album information file holds for it, else the disc's
    // CD-Text title, else "Track01", "Track02", ...
    QStringList Titles() const;

private:
    std::unique_ptr<TCDRIP> FRipper;
    QStringList FNames;
    int FNumber = 0;
};
