#include "platform/cdrip/FormatConverter.h"

#include "cd/CDRipLibrary.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace cdrip {

namespace {

constexpr double Pi = 3.14159265358979323846;

// Zeroth-order modified Bessel function, for the Kaiser window.
double BesselI0(double x)
{
    double sum = 1, term = 1;
    for (int k = 1; k < 50; ++k) {
        term *= (x / (2 * k)) * (x / (2 * k));
        sum += term;
        if (term < sum * 1e-12)
            break;
    }
    return sum;
}

// A Kaiser-windowed sinc low-pass. With beta 8.6 the stopband lies about 85 dB down; the cut-off
// sits half a transition band below the new Nyquist frequency so the stopband starts at it.
std::vector<float> DesignLowPass(int half, int decimation)
{
    constexpr double beta = 8.6;
    const int taps = 2 * half + 1;
    const double transition = (85.0 - 8.0) / (2.285 * (taps - 1)) / (2 * Pi); // cycles/sample
    const double cutoff = 0.5 / decimation - transition / 2;
    std::vector<double> h(taps);
    double sum = 0;
    for (int i = 0; i < taps; ++i) {
        const int n = i - half;
        const double sinc = n == 0 ? 2 * cutoff : std::sin(2 * Pi * cutoff * n) / (Pi * n);
        const double r = double(n) / half;
        h[i] = sinc * BesselI0(beta * std::sqrt(std::max(0.0, 1 - r * r))) / BesselI0(beta);
        sum += h[i];
    }
    std::vector<float> out(taps);
    for (int i = 0; i < taps; ++i)
        out[i] = float(h[i] / sum);
    return out;
}

void PutSample(uint8_t*& out, long v)
{
    const int16_t s = int16_t(std::clamp(v, -32768L, 32767L));
    out[0] = uint8_t(uint16_t(s) & 0xFF);
    out[1] = uint8_t(uint16_t(s) >> 8);
    out += 2;
}

} // namespace

TFormatConverter::TFormatConverter(uint8_t outputFormat)
{
    switch (outputFormat) {
    case MONO44100:
        FChannels = 1;
        break;
    case STEREO22050:
        FDecimation = 2;
        break;
    case MONO22050:
        FChannels = 1;
        FDecimation = 2;
        break;
    case STEREO11025:
        FDecimation = 4;
        break;
    case MONO11025:
        FChannels = 1;
        FDecimation = 4;
        break;
    default:
        break;
    }
    if (FDecimation > 1) {
        // Twice the taps for the lower rate keeps the transition band equally narrow in Hz.
        // The look-ahead is a whole number of output samples, so outputs stay on the grid.
        FHalf = 32 * FDecimation;
        FTaps = DesignLowPass(FHalf, FDecimation);
        // Silence before the range's first sample.
        for (int c = 0; c < FChannels; ++c)
            FPending[c].assign(FHalf, 0.0f);
        FPendingBase = -FHalf;
    }
}

int TFormatConverter::MaxOutputBytes(int frames) const
{
    if (FDecimation == 1)
        return frames * FChannels * 2;
    return ((frames + FHalf) / FDecimation + 1) * FChannels * 2;
}

int TFormatConverter::Convert(const int16_t* in, int frames, uint8_t* out)
{
    uint8_t* p = out;
    if (FDecimation == 1) {
        if (FChannels == 2) {
            for (int i = 0; i < frames * 2; ++i)
                PutSample(p, in[i]);
        } else {
            for (int i = 0; i < frames; ++i)
                PutSample(p, (long(in[2 * i]) + long(in[2 * i + 1])) >> 1);
        }
        FInputFrames += frames;
        FProduced += frames;
        return int(p - out);
    }
    for (int c = 0; c < FChannels; ++c)
        FPending[c].reserve(FPending[c].size() + frames);
    if (FChannels == 2) {
        for (int i = 0; i < frames; ++i) {
            FPending[0].push_back(in[2 * i]);
            FPending[1].push_back(in[2 * i + 1]);
        }
    } else {
        for (int i = 0; i < frames; ++i)
            FPending[0].push_back(0.5f * (float(in[2 * i]) + float(in[2 * i + 1])));
    }
    FInputFrames += frames;
    return Produce(out, false);
}

int TFormatConverter::Flush(uint8_t* out)
{
    if (FDecimation == 1)
        return 0;
    for (int c = 0; c < FChannels; ++c)
        FPending[c].insert(FPending[c].end(), size_t(FHalf), 0.0f);
    return Produce(out, true);
}

int TFormatConverter::Produce(uint8_t* out, bool flushing)
{
    uint8_t* p = out;
    const int64_t available = FPendingBase + int64_t(FPending[0].size());
    const int64_t limit = flushing ? FInputFrames / FDecimation : INT64_MAX;
    const int taps = int(FTaps.size());
    while (FProduced < limit) {
        const int64_t centre = FProduced * FDecimation;
        if (centre + FHalf >= available)
            break;
        const int64_t first = centre - FHalf - FPendingBase;
        for (int c = 0; c < FChannels; ++c) {
            // The taps are symmetric: fold the two halves, and keep four sums so the compiler
            // can overlap the multiplications.
            const float* x = FPending[c].data() + first;
            const float* h = FTaps.data();
            float acc[4] = {0, 0, 0, 0};
            int k = 0;
            for (; k + 4 <= FHalf; k += 4)
                for (int j = 0; j < 4; ++j)
                    acc[j] += h[k + j] * (x[k + j] + x[taps - 1 - k - j]);
            for (; k < FHalf; ++k)
                acc[0] += h[k] * (x[k] + x[taps - 1 - k]);
            const float sum = (acc[0] + acc[1]) + (acc[2] + acc[3]) + h[FHalf] * x[FHalf];
            PutSample(p, std::lround(sum));
        }
        ++FProduced;
    }
    // Keep only what the next outputs still reach back to.
    const int64_t keepFrom = FProduced * FDecimation - FHalf;
    const int64_t drop = std::clamp<int64_t>(keepFrom - FPendingBase, 0, FPending[0].size());
    for (int c = 0; c < FChannels; ++c)
        FPending[c].erase(FPending[c].begin(), FPending[c].begin() + drop);
    FPendingBase += drop;
    return int(p - out);
}

} // namespace cdrip
