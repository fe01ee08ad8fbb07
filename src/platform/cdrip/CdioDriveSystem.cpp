#include "platform/cdrip/DriveDevice.h"

#include "platform/cdrip/CdioLock.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStringList>
#include <algorithm>
#include <cdio/cdio.h>
#include <cdio/mmc.h>
#include <cdio/mmc_ll_cmds.h>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <linux/cdrom.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace cdrip {

namespace {

constexpr unsigned TestUnitReadyMs = 2000;
// Additional sense codes a drive answers "not ready" with.
constexpr uint8_t AscNotReady = 0x04;
constexpr uint8_t AscqBecomingReady = 0x01;
constexpr uint8_t AscMediumNotPresent = 0x3A;
// How long a tray may take to report itself open after the eject command returned.
constexpr int TrayChecks = 5;
constexpr auto TrayCheckInterval = std::chrono::milliseconds(200);

enum class TTray
{
    Open, // or no disc in it: what an eject leaves
    Shut, // a disc in it
    Unknown
};

// What the drive says of its tray, asked without closing it: a plain open would, where the
// kernel closes trays on open.
TTray TrayState(const std::string& device)
{
    const int fd = ::open(device.c_str(), O_RDONLY | O_NONBLOCK);
    if (fd < 0)
        return TTray::Unknown;
    const int status = ::ioctl(fd, CDROM_DRIVE_STATUS, CDSL_CURRENT);
    ::close(fd);
    if (status == CDS_TRAY_OPEN || status == CDS_NO_DISC)
        return TTray::Open;
    if (status == CDS_DISC_OK || status == CDS_DRIVE_NOT_READY)
        return TTray::Shut;
    return TTray::Unknown;
}

std::string RealPath(const std::string& path)
{
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : path;
}

// Whether the device opens as libcdio will open it; the errno when it does not.
int ProbeOpen(const std::string& device)
{
    const int fd = ::open(device.c_str(), O_RDONLY | O_NONBLOCK);
    if (fd < 0)
        return errno;
    ::close(fd);
    return 0;
}

// Whether `device` is a CD drive: libcdio opens any file it is given, /dev/zero included, and
// a rip from it would be silence under made-up track boundaries.
bool IsCdDrive(const std::string& device)
{
    const int fd = ::open(device.c_str(), O_RDONLY | O_NONBLOCK);
    if (fd < 0)
        return false;
    struct stat st;
    const bool drive =
        ::fstat(fd, &st) == 0 && S_ISBLK(st.st_mode) && ::ioctl(fd, CDROM_GET_CAPABILITY, 0) >= 0;
    ::close(fd);
    return drive;
}

class TCdioDriveHandle final : public IDriveHandle
{
public:
    explicit TCdioDriveHandle(CdIo_t* cdio) : FCdio(cdio) {}
    ~TCdioDriveHandle() override { cdio_destroy(FCdio); }

    bool ReadToc(TDeviceToc& toc) override { return ReadCdioToc(FCdio, toc); }

    bool ReadAudio(int32_t first, int32_t count, uint8_t* data) override
    {
        return cdio_read_audio_sectors(FCdio, data, first, uint32_t(count)) == DRIVER_OP_SUCCESS;
    }

    TUnitState UnitState() override
    {
        const driver_return_code_t rc = mmc_test_unit_ready(FCdio, TestUnitReadyMs);
        if (rc == DRIVER_OP_SUCCESS)
            return TUnitState::Ready;
        if (rc == DRIVER_OP_UNSUPPORTED || rc == DRIVER_OP_NOT_PERMITTED)
            return TUnitState::Unknown;
        cdio_mmc_request_sense_t* sense = nullptr;
        const int length = mmc_last_cmd_sense(FCdio, &sense);
        TUnitState state = TUnitState::NoMedium;
        if (length >= 14 && sense != nullptr && sense->asc == AscNotReady &&
            sense->ascq == AscqBecomingReady)
            state = TUnitState::BecomingReady;
        else if (length >= 14 && sense != nullptr && sense->asc != AscMediumNotPresent &&
                 sense->asc != AscNotReady)
            state = TUnitState::Unknown;
        cdio_free(sense);
        return state;
    }

    int MediaChanged() override
    {
        const int changed = cdio_get_media_changed(FCdio);
        return changed == 0 || changed == 1 ? changed : -1;
    }

    bool SetSpeed(int32_t speed) override
    {
        return cdio_set_speed(FCdio, speed) == DRIVER_OP_SUCCESS;
    }

    CdIo_t* Cdio() override { return FCdio; }

private:
    CdIo_t* FCdio;
};

class TCdioDriveSystem final : public IDriveSystem
{
public:
    std::vector<TDeviceEntry> Devices() override
    {
        std::vector<TDeviceEntry> result;
        std::vector<std::string> seen;
        auto add = [&](const std::string& path, int error) {
            const std::string real = RealPath(path);
            if (std::find(seen.begin(), seen.end(), real) != seen.end())
                return;
            seen.push_back(real);
            result.push_back({path, error});
        };
        char** devices = cdio_get_devices(DRIVER_DEVICE);
        for (char** d = devices; d != nullptr && *d != nullptr; ++d)
            add(*d, 0);
        if (devices != nullptr)
            cdio_free_device_list(devices);
        // libcdio leaves out the drives it cannot open, which are exactly the ones whose user
        // needs to hear why.
        const QStringList optical = QDir(QStringLiteral("/dev"))
                                        .entryList({QStringLiteral("sr*")}, QDir::System)
                                        .filter(QRegularExpression(QStringLiteral("^sr\\d+$")));
        for (const QString& name : optical) {
            const std::string path =
                QFile::encodeName(QStringLiteral("/dev/") + name).toStdString();
            const std::string real = RealPath(path);
            if (std::find(seen.begin(), seen.end(), real) == seen.end())
                if (const int error = ProbeOpen(path); error != 0)
                    add(path, error);
        }
        return result;
    }

    std::unique_ptr<IDriveHandle> Open(const std::string& device, int& error) override
    {
        error = ProbeOpen(device);
        if (error != 0 || !IsCdDrive(device))
            return nullptr;
        CdIo_t* cdio = cdio_open(device.c_str(), DRIVER_DEVICE);
        if (cdio == nullptr) {
            error = ProbeOpen(device);
            return nullptr;
        }
        return std::make_unique<TCdioDriveHandle>(cdio);
    }

    QString DriveText(const std::string& device) override
    {
        CdIo_t* cdio = cdio_open(device.c_str(), DRIVER_DEVICE);
        QString text;
        if (cdio != nullptr) {
            cdio_hwinfo_t hw{};
            if (cdio_get_hwinfo(cdio, &hw)) {
                text = QStringList{QString::fromLatin1(hw.psz_vendor).trimmed(),
                                   QString::fromLatin1(hw.psz_model).trimmed(),
                                   QString::fromLatin1(hw.psz_revision).trimmed()}
                           .filter(QRegularExpression(QStringLiteral(".")))
                           .join(QLatin1Char(' '));
            }
            cdio_destroy(cdio);
        }
        return text;
    }

    std::vector<TMount> Mounts(const std::string& device) override { return DeviceMounts(device); }

    bool Unmount(const std::string& device, QString& reason) override
    {
        return DesktopUnmount(device, reason);
    }

    bool Eject(const std::string& device, bool eject, QString& reason) override
    {
        if (!eject) {
            std::lock_guard<std::mutex> lock(CdioMutex());
            if (cdio_close_tray(device.c_str(), nullptr) == DRIVER_OP_SUCCESS)
                return true;
            reason = QStringLiteral("the drive did not close its tray");
            return false;
        }
        const TTray before = TrayState(device);
        driver_return_code_t rc = DRIVER_OP_ERROR;
        {
            std::lock_guard<std::mutex> lock(CdioMutex());
            rc = cdio_eject_media_drive(device.c_str());
        }
        if (before == TTray::Open)
            return rc == DRIVER_OP_SUCCESS;
        // What counts is the tray: libcdio's answer does not always tell an eject that
        // happened from one that did not.
        for (int i = 0; i < TrayChecks; ++i) {
            const TTray after = TrayState(device);
            if (after == TTray::Open || (after == TTray::Unknown && rc == DRIVER_OP_SUCCESS))
                return true;
            if (after == TTray::Unknown)
                break;
            std::this_thread::sleep_for(TrayCheckInterval);
        }
        // A drive whose door the desktop (or another program) locked opens for the desktop's
        // disk service, which unlocks it first.
        QString why;
        if (DesktopEject(device, why))
            return true;
        reason = QStringLiteral("the drive kept its tray shut: another program may have the disc "
                                "open, or its door is locked; the desktop's disk service did "
                                "not open it either (%1)")
                     .arg(why);
        return false;
    }
};

} // namespace

bool ReadCdioToc(CdIo_t* cdio, TDeviceToc& toc)
{
    toc = {};
    const track_t first = cdio_get_first_track_num(cdio);
    const track_t count = cdio_get_num_tracks(cdio);
    if (first == CDIO_INVALID_TRACK || count == CDIO_INVALID_TRACK || count == 0 || count > 99)
        return false;
    toc.FirstTrack = first;
    for (track_t t = first; t < first + count; ++t)
        toc.Tracks.push_back(
            {cdio_get_track_lsn(cdio, t), cdio_get_track_format(cdio, t) == TRACK_FORMAT_AUDIO});
    toc.LeadOut = cdio_get_track_lsn(cdio, CDIO_CDROM_LEADOUT_TRACK);
    lsn_t lastSession = 0;
    if (cdio_get_last_session(cdio, &lastSession) == DRIVER_OP_SUCCESS && lastSession > 0)
        toc.LastSessionStart = lastSession;
    return true;
}

IDriveSystem& CdioDriveSystem()
{
    static TCdioDriveSystem system;
    return system;
}

} // namespace cdrip
