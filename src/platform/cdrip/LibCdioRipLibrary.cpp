#include "platform/cdrip/LibCdioRipLibrary.h"

#include "platform/DataFiles.h"
#include "platform/cdrip/CDText.h"
#include "platform/cdrip/CdioLock.h"
#include "platform/cdrip/DiscPlayer.h"
#include "platform/cdrip/DriveDevice.h"
#include "platform/cdrip/FormatConverter.h"
#include "platform/cdrip/ImageCheck.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <algorithm>
#include <cdio/cdio.h>
#include <cdio/logging.h>
#include <cdio/mmc_ll_cmds.h>
#include <cdio/paranoia/cdda.h>
#include <cdio/paranoia/paranoia.h>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <grp.h>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace cdrip {

std::mutex& CdioMutex()
{
    static std::mutex mutex;
    return mutex;
}

namespace {

using TClock = std::chrono::steady_clock;

constexpr int32_t LibraryVersion = 100;
constexpr int SectorBytes = 2352;
constexpr int FramesPerSector = 588;
constexpr int WordsPerSector = 1176;
constexpr int ParanoiaRetries = 10;
constexpr uint8_t LeadOutTrackNumber = 0xAA;
// Read offsets of real drives lie within a few thousand samples; ten sectors leave room for all.
constexpr int32_t MaxReadOffset = 10 * FramesPerSector;
// Between the sessions of a disc: the first session's lead-out (90 s), the next session's
// lead-in (60 s) and its first track's pre-gap (2 s).
constexpr int32_t SessionGapSectors = 6750 + 4500 + 150;
constexpr size_t MaxPendingJitter = 4096;
const char* const DemoDiscFile = "tarvik-demo.cue";

// libcdio reports every probe it makes (a missing BIN, a drive without a disc) on stderr. Those
// are answered through status codes here, so only its assertion failures are let through.
void QuietLog(cdio_log_level_t level, const char* message)
{
    if (level == CDIO_LOG_ASSERT)
        std::fprintf(stderr, "libcdio: %s\n", message);
}

std::string ToLocal(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

// What identifies the files of a disc image, so the library can tell when the disc went away
// (the file was deleted, truncated or replaced) without asking libcdio.
struct TFileIdentity
{
    std::string Path;
    dev_t Device = 0;
    ino_t Inode = 0;
    off_t Size = -1;

    bool Capture(const std::string& path)
    {
        Path = path;
        struct stat st;
        if (path.empty() || ::stat(path.c_str(), &st) != 0)
            return false;
        Device = st.st_dev;
        Inode = st.st_ino;
        Size = st.st_size;
        return true;
    }
    bool StillThere() const
    {
        struct stat st;
        return ::stat(Path.c_str(), &st) == 0 && st.st_dev == Device && st.st_ino == Inode &&
               st.st_size == Size;
    }
};

struct TMedium
{
    std::vector<TFileIdentity> Files; // empty for a physical drive
    bool Present() const
    {
        return std::all_of(Files.begin(), Files.end(),
                           [](const TFileIdentity& f) { return f.StillThere(); });
    }
    // What became of the image's files, for a message; empty while they are all there.
    QString Problem() const
    {
        for (const TFileIdentity& f : Files) {
            if (f.StillThere())
                continue;
            const QString name = QFile::decodeName(QByteArray::fromStdString(f.Path));
            struct stat st;
            if (::stat(f.Path.c_str(), &st) != 0)
                return QStringLiteral("the disc image file %1 is gone (%2)")
                    .arg(name, QString::fromLocal8Bit(std::strerror(errno)));
            if (st.st_dev != f.Device || st.st_ino != f.Inode)
                return QStringLiteral("the disc image file %1 was replaced").arg(name);
            if (st.st_size < f.Size)
                return QStringLiteral("the disc image file %1 was cut short").arg(name);
            return QStringLiteral("the disc image file %1 was changed").arg(name);
        }
        return {};
    }
};

struct TDrive
{
    std::string Path;
    bool Image = false;
    CDROMPARAMS Params{};
    TClock::time_point EjectedUntil{};
    TImageVerdict Checked; // an image: what its check found, and the files as they were then
};

// One open sector range: paranoia over the active drive's libcdio handle.
struct TRipRange
{
    cdrom_drive_t* Drive = nullptr;
    cdrom_paranoia_t* Paranoia = nullptr;
    long (*OriginalRead)(cdrom_drive_t*, void*, lsn_t, long) = nullptr;
    int32_t Start = 0, End = 0, Next = 0;
    bool Done = false;
    // With a read offset the audio of sector n is taken `Offset` frames later on the disc, from
    // the sectors ReadFirst..ReadLast that can be read; what lies beyond them is silence.
    int32_t Offset = 0;
    int32_t ReadFirst = 0, ReadLast = 0;
    int32_t NextRead = 0;      // the sector paranoia hands out next
    int32_t HeldSector = -1;   // the last sector read, whose end the next chunk may need
    std::vector<int16_t> Held; // its samples
    TFormatConverter Converter;
    std::vector<int16_t> Stage;
    // Set while a chunk is read.
    int32_t ChunkFirst = 0, ChunkLast = 0;
    std::vector<int32_t> PendingJitter; // sectors corrected but not yet delivered
    bool MediumGone = false;
    IDriveHandle* Device = nullptr; // a physical drive's
    const TMedium* Medium = nullptr;
    const std::function<void(int32_t, long, uint8_t*)>* Filter = nullptr;

    explicit TRipRange(uint8_t format) : Converter(format) {}

    bool MediumPresent() const
    {
        if (Device == nullptr)
            return Medium->Present();
        // A drive that answers "not ready" has lost its disc; one that cannot say is trusted.
        const TUnitState state = Device->UnitState();
        return state == TUnitState::Ready || state == TUnitState::Unknown;
    }
};

// Paranoia's callbacks carry no context; the range being read is this thread's.
thread_local TRipRange* tReading = nullptr;

void ParanoiaCallback(long inpos, paranoia_cb_mode_t mode)
{
    TRipRange* range = tReading;
    if (range == nullptr)
        return;
    switch (mode) {
    case PARANOIA_CB_FIXUP_EDGE:
    case PARANOIA_CB_FIXUP_ATOM:
    case PARANOIA_CB_FIXUP_DROPPED:
    case PARANOIA_CB_FIXUP_DUPED:
    case PARANOIA_CB_SCRATCH:
    case PARANOIA_CB_REPAIR:
    case PARANOIA_CB_SKIP:
    case PARANOIA_CB_READERR:
        break;
    default:
        return;
    }
    // Paranoia reads ahead of the caller, so a correction is often made while an earlier chunk
    // is read. It is kept by sector and reported with the chunk that delivers that sector.
    const int32_t sector = int32_t(inpos / WordsPerSector);
    if (inpos < 0 || sector < range->ChunkFirst || sector > range->ReadLast)
        return;
    std::vector<int32_t>& pending = range->PendingJitter;
    if (std::find(pending.begin(), pending.end(), sector) == pending.end() &&
        pending.size() < MaxPendingJitter)
        pending.push_back(sector);
}

// Every disc read of a range passes here: once a failed read shows that the disc is gone, the
// rest of the chunk fails at once instead of running through paranoia's retries.
long GuardedRead(cdrom_drive_t* d, void* buffer, lsn_t begin, long sectors)
{
    TRipRange* range = tReading;
    if (range == nullptr || range->MediumGone)
        return -1;
    const long got = range->OriginalRead(d, buffer, begin, sectors);
    if (got > 0 && range->Filter != nullptr && *range->Filter)
        (*range->Filter)(begin, got, static_cast<uint8_t*>(buffer));
    if (got < sectors && !range->MediumPresent())
        range->MediumGone = true;
    return got;
}

// How long a physical drive may answer "not ready" after a disc went in.
constexpr int32_t PhysicalSpinUpSeconds = 10;

CDROMPARAMS DefaultParams(const QString& text)
{
    CDROMPARAMS p{};
    const QByteArray utf8 = text.toUtf8();
    int n = std::min<int>(int(utf8.size()), int(sizeof(p.lpszCDROMID)) - 1);
    // Never cut a multi-byte character in half.
    while (n > 0 && n < utf8.size() && (uchar(utf8[n]) & 0xC0) == 0x80)
        --n;
    std::memcpy(p.lpszCDROMID, utf8.constData(), size_t(n));
    p.bJitterCorrection = -1;
    p.nOutputFormat = STEREO44100;
    p.DriveTable.nDensity = 16777216;
    p.DriveTable.bAtapi = -1;
    return p;
}

CDSTATUS CopyText(const QString& from, char* text, int32_t size)
{
    if (text == nullptr || size <= 0)
        return CDEX_ERROR;
    text[0] = 0;
    if (from.isEmpty())
        return CDEX_ERROR;
    const QByteArray utf8 = from.toUtf8();
    int n = std::min<int>(int(utf8.size()), size - 1);
    while (n > 0 && n < utf8.size() && (uchar(utf8[n]) & 0xC0) == 0x80)
        --n;
    std::memcpy(text, utf8.constData(), size_t(n));
    text[n] = 0;
    return CDEX_OK;
}

class TLibCdioRipLibrary final : public ICDRipLibrary
{
public:
    explicit TLibCdioRipLibrary(const TCDRipOptions& options)
        : FOptions(options),
          FSystem(options.Drives != nullptr ? *options.Drives : CdioDriveSystem()),
          FPlayer(options.SoundDevice)
    {
        std::lock_guard<std::mutex> lock(CdioMutex());
        cdio_log_set_handler(&QuietLog);
    }

    ~TLibCdioRipLibrary() override
    {
        FPlayer.Stop();
        CloseRange();
        CloseDisc();
        ReleaseWatch();
    }

    CDSTATUS CR_Init() override
    {
        FPlayer.Stop();
        CloseRange();
        CloseDisc();
        ReleaseWatch();
        std::vector<TDrive> old = std::move(FDrives);
        FDrives.clear();
        std::vector<std::string> seen;
        auto add = [&](const std::string& path, bool image, const QString& text,
                       TImageVerdict checked = {}) {
            const std::string canonical = Canonical(path);
            if (std::find(seen.begin(), seen.end(), canonical) != seen.end())
                return;
            seen.push_back(canonical);
            TDrive drive;
            drive.Path = path;
            drive.Image = image;
            drive.Checked = std::move(checked);
            drive.Params = DefaultParams(text);
            // A drive whose tray was just closed takes a while to become ready; an image never.
            drive.Params.nSpinUpTime = image ? 0 : PhysicalSpinUpSeconds;
            // A drive seen before keeps the parameters it was given.
            for (const TDrive& o : old)
                if (o.Path == drive.Path)
                    drive.Params = o.Params;
            FDrives.push_back(std::move(drive));
        };

        std::vector<TDeviceEntry> devices;
        {
            std::lock_guard<std::mutex> lock(CdioMutex());
            devices = FSystem.Devices();
        }
        QStringList unopened;
        for (const TDeviceEntry& device : devices) {
            const QString path = QFile::decodeName(QByteArray::fromStdString(device.Path));
            if (device.Error != 0)
                unopened << UnopenedDrive(path, device.Error);
            else
                add(device.Path, false, DriveText(path));
        }
        // Every image named is checked before libcdio opens it here, all at once.
        TDriveSetting setting = ReadDriveSetting(qgetenv("CDRIP_DRIVES"), FOptions.ImageCheck);
        FProblems = unopened + setting.Problems;
        for (TDriveEntry& entry : setting.Usable) {
            const QString path = QFile::decodeName(QByteArray::fromStdString(entry.Path));
            int error = 0;
            if (!entry.Image && !DeviceOpens(entry.Path, error)) {
                FProblems << (error != 0
                                  ? UnopenedDrive(path, error)
                                  : DriveProblem(
                                        entry.Path,
                                        QStringLiteral("it is not a CD drive")));
                continue;
            }
            add(entry.Path, entry.Image, entry.Image ? entry.Name : DriveText(path),
                std::move(entry.Verdict));
        }
        // The demo disc stands in for a drive only where there is none and none was named: one
        // named that cannot be used is reported, never hidden behind the demo disc.
        if (FDrives.empty() && setting.Named == 0) {
            const QString demo = FindDataFile(QString::fromLatin1(DemoDiscFile));
            if (!demo.isEmpty()) {
                const std::string path = ToLocal(demo);
                std::vector<TImageVerdict> verdict = CheckImages({path}, FOptions.ImageCheck);
                if (verdict[0].Usable)
                    add(path, true, QFileInfo(demo).fileName(), std::move(verdict[0]));
                else
                    FProblems << QStringLiteral("The demo disc %1 cannot be used: %2")
                                     .arg(demo, verdict[0].Reason);
            }
        } else if (FDrives.empty()) {
            FProblems << QStringLiteral("No drive is listed: none of the drives or disc images "
                                        "named in CDRIP_DRIVES can be used");
        }
        FActive = 0;
        return CDEX_OK;
    }

    int32_t CR_GetCDRipVersion() override { return LibraryVersion; }
    int32_t CR_GetNumCDROM() override { return int32_t(FDrives.size()); }
    int32_t CR_GetActiveCDROM() override { return FActive; }

    CDSTATUS CR_SetActiveCDROM(int32_t drive) override
    {
        if (drive < 0 || drive >= int32_t(FDrives.size()))
            return CDEX_ERROR;
        if (drive != FActive) {
            CloseRange();
            CloseDisc();
            ReleaseWatch();
            FActive = drive;
        }
        return CDEX_OK;
    }

    CDSTATUS CR_GetCDROMParameters(CDROMPARAMS* params) override
    {
        if (params == nullptr || FDrives.empty())
            return CDEX_ERROR;
        *params = FDrives[size_t(FActive)].Params;
        return CDEX_OK;
    }

    CDSTATUS CR_SetCDROMParameters(const CDROMPARAMS* params) override
    {
        if (params == nullptr || FDrives.empty() || params->nOutputFormat > MONO11025 ||
            std::abs(params->nOffsetStart) > MaxReadOffset)
            return CDEX_ERROR;
        CDROMPARAMS& mine = FDrives[size_t(FActive)].Params;
        // The identification text belongs to the drive, whatever the caller hands back.
        char id[sizeof(mine.lpszCDROMID)];
        std::memcpy(id, mine.lpszCDROMID, sizeof(id));
        mine = *params;
        std::memcpy(mine.lpszCDROMID, id, sizeof(id));
        return CDEX_OK;
    }

    CDSTATUS CR_GetDriveProblem(int32_t index, char* text, int32_t size) override
    {
        return CopyText(index >= 0 ? FProblems.value(index) : QString(), text, size);
    }

    CDSTATUS CR_GetLastErrorText(char* text, int32_t size) override
    {
        return CopyText(FLastError, text, size);
    }

    CDSTATUS CR_ReadToc() override
    {
        FLastError.clear();
        if (FDrives.empty())
            return CDEX_ERROR;
        if (FRange) {
            // The disc is being read: its table of contents cannot have changed.
            return FToc.empty() ? CDEX_ERROR : CDEX_OK;
        }
        CloseDisc();
        TDrive& drive = FDrives[size_t(FActive)];
        if (Ejected(drive))
            return CDEX_ERROR;
        // An image that changed since it was checked may now be one that brings libcdio down.
        if (drive.Image && !drive.Checked.Unchanged())
            drive.Checked = CheckImages({drive.Path}, FOptions.ImageCheck)[0];
        if (drive.Image && !drive.Checked.Usable) {
            FLastError = drive.Checked.Reason;
            return CDEX_ERROR;
        }
        std::lock_guard<std::mutex> lock(CdioMutex());
        TDeviceToc toc;
        bool read = false;
        if (drive.Image) {
            FCdio = cdio_open(drive.Path.c_str(), DRIVER_UNKNOWN);
            read = FCdio != nullptr && ReadCdioToc(FCdio, toc);
        } else {
            int error = 0;
            FDevice = FSystem.Open(drive.Path, error);
            FCdio = FDevice ? FDevice->Cdio() : nullptr;
            read = FCdio != nullptr && FDevice->ReadToc(toc);
            // What the drive remembers of earlier changes is about the disc just read.
            if (read)
                FDevice->MediaChanged();
        }
        if (!read || !ReadTocLocked(drive, toc)) {
            CloseDiscLocked();
            return CDEX_ERROR;
        }
        // The open disc answers from now on; a drive whose disc does not read keeps its one
        // handle for the questions of the next polls.
        FWatch.reset();
        return CDEX_OK;
    }

    int32_t CR_GetTrackLastSector(int32_t index) override
    {
        return index >= 0 && index < int32_t(FTrackLast.size()) ? FTrackLast[size_t(index)] : -1;
    }

    int32_t CR_DiscChanged() override
    {
        // While a range is read the rip itself notices a disc that goes; with nothing read
        // there is nothing to compare with.
        if (FDrives.empty() || FRange || FToc.empty())
            return 0;
        const TDrive& drive = FDrives[size_t(FActive)];
        if (drive.Image)
            return Ejected(drive) || !FMedium.Present() ? 1 : 0;
        std::lock_guard<std::mutex> lock(CdioMutex());
        const int changed = FDevice->MediaChanged();
        if (changed == 1 || FDevice->UnitState() == TUnitState::NoMedium)
            return 1;
        if (changed == 0)
            return 0;
        // A drive that cannot tell: the disc is another one when its table of contents is.
        int error = 0;
        TDeviceToc toc;
        std::unique_ptr<IDriveHandle> fresh = FSystem.Open(drive.Path, error);
        if (!fresh || !fresh->ReadToc(toc) || toc.Tracks.size() + 1 != FToc.size() ||
            toc.LeadOut != FToc.back().dwStartSector)
            return 1;
        for (size_t i = 0; i < toc.Tracks.size(); ++i)
            if (toc.Tracks[i].Start != FToc[i].dwStartSector)
                return 1;
        return 0;
    }

    int32_t CR_GetMediumState(int32_t* changed) override
    {
        if (changed != nullptr)
            *changed = 0;
        if (FDrives.empty())
            return CDMEDIUM_NONE;
        const TDrive& drive = FDrives[size_t(FActive)];
        if (drive.Image) {
            struct stat st;
            return Ejected(drive) || ::stat(drive.Path.c_str(), &st) != 0 ? CDMEDIUM_NONE
                                                                          : CDMEDIUM_READY;
        }
        std::lock_guard<std::mutex> lock(CdioMutex());
        IDriveHandle* handle = FDevice.get();
        if (handle == nullptr) {
            // One handle stays open to ask through while no disc is read, so a drive that is
            // asked every second is not opened every second.
            if (!FWatch) {
                int error = 0;
                FWatch = FSystem.Open(drive.Path, error);
            }
            handle = FWatch.get();
            // A listed drive that does not open now (some refuse without a disc, or it was
            // unplugged) holds nothing to read; it is asked again at the next question.
            if (handle == nullptr)
                return CDMEDIUM_NONE;
            if (changed != nullptr)
                *changed = handle->MediaChanged() == 1 ? 1 : 0;
        }
        switch (handle->UnitState()) {
        case TUnitState::Ready:
            return CDMEDIUM_READY;
        case TUnitState::NoMedium:
            return CDMEDIUM_NONE;
        case TUnitState::BecomingReady:
            return CDMEDIUM_BECOMING_READY;
        default:
            return CDMEDIUM_UNKNOWN;
        }
    }

    CDSTATUS CR_GetDriveDevice(int32_t drive, char* text, int32_t size) override
    {
        if (drive < 0 || drive >= int32_t(FDrives.size()))
            return CopyText({}, text, size);
        return CopyText(QFile::decodeName(QByteArray::fromStdString(FDrives[size_t(drive)].Path)),
                        text, size);
    }

    int32_t CR_GetNumTocEntries() override { return FToc.empty() ? 0 : int32_t(FToc.size()) - 1; }

    TOCENTRY CR_GetTocEntry(int32_t index) override
    {
        if (index < 0 || index >= int32_t(FToc.size()))
            return TOCENTRY{};
        return FToc[size_t(index)];
    }

    CDSTATUS CR_GetCDText(int32_t trackNumber, int32_t field, char* text, int32_t size) override
    {
        return FText.Get(trackNumber, field, text, size);
    }

    CDSTATUS CR_OpenRipper(int32_t* bufferSize, int32_t startSector, int32_t endSector) override
    {
        CloseRange();
        if (bufferSize != nullptr)
            *bufferSize = 0;
        FLastError = FMedium.Problem();
        if (bufferSize == nullptr || FCdio == nullptr || FToc.empty() ||
            Ejected(FDrives[size_t(FActive)]) || !FLastError.isEmpty())
            return CDEX_ERROR;
        const int32_t leadOut = FToc.back().dwStartSector;
        if (startSector < 0 || endSector < startSector || endSector >= leadOut)
            return CDEX_ERROR;

        const TDrive& drive = FDrives[size_t(FActive)];
        auto range = std::make_unique<TRipRange>(drive.Params.nOutputFormat);
        range->Start = range->Next = startSector;
        range->End = endSector;
        range->Offset = drive.Params.nOffsetStart;
        range->ReadFirst = startSector;
        range->ReadLast = endSector;
        if (range->Offset != 0) {
            const int32_t last = ReadableLast(endSector);
            range->ReadFirst = std::clamp(
                FloorDiv(int64_t(startSector) * FramesPerSector + range->Offset, FramesPerSector),
                0, last);
            range->ReadLast =
                std::clamp(FloorDiv(int64_t(endSector + 1) * FramesPerSector + range->Offset - 1,
                                    FramesPerSector),
                           0, last);
            range->Held.resize(WordsPerSector);
        }
        range->NextRead = range->ReadFirst;
        range->Device = FDevice.get();
        range->Medium = &FMedium;
        range->Filter = &FOptions.ReadFilter;
        range->Stage.resize(size_t(SectorsPerChunk) * WordsPerSector);

        std::lock_guard<std::mutex> lock(CdioMutex());
        range->Drive = cdio_cddap_identify_cdio(FCdio, CDDA_MESSAGE_FORGETIT, nullptr);
        if (range->Drive == nullptr)
            return CDEX_ERROR;
        if (cdio_cddap_open(range->Drive) != 0) {
            cdio_cddap_close_no_free_cdio(range->Drive);
            return CDEX_ERROR;
        }
        // CD audio comes off a drive, and sits in an image, little-endian; guessing the byte
        // order from the samples, as paranoia would otherwise do, can be fooled by plain tones.
        range->Drive->bigendianp = 0;
        // A drive that does not take the speed reads at its own.
        if (FDevice && drive.Params.nDriveSpeed > 0)
            FDevice->SetSpeed(drive.Params.nDriveSpeed);
        range->OriginalRead = range->Drive->read_audio;
        range->Drive->read_audio = &GuardedRead;
        range->Paranoia = cdio_paranoia_init(range->Drive);
        if (range->Paranoia == nullptr) {
            cdio_cddap_close_no_free_cdio(range->Drive);
            return CDEX_ERROR;
        }
        const int mode = drive.Params.bJitterCorrection != 0
                             ? PARANOIA_MODE_FULL ^ PARANOIA_MODE_NEVERSKIP
                             : PARANOIA_MODE_DISABLE;
        cdio_paranoia_modeset(range->Paranoia, mode);
        cdio_paranoia_set_range(range->Paranoia, range->ReadFirst, range->ReadLast);
        cdio_paranoia_seek(range->Paranoia, range->ReadFirst, SEEK_SET);

        *bufferSize = range->Converter.MaxOutputBytes(SectorsPerChunk * FramesPerSector);
        FJitterErrors = 0;
        FJitterStart = FJitterEnd = 0;
        FRange = std::move(range);
        return CDEX_OK;
    }

    CDSTATUS CR_RipChunk(uint8_t* buffer, int32_t* bytes, int32_t /*abort*/) override
    {
        if (bytes != nullptr)
            *bytes = 0;
        if (!FRange || buffer == nullptr || bytes == nullptr)
            return CDEX_ERROR;
        TRipRange& r = *FRange;
        if (r.Done)
            return CDEX_RIPPING_DONE;
        FLastError = FMedium.Problem();
        if (Ejected(FDrives[size_t(FActive)]) || !FLastError.isEmpty())
            return CDEX_ERROR;

        const int count = std::min(SectorsPerChunk, r.End - r.Next + 1);
        r.ChunkFirst = r.Next;
        r.ChunkLast = r.Next + count - 1;
        r.MediumGone = false;
        bool failed = false;
        // CD audio on a little-endian machine is already the output of the 44100 Hz stereo
        // format: it goes straight into the caller's buffer.
        const bool direct = Q_BYTE_ORDER == Q_LITTLE_ENDIAN && r.Converter.Channels() == 2 &&
                            r.Converter.Decimation() == 1;
        if (r.Offset != 0) {
            failed = !ReadShifted(r, count,
                                  direct ? reinterpret_cast<int16_t*>(buffer) : r.Stage.data());
        } else {
            std::lock_guard<std::mutex> lock(CdioMutex());
            tReading = &r;
            for (int i = 0; i < count && !failed; ++i) {
                const int16_t* sector =
                    cdio_paranoia_read_limited(r.Paranoia, &ParanoiaCallback, ParanoiaRetries);
                if (sector == nullptr || r.MediumGone)
                    failed = true;
                else if (direct)
                    std::memcpy(buffer + size_t(i) * SectorBytes, sector, SectorBytes);
                else
                    std::memcpy(r.Stage.data() + size_t(i) * WordsPerSector, sector, SectorBytes);
            }
            if (failed) {
                // Nothing of this chunk is delivered; the next call starts it again.
                cdio_paranoia_seek(r.Paranoia, r.Next, SEEK_SET);
            }
            tReading = nullptr;
        }
        if (failed) {
            FLastError = FMedium.Problem();
            return CDEX_ERROR;
        }

        // Paranoia hands out samples in the machine's byte order; the converter writes them
        // little-endian.
        int n = direct ? count * SectorBytes
                       : r.Converter.Convert(r.Stage.data(), count * FramesPerSector, buffer);
        r.Next += count;
        if (r.Next > r.End) {
            n += r.Converter.Flush(buffer + n);
            r.Done = true;
        }
        *bytes = n;
        bool jitter = false;
        int32_t from = 0, to = 0;
        for (const int32_t sector : r.PendingJitter) {
            if (sector < r.ChunkFirst || sector > r.ChunkLast)
                continue;
            from = jitter ? std::min(from, sector) : sector;
            to = jitter ? std::max(to, sector) : sector;
            jitter = true;
        }
        const int32_t delivered = r.ChunkLast;
        r.PendingJitter.erase(std::remove_if(r.PendingJitter.begin(), r.PendingJitter.end(),
                                             [&](int32_t s) { return s <= delivered; }),
                              r.PendingJitter.end());
        if (jitter) {
            ++FJitterErrors;
            FJitterStart = from;
            FJitterEnd = to;
            return CDEX_JITTER_ERROR;
        }
        return CDEX_OK;
    }

    int32_t CR_GetPercentCompleted() override
    {
        if (!FRange)
            return 0;
        const int64_t total = int64_t(FRange->End) - FRange->Start + 1;
        return int32_t(std::clamp<int64_t>((FRange->Next - FRange->Start) * 100 / total, 0, 100));
    }

    CDSTATUS CR_GetLastJitterErrorPosition(int32_t* start, int32_t* end) override
    {
        if (start == nullptr || end == nullptr)
            return CDEX_ERROR;
        *start = FJitterStart;
        *end = FJitterEnd;
        return CDEX_OK;
    }

    int32_t CR_GetNumberOfJitterErrors() override { return FJitterErrors; }

    CDSTATUS CR_CloseRipper() override
    {
        CloseRange();
        return CDEX_OK;
    }

    CDSTATUS CR_PlayTrack(int32_t trackNumber) override
    {
        FPlayer.Stop();
        const int32_t index = trackNumber - 1;
        if (FDrives.empty() || FToc.empty() || index < 0 || index + 1 >= int32_t(FToc.size()) ||
            FToc[size_t(index)].btFlag != AUDIOTRKFLAG || Ejected(FDrives[size_t(FActive)]) ||
            !FMedium.Present())
            return CDEX_ERROR;
        const TDrive& drive = FDrives[size_t(FActive)];
        TDiscPlayer::TMediumCheck check;
        if (drive.Image)
            check = [medium = FMedium] { return medium.Present(); };
        const bool ok = FPlayer.Play(drive.Path, drive.Image, FToc[size_t(index)].dwStartSector,
                                     FTrackLast[size_t(index)], std::move(check),
                                     drive.Image ? nullptr : &FSystem);
        return ok ? CDEX_OK : CDEX_ERROR;
    }

    CDSTATUS CR_StopPlayTrack() override
    {
        FPlayer.Stop();
        return CDEX_OK;
    }

    CDSTATUS CR_PauseCD(int32_t pause) override
    {
        FPlayer.Pause(pause != 0);
        return CDEX_OK;
    }

    CDSTATUS CR_EjectCD(int32_t eject) override
    {
        FLastError.clear();
        if (FDrives.empty())
            return CDEX_ERROR;
        FPlayer.Stop();
        CloseRange();
        CloseDisc();
        // The kernel refuses to open a tray while another handle holds the drive open.
        ReleaseWatch();
        TDrive& drive = FDrives[size_t(FActive)];
        if (drive.Image) {
            drive.EjectedUntil =
                eject != 0 ? TClock::now() + std::chrono::milliseconds(FOptions.ImageEjectMs)
                           : TClock::time_point{};
            return CDEX_OK;
        }
        if (eject != 0 && !UnmountDisc(drive.Path))
            return CDEX_ERROR;
        QString why;
        if (FSystem.Eject(drive.Path, eject != 0, why))
            return CDEX_OK;
        FLastError = why;
        return CDEX_ERROR;
    }

    CDSTATUS CR_GetPlayPosition(int32_t* relative, int32_t* absolute) override
    {
        if (relative == nullptr || absolute == nullptr)
            return CDEX_ERROR;
        FPlayer.Position(*relative, *absolute);
        return CDEX_OK;
    }

private:
    static int32_t FloorDiv(int64_t a, int32_t b)
    {
        return int32_t(a >= 0 ? a / b : -((-a + b - 1) / b));
    }

    // The last sector a read may reach from `sector` on: the end of its session.
    int32_t ReadableLast(int32_t sector) const
    {
        size_t k = 0;
        while (k + 1 < FTrackLast.size() && FToc[k + 1].dwStartSector <= sector)
            ++k;
        while (k + 1 < FTrackLast.size() && FTrackLast[k] == FToc[k + 1].dwStartSector - 1)
            ++k;
        return k < FTrackLast.size() ? FTrackLast[k] : FToc.back().dwStartSector - 1;
    }

    // The next `count` sectors of the range shifted by its read offset, into `out` (in the
    // machine's byte order). A disc sector that two chunks share is read once and held.
    static bool ReadShifted(TRipRange& r, int count, int16_t* out)
    {
        const int64_t frames = int64_t(count) * FramesPerSector;
        const int64_t from = int64_t(r.Next) * FramesPerSector + r.Offset;
        const int64_t readFrom = std::max(from, int64_t(r.ReadFirst) * FramesPerSector);
        const int64_t readTo = std::min(from + frames, int64_t(r.ReadLast + 1) * FramesPerSector);
        std::memset(out, 0, size_t(frames) * 4);
        if (readFrom >= readTo)
            return true;
        const int32_t first = FloorDiv(readFrom, FramesPerSector);
        const int32_t last = FloorDiv(readTo - 1, FramesPerSector);
        r.ChunkFirst = first;
        r.ChunkLast = last;
        std::lock_guard<std::mutex> lock(CdioMutex());
        tReading = &r;
        bool failed = false;
        for (int32_t s = first; s <= last && !failed; ++s) {
            if (s != r.HeldSector) {
                if (s != r.NextRead) {
                    cdio_paranoia_seek(r.Paranoia, s, SEEK_SET);
                    r.NextRead = s;
                }
                const int16_t* sector =
                    cdio_paranoia_read_limited(r.Paranoia, &ParanoiaCallback, ParanoiaRetries);
                if (sector == nullptr || r.MediumGone) {
                    failed = true;
                    break;
                }
                std::memcpy(r.Held.data(), sector, SectorBytes);
                r.HeldSector = s;
                ++r.NextRead;
            }
            const int64_t sectorFrom = int64_t(s) * FramesPerSector;
            const int64_t a = std::max(readFrom, sectorFrom);
            const int64_t b = std::min(readTo, sectorFrom + FramesPerSector);
            std::memcpy(out + (a - from) * 2, r.Held.data() + (a - sectorFrom) * 2,
                        size_t(b - a) * 4);
        }
        if (failed) {
            // Nothing of this chunk is delivered; the next call starts it again.
            r.HeldSector = -1;
            cdio_paranoia_seek(r.Paranoia, first, SEEK_SET);
            r.NextRead = first;
        }
        tReading = nullptr;
        return !failed;
    }

    // Vendor, model and revision as the drive reports them; the device name when it says none.
    QString DriveText(const QString& device)
    {
        std::lock_guard<std::mutex> lock(CdioMutex());
        const QString text = FSystem.DriveText(ToLocal(device));
        return text.isEmpty() ? device : text;
    }

    // A drive that exists but that the user may not open, and why: told instead of being
    // silently missing from the list.
    static QString UnopenedDrive(const QString& device, int error)
    {
        QString why = QString::fromLocal8Bit(std::strerror(error));
        if (error == EACCES || error == EPERM) {
            // Drives are usually opened to the members of one group; name it.
            QString group = QStringLiteral("cdrom");
            struct stat st;
            if (::stat(ToLocal(device).c_str(), &st) == 0)
                if (const struct group* g = ::getgrgid(st.st_gid); g != nullptr)
                    group = QString::fromLocal8Bit(g->gr_name);
            why += QStringLiteral(" (it is for the group \"%1\")").arg(group);
        } else if (error == EBUSY) {
            why += QStringLiteral(" (another program has it)");
        }
        return QStringLiteral("The CD drive %1 cannot be opened: %2").arg(device, why);
    }

    // Whether the device at `path` opens as a drive; the errno in `error` when it does not.
    bool DeviceOpens(const std::string& path, int& error)
    {
        std::lock_guard<std::mutex> lock(CdioMutex());
        return FSystem.Open(path, error) != nullptr;
    }

    // The same drive named twice, or through a link, is listed once.
    static std::string Canonical(const std::string& path)
    {
        char* resolved = ::realpath(path.c_str(), nullptr);
        if (resolved == nullptr)
            return path;
        std::string result(resolved);
        std::free(resolved);
        return result;
    }

    static bool Ejected(const TDrive& drive) { return TClock::now() < drive.EjectedUntil; }

    // The kernel keeps the tray shut while a file system of the disc is mounted, as the data
    // session of an enhanced CD is by the desktop as soon as it goes in: it is unmounted first,
    // through the desktop's own service. Nothing mounted, nothing asked. False, with the reason
    // in FLastError, when something stays mounted.
    bool UnmountDisc(const std::string& device)
    {
        std::vector<TMount> mounts = FSystem.Mounts(device);
        while (!mounts.empty()) {
            const TMount& first = mounts.front();
            const QString where = QFile::decodeName(QByteArray::fromStdString(first.MountPoint));
            const QString mountedAt =
                first.ByDesktop ? where : QStringLiteral("%1 by the system or by hand").arg(where);
            QString why;
            if (!FSystem.Unmount(device, why)) {
                FLastError =
                    QStringLiteral("its data session, mounted at %1, could not be unmounted: %2")
                        .arg(mountedAt, why);
                return false;
            }
            std::vector<TMount> left = FSystem.Mounts(device);
            if (left.size() >= mounts.size()) {
                FLastError = QStringLiteral("its data session is still mounted at %1").arg(where);
                return false;
            }
            mounts = std::move(left);
        }
        return true;
    }

    bool ReadTocLocked(const TDrive& drive, const TDeviceToc& toc)
    {
        FToc.clear();
        FTrackLast.clear();
        FMedium = {};
        FText.Clear();
        const int count = int(toc.Tracks.size());
        if (count == 0 || count > 99 || toc.FirstTrack < 1 || toc.FirstTrack + count - 1 > 99)
            return false;
        for (int i = 0; i < count; ++i) {
            TOCENTRY e{};
            e.dwStartSector = toc.Tracks[size_t(i)].Start;
            e.btFlag = toc.Tracks[size_t(i)].Audio ? AUDIOTRKFLAG : DATATRKFLAG;
            e.btTrackNumber = uint8_t(toc.FirstTrack + i);
            FToc.push_back(e);
        }
        TOCENTRY leadOut{};
        leadOut.dwStartSector = toc.LeadOut;
        leadOut.btFlag = FToc.back().btFlag;
        leadOut.btTrackNumber = LeadOutTrackNumber;
        FToc.push_back(leadOut);
        // A table whose tracks do not follow one another is not one a disc can have.
        for (size_t i = 0; i + 1 < FToc.size(); ++i)
            if (FToc[i].dwStartSector < 0 || FToc[i + 1].dwStartSector <= FToc[i].dwStartSector)
                return false;
        // A track followed by the first track of a later session ends where the gap between
        // the sessions (its lead-out, the next lead-in and pre-gap) begins, not at that track.
        for (size_t i = 0; i + 1 < FToc.size(); ++i) {
            int32_t last = FToc[i + 1].dwStartSector - 1;
            if (toc.LastSessionStart > 0 && i + 1 < size_t(count) &&
                FToc[i + 1].dwStartSector == toc.LastSessionStart &&
                toc.LastSessionStart - SessionGapSectors > FToc[i].dwStartSector)
                last = toc.LastSessionStart - SessionGapSectors - 1;
            FTrackLast.push_back(last);
        }
        if (drive.Image) {
            TFileIdentity image, data;
            if (!image.Capture(drive.Path))
                return false;
            FMedium.Files.push_back(image);
            const char* source = cdio_get_arg(FCdio, "source");
            if (source != nullptr && drive.Path != source && data.Capture(source))
                FMedium.Files.push_back(data);
        }
        FText.Read(FCdio, drive.Image, track_t(toc.FirstTrack), track_t(count));
        return true;
    }

    void CloseRange()
    {
        if (!FRange)
            return;
        std::lock_guard<std::mutex> lock(CdioMutex());
        if (FRange->Paranoia != nullptr)
            cdio_paranoia_free(FRange->Paranoia);
        if (FRange->Drive != nullptr) {
            FRange->Drive->read_audio = FRange->OriginalRead;
            cdio_cddap_close_no_free_cdio(FRange->Drive);
        }
        FRange.reset();
    }

    void CloseDisc()
    {
        CloseRange();
        std::lock_guard<std::mutex> lock(CdioMutex());
        CloseDiscLocked();
    }

    void ReleaseWatch()
    {
        std::lock_guard<std::mutex> lock(CdioMutex());
        FWatch.reset();
    }

    void CloseDiscLocked()
    {
        if (FDevice)
            FDevice.reset(); // the handle owns its libcdio handle
        else if (FCdio != nullptr)
            cdio_destroy(FCdio);
        FCdio = nullptr;
        FToc.clear();
        FTrackLast.clear();
        FMedium = {};
        FText.Clear();
    }

    TCDRipOptions FOptions;
    IDriveSystem& FSystem;
    std::vector<TDrive> FDrives;
    QStringList FProblems; // what the last CR_Init left out, and why
    QString FLastError;
    int32_t FActive = 0;
    std::unique_ptr<IDriveHandle> FDevice; // the open physical drive, owning FCdio
    std::unique_ptr<IDriveHandle> FWatch;  // the active drive, asked about while FDevice is none
    CdIo_t* FCdio = nullptr;
    std::vector<TOCENTRY> FToc;
    std::vector<int32_t> FTrackLast; // each track's last sector
    TMedium FMedium;
    TDiscText FText;
    std::unique_ptr<TRipRange> FRange;
    int32_t FJitterErrors = 0, FJitterStart = 0, FJitterEnd = 0;
    TDiscPlayer FPlayer;
};

} // namespace

std::unique_ptr<ICDRipLibrary> CreateCDRipLibrary(const TCDRipOptions& options)
{
    return std::make_unique<TLibCdioRipLibrary>(options);
}

ICDRipLibrary& DefaultCDRipLibrary()
{
    static const std::unique_ptr<ICDRipLibrary> library = CreateCDRipLibrary();
    return *library;
}

} // namespace cdrip
