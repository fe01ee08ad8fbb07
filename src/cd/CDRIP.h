#pragma once

#include "app/Exception.h"
#include "cd/CDRipLibrary.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

class TLameCoder;

// PCM layout the ripping library delivers; the order matches the parameter block's byte.
enum TOutputFormat : uint8_t
{
    STEREO44100,
    MONO44100,
    STEREO22050,
    MONO22050,
    STEREO11025,
    MONO11025
};

enum TDriveType : uint8_t
{
    GENERIC,
    TOSHIBA,
    TOSHIBANEW,
    IBM,
    NEC,
    DEC,
    IMS,
    KODAK,
    RICOH,
    HP,
    PHILIPS,
    PLASMON,
    GRUNDIGCDR100IPW,
    MITSUMICDR,
    PLEXTOR,
    SONY,
    YAMAHA,
    NRC,
    IMSCDD5,
    CUSTOMDRIVE
};

enum TReadMethod : uint8_t
{
    READMMC,
    READ10,
    READNEC,
    READSONY,
    READMMC2,
    READMMC3,
    READC1,
    READC2,
    READC3
};

enum TSetSpeed : uint8_t
{
    SPEEDNONE,
    SPEEDMMC,
    SPEEDSONY,
    SPEEDYAMAHA,
    SPEEDTOSHIBA,
    SPEEDPHILIPS,
    SPEEDNEC
};

enum TEndian : uint8_t
{
    BIGENDIAN,
    LITTLEENDIAN
};

enum TEnableMode : uint8_t
{
    ENABLENONE,
    ENABLESTD
};

// Event shapes: the sender is the component raising the event. An empty function is unbound.
using TProcessTrackEvent = std::function<void(QObject* sender, uint16_t trackNum)>;
using TProgressEvent = std::function<void(QObject* sender, uint16_t percentComplete)>;

// The ripper's failure; carries only its message.
class ECDRIPError : public Exception
{
public:
    using Exception::Exception;
};

// The output file could not be created: "Cannot create file <name>", then ": <reason>" when
// the reason is known.
class EFCreateError : public Exception
{
public:
    explicit EFCreateError(const QString& fileName, const QString& reason = QString());
};

// Why a file at `path` could not be created, given the system's own words for it
// (`systemReason`): the cause a user can act on where one can be told (a folder that is missing
// or is a file, a name longer than the file system allows), else the system's words.
QString CreateFailureReason(const QString& path, const QString& systemReason);

// One table-of-contents entry.
struct TTrack
{
    int32_t TrackNo = 0;     // from 1
    int32_t StartSector = 0; // first sector
    int32_t EndSector = 0;   // last sector, inclusive
    QString TrackType;       // "Audio" or "Data"
    QString CDTextTitle;     // the disc's CD-Text title of an audio track; empty when none
};

// Mirror of the 13-byte drive table of the parameter block, field for field. Plain fields: changing
// them never reaches the library.
struct TDriveTableClass
{
    TDriveType DriveType = GENERIC;
    TReadMethod ReadMethod = READMMC;
    TSetSpeed SetSpeed = SPEEDNONE;
    TEndian Endian = BIGENDIAN;
    TEnableMode EnableMode = ENABLENONE;
    int32_t Density = 0;
    bool Atapi = false;
};

// The table of contents: item i is ("Track" + two-digit i+1, the entry), owned by the component.
using TTrackList = std::vector<std::pair<QString, std::unique_ptr<TTrack>>>;

// The component through which the program reaches the CD drives: drive list and selection, the
// table of contents, durations, the disc identifier, playback requests, and extraction of a track
// or sector range to a WAV, raw PCM or MP3 file.
//
// All drives share one process-wide parameter block. The component is used from the window
// thread. An extraction reads the disc on a thread of its own and encodes and writes the file on
// another, while the calling thread waits for them, runs the window's messages every few
// milliseconds and passes the progress on; only AbortRip may be called on the component meanwhile.
class TCDRIP : public QObject
{
    Q_OBJECT
public:
    // How construction starts: by initialising the library and reading the active drive, or
    // (Deferred) with nothing but the version asked, for an owner that surveys the drives and
    // reads the disc off its own thread (SurveyDrives, ReadDisc) and takes the results in.
    enum class TStart
    {
        ReadDrive,
        Deferred
    };

    // `library` defaults to the process's real ripping library. Raises ECDRIPError
    // "Initialization failure" when reading the drive throws.
    explicit TCDRIP(QObject* owner = nullptr, cdrip::ICDRipLibrary* library = nullptr,
                    TStart start = TStart::ReadDrive);
    ~TCDRIP() override;

    TCDRIP(const TCDRIP&) = delete;
    TCDRIP& operator=(const TCDRIP&) = delete;

    // --- properties ---

    // Not owned. Setting it applies the output format (mode and rate) to the coder.
    TLameCoder* Coder() const;
    void SetCoder(TLameCoder* coder);

    // Active drive, from 0. Setting it selects the drive (unless the library refuses, then the old
    // number stays) and re-reads the table of contents. Raises "Initialization failure".
    int32_t CDRomNum() const { return FCDRomNum; }
    void SetCDRomNum(int32_t n);

    // Read back from the parameter block whenever a drive is read.
    TDriveTableClass DriveTable;

    // A new value is written into the parameter block; mode and rate go to the coder either way.
    TOutputFormat OutputFormat() const { return FOutputFormat; }
    void SetOutputFormat(TOutputFormat format);

    bool Encode = false;   // true: MP3 through Coder(); false: PCM
    bool WriteWAV = false; // with Encode false: a 44-byte WAV header before the PCM

    // A changed value sets the parameter block's jitter flag (-1 on, 0 off).
    bool JitterCorrect() const { return FJitterCorrect; }
    void SetJitterCorrect(bool value);

    TProcessTrackEvent OnBeginTrack;
    TProcessTrackEvent OnEndTrack; // not called when the extraction raises
    // For every chunk call, in order, with the library's percentage; on the calling thread, a
    // moment after the chunk was read.
    TProgressEvent OnProgress;

    QString Version; // the library's version number as decimal text
    int32_t Speed = 0;
    // The drive's read offset in samples, corrected for in every range; given to the library
    // with the parameter block.
    int32_t ReadOffset = 0;

    // --- public state ---

    TTrackList Tracks;
    int32_t TrackCount = 0;
    // The disc's own CD-Text title and performer, read with the table of contents; empty when
    // the disc has none.
    QString CDTextAlbum;
    QString CDTextPerformer;
    char DriveID[256] = {}; // the active drive's identification text, zero-terminated

    int32_t JitterErrors = 0; // the library's count for the last range
    QStringList JitterLog;    // "start end" per jitter error; accumulates over all extractions
    std::atomic<bool> Aborted{false}; // set by AbortRip, from any thread

    // The name messages give the output file of the next ranges; empty: the name written to.
    // A caller that writes under a temporary name and renames the file when it is done sets
    // the name the user will find.
    QString ShownFileName;

    // The name of the file the last range wrote (".mp3" put in when encoding); empty when the
    // library refused the range.
    QString LastFileName() const { return FLastFileName; }

    // A range stops with an error after this many chunk calls in a row fail or deliver nothing,
    // or after such calls have gone on this long (a disc taken out, a dead sector).
    static constexpr int MaxFailedChunks = 20;
    static constexpr int MaxFailedMilliseconds = 5000;

    // --- operations ---

    // What reading a drive found, gathered by library calls alone, so that the reading can run
    // on one thread and be taken in on another.
    struct TDiscReading
    {
        int32_t Drive = -1;
        bool Selected = false; // the library took the drive and gave its parameters
        cdrip::CDROMPARAMS Params{};
        TTrackList Tracks;
        QString CDTextAlbum;
        QString CDTextPerformer;
    };
    // What the library's drive list holds, made anew: each drive's identification text and the
    // device or image it is (its text when the library cannot say), and the entries left out.
    struct TDriveSurvey
    {
        bool Initialized = false; // the library started
        bool HaveParameters = false;
        cdrip::CDROMPARAMS Params{};
        int32_t Active = 0;
        QStringList Names;
        QStringList Devices;
        QStringList Problems;
    };

    // Selects drive `n` and reads its parameters and table of contents, touching nothing of any
    // component: from any thread, while no other thread calls the library. Raises ECDRIPError
    // "Initialization failure" when the library throws.
    static TDiscReading ReadDisc(cdrip::ICDRipLibrary& library, int32_t n);
    // Takes in what ReadDisc found, exactly as setting CDRomNum would; no library call.
    void TakeDisc(TDiscReading reading);
    // Initialises the library (which stops its player and makes the drive list again) and reads
    // every drive's text, without reading any disc. Threads as ReadDisc.
    static TDriveSurvey SurveyDrives(cdrip::ICDRipLibrary& library);
    // Takes in the active drive's parameters as construction does; no library call.
    void TakeSurvey(const TDriveSurvey& survey);
    // Empties the table of contents, so nothing is saved or ripped under a disc that is going.
    void ClearTracks();
    cdrip::ICDRipLibrary& Library() const { return *FLib; }

    int32_t GetDriveCount();
    // Why entries the user named for the drive list, and drives the user may not open, were
    // left out of it, a line each.
    QStringList DriveProblems() const;
    // True when the disc the table of contents was read from is no longer in the drive (taken
    // out or swapped); the table must then be read again. Poll it with the play position.
    bool DiscChanged();
    bool IsAudioTrack(int index) const;
    // "m:ss" of the track at 0-based `index`; "00:00" for an index out of range.
    QString GetTrackDuration(int index) const;
    // The album-information section name: six or more upper-case hex digits.
    QString GetDiscID() const;

    cdrip::CDSTATUS PlayTrack(int32_t trackNumber); // from 1
    cdrip::CDSTATUS StopPlay();
    cdrip::CDSTATUS PauseCD(bool pause);
    cdrip::CDSTATUS EjectCD(bool eject);
    // Why the library's last eject, table-of-contents read or range failed, in words (a data
    // session that could not be unmounted, say); empty when it cannot tell.
    QString LastErrorText() const;
    // True while the play position moved by 10 or more since the last call (poll once a second).
    bool IsPlaying();

    // Hands the parameter block to the library; false when it refuses. Raises ECDRIPError
    // "Error setting parameters" when the library throws.
    bool ApplyParameters();
    // Pushes the output format's mode and sample rate to Coder(), if any.
    void ApplyOutputFormat();

    // Extracts track `trackNum` (from 1) between OnBeginTrack and OnEndTrack.
    void RipTrack(int trackNum, const QString& fileName);
    // Extracts sectors startSector..endSector (both passed to the library as they are) to
    // `fileName`: PCM, WAV or, with Encode, MP3 (the extension becomes ".mp3"). Returns silently,
    // creating nothing, when the library refuses the range. Raises ECDRIPError ("Invalid CD-ROM
    // parameters", "Write error", and on an encoder that does not start or fails, or a disc that
    // stops answering) or EFCreateError; the file is finished and closed, and both of the range's
    // threads have ended, before any failure travels on.
    void RipRange(int32_t startSector, int32_t endSector, const QString& fileName);
    // Stops the running range after its current chunk; what was read is still written.
    void AbortRip() { Aborted = true; }

private:
    struct TRangeJob;
    // The reading stage: parameters, opening (with the wait for the drive), every chunk, and
    // closing the range once the writing stage is done with it.
    void ReadRange(TRangeJob& job, int32_t startSector, int32_t endSector, const QString& fileName);
    void ReadChunks(TRangeJob& job, int32_t readSize, const QString& readFailure);
    // The calling thread until the range is done: progress, jitter lines, window messages.
    void WaitForRange(TRangeJob& job);

    void ReadParameters();
    static TDriveSurvey Survey(cdrip::ICDRipLibrary& library);
    static void ReadToc(cdrip::ICDRipLibrary& library, TDiscReading& reading);
    void TakeTracks(TDiscReading& reading);
    // Opens the range, waiting for a drive that is becoming ready; false when it never opens
    // or the rip is aborted meanwhile.
    bool OpenRipper(int32_t& readSize, int32_t startSector, int32_t endSector);

    cdrip::ICDRipLibrary* FLib = nullptr;
    QPointer<QObject> FCoder;
    int32_t FCDRomNum = 0;
    TOutputFormat FOutputFormat = STEREO44100;
    bool FJitterCorrect = true;
    int32_t FPlayPosition = 0;
    int FRangeTrack = 0; // the track RipTrack is extracting, for messages; 0 for a bare range
    QString FLastFileName;
};
