#pragma once

#include "cd/CDRipLibrary.h"

#include <chrono>
#include <thread>

// A drive of a given speed in front of a ripping library: every chunk call takes at least the
// time the audio it carries needs to come off a disc spinning at `speed` times real time, counted
// from the call (a drive reads when it is asked, not while the caller is busy elsewhere), and,
// with a stall, the chunk that crosses the middle of the range takes `stallMs` longer, as a
// scratched sector that paranoia retries does. Speed 0 does not pace.
class TPacedLibrary final : public cdrip::ICDRipLibrary
{
public:
    TPacedLibrary(cdrip::ICDRipLibrary& inner, double speed, int stallMs)
        : FInner(inner), FSpeed(speed), FStallMs(stallMs)
    {
    }

    cdrip::CDSTATUS CR_Init() override { return FInner.CR_Init(); }
    int32_t CR_GetCDRipVersion() override { return FInner.CR_GetCDRipVersion(); }
    int32_t CR_GetNumCDROM() override { return FInner.CR_GetNumCDROM(); }
    cdrip::CDSTATUS CR_SetActiveCDROM(int32_t drive) override
    {
        return FInner.CR_SetActiveCDROM(drive);
    }
    int32_t CR_GetActiveCDROM() override { return FInner.CR_GetActiveCDROM(); }
    cdrip::CDSTATUS CR_GetCDROMParameters(cdrip::CDROMPARAMS* params) override
    {
        return FInner.CR_GetCDROMParameters(params);
    }
    cdrip::CDSTATUS CR_SetCDROMParameters(const cdrip::CDROMPARAMS* params) override
    {
        if (params != nullptr)
            FSectorBytes = cdrip::BytesPerSector(params->nOutputFormat);
        return FInner.CR_SetCDROMParameters(params);
    }
    cdrip::CDSTATUS CR_ReadToc() override { return FInner.CR_ReadToc(); }
    int32_t CR_GetNumTocEntries() override { return FInner.CR_GetNumTocEntries(); }
    cdrip::TOCENTRY CR_GetTocEntry(int32_t index) override { return FInner.CR_GetTocEntry(index); }
    cdrip::CDSTATUS CR_GetCDText(int32_t trackNumber, int32_t field, char* text,
                                 int32_t size) override
    {
        return FInner.CR_GetCDText(trackNumber, field, text, size);
    }
    cdrip::CDSTATUS CR_GetDriveProblem(int32_t index, char* text, int32_t size) override
    {
        return FInner.CR_GetDriveProblem(index, text, size);
    }
    cdrip::CDSTATUS CR_GetLastErrorText(char* text, int32_t size) override
    {
        return FInner.CR_GetLastErrorText(text, size);
    }
    cdrip::CDSTATUS CR_OpenRipper(int32_t* bufferSize, int32_t startSector,
                                  int32_t endSector) override
    {
        const cdrip::CDSTATUS s = FInner.CR_OpenRipper(bufferSize, startSector, endSector);
        FDelivered = 0;
        FHalf = (int64_t(endSector) - startSector + 1) * FSectorBytes / 2;
        FStalled = false;
        return s;
    }
    cdrip::CDSTATUS CR_RipChunk(uint8_t* buffer, int32_t* bytes, int32_t abort) override
    {
        const TClock::time_point called = TClock::now();
        const cdrip::CDSTATUS s = FInner.CR_RipChunk(buffer, bytes, abort);
        if (s == cdrip::CDEX_ERROR || bytes == nullptr)
            return s;
        FDelivered += *bytes;
        TClock::duration takes = TClock::duration::zero();
        if (FSpeed > 0)
            takes = std::chrono::duration_cast<TClock::duration>(
                std::chrono::duration<double>(*bytes / (FSectorBytes * 75.0) / FSpeed));
        if (FStallMs > 0 && !FStalled && FDelivered >= FHalf) {
            FStalled = true;
            takes += std::chrono::milliseconds(FStallMs);
        }
        std::this_thread::sleep_until(called + takes);
        return s;
    }
    int32_t CR_GetPercentCompleted() override { return FInner.CR_GetPercentCompleted(); }
    cdrip::CDSTATUS CR_GetLastJitterErrorPosition(int32_t* start, int32_t* end) override
    {
        return FInner.CR_GetLastJitterErrorPosition(start, end);
    }
    int32_t CR_GetNumberOfJitterErrors() override { return FInner.CR_GetNumberOfJitterErrors(); }
    cdrip::CDSTATUS CR_CloseRipper() override { return FInner.CR_CloseRipper(); }
    cdrip::CDSTATUS CR_PlayTrack(int32_t trackNumber) override
    {
        return FInner.CR_PlayTrack(trackNumber);
    }
    cdrip::CDSTATUS CR_StopPlayTrack() override { return FInner.CR_StopPlayTrack(); }
    cdrip::CDSTATUS CR_PauseCD(int32_t pause) override { return FInner.CR_PauseCD(pause); }
    cdrip::CDSTATUS CR_EjectCD(int32_t eject) override { return FInner.CR_EjectCD(eject); }
    cdrip::CDSTATUS CR_GetPlayPosition(int32_t* relative, int32_t* absolute) override
    {
        return FInner.CR_GetPlayPosition(relative, absolute);
    }

private:
    using TClock = std::chrono::steady_clock;

    cdrip::ICDRipLibrary& FInner;
    double FSpeed;
    int FStallMs;
    int FSectorBytes = 2352;
    int64_t FDelivered = 0;
    int64_t FHalf = 0;
    bool FStalled = false;
};
