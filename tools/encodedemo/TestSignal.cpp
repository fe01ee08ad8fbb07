#include "TestSignal.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace testsignal {
namespace {

constexpr double kTwoPi = 2 * std::numbers::pi;
constexpr double kChordSeconds = 2.5;
constexpr double kNoteSeconds = kChordSeconds / 8; // an arpeggio of eighth notes

// MIDI note numbers of each chord's arpeggio (root position, an octave around middle C) and
// its bass note.
struct TChord
{
    int Notes[4];
    int Bass;
};
constexpr TChord kProgression[] = {
    {{60, 64, 67, 72}, 36}, // C
    {{59, 62, 67, 71}, 43}, // G
    {{60, 64, 69, 72}, 45}, // A minor
    {{60, 65, 69, 72}, 41}, // F
};

double NoteHz(int note)
{
    return 440.0 * std::pow(2.0, (note - 69) / 12.0);
}

// A plucked note `t` seconds after it was struck: a quick attack, an exponential decay,
// partials fading faster than the fundamental. `decay` slows or quickens the whole note.
double Pluck(double hz, double t, double decay = 1.0)
{
    if (t < 0)
        return 0;
    const double attack = std::min(1.0, t / 0.004);
    // Partial h is sin(h x) with a decay of exp(-t d (2.5 + 1.5 h)); both are built up by
    // recurrence, as this runs for every sample of every note.
    const double x = kTwoPi * hz * t;
    const double twoCos = 2 * std::cos(x);
    const double base = std::exp(-t * decay * 2.5);
    const double step = std::exp(-t * decay * 1.5);
    double sinPrev = 0;
    double sinH = std::sin(x);
    double fade = base * step;
    double v = 0;
    for (int h = 1; h <= 4; ++h) {
        v += sinH * fade / h;
        const double next = twoCos * sinH - sinPrev;
        sinPrev = sinH;
        sinH = next;
        fade *= step;
    }
    return v * attack;
}

} // namespace

void Render(int16_t* out, uint64_t first, size_t frames, uint64_t totalFrames)
{
    const double fade = 0.1 * SampleRate;
    for (size_t i = 0; i < frames; ++i) {
        const uint64_t n = first + i;
        const double t = static_cast<double>(n) / SampleRate;
        const auto chordIndex = static_cast<uint64_t>(t / kChordSeconds);
        const auto noteIndex = static_cast<uint64_t>(t / kNoteSeconds);
        const auto transposeOf = [](uint64_t chord) {
            return static_cast<int>((chord / 4) % 5) * 2;
        };

        double left = 0;
        double right = 0;
        // Arpeggio: up and down the chord, each note panned by its place in the chord and let
        // ring into the next ones, across chord changes too.
        for (uint64_t back = 0; back < 4 && back <= noteIndex; ++back) {
            const uint64_t g = noteIndex - back;
            const uint64_t c = g / 8;
            const int s = static_cast<int>(g % 8);
            const int voice = s < 4 ? s : 7 - s;
            const double pan = 0.2 + 0.2 * voice;
            const int note = kProgression[c % 4].Notes[voice] + transposeOf(c);
            const double v = 0.22 * Pluck(NoteHz(note), t - static_cast<double>(g) * kNoteSeconds);
            left += v * (1 - pan);
            right += v * pan;
        }
        // Bass and pad: one of each per chord, the last chord's still fading out.
        for (uint64_t back = 0; back < 2 && back <= chordIndex; ++back) {
            const uint64_t c = chordIndex - back;
            const double since = t - static_cast<double>(c) * kChordSeconds;
            const TChord& chord = kProgression[c % 4];
            const double bassHz = NoteHz(chord.Bass + transposeOf(c));
            const double bass = 0.30 * Pluck(bassHz, since) + 0.10 * Pluck(bassHz, since, 0.12);
            left += bass;
            right += bass;
            // The pad swells in and out over one and a half chords.
            const double padHz = NoteHz(chord.Notes[0] + transposeOf(c));
            const double span = 1.5 * kChordSeconds;
            const double swell =
                since < span ? 0.035 * std::pow(std::sin(std::numbers::pi * since / span), 2) : 0;
            left +=
                swell * (std::sin(kTwoPi * padHz * 0.998 * t) + std::sin(kTwoPi * padHz * 1.5 * t));
            right += swell * (std::sin(kTwoPi * padHz * 1.002 * t) +
                              std::sin(kTwoPi * padHz * 1.5 * 1.001 * t));
        }

        double gain = 1;
        if (n < fade)
            gain = n / fade;
        if (totalFrames > n && totalFrames - n < fade)
            gain = std::min(gain, (totalFrames - n) / fade);
        out[2 * i] = static_cast<int16_t>(std::lround(std::clamp(left * gain, -1.0, 1.0) * 32767));
        out[2 * i + 1] =
            static_cast<int16_t>(std::lround(std::clamp(right * gain, -1.0, 1.0) * 32767));
    }
}

std::vector<int16_t> Make(double seconds)
{
    const auto frames = static_cast<uint64_t>(seconds * SampleRate);
    std::vector<int16_t> pcm(frames * Channels);
    Render(pcm.data(), 0, frames, frames);
    return pcm;
}

} // namespace testsignal
