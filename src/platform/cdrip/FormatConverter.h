#pragma once

#include <cstdint>
#include <vector>

namespace cdrip {

// Turns CD audio (44100 Hz, 16-bit, stereo, interleaved) into one of the six output formats.
// Mono is the mean of both channels; 22050 and 11025 Hz pass a linear-phase low-pass FIR before
// every second or fourth sample is kept, so nothing above the new Nyquist frequency folds back
// into the audible band. The filter's history carries over from one call to the next, so chunk
// borders leave no trace. The filter is centred (no delay): each output sample needs a little
// look-ahead, which the next call or Flush provides, and over a whole range the output is exactly
// BytesPerSector bytes for every sector put in.
class TFormatConverter
{
public:
    explicit TFormatConverter(uint8_t outputFormat);

    // The most bytes one Convert followed by Flush can produce for `frames` input frames.
    int MaxOutputBytes(int frames) const;

    // Converts `frames` stereo frames; writes little-endian 16-bit PCM to `out` and returns the
    // byte count.
    int Convert(const int16_t* in, int frames, uint8_t* out);

    // The range is complete: treats what follows as silence and writes the samples still held
    // back for look-ahead. Returns the byte count.
    int Flush(uint8_t* out);

    int Channels() const { return FChannels; }
    int Decimation() const { return FDecimation; }

private:
    int Produce(uint8_t* out, bool flushing);

    int FChannels = 2;
    int FDecimation = 1;
    int FHalf = 0;                  // taps on each side of the centre tap
    std::vector<float> FTaps;       // 2 * FHalf + 1, symmetric
    std::vector<float> FPending[2]; // input not yet fully used, per channel
    int64_t FPendingBase = 0;       // input index of FPending[c][0]
    int64_t FInputFrames = 0;       // input frames received so far
    int64_t FProduced = 0;          // output frames written so far
};

} // namespace cdrip
