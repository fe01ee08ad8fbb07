#pragma once

#include "platform/cdrip/DesktopMounts.h"

#include <QString>

#include <cdio/cdio.h>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace cdrip {

// The few things the ripping library asks of a physical CD drive, so that a scripted drive can
// stand in for one in tests. libcdio is the real one; disc images never come this way. Every
// call but those of the drive system's that say otherwise is made with libcdio's lock held.

struct TDeviceTrack
{
    int32_t Start = 0;
    bool Audio = true;
};

struct TDeviceToc
{
    int FirstTrack = 1;
    std::vector<TDeviceTrack> Tracks;
    int32_t LeadOut = 0;
    // First sector of the disc's last session; 0 on a disc of one session.
    int32_t LastSessionStart = 0;
};

enum class TUnitState
{
    Ready,
    NoMedium,
    BecomingReady,
    Unknown // the drive cannot say
};

// One open drive.
class IDriveHandle
{
public:
    virtual ~IDriveHandle() = default;
    // The table of contents of the disc in the drive as it was when the handle was opened;
    // false without a readable disc.
    virtual bool ReadToc(TDeviceToc& toc) = 0;
    // Raw CD-DA sectors, little-endian; false when they do not read.
    virtual bool ReadAudio(int32_t first, int32_t count, uint8_t* data) = 0;
    virtual TUnitState UnitState() = 0;
    // 1 when the disc was changed (or taken out) since the last question, 0 when it was not,
    // -1 when the drive cannot tell.
    virtual int MediaChanged() = 0;
    // Asks the drive to read at `speed` (in multiples of 176,400 bytes a second); false when
    // the drive refuses.
    virtual bool SetSpeed(int32_t speed) = 0;
    // The libcdio handle extraction (through paranoia) and CD-Text reading go through.
    virtual CdIo_t* Cdio() = 0;
};

struct TDeviceEntry
{
    std::string Path;
    // An errno value when the device exists but cannot be opened (no permission, taken by
    // another program); 0 when it opens.
    int Error = 0;
};

class IDriveSystem
{
public:
    virtual ~IDriveSystem() = default;
    // Every CD drive of the machine, those that cannot be opened included.
    virtual std::vector<TDeviceEntry> Devices() = 0;
    // Opens `device`; nullptr and an errno value in `error` (0 when unknown) when it does not.
    virtual std::unique_ptr<IDriveHandle> Open(const std::string& device, int& error) = 0;
    // Vendor, model and revision as the drive reports them; empty when it says none.
    virtual QString DriveText(const std::string& device) = 0;
    // What of the disc in `device` is mounted (the data session of an enhanced CD, say), in the
    // order it was mounted; empty when nothing is. Called without libcdio's lock.
    virtual std::vector<TMount> Mounts(const std::string& device) = 0;
    // Has the desktop unmount one file system of `device`; false with the reason in words when
    // it does not. Called without libcdio's lock: the user may be asked for a password.
    virtual bool Unmount(const std::string& device, QString& reason) = 0;
    // Opens (`eject`) or closes the tray; false with the reason in words when the drive keeps it
    // as it is. Called without libcdio's lock, which it takes around libcdio's own calls.
    virtual bool Eject(const std::string& device, bool eject, QString& reason) = 0;
};

// The machine's drives, through libcdio.
IDriveSystem& CdioDriveSystem();

// The table of contents of the disc open in `cdio` (a drive or an image), with its sessions.
bool ReadCdioToc(CdIo_t* cdio, TDeviceToc& toc);

} // namespace cdrip
