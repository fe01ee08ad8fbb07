#pragma once

#include "cd/CDRipLibrary.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// A scripted stand-in for the ripping library: drives with their parameter blocks and tables of
// contents, a script of chunk results for the next range, failures on demand, and a record of
// every call in order.
class TFakeCDRip : public cdrip::ICDRipLibrary
{
public:
    // Made on the thread that plays the window's, once the application exists.
    TFakeCDRip();
    ~TFakeCDRip() override;

    struct TDrive
    {
        cdrip::CDROMPARAMS Params{};
        std::vector<cdrip::TOCENTRY> Toc; // every track, then the lead-out
        cdrip::CDSTATUS ReadTocStatus = cdrip::CDEX_OK;
        // CD-Text titles by place in the table of contents: [0] the disc, [i] track i; an empty
        // or missing entry has none.
        QStringList CDTextTitles;
    };

    struct TChunk
    {
        cdrip::CDSTATUS Status = cdrip::CDEX_OK;
        QByteArray Data;
        int32_t JitterStart = 0; // what CR_GetLastJitterErrorPosition gives after this chunk
        int32_t JitterEnd = 0;
        int32_t Percent = -1; // -1: the share of the script done so far
    };

    // A drive named `id` whose tracks start at `starts` (audio unless `flags` says otherwise),
    // the lead-out at `leadOut`.
    static TDrive MakeDrive(const char* id, const std::vector<int32_t>& starts, int32_t leadOut,
                            const std::vector<uint8_t>& flags = {});

    // Splits `pcm` into deliveries of `chunkBytes`; the last one carries status 4.
    void ScriptPcm(const QByteArray& pcm, int chunkBytes);

    // How often `name` (e.g. "CR_RipChunk") was called.
    int Count(const QString& name) const;
    void ClearLog();
    // Adds a call to CallLog; a fake encoder may log into the same record from its own thread.
    void Record(const QString& call);

    // --- the script ---
    std::vector<TDrive> Drives;
    int32_t ActiveDrive = 0;
    int32_t Version = 115;
    cdrip::CDSTATUS InitStatus = cdrip::CDEX_OK;
    cdrip::CDSTATUS SetActiveStatus = cdrip::CDEX_OK;
    cdrip::CDSTATUS GetParamsStatus = cdrip::CDEX_OK;
    cdrip::CDSTATUS SetParamsStatus = cdrip::CDEX_OK;
    cdrip::CDSTATUS OpenStatus = cdrip::CDEX_OK;
    int OpenFailures = 0; // how many CR_OpenRipper calls fail before OpenStatus applies
    bool ThrowOnSetParams = false;
    bool ThrowOnReadToc = false;
    int32_t ReadSize = 4 * 2352;               // what CR_OpenRipper asks for
    std::vector<TChunk> Script;                // one entry per CR_RipChunk call
    TChunk AfterScript{cdrip::CDEX_ERROR, {}}; // every call past the script's end
    int32_t JitterErrorCount = 0;
    int32_t PlayAbsolute = 0; // what CR_GetPlayPosition reports
    cdrip::CDSTATUS PlayPositionStatus = cdrip::CDEX_OK;
    bool DiscChanged = false; // what the next CR_DiscChanged answers; it answers once
    int32_t MediumState = cdrip::CDMEDIUM_UNKNOWN; // what CR_GetMediumState answers
    bool MediumChanged = false;                    // what its next *changed says; it says it once
    // Run inside every CR_RipChunk, before it returns, with the 0-based call number. The ripper
    // reads on a thread of its own: OnRipChunkInReader runs there, as a slow read would, then
    // OnRipChunk runs on the thread that made the fake (the window's) while the call waits for
    // it, as something the user does while a chunk is read.
    std::function<void(int)> OnRipChunkInReader;
    std::function<void(int)> OnRipChunk;

    // --- the record ---
    QStringList CallLog;
    cdrip::CDROMPARAMS LastSetParams{};
    int32_t OpenStart = 0;
    int32_t OpenEnd = 0;
    int32_t LastPlayTrack = 0;
    int32_t LastPause = 0;
    int32_t LastEject = 0;
    bool RangeOpen = false;
    int RipCalls = 0;

    // --- ICDRipLibrary ---
    cdrip::CDSTATUS CR_Init() override;
    int32_t CR_GetCDRipVersion() override;
    int32_t CR_GetNumCDROM() override;
    cdrip::CDSTATUS CR_SetActiveCDROM(int32_t drive) override;
    int32_t CR_GetActiveCDROM() override;
    cdrip::CDSTATUS CR_GetCDROMParameters(cdrip::CDROMPARAMS* params) override;
    cdrip::CDSTATUS CR_SetCDROMParameters(const cdrip::CDROMPARAMS* params) override;
    cdrip::CDSTATUS CR_ReadToc() override;
    int32_t CR_GetNumTocEntries() override;
    cdrip::TOCENTRY CR_GetTocEntry(int32_t index) override;
    cdrip::CDSTATUS CR_GetCDText(int32_t trackNumber, int32_t field, char* text,
                                 int32_t size) override;
    cdrip::CDSTATUS CR_OpenRipper(int32_t* bufferSize, int32_t startSector,
                                  int32_t endSector) override;
    cdrip::CDSTATUS CR_RipChunk(uint8_t* buffer, int32_t* bytes, int32_t abort) override;
    int32_t CR_GetPercentCompleted() override;
    cdrip::CDSTATUS CR_GetLastJitterErrorPosition(int32_t* start, int32_t* end) override;
    int32_t CR_GetNumberOfJitterErrors() override;
    cdrip::CDSTATUS CR_CloseRipper() override;
    cdrip::CDSTATUS CR_PlayTrack(int32_t trackNumber) override;
    cdrip::CDSTATUS CR_StopPlayTrack() override;
    cdrip::CDSTATUS CR_PauseCD(int32_t pause) override;
    cdrip::CDSTATUS CR_EjectCD(int32_t eject) override;
    cdrip::CDSTATUS CR_GetPlayPosition(int32_t* relative, int32_t* absolute) override;
    int32_t CR_GetTrackLastSector(int32_t index) override;
    int32_t CR_DiscChanged() override;
    int32_t CR_GetMediumState(int32_t* changed) override;

private:
    // Runs `step` on the owner's thread, from its event loop, and waits for it.
    void OnOwnerThread(const std::function<void()>& step);
    void RunOwnerStep();

    mutable std::mutex FLogMutex;
    std::thread::id FOwner = std::this_thread::get_id();
    // The hand-over to the owner's thread goes through these, which ThreadSanitizer can follow,
    // not through Qt's event queue, whose locks it cannot see: a timer of the owner's thread
    // looks for a step to run.
    std::unique_ptr<QObject> FPump;
    std::mutex FStepMutex;
    std::condition_variable FStepDone;
    const std::function<void()>* FStep = nullptr;
    TDrive* Active();
    const TChunk& Current() const;
    int FLastChunk = -1;
};
