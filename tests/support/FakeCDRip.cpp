#include "support/FakeCDRip.h"

#include <QCoreApplication>

#include <QTimer>

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <utility>

using namespace cdrip;

TFakeCDRip::TFakeCDRip()
{
    if (QCoreApplication::instance() == nullptr)
        return;
    auto* timer = new QTimer;
    FPump.reset(timer);
    QObject::connect(timer, &QTimer::timeout, timer, [this] { RunOwnerStep(); });
    timer->start(1);
}

TFakeCDRip::~TFakeCDRip() = default;

void TFakeCDRip::OnOwnerThread(const std::function<void()>& step)
{
    std::unique_lock<std::mutex> lock(FStepMutex);
    if (!FPump)
        throw std::logic_error("TFakeCDRip was made before the application");
    FStep = &step;
    FStepDone.wait(lock, [this] { return FStep == nullptr; });
}

void TFakeCDRip::RunOwnerStep()
{
    const std::function<void()>* step = nullptr;
    {
        const std::lock_guard<std::mutex> lock(FStepMutex);
        step = FStep;
    }
    // A step that runs events itself comes back here; it is run once.
    static thread_local bool running = false;
    if (step == nullptr || running)
        return;
    running = true;
    (*step)();
    running = false;
    {
        const std::lock_guard<std::mutex> lock(FStepMutex);
        FStep = nullptr;
    }
    FStepDone.notify_all();
}

TFakeCDRip::TDrive TFakeCDRip::MakeDrive(const char* id, const std::vector<int32_t>& starts,
                                         int32_t leadOut, const std::vector<uint8_t>& flags)
{
    TDrive d;
    std::strncpy(d.Params.lpszCDROMID, id, sizeof d.Params.lpszCDROMID - 1);
    d.Params.nDriveSpeed = 48;
    d.Params.DriveTable.nDensity = 0x1000000;
    for (size_t i = 0; i < starts.size(); ++i) {
        const uint8_t flag = i < flags.size() ? flags[i] : AUDIOTRKFLAG;
        d.Toc.push_back({starts[i], flag, uint8_t(i + 1), {0, 0}});
    }
    d.Toc.push_back({leadOut, 0x10, 0xAA, {0, 0}});
    return d;
}

void TFakeCDRip::ScriptPcm(const QByteArray& pcm, int chunkBytes)
{
    Script.clear();
    for (qsizetype at = 0; at < pcm.size(); at += chunkBytes)
        Script.push_back({CDEX_OK, pcm.mid(at, chunkBytes)});
    if (Script.empty())
        Script.push_back({});
    Script.back().Status = CDEX_RIPPING_DONE;
}

int TFakeCDRip::Count(const QString& name) const
{
    const std::lock_guard<std::mutex> lock(FLogMutex);
    return int(CallLog.count(name));
}

void TFakeCDRip::ClearLog()
{
    const std::lock_guard<std::mutex> lock(FLogMutex);
    CallLog.clear();
}

void TFakeCDRip::Record(const QString& call)
{
    const std::lock_guard<std::mutex> lock(FLogMutex);
    CallLog << call;
}

TFakeCDRip::TDrive* TFakeCDRip::Active()
{
    if (ActiveDrive < 0 || size_t(ActiveDrive) >= Drives.size())
        return nullptr;
    return &Drives[size_t(ActiveDrive)];
}

const TFakeCDRip::TChunk& TFakeCDRip::Current() const
{
    if (FLastChunk >= 0 && size_t(FLastChunk) < Script.size())
        return Script[size_t(FLastChunk)];
    return AfterScript;
}

CDSTATUS TFakeCDRip::CR_Init()
{
    Record(QStringLiteral("CR_Init"));
    return InitStatus;
}

int32_t TFakeCDRip::CR_GetCDRipVersion()
{
    Record(QStringLiteral("CR_GetCDRipVersion"));
    return Version;
}

int32_t TFakeCDRip::CR_GetNumCDROM()
{
    Record(QStringLiteral("CR_GetNumCDROM"));
    return int32_t(Drives.size());
}

CDSTATUS TFakeCDRip::CR_SetActiveCDROM(int32_t drive)
{
    Record(QStringLiteral("CR_SetActiveCDROM"));
    if (SetActiveStatus == CDEX_ERROR || drive < 0 || size_t(drive) >= Drives.size())
        return CDEX_ERROR;
    ActiveDrive = drive;
    return SetActiveStatus;
}

int32_t TFakeCDRip::CR_GetActiveCDROM()
{
    Record(QStringLiteral("CR_GetActiveCDROM"));
    return ActiveDrive;
}

CDSTATUS TFakeCDRip::CR_GetCDROMParameters(CDROMPARAMS* params)
{
    Record(QStringLiteral("CR_GetCDROMParameters"));
    TDrive* d = Active();
    if (GetParamsStatus == CDEX_ERROR || !d)
        return CDEX_ERROR;
    *params = d->Params;
    return GetParamsStatus;
}

CDSTATUS TFakeCDRip::CR_SetCDROMParameters(const CDROMPARAMS* params)
{
    Record(QStringLiteral("CR_SetCDROMParameters"));
    if (ThrowOnSetParams)
        throw std::runtime_error("the library failed");
    LastSetParams = *params;
    if (SetParamsStatus != CDEX_ERROR)
        if (TDrive* d = Active())
            d->Params = *params;
    return SetParamsStatus;
}

CDSTATUS TFakeCDRip::CR_ReadToc()
{
    Record(QStringLiteral("CR_ReadToc"));
    if (ThrowOnReadToc)
        throw std::runtime_error("the library failed");
    TDrive* d = Active();
    return d ? d->ReadTocStatus : CDEX_ERROR;
}

int32_t TFakeCDRip::CR_GetNumTocEntries()
{
    Record(QStringLiteral("CR_GetNumTocEntries"));
    TDrive* d = Active();
    return d && !d->Toc.empty() ? int32_t(d->Toc.size()) - 1 : 0;
}

TOCENTRY TFakeCDRip::CR_GetTocEntry(int32_t index)
{
    Record(QStringLiteral("CR_GetTocEntry"));
    TDrive* d = Active();
    if (!d || index < 0 || size_t(index) >= d->Toc.size())
        return {};
    return d->Toc[size_t(index)];
}

CDSTATUS TFakeCDRip::CR_GetCDText(int32_t trackNumber, int32_t field, char* text, int32_t size)
{
    Record(QStringLiteral("CR_GetCDText"));
    if (text == nullptr || size <= 0)
        return CDEX_ERROR;
    text[0] = 0;
    TDrive* d = Active();
    if (!d || field != cdrip::CDTEXT_TITLE || d->CDTextTitles.value(trackNumber).isEmpty())
        return CDEX_ERROR;
    const QByteArray utf8 = d->CDTextTitles.value(trackNumber).toUtf8().left(size - 1);
    std::memcpy(text, utf8.constData(), size_t(utf8.size()));
    text[utf8.size()] = 0;
    return CDEX_OK;
}

CDSTATUS TFakeCDRip::CR_OpenRipper(int32_t* bufferSize, int32_t startSector, int32_t endSector)
{
    Record(QStringLiteral("CR_OpenRipper"));
    OpenStart = startSector;
    OpenEnd = endSector;
    if (OpenFailures > 0) {
        --OpenFailures;
        return CDEX_ERROR;
    }
    if (OpenStatus == CDEX_ERROR)
        return CDEX_ERROR;
    *bufferSize = ReadSize;
    RangeOpen = true;
    RipCalls = 0;
    FLastChunk = -1;
    return OpenStatus;
}

CDSTATUS TFakeCDRip::CR_RipChunk(uint8_t* buffer, int32_t* bytes, int32_t abort)
{
    Record(QStringLiteral("CR_RipChunk"));
    (void)abort;
    const int call = RipCalls++;
    FLastChunk = call;
    if (OnRipChunkInReader)
        OnRipChunkInReader(call);
    if (OnRipChunk) {
        QCoreApplication* app = QCoreApplication::instance();
        if (app == nullptr || std::this_thread::get_id() == FOwner)
            OnRipChunk(call);
        else
            OnOwnerThread([&] { OnRipChunk(call); });
    }
    if (!RangeOpen) {
        *bytes = 0;
        return CDEX_ERROR;
    }
    const TChunk& c = Current();
    const qsizetype n = std::min<qsizetype>(c.Data.size(), ReadSize);
    std::memcpy(buffer, c.Data.constData(), size_t(n));
    *bytes = int32_t(n);
    return c.Status;
}

int32_t TFakeCDRip::CR_GetPercentCompleted()
{
    Record(QStringLiteral("CR_GetPercentCompleted"));
    const TChunk& c = Current();
    if (c.Percent >= 0)
        return c.Percent;
    if (Script.empty())
        return 0;
    return int32_t(std::min<size_t>(size_t(RipCalls), Script.size()) * 100 / Script.size());
}

CDSTATUS TFakeCDRip::CR_GetLastJitterErrorPosition(int32_t* start, int32_t* end)
{
    Record(QStringLiteral("CR_GetLastJitterErrorPosition"));
    *start = Current().JitterStart;
    *end = Current().JitterEnd;
    return CDEX_OK;
}

int32_t TFakeCDRip::CR_GetNumberOfJitterErrors()
{
    Record(QStringLiteral("CR_GetNumberOfJitterErrors"));
    return JitterErrorCount;
}

CDSTATUS TFakeCDRip::CR_CloseRipper()
{
    Record(QStringLiteral("CR_CloseRipper"));
    RangeOpen = false;
    return CDEX_OK;
}

CDSTATUS TFakeCDRip::CR_PlayTrack(int32_t trackNumber)
{
    Record(QStringLiteral("CR_PlayTrack"));
    LastPlayTrack = trackNumber;
    return CDEX_OK;
}

CDSTATUS TFakeCDRip::CR_StopPlayTrack()
{
    Record(QStringLiteral("CR_StopPlayTrack"));
    return CDEX_OK;
}

CDSTATUS TFakeCDRip::CR_PauseCD(int32_t pause)
{
    Record(QStringLiteral("CR_PauseCD"));
    LastPause = pause;
    return CDEX_OK;
}

CDSTATUS TFakeCDRip::CR_EjectCD(int32_t eject)
{
    Record(QStringLiteral("CR_EjectCD"));
    LastEject = eject;
    return CDEX_OK;
}

CDSTATUS TFakeCDRip::CR_GetPlayPosition(int32_t* relative, int32_t* absolute)
{
    Record(QStringLiteral("CR_GetPlayPosition"));
    if (PlayPositionStatus == CDEX_ERROR)
        return CDEX_ERROR;
    *relative = PlayAbsolute;
    *absolute = PlayAbsolute;
    return CDEX_OK;
}

int32_t TFakeCDRip::CR_GetTrackLastSector(int32_t index)
{
    TDrive* d = Active();
    if (!d || index < 0 || size_t(index) + 1 >= d->Toc.size())
        return -1;
    return d->Toc[size_t(index) + 1].dwStartSector - 1;
}

int32_t TFakeCDRip::CR_DiscChanged()
{
    Record(QStringLiteral("CR_DiscChanged"));
    return std::exchange(DiscChanged, false) ? 1 : 0;
}

int32_t TFakeCDRip::CR_GetMediumState(int32_t* changed)
{
    Record(QStringLiteral("CR_GetMediumState"));
    const bool wasChanged = std::exchange(MediumChanged, false);
    if (changed != nullptr)
        *changed = wasChanged ? 1 : 0;
    return MediumState;
}
