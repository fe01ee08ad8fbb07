#pragma once

#include "cd/CDRipLibrary.h"
#include "platform/cdrip/ImageCheck.h"

#include <cstdint>
#include <functional>
#include <memory>

namespace cdrip {

class IDriveSystem;

// Sectors one CR_RipChunk call reads: a fifth of a second of audio, so the caller gets control
// back several times a second and a chunk's MP3 work stays a few milliseconds.
constexpr int SectorsPerChunk = 16;

struct TCDRipOptions
{
    // How long an ejected disc image stays out of its drive before it is back, like a tray that
    // is closed again.
    int ImageEjectMs = 3000;
    // False plays silently against the clock, as when the machine has no sound device.
    bool SoundDevice = true;
    // For tests: sees every raw read of an extraction once the disc has answered, and may spoil
    // it the way a scratched disc or a drive that loses its place would.
    std::function<void(int32_t firstSector, long sectors, uint8_t* data)> ReadFilter;
    // How the disc images named are checked before they are opened.
    TImageCheckOptions ImageCheck;
    // The physical drives; null for the machine's own, through libcdio. Not owned.
    IDriveSystem* Drives = nullptr;
};

// A ripping library of its own, over libcdio, libcdio-paranoia and SDL2. The drive list is made
// at CR_Init: every CD drive the drive system finds, then each device or disc image (.cue, .toc,
// .nrg) named in the colon-separated CDRIP_DRIVES environment variable, and the demo disc beside
// the program only when there is no drive and CDRIP_DRIVES names nothing. An entry that cannot be
// used (it does not exist, does not open, or is a disc image that fails its check), and a drive
// the user may not open, is left out and told by CR_GetDriveProblem.
std::unique_ptr<ICDRipLibrary> CreateCDRipLibrary(const TCDRipOptions& options = {});

} // namespace cdrip
