#pragma once

#include "platform/cdrip/DriveDevice.h"

#include <QString>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class TDiscImage;

// Scripted CD drives under the ripping library, for the faults only real drives have: a disc
// swapped or pulled out, a drive that spins up, one that may not be opened, one plugged in later,
// a disc whose data session the desktop mounted.
// A disc's audio, CD-Text and extraction come from a disc image; what the drive says about it
// (table of contents, sessions, readiness, changes) comes from the script.
//
// The script may be changed while the library's player reads from another thread: change it
// through the member functions, or under Lock().
class TScriptedDrives : public cdrip::IDriveSystem
{
public:
    struct TDisc
    {
        QString Image; // the CUE sheet behind the disc
        cdrip::TDeviceToc Toc;
    };

    struct TDrive
    {
        std::string Path;
        QString Text;         // vendor, model and revision
        bool Attached = true; // false: unplugged, neither listed nor opened
        int OpenError = 0;    // the errno it refuses to open with; listed all the same
        std::optional<TDisc> Disc;
        bool TellsChanges = true; // false: the media-changed question goes unanswered
        bool AcceptsSpeed = true;
        std::chrono::steady_clock::time_point ReadyAt{}; // "becoming ready" before it
        std::vector<cdrip::TMount> Mounted;              // what the desktop has mounted of the disc
        QString UnmountRefusal;      // non-empty: the desktop refuses, saying this
        bool UnmountIgnored = false; // the desktop says it unmounted, yet it did not
        QString EjectRefusal;        // non-empty: the tray stays shut, for this reason
        // The disc spins up until Release(): "becoming ready", and a table-of-contents read
        // waits, as the kernel's retries make it wait.
        bool Held = false;
        bool Unreadable = false; // the disc's table of contents never reads (a blank disc)
        bool NeedsDisc = false;  // does not open with no disc in, as some drives do
        // --- the record ---
        bool Changed = false; // a change not yet asked about
        int Generation = 0;   // counts the discs put in
        int32_t Speed = 0;    // the last speed asked for
        int SpeedCalls = 0;
        int Ejects = 0;     // the tray opened
        int EjectTries = 0; // asked to open it
        int MountQueries = 0;
        int Unmounts = 0; // asked to unmount
        int Opens = 0;
        int TocReads = 0;
    };

    // The disc of an image, its table of contents as the image gives it.
    static TDisc FromImage(const TDiscImage& image);

    TDrive& Add(const std::string& path, const QString& text = {});
    // Puts `disc` in (or takes the disc out, for none); the drive is ready `spinUpMs` later.
    void Insert(const std::string& path, std::optional<TDisc> disc, int spinUpMs = 0);
    void Pull(const std::string& path) { Insert(path, std::nullopt); }
    // Plugs the drive in, or out.
    void Attach(const std::string& path, bool attached);
    // Holds the disc spinning up; Release lets every read waiting for it go on.
    void Hold(const std::string& path);
    void Release(const std::string& path);
    TDrive Snapshot(const std::string& path);
    std::mutex& Lock() { return FLock; }

    std::vector<TDrive> Drives;

    std::vector<cdrip::TDeviceEntry> Devices() override;
    std::unique_ptr<cdrip::IDriveHandle> Open(const std::string& device, int& error) override;
    QString DriveText(const std::string& device) override;
    std::vector<cdrip::TMount> Mounts(const std::string& device) override;
    bool Unmount(const std::string& device, QString& reason) override;
    bool Eject(const std::string& device, bool eject, QString& reason) override;

private:
    friend class TScriptedHandle;
    TDrive* Find(const std::string& path);

    std::mutex FLock;
    std::condition_variable FReleased;
};
