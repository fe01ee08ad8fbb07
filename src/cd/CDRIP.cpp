#include "cd/CDRIP.h"

#include "mp3/LameCoder.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

using cdrip::AUDIOTRKFLAG;
using cdrip::CDEX_ERROR;
using cdrip::CDEX_JITTER_ERROR;
using cdrip::CDEX_RIPPING_DONE;
using cdrip::CDROMPARAMS;
using cdrip::CDSTATUS;
using cdrip::ICDRipLibrary;
using cdrip::TOCENTRY;

namespace {

const QString kInitializationFailure = QStringLiteral("Initialization failure");
const QString kErrorSettingParameters = QStringLiteral("Error setting parameters");
const QString kInvalidParameters = QStringLiteral("Invalid CD-ROM parameters");
const QString kWriteError = QStringLiteral("Write error");
const QString kBadReadOffset =
    QStringLiteral("The read offset %1 is not one a drive can have: it lies between -%2 and %2 "
                   "samples (\"ReadOffset\" in the \"System\" section of the settings)");
constexpr int32_t kMaxReadOffset = 5880;
const QString kEncoderFailure = QStringLiteral("The MP3 encoder could not be started (error %1)");
// %1: the file as the user knows it.
const QString kEncoderError = QStringLiteral("The MP3 encoder failed (error %2) while writing %1");
// %1: where on the disc, as RangeText gives it.
const QString kReadFailure = QStringLiteral(
    "Read error in %1: no audio could be read from the disc; it may have been removed");
const QString kCannotOpen =
    QStringLiteral("The drive could not be opened for reading %1: there may be no disc in it, its "
                   "tray may be open, or the disc cannot be read");
const QString kShortWrite = QStringLiteral("only %1 of %2 bytes could be written");
const QString kAudio = QStringLiteral("Audio");
const QString kData = QStringLiteral("Data");

// A failure message with the library's word on its cause, when it has one.
QString WithCause(ICDRipLibrary& library, const QString& message)
{
    char cause[1024];
    if (library.CR_GetLastErrorText(cause, sizeof cause) == CDEX_ERROR || cause[0] == 0)
        return message;
    return message + QStringLiteral(" (") + QString::fromUtf8(cause) + QLatin1Char(')');
}

constexpr int32_t kTrue = -1;
constexpr int32_t kFalse = 0;
constexpr int kSectorsPerSecond = 75;
constexpr int kSectorsPerMinute = 4500;
constexpr int kLeadInSectors = 150;
// However long a drive says it may take to become ready, a job waits no longer than this.
constexpr int32_t kMaxSpinUpSeconds = 30;
constexpr int kReadyPollMilliseconds = 100;
// No disc holds more; a library that claims more is not believed.
constexpr int32_t kMaxTracks = 99;
// A chunk larger than this is not a chunk the library could honestly ask for.
constexpr int32_t kMaxReadSize = 64 * 1024 * 1024;
constexpr qint64 kWavHeaderSize = 44;
// Audio read ahead of the encoder and the file at most: enough to ride out a slow write or a
// busy core, little enough to keep memory flat.
constexpr int64_t kQueuedMilliseconds = 2000;
// The thread that waits for a range lets the window's messages run at least this often.
constexpr auto kRoundInterval = std::chrono::milliseconds(10);

// One parameter block for the whole process, as the library keeps one per process too.
CDROMPARAMS& Block()
{
    static CDROMPARAMS block{};
    return block;
}

QString TwoDigitText(uint16_t n)
{
    return QString::number(n).rightJustified(2, QLatin1Char('0'));
}

struct TPcmLayout
{
    uint32_t SampleRate;
    uint16_t Channels;
};

TPcmLayout LayoutOf(TOutputFormat format)
{
    switch (format) {
    case MONO44100:
        return {44100, 1};
    case STEREO22050:
        return {22050, 2};
    case MONO22050:
        return {22050, 1};
    case STEREO11025:
        return {11025, 2};
    case MONO11025:
        return {11025, 1};
    default:
        return {44100, 2};
    }
}

// The header's data size counts end minus start sectors, so a header written before the range is
// read can be exactly right only for a range the library delivers short by one sector. It is
// revised when the range closes; this is only the first guess.
uint32_t DeclaredDataBytes(TPcmLayout layout, int32_t startSector, int32_t endSector)
{
    const int64_t byteRate = int64_t(layout.Channels) * layout.SampleRate * 2;
    const int64_t d = byteRate * (int64_t(endSector) - startSector) / kSectorsPerSecond;
    return uint32_t(std::clamp<int64_t>(d, 0, int64_t(UINT32_MAX) - 36));
}

QByteArray WavHeader(TPcmLayout layout, uint32_t dataBytes)
{
    QByteArray h(kWavHeaderSize, '\0');
    char* p = h.data();
    const uint32_t byteRate = uint32_t(layout.Channels) * layout.SampleRate * 2;
    std::memcpy(p, "RIFF", 4);
    qToLittleEndian<uint32_t>(dataBytes + 36, p + 4);
    std::memcpy(p + 8, "WAVEfmt ", 8);
    qToLittleEndian<uint32_t>(16, p + 16);
    qToLittleEndian<uint16_t>(1, p + 20);
    qToLittleEndian<uint16_t>(layout.Channels, p + 22);
    qToLittleEndian<uint32_t>(layout.SampleRate, p + 24);
    qToLittleEndian<uint32_t>(byteRate, p + 28);
    qToLittleEndian<uint16_t>(uint16_t(layout.Channels * 2), p + 32);
    qToLittleEndian<uint16_t>(16, p + 34);
    std::memcpy(p + 36, "data", 4);
    qToLittleEndian<uint32_t>(dataBytes, p + 40);
    return h;
}

// Where the name part of a path begins: after the last separator.
qsizetype NameStart(const QString& fileName)
{
    qsizetype slash = fileName.lastIndexOf(QLatin1Char('/'));
#ifdef Q_OS_WIN
    slash = std::max(
        {slash, fileName.lastIndexOf(QLatin1Char('\\')), fileName.lastIndexOf(QLatin1Char(':'))});
#endif
    return slash + 1;
}

// The extension of the name part becomes ".mp3", or ".mp3" is added.
QString WithMp3Extension(const QString& fileName)
{
    const qsizetype nameStart = NameStart(fileName) - 1;
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    if (dot > nameStart)
        return fileName.left(dot) + QStringLiteral(".mp3");
    return fileName + QStringLiteral(".mp3");
}

// The system's words begin a sentence; in a message they continue one.
QString Continued(const QString& reason)
{
    return reason.isEmpty() ? reason : reason.at(0).toLower() + reason.mid(1);
}

// "Write error", the file as the user knows it, and what the system said.
[[noreturn]] void RaiseWriteError(const QString& shownName, const QFile& file, qint64 written = -1,
                                  qint64 count = 0)
{
    QString reason =
        file.error() != QFileDevice::NoError ? Continued(file.errorString()) : QString();
    if (reason.isEmpty() && written >= 0)
        reason = kShortWrite.arg(written).arg(count);
    QString message = kWriteError + QStringLiteral(": ") + shownName;
    if (!reason.isEmpty())
        message += QStringLiteral(": ") + reason;
    throw ECDRIPError(message);
}

QString CreateReason(const QFile& file)
{
    return CreateFailureReason(file.fileName(), file.errorString());
}

// Where on the disc a range lies, for messages: its track when it is one, else its sectors.
QString RangeText(int trackNum, int32_t startSector, int32_t endSector)
{
    if (trackNum > 0)
        return QStringLiteral("track %1").arg(trackNum);
    return QStringLiteral("sectors %1 to %2").arg(startSector).arg(endSector);
}

// One open range: its buffers, its encoder stream and its file. Finish() closes everything in
// the fixed order whatever state the range reached, so every exit leaves a finished file.
class TRange
{
public:
    TRange(TLameCoder* coder, bool encode, bool wav, TOutputFormat format)
        : FCoder(encode ? coder : nullptr), FEncode(encode), FWav(wav && !encode),
          FLayout(LayoutOf(format))
    {
    }

    // The encoder stream and its buffers.
    void Open(int32_t readSize)
    {
        FReadSize = readSize;
        if (FCoder) {
            FCoder->SetPCMFormat(FLayout.SampleRate, FLayout.Channels);
            const int32_t result = FCoder->OpenStream();
            if (result != 0)
                throw ECDRIPError(kEncoderFailure.arg(result) + QStringLiteral(": ") +
                                  FCoder->RefusedSetting(result));
            FStreamOpen = true;
            FChunkBytes = qint64(FCoder->SamplesPerChunk()) * 2;
            FOutSize = FCoder->OutputBufferSize();
            if (FChunkBytes <= 0 || FOutSize == 0 || FChunkBytes > kMaxReadSize)
                throw ECDRIPError(kEncoderFailure.arg(-1) +
                                  QStringLiteral(": it asked for chunks of %1 samples and %2 "
                                                 "bytes of output, which no stream can use")
                                      .arg(FCoder->SamplesPerChunk())
                                      .arg(FOutSize));
            // Every chunk's MP3 data is gathered and written at once: one write per delivery.
            FOut.resize(size_t(FOutSize) * size_t(readSize / FChunkBytes + 2));
            // A delivery behind the remainder of one encoder chunk, held as 16-bit words so
            // every encoder chunk inside it is aligned for the encoder.
            FRead.resize(size_t((readSize + FChunkBytes + 1) / 2));
        }
    }

    // `shownName` is the name messages give the file: the one the user will find.
    void Create(const QString& fileName, const QString& shownName)
    {
        FShownName = shownName;
        FFile.setFileName(fileName);
        if (fileName.isEmpty())
            throw EFCreateError(shownName);
        if (!FFile.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
            throw EFCreateError(shownName, CreateReason(FFile));
        FFileOpen = true;
    }

    // The header is a first guess, revised at close; a short write of it is noticed by the
    // first PCM write, or by the revision.
    void WriteHeader(int32_t startSector, int32_t endSector)
    {
        if (!FWav)
            return;
        const QByteArray h = WavHeader(FLayout, DeclaredDataBytes(FLayout, startSector, endSector));
        FFile.write(h);
    }

    int32_t ReadSize() const { return FReadSize; }

    // Writes one delivery of `n` bytes. For the encoder it goes behind the remainder the last
    // delivery left, so the stream is cut into the same chunks however the deliveries fall.
    void Deliver(const uint8_t* data, int32_t n)
    {
        if (!FEncode) {
            Write(data, n);
            FPcmWritten += n;
            return;
        }
        if (!FCoder || n <= 0)
            return;
        uint8_t* base = reinterpret_cast<uint8_t*>(FRead.data());
        std::memcpy(base + FRemainder, data, size_t(n));
        const qint64 total = FRemainder + n;
        const qint64 chunks = total / FChunkBytes;
        qint64 gathered = 0;
        for (qint64 i = 0; i < chunks; ++i) {
            uint32_t bytes = 0;
            const int32_t result =
                FCoder->EncodeChunk(reinterpret_cast<const int16_t*>(base + i * FChunkBytes),
                                    FOut.data() + gathered, &bytes);
            // A chunk the encoder lost would leave a gap in the track, and the file would
            // still look whole: what was encoded before it is kept, and the range ends.
            if (result != 0) {
                Write(FOut.data(), gathered);
                FMp3Written += gathered;
                FRemainder = 0;
                throw ECDRIPError(kEncoderError.arg(FShownName, QString::number(result)));
            }
            gathered += std::min<qint64>(bytes, FOutSize);
        }
        Write(FOut.data(), gathered);
        FMp3Written += gathered;
        FRemainder = total - chunks * FChunkBytes;
        if (chunks > 0 && FRemainder > 0)
            std::memmove(base, base + chunks * FChunkBytes, size_t(FRemainder));
    }

    // The last few milliseconds that do not fill an encoder chunk still belong to the track.
    void EncodeRemainder()
    {
        if (!FStreamOpen || !FFileOpen)
            return;
        const qint64 frameBytes = qint64(FLayout.Channels) * 2;
        const qint64 usable = FRemainder - FRemainder % frameBytes;
        FRemainder = 0;
        if (usable <= 0)
            return;
        uint32_t bytes = 0;
        const int32_t result = FCoder->EncodeChunk(reinterpret_cast<const int16_t*>(FRead.data()),
                                                   uint32_t(usable / 2), FOut.data(), &bytes);
        if (result != 0)
            throw ECDRIPError(kEncoderError.arg(FShownName, QString::number(result)));
        Write(FOut.data(), std::min<qint64>(bytes, FOutSize));
        FMp3Written += std::min<qint64>(bytes, FOutSize);
    }

    // Flush and close the stream, close the library's range, revise the file's header and close
    // it. Every step runs; the first failure is raised once all of them have.
    void Finish(ICDRipLibrary& lib, int32_t& jitterErrors)
    {
        std::exception_ptr failure;
        auto attempt = [&failure](auto&& step) {
            try {
                step();
            } catch (...) {
                if (!failure)
                    failure = std::current_exception();
            }
        };
        if (FStreamOpen) {
            attempt([&] {
                uint32_t bytes = 0;
                FCoder->FlushStream(FOut.data(), &bytes);
                if (FFileOpen) {
                    Write(FOut.data(), std::min<qint64>(bytes, FOutSize));
                    FMp3Written += std::min<qint64>(bytes, FOutSize);
                }
            });
            attempt([&] { WriteVBRFrame(); });
            attempt([&] { FCoder->CloseStream(); });
            FStreamOpen = false;
        }
        attempt([&] { jitterErrors = lib.CR_GetNumberOfJitterErrors(); });
        attempt([&] { lib.CR_CloseRipper(); });
        FRead = {};
        FOut = {};
        if (FFileOpen) {
            attempt([&] { ReviseHeader(); });
            FFile.close();
            FFileOpen = false;
        }
        if (failure)
            std::rethrow_exception(failure);
    }

    bool StreamOpen() const { return FStreamOpen; }

private:
    // Every file write writes the whole count or fails with the system's reason.
    void Write(const void* data, qint64 count)
    {
        if (count <= 0)
            return;
        const char* bytes = static_cast<const char*>(data);
        qint64 written = FFile.write(bytes, count);
        // A write that stops part-way carries no reason; the write of the rest that fails
        // outright does (a full disk, a file grown too large).
        while (written > 0 && written < count) {
            const qint64 more = FFile.write(bytes + written, count - written);
            if (more <= 0)
                break;
            written += more;
        }
        if (written != count)
            RaiseWriteError(FShownName, FFile, std::max<qint64>(written, 0), count);
    }

    // A VBR stream begins with a placeholder frame; the finished one, known only after the
    // flush, replaces it so players see the true length and seek properly.
    void WriteVBRFrame()
    {
        if (!FFileOpen)
            return;
        const QByteArray frame = FCoder->VBRHeaderFrame();
        if (frame.isEmpty() || frame.size() > FMp3Written)
            return;
        const qint64 end = FFile.pos();
        if (!FFile.seek(0))
            RaiseWriteError(FShownName, FFile);
        Write(frame.constData(), frame.size());
        if (!FFile.seek(end))
            RaiseWriteError(FShownName, FFile);
    }

    // The finished file declares exactly the PCM it holds: a cancelled range, or the inclusive
    // last sector the first guess leaves out, would otherwise leave a header that lies.
    void ReviseHeader()
    {
        if (!FWav || FFile.size() < kWavHeaderSize)
            return;
        const uint32_t data = uint32_t(std::min<qint64>(FPcmWritten, qint64(UINT32_MAX) - 36));
        char le[4];
        qToLittleEndian<uint32_t>(data + 36, le);
        if (!FFile.seek(4))
            RaiseWriteError(FShownName, FFile);
        Write(le, 4);
        qToLittleEndian<uint32_t>(data, le);
        if (!FFile.seek(40))
            RaiseWriteError(FShownName, FFile);
        Write(le, 4);
    }

    TLameCoder* FCoder;
    bool FEncode;
    bool FWav;
    TPcmLayout FLayout;
    int32_t FReadSize = 0;
    qint64 FChunkBytes = 0;
    uint32_t FOutSize = 0;
    qint64 FRemainder = 0;
    qint64 FPcmWritten = 0;
    qint64 FMp3Written = 0;
    bool FStreamOpen = false;
    bool FFileOpen = false;
    std::vector<int16_t> FRead;
    std::vector<uint8_t> FOut;
    QFile FFile;
    QString FShownName;
};

// The chunks on their way from the reading stage to the writing stage: a fixed set of buffers
// the reader fills and the writer empties, so memory stays flat however long the track, and the
// reader waits while the writer is a whole queue behind.
class TChunkQueue
{
public:
    // Room for kQueuedMilliseconds of audio, and never fewer than two chunks, so one can be read
    // while the other is written.
    void Allocate(int32_t readSize, int64_t bytesPerSecond)
    {
        const int64_t budget = bytesPerSecond * kQueuedMilliseconds / 1000;
        const int64_t count = std::clamp<int64_t>(budget / std::max(readSize, 1), 2, 64);
        FBuffers.resize(size_t(count));
        for (std::vector<uint8_t>& buffer : FBuffers) {
            buffer.resize(size_t(readSize));
            FFree.push_back(buffer.data());
        }
    }

    // Reader: an empty buffer, once there is one; nullptr when the writer has stopped.
    uint8_t* Free()
    {
        std::unique_lock<std::mutex> lock(FMutex);
        FChanged.wait(lock, [this] { return FStopped || !FFree.empty(); });
        if (FStopped)
            return nullptr;
        uint8_t* buffer = FFree.front();
        FFree.pop_front();
        return buffer;
    }

    // Reader: `n` bytes of a buffer from Free() for the writer; with nothing in it, the buffer
    // is only given back.
    void Push(uint8_t* buffer, int32_t n)
    {
        {
            const std::lock_guard<std::mutex> lock(FMutex);
            if (n > 0)
                FFull.emplace_back(buffer, n);
            else
                FFree.push_front(buffer);
        }
        FChanged.notify_all();
    }

    // Reader: nothing more comes; the writer still writes what is queued.
    void Close()
    {
        {
            const std::lock_guard<std::mutex> lock(FMutex);
            FClosed = true;
        }
        FChanged.notify_all();
    }

    // Writer: gives the buffer of the last Next() back and waits for the next chunk; false once
    // the queue is closed and empty.
    bool Next(const uint8_t*& data, int32_t& n)
    {
        std::unique_lock<std::mutex> lock(FMutex);
        if (FTaken != nullptr) {
            FFree.push_back(FTaken);
            FTaken = nullptr;
            FChanged.notify_all();
        }
        FChanged.wait(lock, [this] { return FClosed || !FFull.empty(); });
        if (FFull.empty())
            return false;
        FTaken = FFull.front().first;
        data = FTaken;
        n = FFull.front().second;
        FFull.pop_front();
        return true;
    }

    // Writer: it can write no more; the reader stops at its next Free().
    void Stop()
    {
        {
            const std::lock_guard<std::mutex> lock(FMutex);
            FStopped = true;
        }
        FChanged.notify_all();
    }

private:
    std::mutex FMutex;
    std::condition_variable FChanged;
    std::vector<std::vector<uint8_t>> FBuffers;
    std::deque<uint8_t*> FFree;
    std::deque<std::pair<uint8_t*, int32_t>> FFull;
    uint8_t* FTaken = nullptr;
    bool FClosed = false;
    bool FStopped = false;
};

// What one chunk call reported, for the thread that waits for the range to pass on.
struct TChunkNote
{
    uint16_t Percent = 0;
    bool Jitter = false;
    int32_t JitterFirst = 0;
    int32_t JitterLast = 0;
};

} // namespace

// One range on its way: the file and encoder stream, the queue between the two stages, and what
// the stages tell the waiting thread. The first failure of any of them is the range's.
struct TCDRIP::TRangeJob
{
    TRangeJob(TLameCoder* coder, bool encode, bool wav, TOutputFormat format)
        : Range(coder, encode, wav, format), Layout(LayoutOf(format))
    {
    }

    void Fail(std::exception_ptr failure)
    {
        {
            const std::lock_guard<std::mutex> lock(Mutex);
            if (!Failure)
                Failure = std::move(failure);
        }
        Changed.notify_all();
    }
    bool Failed()
    {
        const std::lock_guard<std::mutex> lock(Mutex);
        return Failure != nullptr;
    }
    void Note(const TChunkNote& note)
    {
        {
            const std::lock_guard<std::mutex> lock(Mutex);
            Notes.push_back(note);
        }
        Changed.notify_all();
    }

    // The writing stage: every chunk in the order read, then the tail the encoder's chunks
    // leave, unless the range failed.
    void Write()
    {
        try {
            const uint8_t* data = nullptr;
            int32_t n = 0;
            while (Queue.Next(data, n))
                Range.Deliver(data, n);
            if (!Failed())
                Range.EncodeRemainder();
        } catch (...) {
            Fail(std::current_exception());
            Queue.Stop();
        }
        {
            const std::lock_guard<std::mutex> lock(Mutex);
            WriterDone = true;
        }
        Changed.notify_all();
    }

    TRange Range;
    TPcmLayout Layout;
    TChunkQueue Queue;

    std::mutex Mutex;
    std::condition_variable Changed;
    std::vector<TChunkNote> Notes;
    std::exception_ptr Failure;
    bool WriterDone = false;
    bool Done = false; // the reader has finished the range
    // Known to the reader until the range is done.
    QString FileName;
    int32_t JitterErrors = 0;
    bool Finished = false; // the range was opened, and closed again
};

EFCreateError::EFCreateError(const QString& fileName, const QString& reason)
    : Exception(QStringLiteral("Cannot create file %1").arg(fileName) +
                (reason.isEmpty() ? QString() : QStringLiteral(": ") + reason))
{
}

QString CreateFailureReason(const QString& path, const QString& systemReason)
{
    const QFileInfo file(path);
    const QFileInfo folder(file.absolutePath());
    if (!folder.isDir()) {
        // The nearest part of the path that is there tells why the folder is not.
        QString existing = folder.filePath();
        while (!QFileInfo::exists(existing) && QFileInfo(existing).path() != existing)
            existing = QFileInfo(existing).path();
        const QFileInfo there(existing);
        if (there.exists() && !there.isDir())
            return QStringLiteral("%1 is a file, not a folder").arg(existing);
        if (there.isDir() && !there.isWritable())
            return QStringLiteral("the folder %1 does not exist, and %2 does not allow making it")
                .arg(folder.filePath(), existing);
        return QStringLiteral("the folder %1 does not exist").arg(folder.filePath());
    }
#ifdef Q_OS_UNIX
    const QByteArray folderBytes = QFile::encodeName(folder.filePath());
    const long nameMax = ::pathconf(folderBytes.constData(), _PC_NAME_MAX);
    const qsizetype nameBytes = QFile::encodeName(file.fileName()).size();
    if (nameMax > 0 && nameBytes > nameMax)
        return QStringLiteral("the name is longer than the file system allows (%1 bytes; at most "
                              "%2)")
            .arg(nameBytes)
            .arg(nameMax);
#endif
    // Some file systems (FAT on a memory stick) refuse characters such as ':' or '?'.
    if (systemReason == qt_error_string(EINVAL))
        return QStringLiteral("the file system does not allow a character of the name");
    return Continued(systemReason);
}

TCDRIP::TCDRIP(QObject* owner, ICDRipLibrary* library, TStart start)
    : QObject(owner), FLib(library ? library : &cdrip::DefaultCDRipLibrary())
{
    try {
        Version = QString::number(FLib->CR_GetCDRipVersion());
        if (start == TStart::Deferred || FLib->CR_Init() == CDEX_ERROR)
            return;
        if (FLib->CR_GetCDROMParameters(&Block()) != CDEX_ERROR) {
            ReadParameters();
            FCDRomNum = FLib->CR_GetActiveCDROM();
            FJitterCorrect = true;
            Block().bJitterCorrection = kTrue;
        }
        TDiscReading reading;
        ReadToc(*FLib, reading);
        TakeTracks(reading);
        JitterErrors = 0;
    } catch (...) {
        throw ECDRIPError(kInitializationFailure);
    }
}

TCDRIP::~TCDRIP() = default;

TLameCoder* TCDRIP::Coder() const
{
    return static_cast<TLameCoder*>(FCoder.data());
}

void TCDRIP::SetCoder(TLameCoder* coder)
{
    FCoder = coder;
    ApplyOutputFormat();
}

void TCDRIP::SetCDRomNum(int32_t n)
{
    ClearTracks();
    TakeDisc(ReadDisc(*FLib, n));
}

TCDRIP::TDiscReading TCDRIP::ReadDisc(ICDRipLibrary& library, int32_t n)
{
    try {
        TDiscReading reading;
        reading.Drive = n;
        reading.Selected = library.CR_SetActiveCDROM(n) != CDEX_ERROR &&
                           library.CR_GetCDROMParameters(&reading.Params) != CDEX_ERROR;
        ReadToc(library, reading);
        return reading;
    } catch (...) {
        throw ECDRIPError(kInitializationFailure);
    }
}

void TCDRIP::TakeDisc(TDiscReading reading)
{
    ClearTracks();
    if (reading.Selected) {
        Block() = reading.Params;
        ReadParameters();
        FCDRomNum = reading.Drive;
    }
    TakeTracks(reading);
}

TCDRIP::TDriveSurvey TCDRIP::SurveyDrives(ICDRipLibrary& library)
{
    try {
        return Survey(library);
    } catch (...) {
        throw ECDRIPError(kInitializationFailure);
    }
}

TCDRIP::TDriveSurvey TCDRIP::Survey(ICDRipLibrary& library)
{
    TDriveSurvey survey;
    if (library.CR_Init() == CDEX_ERROR)
        return survey;
    survey.Initialized = true;
    survey.HaveParameters = library.CR_GetCDROMParameters(&survey.Params) != CDEX_ERROR;
    survey.Active = library.CR_GetActiveCDROM();
    const int32_t drives = library.CR_GetNumCDROM();
    for (int32_t i = 0; i < drives; ++i) {
        CDROMPARAMS params{};
        if (library.CR_SetActiveCDROM(i) == CDEX_ERROR ||
            library.CR_GetCDROMParameters(&params) == CDEX_ERROR)
            break;
        params.lpszCDROMID[sizeof params.lpszCDROMID - 1] = '\0';
        const QString name = QString::fromUtf8(params.lpszCDROMID);
        char device[4096];
        const bool known =
            library.CR_GetDriveDevice(i, device, sizeof device) != CDEX_ERROR && device[0] != 0;
        survey.Names << name;
        survey.Devices << (known ? QString::fromUtf8(device) : name);
    }
    char text[1024];
    for (int32_t i = 0; library.CR_GetDriveProblem(i, text, sizeof text) != CDEX_ERROR; ++i)
        survey.Problems << QString::fromUtf8(text);
    return survey;
}

void TCDRIP::TakeSurvey(const TDriveSurvey& survey)
{
    if (!survey.HaveParameters)
        return;
    Block() = survey.Params;
    ReadParameters();
    FCDRomNum = survey.Active;
    FJitterCorrect = true;
    Block().bJitterCorrection = kTrue;
}

void TCDRIP::SetOutputFormat(TOutputFormat format)
{
    if (format != FOutputFormat) {
        FOutputFormat = format;
        Block().nOutputFormat = uint8_t(format);
    }
    ApplyOutputFormat();
}

void TCDRIP::SetJitterCorrect(bool value)
{
    if (value == FJitterCorrect)
        return;
    FJitterCorrect = value;
    Block().bJitterCorrection = value ? kTrue : kFalse;
}

int32_t TCDRIP::GetDriveCount()
{
    return FLib->CR_GetNumCDROM();
}

QStringList TCDRIP::DriveProblems() const
{
    QStringList problems;
    char text[1024];
    for (int32_t i = 0; FLib->CR_GetDriveProblem(i, text, sizeof text) != CDEX_ERROR; ++i)
        problems << QString::fromUtf8(text);
    return problems;
}

bool TCDRIP::DiscChanged()
{
    return FLib->CR_DiscChanged() == 1;
}

bool TCDRIP::IsAudioTrack(int index) const
{
    if (index < 0 || size_t(index) >= Tracks.size())
        return false;
    return Tracks[size_t(index)].second->TrackType == kAudio;
}

QString TCDRIP::GetTrackDuration(int index) const
{
    if (index < 0 || size_t(index) >= Tracks.size())
        return QStringLiteral("00:00");
    const TTrack& t = *Tracks[size_t(index)].second;
    const int64_t length = std::max<int64_t>(0, int64_t(t.EndSector) - t.StartSector + 1);
    const int64_t minutes = length / kSectorsPerMinute;
    const int64_t seconds = (length % kSectorsPerMinute) / kSectorsPerSecond;
    return QString::number(minutes) + QLatin1Char(':') + TwoDigitText(uint16_t(seconds));
}

QString TCDRIP::GetDiscID() const
{
    uint32_t sum = 0;
    for (const auto& item : Tracks) {
        const uint32_t p = uint32_t(item.second->StartSector) + kLeadInSectors;
        const uint32_t m = p / kSectorsPerMinute;
        const uint32_t s = (p / kSectorsPerSecond) % 60;
        const uint32_t f = p % kSectorsPerSecond;
        sum += m * 65536 + s * 256 + f;
    }
    if (TrackCount == 1 && Tracks.size() == 1)
        sum += uint32_t(Tracks[0].second->StartSector);
    return QString::number(sum, 16).toUpper().rightJustified(6, QLatin1Char('0'));
}

CDSTATUS TCDRIP::PlayTrack(int32_t trackNumber)
{
    return FLib->CR_PlayTrack(trackNumber);
}

CDSTATUS TCDRIP::StopPlay()
{
    return FLib->CR_StopPlayTrack();
}

CDSTATUS TCDRIP::PauseCD(bool pause)
{
    return FLib->CR_PauseCD(pause ? kTrue : kFalse);
}

CDSTATUS TCDRIP::EjectCD(bool eject)
{
    return FLib->CR_EjectCD(eject ? kTrue : kFalse);
}

QString TCDRIP::LastErrorText() const
{
    char text[1024];
    if (FLib->CR_GetLastErrorText(text, sizeof text) == CDEX_ERROR)
        return {};
    return QString::fromUtf8(text);
}

bool TCDRIP::IsPlaying()
{
    // A failing call leaves the position where it was, which reads as "not playing".
    int32_t relative = 0;
    int32_t absolute = FPlayPosition;
    FLib->CR_GetPlayPosition(&relative, &absolute);
    const bool moved = std::abs(int64_t(FPlayPosition) - absolute) >= 10;
    FPlayPosition = absolute;
    return moved;
}

bool TCDRIP::ApplyParameters()
{
    try {
        Block().nOffsetStart = ReadOffset;
        return FLib->CR_SetCDROMParameters(&Block()) != CDEX_ERROR;
    } catch (...) {
        throw ECDRIPError(kErrorSettingParameters);
    }
}

void TCDRIP::ApplyOutputFormat()
{
    TLameCoder* coder = Coder();
    if (!coder)
        return;
    const TPcmLayout layout = LayoutOf(FOutputFormat);
    coder->SetMode(layout.Channels == 2 ? STEREO : MONO);
    coder->SetSampleRate(layout.SampleRate);
}

bool TCDRIP::OpenRipper(int32_t& readSize, int32_t startSector, int32_t endSector)
{
    // A drive just closed or woken answers "not ready" while it spins up; its parameter block
    // says how long that may take (an image is ready at once and says 0). Until then opening
    // is tried again; Cancel ends the wait.
    const int32_t seconds = std::clamp(Block().nSpinUpTime, int32_t(0), kMaxSpinUpSeconds);
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        if (FLib->CR_OpenRipper(&readSize, startSector, endSector) != CDEX_ERROR)
            return true;
        if (Aborted || waited.elapsed() >= qint64(seconds) * 1000)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(kReadyPollMilliseconds));
    }
}

void TCDRIP::RipTrack(int trackNum, const QString& fileName)
{
    if (OnBeginTrack)
        OnBeginTrack(this, uint16_t(trackNum));
    if (trackNum < 1 || size_t(trackNum) > Tracks.size())
        throw ECDRIPError(QStringLiteral("There is no track %1 on this disc").arg(trackNum));
    const TTrack& track = *Tracks[size_t(trackNum) - 1].second;
    FRangeTrack = trackNum;
    try {
        RipRange(track.StartSector, track.EndSector, fileName);
    } catch (...) {
        FRangeTrack = 0;
        throw;
    }
    FRangeTrack = 0;
    if (OnEndTrack)
        OnEndTrack(this, uint16_t(trackNum));
}

void TCDRIP::RipRange(int32_t startSector, int32_t endSector, const QString& fileName)
{
    Aborted = false;
    FLastFileName.clear();
    TRangeJob job(Coder(), Encode, WriteWAV, FOutputFormat);

    // The disc is read on one thread, the encoder and the file are fed on another; this one
    // only waits, so a slow read or a slow disk never holds up the window.
    std::thread writer([&job] { job.Write(); });
    std::thread reader;
    try {
        reader = std::thread([&] { ReadRange(job, startSector, endSector, fileName); });
    } catch (...) {
        job.Queue.Close();
        writer.join();
        throw;
    }
    try {
        WaitForRange(job);
    } catch (...) {
        // No thread outlives its range, whatever happens to this one.
        job.Fail(std::current_exception());
        reader.join();
        writer.join();
        throw;
    }
    reader.join();
    writer.join();

    FLastFileName = job.FileName;
    if (job.Finished)
        JitterErrors = job.JitterErrors;
    if (job.Failure)
        std::rethrow_exception(job.Failure);
}

void TCDRIP::ReadRange(TRangeJob& job, int32_t startSector, int32_t endSector,
                       const QString& fileName)
{
    int32_t readSize = 0;
    bool opened = false;
    try {
        // A value no drive has is a typing slip: ripping with it, or without it, would give
        // files that match no other drive's.
        if (std::abs(int64_t(ReadOffset)) > kMaxReadOffset)
            throw ECDRIPError(kBadReadOffset.arg(ReadOffset).arg(kMaxReadOffset));
        if (!ApplyParameters())
            throw ECDRIPError(kInvalidParameters);
        // Aborted while waiting for the drive: no file, no message.
        opened = OpenRipper(readSize, startSector, endSector);
        // Every later track would fail the same way: one clear message ends the job.
        if (!opened && !Aborted)
            throw ECDRIPError(
                WithCause(*FLib, kCannotOpen.arg(RangeText(FRangeTrack, startSector, endSector))));
    } catch (...) {
        job.Fail(std::current_exception());
    }

    if (opened) {
        TRange& range = job.Range;
        // A name without a name part would become a hidden ".mp3" or land in the working folder.
        const bool nameless = NameStart(fileName) >= fileName.size();
        const QString name = Encode && !nameless ? WithMp3Extension(fileName) : fileName;
        const QString shownName = ShownFileName.isEmpty() ? name : ShownFileName;
        const QString readFailure =
            kReadFailure.arg(RangeText(FRangeTrack, startSector, endSector));
        try {
            if (readSize <= 0 || readSize > kMaxReadSize)
                throw ECDRIPError(readFailure);
            range.Open(readSize);
            if (nameless)
                throw EFCreateError(shownName, QStringLiteral("the name has no file name part"));
            range.Create(name, shownName);
            job.FileName = name;
            range.WriteHeader(startSector, endSector);
            const TPcmLayout& layout = job.Layout;
            job.Queue.Allocate(readSize, int64_t(layout.Channels) * layout.SampleRate * 2);
            ReadChunks(job, readSize, readFailure);
        } catch (...) {
            job.Fail(std::current_exception());
        }
        job.Queue.Close();
        {
            // The stream is flushed and closed, and the file finished, after its last chunk.
            std::unique_lock<std::mutex> lock(job.Mutex);
            job.Changed.wait(lock, [&job] { return job.WriterDone; });
        }
        try {
            range.Finish(*FLib, job.JitterErrors);
        } catch (...) {
            job.Fail(std::current_exception());
        }
        job.Finished = true;
    }

    job.Queue.Close();
    {
        const std::lock_guard<std::mutex> lock(job.Mutex);
        job.Done = true;
    }
    job.Changed.notify_all();
}

void TCDRIP::ReadChunks(TRangeJob& job, int32_t readSize, const QString& readFailure)
{
    int failedCalls = 0;
    QElapsedTimer failingFor;
    QElapsedTimer callTimer;
    for (;;) {
        if (Aborted || job.Failed())
            break;
        uint8_t* buffer = job.Queue.Free();
        if (buffer == nullptr)
            break; // the writer failed
        int32_t n = 0;
        callTimer.start();
        const CDSTATUS s = FLib->CR_RipChunk(buffer, &n, kTrue);
        n = std::clamp(n, 0, readSize);
        job.Queue.Push(buffer, s != CDEX_ERROR ? n : 0);
        // A disc taken out or a sector that never reads fails every call (or delivers
        // nothing, ever); going on forever would hang the job, and reporting success would
        // lie. A run of such calls ends the range.
        if (s == CDEX_RIPPING_DONE || (s != CDEX_ERROR && n > 0)) {
            failedCalls = 0;
        } else {
            if (failedCalls++ == 0)
                failingFor = callTimer;
            if (failedCalls >= MaxFailedChunks || failingFor.elapsed() >= MaxFailedMilliseconds)
                throw ECDRIPError(WithCause(*FLib, readFailure));
        }
        TChunkNote note;
        if (s == CDEX_JITTER_ERROR) {
            note.Jitter = true;
            FLib->CR_GetLastJitterErrorPosition(&note.JitterFirst, &note.JitterLast);
        }
        note.Percent = uint16_t(std::clamp(FLib->CR_GetPercentCompleted(), 0, 100));
        job.Note(note);
        if (s == CDEX_RIPPING_DONE)
            break;
    }
}

void TCDRIP::WaitForRange(TRangeJob& job)
{
    // Whatever a handler raises ends the range like a stage's failure; messages go on running
    // until both stages are done, as a stage may be waiting on one.
    bool handlersFailed = false;
    auto guarded = [&](auto&& step) {
        try {
            step();
        } catch (...) {
            handlersFailed = true;
            job.Fail(std::current_exception());
        }
    };
    for (bool done = false; !done;) {
        std::vector<TChunkNote> notes;
        {
            std::unique_lock<std::mutex> lock(job.Mutex);
            const auto ready = [&job] { return job.Done || !job.Notes.empty(); };
#if defined(__SANITIZE_THREAD__)
            // This compiler's ThreadSanitizer cannot follow a wait on the monotonic clock and
            // would take everything handed over after one for a race; under it the wait is
            // timed by the system clock instead.
            job.Changed.wait_until(lock, std::chrono::system_clock::now() + kRoundInterval, ready);
#else
            job.Changed.wait_for(lock, kRoundInterval, ready);
#endif
            notes.swap(job.Notes);
            done = job.Done;
        }
        for (const TChunkNote& note : notes) {
            if (note.Jitter)
                JitterLog.append(QString::number(uint32_t(note.JitterFirst)) + QLatin1Char(' ') +
                                 QString::number(uint32_t(note.JitterLast)));
            if (OnProgress && !handlersFailed)
                guarded([&] { OnProgress(this, note.Percent); });
        }
        if (QCoreApplication::instance())
            guarded([] { QCoreApplication::processEvents(); });
    }
}

void TCDRIP::ReadParameters()
{
    const CDROMPARAMS& b = Block();
    std::memcpy(DriveID, b.lpszCDROMID, sizeof DriveID);
    DriveID[sizeof DriveID - 1] = '\0';
    DriveTable.DriveType = TDriveType(b.DriveTable.DriveType);
    DriveTable.ReadMethod = TReadMethod(b.DriveTable.ReadMethod);
    DriveTable.SetSpeed = TSetSpeed(b.DriveTable.SetSpeed);
    DriveTable.Endian = TEndian(b.DriveTable.Endian);
    DriveTable.EnableMode = TEnableMode(b.DriveTable.EnableMode);
    DriveTable.Density = b.DriveTable.nDensity;
    DriveTable.Atapi = b.DriveTable.bAtapi != 0;
    FOutputFormat = TOutputFormat(b.nOutputFormat);
    Speed = b.nDriveSpeed;
}

namespace {

QString DiscText(ICDRipLibrary& library, int32_t trackNumber, int32_t field)
{
    // CD-Text allows 160 characters a title; room for them in any script.
    char text[1024];
    if (library.CR_GetCDText(trackNumber, field, text, int32_t(sizeof(text))) == CDEX_ERROR)
        return {};
    text[sizeof(text) - 1] = 0;
    return QString::fromUtf8(text).trimmed();
}

} // namespace

void TCDRIP::ReadToc(ICDRipLibrary& library, TDiscReading& reading)
{
    if (library.CR_ReadToc() == CDEX_ERROR)
        return;
    const int32_t n = std::clamp(library.CR_GetNumTocEntries(), 0, kMaxTracks);
    if (n == 0)
        return;
    TOCENTRY entry = library.CR_GetTocEntry(0);
    for (int32_t i = 0; i < n; ++i) {
        const TOCENTRY next = library.CR_GetTocEntry(i + 1);
        auto track = std::make_unique<TTrack>();
        track->TrackNo = i + 1;
        track->StartSector = entry.dwStartSector;
        track->EndSector = next.dwStartSector - 1;
        // A track before a later session of the disc ends where the gap between them begins.
        const int32_t last = library.CR_GetTrackLastSector(i);
        if (last >= track->StartSector && last < track->EndSector)
            track->EndSector = last;
        track->TrackType = entry.btFlag == AUDIOTRKFLAG ? kAudio : kData;
        if (track->TrackType == kAudio)
            track->CDTextTitle = DiscText(library, i + 1, cdrip::CDTEXT_TITLE);
        reading.Tracks.emplace_back(QStringLiteral("Track") + TwoDigitText(uint16_t(i + 1)),
                                    std::move(track));
        entry = next;
    }
    reading.CDTextAlbum = DiscText(library, 0, cdrip::CDTEXT_TITLE);
    reading.CDTextPerformer = DiscText(library, 0, cdrip::CDTEXT_PERFORMER);
}

void TCDRIP::TakeTracks(TDiscReading& reading)
{
    Tracks = std::move(reading.Tracks);
    TrackCount = int32_t(Tracks.size());
    CDTextAlbum = reading.CDTextAlbum;
    CDTextPerformer = reading.CDTextPerformer;
}

void TCDRIP::ClearTracks()
{
    Tracks.clear();
    TrackCount = 0;
    CDTextAlbum.clear();
    CDTextPerformer.clear();
}
