#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The built-in test signal: a gentle chord progression (C, G, A minor, F, one chord every
// 2.5 seconds) of plucked notes with a few partials each, a bass line and a soft pad, spread
// across a stereo image, 44.1 kHz, 16-bit. After every ten seconds it goes on a key higher,
// so longer stretches do not repeat exactly.
namespace testsignal {

constexpr uint32_t SampleRate = 44100;
constexpr uint32_t Channels = 2;

// Renders `frames` stereo frames (interleaved, 2 * frames samples) from frame `first` on, so a
// long signal can be made piece by piece. `totalFrames` is the signal's length: the first and
// last tenth of a second fade in and out.
void Render(int16_t* out, uint64_t first, size_t frames, uint64_t totalFrames);

// The whole signal of the given length.
std::vector<int16_t> Make(double seconds);

} // namespace testsignal
