#pragma once

#include <cstddef>
#include <cstdint>

// The contract with the ripping library: drive list and selection, the drive parameter block,
// the table of contents, chunked extraction with jitter correction, playback and eject.
// A status of 1 means failure; every other value counts as success.

namespace cdrip {

using CDSTATUS = int32_t;

constexpr CDSTATUS CDEX_OK = 0;
constexpr CDSTATUS CDEX_ERROR = 1;
constexpr CDSTATUS CDEX_JITTER_ERROR = 3;
constexpr CDSTATUS CDEX_RIPPING_DONE = 4;

// CR_GetCDText's fields.
constexpr int32_t CDTEXT_TITLE = 0;
constexpr int32_t CDTEXT_PERFORMER = 1;

// CR_GetMediumState's answers.
constexpr int32_t CDMEDIUM_READY = 0;
constexpr int32_t CDMEDIUM_NONE = 1;
constexpr int32_t CDMEDIUM_BECOMING_READY = 2;
constexpr int32_t CDMEDIUM_UNKNOWN = 3;

constexpr uint8_t AUDIOTRKFLAG = 0x10;
constexpr uint8_t DATATRKFLAG = 0x14;

// One table-of-contents entry, returned by value (8 bytes).
#pragma pack(push, 1)
struct TOCENTRY
{
    int32_t dwStartSector;
    uint8_t btFlag;
    uint8_t btTrackNumber;
    uint8_t reserved[2];
};

// The drive table inside the parameter block: five 8-bit enumerations, density, ATAPI flag.
struct DRIVETABLE
{
    uint8_t DriveType;
    uint8_t ReadMethod;
    uint8_t SetSpeed;
    uint8_t Endian;
    uint8_t EnableMode;
    int32_t nDensity;
    int32_t bAtapi;
};

// The process-wide drive parameter block: 324 bytes, of which the ripper uses the fields named.
struct CDROMPARAMS
{
    char lpszCDROMID[256];         // drive identification text, zero-terminated
    int32_t nOffsetStart;          // 256: the drive's read offset in samples, 0 for none
    int32_t nOffsetEnd;            // 260
    int32_t nSpeed;                // 264: the speed the library asks of the drive
    int32_t nSpinUpTime;           // 268
    int32_t bJitterCorrection_old; // 272
    int32_t nDriveSpeed;           // 276: drive speed
    int32_t bJitterCorr;           // 280
    int32_t bJitterCorrection;     // 284: jitter correction, 0 off, -1 on
    int32_t nRippingMode;          // 288
    DRIVETABLE DriveTable;         // 292: 13 bytes
    uint8_t reserved1[7];          // 305
    uint8_t nOutputFormat;         // 312: output format 0-5
    uint8_t reserved2[11];         // 313
};
#pragma pack(pop)

static_assert(sizeof(TOCENTRY) == 8);
static_assert(sizeof(DRIVETABLE) == 13);
static_assert(sizeof(CDROMPARAMS) == 324);
static_assert(offsetof(CDROMPARAMS, lpszCDROMID) == 0);
static_assert(offsetof(CDROMPARAMS, nDriveSpeed) == 276);
static_assert(offsetof(CDROMPARAMS, bJitterCorrection) == 284);
static_assert(offsetof(CDROMPARAMS, DriveTable) == 292);
static_assert(offsetof(CDROMPARAMS, nOutputFormat) == 312);

// Output formats of the block's byte at 312 (the ripper's TOutputFormat has the same order).
enum OUTPUTFORMAT : uint8_t
{
    STEREO44100 = 0,
    MONO44100 = 1,
    STEREO22050 = 2,
    MONO22050 = 3,
    STEREO11025 = 4,
    MONO11025 = 5
};

// Bytes of PCM one CD sector (1/75 s) becomes in each output format.
constexpr int BytesPerSector(uint8_t outputFormat)
{
    switch (outputFormat) {
    case MONO44100:
        return 1176;
    case STEREO22050:
        return 1176;
    case MONO22050:
        return 588;
    case STEREO11025:
        return 588;
    case MONO11025:
        return 294;
    default:
        return 2352;
    }
}

// The library's calls. One real implementation stands over libcdio-paranoia and SDL2; tests use
// scripted fakes. The calls come from one thread at a time: the window's, the drive thread's
// while it lists the drives or reads a disc, and during an extraction the ripper's reading
// thread, from opening the range to closing it.
class ICDRipLibrary
{
public:
    virtual ~ICDRipLibrary() = default;

    virtual CDSTATUS CR_Init() = 0;
    virtual int32_t CR_GetCDRipVersion() = 0;
    virtual int32_t CR_GetNumCDROM() = 0;
    virtual CDSTATUS CR_SetActiveCDROM(int32_t drive) = 0;
    virtual int32_t CR_GetActiveCDROM() = 0;
    virtual CDSTATUS CR_GetCDROMParameters(CDROMPARAMS* params) = 0;
    virtual CDSTATUS CR_SetCDROMParameters(const CDROMPARAMS* params) = 0;
    virtual CDSTATUS CR_ReadToc() = 0;
    virtual int32_t CR_GetNumTocEntries() = 0;
    // 0..N, where entry N is the lead-out.
    virtual TOCENTRY CR_GetTocEntry(int32_t index) = 0;
    // Our addition to the library's calls: the disc's CD-Text as the last CR_ReadToc found it,
    // from a drive or a disc image alike. Copies the `field` text of table-of-contents track
    // `trackNumber` (from 1; 0 is the disc itself) into `text` as zero-terminated UTF-8 of at
    // most size - 1 bytes, never cutting a character in half. Text in a character set that cannot
    // be converted is left out. 1 (and an empty `text`) when there is no such text; a library
    // that cannot read CD-Text answers 1 for every track.
    virtual CDSTATUS CR_GetCDText(int32_t /*trackNumber*/, int32_t /*field*/, char* text,
                                  int32_t size)
    {
        if (text != nullptr && size > 0)
            text[0] = 0;
        return CDEX_ERROR;
    }
    // Our addition: the last sector of table-of-contents track `index` (from 0). A track followed
    // by a later session of the disc ends before the gap between the sessions; any other ends
    // just before the next entry. -1 for an index out of range.
    virtual int32_t CR_GetTrackLastSector(int32_t index)
    {
        if (index < 0 || index >= CR_GetNumTocEntries())
            return -1;
        return CR_GetTocEntry(index + 1).dwStartSector - 1;
    }
    // Our addition: 1 when the disc the last CR_ReadToc read is no longer the one in the active
    // drive (it was taken out, or swapped with the drive's own button), so the table must be
    // read again; 0 when it still is, or when there is nothing to compare (no table read, a
    // range open).
    virtual int32_t CR_DiscChanged() { return 0; }
    // Our addition: what the active drive says of its medium, asked without reading the disc
    // (a drive that spins a disc up answers at once): CDMEDIUM_READY, CDMEDIUM_NONE (no disc,
    // or the tray is open), CDMEDIUM_BECOMING_READY or CDMEDIUM_UNKNOWN (it cannot tell, nor can
    // a library that does not know). With no table of contents read, *changed (when given)
    // becomes 1 when the drive tells that its medium changed since the last question, else 0.
    virtual int32_t CR_GetMediumState(int32_t* changed)
    {
        if (changed != nullptr)
            *changed = 0;
        return CDMEDIUM_UNKNOWN;
    }
    // Our addition: the device or disc image drive `drive` (from 0) is, as a path of the local
    // file system, zero-terminated UTF-8 of at most size - 1 bytes: what tells one drive from
    // another when the list is made again. 1 and an empty `text` when the library cannot say.
    virtual CDSTATUS CR_GetDriveDevice(int32_t /*drive*/, char* text, int32_t size)
    {
        if (text != nullptr && size > 0)
            text[0] = 0;
        return CDEX_ERROR;
    }
    // Our additions, for messages that name the cause (a library that cannot tell answers 1):
    // - CR_GetDriveProblem: line `index` (from 0) of what the last CR_Init left out of the
    //   drive list, each line naming the entry and why it cannot be used (a malformed disc
    //   image, say), or telling that nothing named could be used; 1 past the last line.
    // - CR_GetLastErrorText: why the last CR_ReadToc, CR_OpenRipper, CR_RipChunk or CR_EjectCD
    //   that answered 1 failed, when the library knows (the disc image's file was removed, a
    //   data session of the disc could not be unmounted, say).
    // Both copy zero-terminated UTF-8 of at most size - 1 bytes into `text`, never cutting a
    // character in half; `text` is empty when they answer 1.
    virtual CDSTATUS CR_GetDriveProblem(int32_t /*index*/, char* text, int32_t size)
    {
        if (text != nullptr && size > 0)
            text[0] = 0;
        return CDEX_ERROR;
    }
    virtual CDSTATUS CR_GetLastErrorText(char* text, int32_t size)
    {
        if (text != nullptr && size > 0)
            text[0] = 0;
        return CDEX_ERROR;
    }
    // Opens the inclusive sector range [start, end]; *bufferSize gets the bytes each chunk call
    // may deliver at most. Fails (1, *bufferSize 0) without a readable disc, or when the range
    // is empty or reaches past the last sector before the lead-out. Opening a range closes the
    // one open before; the output format and jitter flag of the last CR_SetCDROMParameters
    // hold for the whole range.
    virtual CDSTATUS CR_OpenRipper(int32_t* bufferSize, int32_t startSector, int32_t endSector) = 0;
    // Delivers the next chunk of PCM in the block's output format into `buffer` and its length
    // into *bytes. 1 error, 3 jitter error (data delivered), 4 range finished, else go on.
    //
    // The protocol, call by call:
    // - 0: *bytes of PCM delivered (little-endian 16-bit, the block's output format).
    // - 3: the same, and the drive needed correcting inside this chunk (paranoia repaired or
    //   skipped something); CR_GetLastJitterErrorPosition now tells where.
    // - 1: nothing delivered (*bytes 0) and the read position did not move: the disc is gone
    //   or unreadable there. The next call tries the same sectors again; a disc that is gone
    //   answers 1 at once every time, it never blocks. The caller decides when to give up.
    // - 4: the range is done. It comes on the call after the one that delivered the range's
    //   last sector, with *bytes 0, and again on every later call. Writing the bytes of every
    //   call that did not answer 1 (4 included) and stopping after 4 gets the whole range.
    // Over a whole range the bytes add up to exactly (end - start + 1) x BytesPerSector of the
    // output format; one call delivers a fixed number of sectors' worth (the lower rates hold
    // back a few samples for their filter and deliver them with the last sector).
    virtual CDSTATUS CR_RipChunk(uint8_t* buffer, int32_t* bytes, int32_t abort) = 0;
    // Sectors delivered of the open range, 0 to 100.
    virtual int32_t CR_GetPercentCompleted() = 0;
    // First and last absolute sector of the last chunk that answered 3 where the drive needed
    // correcting.
    virtual CDSTATUS CR_GetLastJitterErrorPosition(int32_t* start, int32_t* end) = 0;
    virtual int32_t CR_GetNumberOfJitterErrors() = 0;
    virtual CDSTATUS CR_CloseRipper() = 0;
    // Plays table-of-contents entry trackNumber - 1 (an audio track) to its end, then stops by
    // itself. Returns at once; the sound comes from another thread.
    virtual CDSTATUS CR_PlayTrack(int32_t trackNumber) = 0;
    virtual CDSTATUS CR_StopPlayTrack() = 0;
    virtual CDSTATUS CR_PauseCD(int32_t pause) = 0;
    virtual CDSTATUS CR_EjectCD(int32_t eject) = 0;
    // The sector playing now: *relative from the track's first sector, *absolute on the disc.
    // Both stand still while paused, after a stop and once the track has played to its end.
    virtual CDSTATUS CR_GetPlayPosition(int32_t* relative, int32_t* absolute) = 0;
};

// The process's real library (over libcdio-paranoia and SDL2), created on first use.
ICDRipLibrary& DefaultCDRipLibrary();

} // namespace cdrip
