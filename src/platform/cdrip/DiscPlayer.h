#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace cdrip {

class IDriveSystem;

// Plays a sector range of a disc digitally: a reader thread takes the audio off the disc (its
// own libcdio handle, under the libcdio lock) into a ring of about two seconds, and SDL's audio
// callback takes it from there to the default sound device. Without a sound device the same
// range runs silently against the clock, so the play position still moves as it would.
//
// Play, Pause, Stop and Position are called from one thread (the window's); they never wait for
// the disc. The callback runs on SDL's thread and only touches the ring.
class TDiscPlayer
{
public:
    // Tells whether the disc the player reads from is still in the drive; called by the reader.
    using TMediumCheck = std::function<bool()>;

    // Without `soundDevice` every range plays silently against the clock.
    explicit TDiscPlayer(bool soundDevice = true);
    ~TDiscPlayer();
    TDiscPlayer(const TDiscPlayer&) = delete;
    TDiscPlayer& operator=(const TDiscPlayer&) = delete;

    // Starts playing sectors first..last (inclusive) of the disc at `source` (an image file, or
    // a device of `drives`), replacing whatever played before. False when nothing can be played.
    // A drive that has lost its disc ends the playback at once.
    bool Play(const std::string& source, bool image, int32_t first, int32_t last,
              TMediumCheck mediumPresent, IDriveSystem* drives = nullptr);
    void Pause(bool pause);
    // Stops at once and releases the sound device. The position stays where playback stopped.
    void Stop();

    // The sector now playing, absolute and relative to the range's first sector. When nothing
    // plays it stays where playback last stood.
    void Position(int32_t& relative, int32_t& absolute);
    bool Playing();

    // True when the last start used the sound device rather than the clock.
    bool UsesSoundDevice() const { return FDevice != 0; }

private:
    static void AudioCallback(void* self, uint8_t* stream, int len);
    void Fill(uint8_t* stream, int len);
    void ReaderLoop(std::string source, bool image, TMediumCheck mediumPresent,
                    IDriveSystem* drives);
    void StopReader();
    bool OpenDevice();
    void CloseDevice();
    int64_t ClockFrames();

    // Shared with the reader and the callback, under FLock.
    std::mutex FLock;
    std::condition_variable FSpace;
    std::vector<uint8_t> FRing;
    size_t FRingRead = 0, FRingFill = 0;
    bool FReaderDone = false;
    bool FStopReader = false;
    std::atomic<int64_t> FPlayedFrames{0};
    std::atomic<bool> FFinished{true};

    // Window thread only.
    std::thread FReader;
    uint32_t FDevice = 0;
    bool FAudioInit = false;
    bool FAudioUnavailable = false;
    int32_t FFirst = 0, FLast = -1;
    bool FStarted = false; // a range was started and its end not yet seen
    bool FPaused = false;
    bool FClockMode = false;
    std::chrono::steady_clock::time_point FClockStart;
    int64_t FClockBanked = 0; // frames played before the last pause, in clock mode
    int32_t FLastRelative = 0, FLastAbsolute = 0;
};

} // namespace cdrip
