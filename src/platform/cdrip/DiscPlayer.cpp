#include "platform/cdrip/DiscPlayer.h"

#include "platform/cdrip/CdioLock.h"
#include "platform/cdrip/DriveDevice.h"

#include <SDL.h>
#include <algorithm>
#include <cdio/cdio.h>
#include <cstring>

namespace cdrip {

namespace {

constexpr int SectorBytes = 2352;
constexpr int FramesPerSector = 588;
constexpr int FrameBytes = 4;
constexpr int SampleRate = 44100;
constexpr int RingSectors = 150;  // two seconds ahead of the sound device
constexpr int ReadSectors = 15;   // a fifth of a second per disc read
constexpr int MaxFailedReads = 5; // then the disc is taken as gone and playback ends

} // namespace

TDiscPlayer::TDiscPlayer(bool soundDevice)
    : FRing(size_t(RingSectors) * SectorBytes), FAudioUnavailable(!soundDevice)
{
}

TDiscPlayer::~TDiscPlayer()
{
    Stop();
    if (FAudioInit)
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

bool TDiscPlayer::OpenDevice()
{
    if (FAudioUnavailable)
        return false;
    if (!FAudioInit) {
        // The program handles its own signals; the sound server shows the program's name.
        SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
        SDL_SetHint(SDL_HINT_AUDIO_DEVICE_APP_NAME, "Tarvik");
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
            FAudioUnavailable = true;
            return false;
        }
        FAudioInit = true;
    }
    SDL_AudioSpec want{};
    want.freq = SampleRate;
    want.format = AUDIO_S16LSB;
    want.channels = 2;
    want.samples = 2048;
    want.callback = &TDiscPlayer::AudioCallback;
    want.userdata = this;
    SDL_AudioSpec have{};
    // No changes allowed: SDL converts to whatever the device wants.
    FDevice = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    return FDevice != 0;
}

void TDiscPlayer::CloseDevice()
{
    if (FDevice != 0) {
        // Waits for a callback in progress, so nothing touches the ring afterwards.
        SDL_CloseAudioDevice(FDevice);
        FDevice = 0;
    }
}

bool TDiscPlayer::Play(const std::string& source, bool image, int32_t first, int32_t last,
                       TMediumCheck mediumPresent, IDriveSystem* drives)
{
    Stop();
    if (last < first)
        return false;
    FFirst = first;
    FLast = last;
    FPaused = false;
    FPlayedFrames = 0;
    FLastRelative = 0;
    FLastAbsolute = first;
    {
        std::lock_guard<std::mutex> lock(FLock);
        FRingRead = FRingFill = 0;
        FReaderDone = false;
        FStopReader = false;
    }
    FFinished = false;
    FStarted = true;
    FClockMode = !OpenDevice();
    if (FClockMode) {
        FClockStart = std::chrono::steady_clock::now();
        FClockBanked = 0;
        return true;
    }
    FReader = std::thread(&TDiscPlayer::ReaderLoop, this, source, image, std::move(mediumPresent),
                          drives);
    SDL_PauseAudioDevice(FDevice, 0);
    return true;
}

void TDiscPlayer::Pause(bool pause)
{
    if (!FStarted || pause == FPaused)
        return;
    FPaused = pause;
    if (FClockMode) {
        const auto now = std::chrono::steady_clock::now();
        if (pause)
            FClockBanked = ClockFrames();
        FClockStart = now;
        return;
    }
    SDL_PauseAudioDevice(FDevice, pause ? 1 : 0);
}

void TDiscPlayer::StopReader()
{
    {
        std::lock_guard<std::mutex> lock(FLock);
        FStopReader = true;
    }
    FSpace.notify_all();
    if (FReader.joinable())
        FReader.join();
}

void TDiscPlayer::Stop()
{
    int32_t relative, absolute;
    Position(relative, absolute);
    FStarted = false;
    CloseDevice();
    StopReader();
    FFinished = true;
    FClockMode = false;
    FPaused = false;
}

int64_t TDiscPlayer::ClockFrames()
{
    if (FPaused)
        return FClockBanked;
    const auto elapsed = std::chrono::steady_clock::now() - FClockStart;
    const int64_t us = std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count();
    return FClockBanked + us * SampleRate / 1000000;
}

void TDiscPlayer::Position(int32_t& relative, int32_t& absolute)
{
    if (FStarted) {
        const int64_t total = int64_t(FLast - FFirst + 1) * FramesPerSector;
        int64_t frames;
        bool finished;
        if (FClockMode) {
            frames = std::min(ClockFrames(), total);
            finished = frames >= total;
        } else {
            // The callback counts its frames before it raises the flag, so a count read after
            // the flag was seen is final.
            finished = FFinished;
            frames = FPlayedFrames.load();
        }
        FLastRelative = int32_t(std::min(frames / FramesPerSector, total / FramesPerSector - 1));
        FLastAbsolute = FFirst + FLastRelative;
        // The end of the range (or of a disc that went away) has been reached: let the sound
        // device go; the position stays on the last sector played.
        if (finished) {
            FStarted = false;
            FFinished = true;
            CloseDevice();
            StopReader();
        }
    }
    relative = FLastRelative;
    absolute = FLastAbsolute;
}

bool TDiscPlayer::Playing()
{
    int32_t relative, absolute;
    Position(relative, absolute);
    return FStarted && !FPaused;
}

void TDiscPlayer::AudioCallback(void* self, uint8_t* stream, int len)
{
    static_cast<TDiscPlayer*>(self)->Fill(stream, len);
}

void TDiscPlayer::Fill(uint8_t* stream, int len)
{
    size_t given = 0;
    bool done = false;
    {
        std::lock_guard<std::mutex> lock(FLock);
        const size_t want = std::min(size_t(len), FRingFill);
        while (given < want) {
            const size_t run = std::min(want - given, FRing.size() - FRingRead);
            std::memcpy(stream + given, FRing.data() + FRingRead, run);
            FRingRead = (FRingRead + run) % FRing.size();
            given += run;
        }
        FRingFill -= given;
        done = FReaderDone && FRingFill == 0;
    }
    if (given < size_t(len))
        std::memset(stream + given, 0, size_t(len) - given);
    FPlayedFrames += int64_t(given / FrameBytes);
    FSpace.notify_one();
    if (done)
        FFinished = true;
}

void TDiscPlayer::ReaderLoop(std::string source, bool image, TMediumCheck mediumPresent,
                             IDriveSystem* drives)
{
    CdIo_t* cdio = nullptr;
    std::unique_ptr<IDriveHandle> drive;
    {
        std::lock_guard<std::mutex> lock(CdioMutex());
        int error = 0;
        if (image || drives == nullptr)
            cdio = cdio_open(source.c_str(), image ? DRIVER_UNKNOWN : DRIVER_DEVICE);
        else
            drive = drives->Open(source, error);
    }
    std::vector<uint8_t> buffer(size_t(ReadSectors) * SectorBytes);
    int32_t next = FFirst;
    int failures = 0;
    while ((cdio != nullptr || drive) && next <= FLast) {
        const int count = std::min(ReadSectors, FLast - next + 1);
        bool ok = mediumPresent ? mediumPresent() : true;
        bool gone = !ok;
        if (ok) {
            std::lock_guard<std::mutex> lock(CdioMutex());
            if (drive) {
                ok = drive->ReadAudio(next, count, buffer.data());
                // A disc taken out ends the track at once, not after its silence has played.
                gone = !ok && drive->UnitState() == TUnitState::NoMedium;
            } else {
                ok = cdio_read_audio_sectors(cdio, buffer.data(), next, count) == DRIVER_OP_SUCCESS;
            }
        }
        if (gone)
            break;
        if (!ok) {
            if (++failures >= MaxFailedReads)
                break;
            // An unreadable stretch plays as silence rather than stopping the track.
            std::memset(buffer.data(), 0, buffer.size());
        } else {
            failures = 0;
        }
        const size_t bytes = size_t(count) * SectorBytes;
        std::unique_lock<std::mutex> lock(FLock);
        FSpace.wait(lock, [&] { return FStopReader || FRing.size() - FRingFill >= bytes; });
        if (FStopReader)
            break;
        size_t put = 0;
        size_t at = (FRingRead + FRingFill) % FRing.size();
        while (put < bytes) {
            const size_t run = std::min(bytes - put, FRing.size() - at);
            std::memcpy(FRing.data() + at, buffer.data() + put, run);
            at = (at + run) % FRing.size();
            put += run;
        }
        FRingFill += bytes;
        next += count;
    }
    {
        std::lock_guard<std::mutex> lock(CdioMutex());
        if (cdio != nullptr)
            cdio_destroy(cdio);
        drive.reset();
    }
    std::lock_guard<std::mutex> lock(FLock);
    FReaderDone = true;
}

} // namespace cdrip
