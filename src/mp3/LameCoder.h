#pragma once

#include "mp3/LameEncLibrary.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <stdexcept>

// Event shapes shared by the components. The first argument is the sending component.
using TNotifyEvent = std::function<void(QObject* Sender)>;
using TProgressEvent = std::function<void(QObject* Sender, uint16_t PercentComplete)>;
using TProcessFileEvent =
    std::function<void(QObject* Sender, uint16_t Num, const QString& FileName)>;

// The channel layout of the MP3 file.
enum TLameMode : int32_t
{
    STEREO = 0,
    JSTEREO = 1,
    DUALCHANNEL = 2,
    MONO = 3
};

// The encoder's quality choice. Which encoder quality level each becomes is said where the
// record is turned into encoder settings (platform/lameenc).
enum MPEG_QUALITY : int32_t
{
    NORMAL_QUALITY = 0,
    LOW_QUALITY = 1,
    HIGH_QUALITY = 2,
    VOICE_QUALITY = 3
};

// Raised by Assign when the source is not of the same kind.
class EAssignError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// The encoder library's version numbers, read once when the encoder component is created.
class TLameVersion : public QObject
{
    Q_OBJECT
public:
    explicit TLameVersion(lameenc::ILameEncLibrary& library, QObject* parent = nullptr);

    uint8_t DLLMajorVersion() const { return FVersion.byDLLMajorVersion; }
    uint8_t DLLMinorVersion() const { return FVersion.byDLLMinorVersion; }
    uint8_t MajorVersion() const { return FVersion.byMajorVersion; }
    uint8_t MinorVersion() const { return FVersion.byMinorVersion; }
    // The whole record as the library filled it.
    const lameenc::BE_VERSION& Record() const { return FVersion; }

    // Copies the four version numbers from another TLameVersion; any other source (or none)
    // raises EAssignError "Cannot assign a <source class> to a TLameVersion".
    void Assign(const QObject* source);

private:
    lameenc::BE_VERSION FVersion{};
};

// Holds the MP3 settings and wraps one encoding stream at a time. It never touches files: the
// caller writes every block of MP3 data it hands back.
//
// Per track: SetPCMFormat, OpenStream (0 = success), EncodeChunk for every chunk of
// SamplesPerChunk() samples, FlushStream, then VBRHeaderFrame() if wanted, CloseStream. Flush
// and close belong at the end of every opened stream, also after a cancel or a failure.
class TLameCoder : public QObject
{
    Q_OBJECT
public:
    // `library` defaults to the process's real encoder library; it must outlive the component.
    explicit TLameCoder(QObject* parent = nullptr, lameenc::ILameEncLibrary* library = nullptr);
    ~TLameCoder() override;

    // The file's sample rate, Hz (44100). Not validated: the library judges it at OpenStream.
    uint32_t SampleRate() const { return FSampleRate; }
    void SetSampleRate(uint32_t value) { FSampleRate = value; }
    // Constant bitrate, or the VBR minimum, kbit/s (128).
    uint32_t Bitrate() const { return FBitrate; }
    void SetBitrate(uint32_t value) { FBitrate = value; }
    // VBR maximum, kbit/s (320).
    uint32_t MaxBitrate() const { return FMaxBitrate; }
    void SetMaxBitrate(uint32_t value) { FMaxBitrate = value; }
    MPEG_QUALITY Quality() const { return FQuality; }
    void SetQuality(MPEG_QUALITY value) { FQuality = value; }
    // 32-bit booleans: 0 false, anything else true, passed to the library unchanged.
    int32_t Private() const { return FPrivate; }
    void SetPrivate(int32_t value) { FPrivate = value; }
    int32_t CRC() const { return FCRC; }
    void SetCRC(int32_t value) { FCRC = value; }
    // The file's channel mode (STEREO). A value outside the four modes is ignored.
    TLameMode Mode() const;
    void SetMode(TLameMode value);
    int32_t Copyright() const { return FCopyright; }
    void SetCopyright(int32_t value) { FCopyright = value; }
    int32_t Original() const { return FOriginal; }
    void SetOriginal(int32_t value) { FOriginal = value; }
    int32_t WriteVBRHeader() const { return FWriteVBRHeader; }
    void SetWriteVBRHeader(int32_t value) { FWriteVBRHeader = value; }
    // Also sets WriteVBRHeader to the same value.
    int32_t EnableVBR() const { return FEnableVBR; }
    void SetEnableVBR(int32_t value);
    // 0 (best) .. 9 (4).
    int32_t VBRQuality() const { return FVBRQuality; }
    void SetVBRQuality(int32_t value) { FVBRQuality = value; }

    const QStringList& InputFiles() const { return FInputFiles; }
    // Copies the list and derives OutputFiles from it: each name with its extension (from the
    // last dot after the last '\\' or ':') replaced by DefaultExt, or DefaultExt appended.
    void SetInputFiles(const QStringList& value);
    const QStringList& OutputFiles() const { return FOutputFiles; }
    void SetOutputFiles(const QStringList& value) { FOutputFiles = value; }

    // Read-only: the object is the component's own; Assign may still change its numbers.
    const TLameVersion* LameVersion() const { return FLameVersion; }
    TLameVersion* LameVersion() { return FLameVersion; }

    QString DefaultExt() const { return FDefaultExt; }
    void SetDefaultExt(const QString& value) { FDefaultExt = value; }
    QString Mp3FileName() const { return FMp3FileName; }
    void SetMp3FileName(const QString& value) { FMp3FileName = value; }

    TNotifyEvent OnBeginProcess;
    TProcessFileEvent OnBeginFile;
    TProcessFileEvent OnEndFile;
    TNotifyEvent OnEndProcess;
    TProgressEvent OnProgress;

    // Copies the encoder settings (not the lists, strings, version or events) from another
    // TLameCoder; any other source (or none) raises EAssignError
    // "Cannot assign a <source class> to a TLameCoder".
    void Assign(const QObject* source);

    // The layout of the PCM the next stream is fed (44100 Hz, 2 channels initially). The encoder
    // resamples and mixes from it to SampleRate and Mode.
    void SetPCMFormat(uint32_t sampleRate, uint32_t channels);
    uint32_t PCMSampleRate() const { return FPCMSampleRate; }
    uint32_t PCMChannels() const { return FPCMChannels; }

    // Fills the configuration record from the properties and opens a stream. Returns the
    // library's result, 0 = success. Raises nothing.
    int32_t OpenStream();
    // After OpenStream returned `result` (not 0): which of the settings the library refused, in
    // the words of the options dialog, e.g. a sample rate no MP3 file can have. The library
    // answers with a code only, so this names the setting that code points at.
    QString RefusedSetting(int32_t result) const;
    // The sample rates an MP3 file can have.
    static bool IsMP3SampleRate(uint32_t rate);

    // Encodes one chunk of SamplesPerChunk() samples from `pcm` into `output`, which holds
    // OutputBufferSize() bytes; *bytes gets the number of MP3 bytes placed there.
    int32_t EncodeChunk(const int16_t* pcm, uint8_t* output, uint32_t* bytes);
    // The same for a short last chunk: `samples` (a whole number of PCM frames, at most
    // SamplesPerChunk()) samples, so the end of a track is encoded without padding.
    int32_t EncodeChunk(const int16_t* pcm, uint32_t samples, uint8_t* output, uint32_t* bytes);
    // Flushes the rest of the stream into `output` (OutputBufferSize() bytes) and fetches the
    // finished VBR header frame.
    int32_t FlushStream(uint8_t* output, uint32_t* bytes);
    int32_t CloseStream();

    // Valid after a successful OpenStream: 16-bit samples per chunk (all channels of the PCM),
    // and the bytes one EncodeChunk or FlushStream may return at most.
    uint32_t SamplesPerChunk() const { return FSamplesPerChunk; }
    uint32_t OutputBufferSize() const { return FOutputBufferSize; }

    // After FlushStream: the finished header frame, to be written over the first bytes of the
    // stream's MP3 data (its placeholder frame, of the same length). Present whenever
    // WriteVBRHeader is on, at a constant bitrate too (it still carries the exact length);
    // empty when it is off or the flush failed. Kept until the next OpenStream.
    QByteArray VBRHeaderFrame() const { return FVBRHeaderFrame; }

    // The record the last OpenStream handed to the library (zeroes before the first).
    const lameenc::BE_CONFIG& Config() const { return FConfig; }

private:
    void FillConfig();

    lameenc::ILameEncLibrary& FLibrary;
    uint32_t FSampleRate = 44100;
    uint32_t FBitrate = 128;
    uint32_t FMaxBitrate = 320;
    MPEG_QUALITY FQuality = NORMAL_QUALITY;
    int32_t FPrivate = lameenc::BE_FALSE;
    int32_t FCRC = lameenc::BE_TRUE;
    int32_t ModeCode = lameenc::BE_MP3_MODE_STEREO;
    int32_t FCopyright = lameenc::BE_FALSE;
    int32_t FOriginal = lameenc::BE_FALSE;
    int32_t FWriteVBRHeader = lameenc::BE_FALSE;
    int32_t FEnableVBR = lameenc::BE_FALSE;
    int32_t FVBRQuality = 4;
    QStringList FInputFiles;
    QStringList FOutputFiles;
    TLameVersion* FLameVersion = nullptr; // child object
    QString FDefaultExt;
    QString FMp3FileName;

    uint32_t FPCMSampleRate = 44100;
    uint32_t FPCMChannels = 2;

    lameenc::BE_CONFIG FConfig{};
    lameenc::HBE_STREAM StreamHandle = 0;
    bool FStreamOpen = false;
    uint32_t FSamplesPerChunk = 0;
    uint32_t FOutputBufferSize = 0;
    QByteArray FVBRHeaderFrame;
};
