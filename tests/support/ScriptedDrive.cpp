#include "support/ScriptedDrive.h"

#include "support/DiscImage.h"

#include <QFile>
#include <cerrno>

using namespace cdrip;
using TClock = std::chrono::steady_clock;

// One open drive of the script: it sees the drive as the script has it at each call, and the
// disc as it was when the handle was opened.
class TScriptedHandle final : public IDriveHandle
{
public:
    TScriptedHandle(TScriptedDrives& drives, const TScriptedDrives::TDrive& drive)
        : FDrives(drives), FPath(drive.Path), FGeneration(drive.Generation)
    {
        if (drive.Disc) {
            FToc = drive.Disc->Toc;
            FCdio = cdio_open(QFile::encodeName(drive.Disc->Image).constData(), DRIVER_UNKNOWN);
        }
    }
    ~TScriptedHandle() override
    {
        if (FCdio != nullptr)
            cdio_destroy(FCdio);
    }

    bool ReadToc(TDeviceToc& toc) override
    {
        std::unique_lock<std::mutex> lock(FDrives.FLock);
        if (TScriptedDrives::TDrive* d = FDrives.Find(FPath)) {
            ++d->TocReads;
            FDrives.FReleased.wait(lock, [&] {
                const TScriptedDrives::TDrive* held = FDrives.Find(FPath);
                return held == nullptr || !held->Held;
            });
        }
        const TScriptedDrives::TDrive* d = FDrives.Find(FPath);
        if (FCdio == nullptr || !Readable() || (d != nullptr && d->Unreadable))
            return false;
        toc = FToc;
        return true;
    }

    bool ReadAudio(int32_t first, int32_t count, uint8_t* data) override
    {
        std::lock_guard<std::mutex> lock(FDrives.FLock);
        return FCdio != nullptr && Readable() &&
               cdio_read_audio_sectors(FCdio, data, first, uint32_t(count)) == DRIVER_OP_SUCCESS;
    }

    TUnitState UnitState() override
    {
        std::lock_guard<std::mutex> lock(FDrives.FLock);
        const TScriptedDrives::TDrive* d = FDrives.Find(FPath);
        if (d == nullptr || !d->Attached || !d->Disc)
            return TUnitState::NoMedium;
        return d->Held || TClock::now() < d->ReadyAt ? TUnitState::BecomingReady
                                                     : TUnitState::Ready;
    }

    int MediaChanged() override
    {
        std::lock_guard<std::mutex> lock(FDrives.FLock);
        TScriptedDrives::TDrive* d = FDrives.Find(FPath);
        if (d == nullptr || !d->TellsChanges)
            return -1;
        const bool changed = d->Changed;
        d->Changed = false;
        return changed ? 1 : 0;
    }

    bool SetSpeed(int32_t speed) override
    {
        std::lock_guard<std::mutex> lock(FDrives.FLock);
        TScriptedDrives::TDrive* d = FDrives.Find(FPath);
        if (d == nullptr)
            return false;
        ++d->SpeedCalls;
        if (d->AcceptsSpeed)
            d->Speed = speed;
        return d->AcceptsSpeed;
    }

    CdIo_t* Cdio() override { return FCdio; }

private:
    // The disc this handle was opened on is still in, and the drive has spun it up.
    bool Readable()
    {
        const TScriptedDrives::TDrive* d = FDrives.Find(FPath);
        return d != nullptr && d->Attached && d->Disc && d->Generation == FGeneration &&
               TClock::now() >= d->ReadyAt;
    }

    TScriptedDrives& FDrives;
    std::string FPath;
    int FGeneration;
    TDeviceToc FToc;
    CdIo_t* FCdio = nullptr;
};

TScriptedDrives::TDisc TScriptedDrives::FromImage(const TDiscImage& image)
{
    TDisc disc;
    disc.Image = image.CuePath;
    for (const TDiscImageTrack& t : image.Tracks)
        disc.Toc.Tracks.push_back({t.FirstSector, t.Audio});
    disc.Toc.LeadOut = image.LeadOut;
    return disc;
}

TScriptedDrives::TDrive& TScriptedDrives::Add(const std::string& path, const QString& text)
{
    std::lock_guard<std::mutex> lock(FLock);
    TDrive drive;
    drive.Path = path;
    drive.Text = text;
    Drives.push_back(drive);
    return Drives.back();
}

void TScriptedDrives::Insert(const std::string& path, std::optional<TDisc> disc, int spinUpMs)
{
    std::lock_guard<std::mutex> lock(FLock);
    TDrive* d = Find(path);
    if (d == nullptr)
        return;
    d->Disc = std::move(disc);
    d->Changed = true;
    ++d->Generation;
    d->ReadyAt = TClock::now() + std::chrono::milliseconds(spinUpMs);
}

void TScriptedDrives::Attach(const std::string& path, bool attached)
{
    std::lock_guard<std::mutex> lock(FLock);
    if (TDrive* d = Find(path))
        d->Attached = attached;
}

void TScriptedDrives::Hold(const std::string& path)
{
    std::lock_guard<std::mutex> lock(FLock);
    if (TDrive* d = Find(path))
        d->Held = true;
}

void TScriptedDrives::Release(const std::string& path)
{
    {
        std::lock_guard<std::mutex> lock(FLock);
        if (TDrive* d = Find(path))
            d->Held = false;
    }
    FReleased.notify_all();
}

TScriptedDrives::TDrive TScriptedDrives::Snapshot(const std::string& path)
{
    std::lock_guard<std::mutex> lock(FLock);
    const TDrive* d = Find(path);
    return d != nullptr ? *d : TDrive{};
}

TScriptedDrives::TDrive* TScriptedDrives::Find(const std::string& path)
{
    for (TDrive& d : Drives)
        if (d.Path == path)
            return &d;
    return nullptr;
}

std::vector<TDeviceEntry> TScriptedDrives::Devices()
{
    std::lock_guard<std::mutex> lock(FLock);
    std::vector<TDeviceEntry> result;
    for (const TDrive& d : Drives)
        if (d.Attached)
            result.push_back({d.Path, d.OpenError});
    return result;
}

std::unique_ptr<IDriveHandle> TScriptedDrives::Open(const std::string& device, int& error)
{
    std::lock_guard<std::mutex> lock(FLock);
    const TDrive* d = Find(device);
    error = d == nullptr || !d->Attached ? ENOENT : d->OpenError;
    if (error == 0 && d->NeedsDisc && !d->Disc)
        error = ENOMEDIUM;
    if (error != 0)
        return nullptr;
    ++Find(device)->Opens;
    return std::make_unique<TScriptedHandle>(*this, *d);
}

QString TScriptedDrives::DriveText(const std::string& device)
{
    std::lock_guard<std::mutex> lock(FLock);
    const TDrive* d = Find(device);
    return d != nullptr ? d->Text : QString();
}

std::vector<TMount> TScriptedDrives::Mounts(const std::string& device)
{
    std::lock_guard<std::mutex> lock(FLock);
    TDrive* d = Find(device);
    if (d == nullptr)
        return {};
    ++d->MountQueries;
    return d->Mounted;
}

bool TScriptedDrives::Unmount(const std::string& device, QString& reason)
{
    std::lock_guard<std::mutex> lock(FLock);
    TDrive* d = Find(device);
    if (d == nullptr)
        return false;
    ++d->Unmounts;
    if (!d->UnmountRefusal.isEmpty()) {
        reason = d->UnmountRefusal;
        return false;
    }
    // One file system a call, as the desktop's service unmounts them.
    if (!d->Mounted.empty() && !d->UnmountIgnored)
        d->Mounted.pop_back();
    return true;
}

bool TScriptedDrives::Eject(const std::string& device, bool eject, QString& reason)
{
    std::lock_guard<std::mutex> lock(FLock);
    TDrive* d = Find(device);
    if (d == nullptr || !d->Attached)
        return false;
    if (!eject)
        return true;
    ++d->EjectTries;
    // The kernel keeps the tray shut while anything of the disc is mounted.
    if (!d->Mounted.empty() || !d->EjectRefusal.isEmpty()) {
        reason = !d->EjectRefusal.isEmpty() ? d->EjectRefusal
                                            : QStringLiteral("the drive kept its tray shut");
        return false;
    }
    ++d->Ejects;
    d->Disc.reset();
    d->Changed = true;
    ++d->Generation;
    return true;
}
