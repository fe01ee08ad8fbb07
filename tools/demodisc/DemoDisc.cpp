// Writes the demo disc: tarvik-demo.cue and tarvik-demo.bin in the folder given.
//
// Four pieces, each in its own key, tempo and timbre (an electric piano, plucked strings, a pad
// with bells, an organ with bass and hi-hat), chords under a melody, placed across the stereo
// field with a little echo for space, then a data track. Everything is computed from fixed
// seeds, so every build writes the same bytes.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr int Rate = 44100;
constexpr int SectorBytes = 2352;
constexpr int FramesPerSector = 588;
constexpr double Pi = 3.14159265358979323846;
constexpr double Peak = 0.7; // about -3 dB below full scale: loud enough, never clipped

class TRandom
{
public:
    explicit TRandom(uint32_t seed) : FState(seed * 2654435761u + 1) {}
    uint32_t Next()
    {
        FState = FState * 1664525u + 1013904223u;
        return FState >> 8;
    }
    double Uniform() { return Next() / 16777216.0; }
    int Below(int n) { return int(Next() % uint32_t(n)); }

private:
    uint32_t FState;
};

enum class TInstrument
{
    EPiano,
    Pluck,
    Pad,
    Bell,
    Organ,
    Bass,
    Hat
};

struct TBuffer
{
    std::vector<float> L, R;
    explicit TBuffer(double seconds) : L(size_t(seconds * Rate)), R(size_t(seconds * Rate)) {}
    size_t Frames() const { return L.size(); }
};

double Hz(int midi)
{
    return 440.0 * std::pow(2.0, (midi - 69) / 12.0);
}

// Adds one note. Pan 0 is left, 1 right; equal power in between.
void Note(TBuffer& out, TInstrument kind, int midi, double start, double length, double velocity,
          double pan, TRandom& random)
{
    const double f = Hz(midi);
    const double gl = std::cos(pan * Pi / 2) * velocity, gr = std::sin(pan * Pi / 2) * velocity;
    const double tail = kind == TInstrument::Pad ? 0.8 : kind == TInstrument::Pluck ? 1.5 : 0.25;
    const size_t first = size_t(start * Rate);
    const size_t count = size_t((length + tail) * Rate);
    const double release = 0.06;

    std::vector<double> string; // the plucked string's delay line
    size_t stringAt = 0;
    if (kind == TInstrument::Pluck) {
        string.resize(size_t(Rate / f));
        for (double& s : string)
            s = random.Uniform() * 2 - 1;
        // A softer pluck: smooth the initial burst a little.
        for (int pass = 0; pass < 2; ++pass)
            for (size_t i = 1; i < string.size(); ++i)
                string[i] = 0.5 * (string[i] + string[i - 1]);
    }
    double hatState = 0, hatPrev = 0;

    for (size_t i = 0; i < count && first + i < out.Frames(); ++i) {
        const double t = double(i) / Rate;
        // Gate: full while the note is held, then a short fade (the pad's is slower).
        const double gateRelease = kind == TInstrument::Pad ? 0.7 : release;
        double gate = 1;
        if (t > length)
            gate = std::max(0.0, 1 - (t - length) / gateRelease);
        if (gate <= 0 && kind != TInstrument::Pluck)
            break;
        double v = 0;
        const double w = 2 * Pi * f * t;
        switch (kind) {
        case TInstrument::EPiano: {
            const double env = std::min(1.0, t / 0.004) * std::exp(-t / 1.1);
            const double index = 1.2 * std::exp(-t / 0.25);
            v = env * gate * (std::sin(w + index * std::sin(w)) * 0.8 + 0.2 * std::sin(2 * w));
            break;
        }
        case TInstrument::Pluck: {
            const size_t next = (stringAt + 1) % string.size();
            v = string[stringAt];
            string[stringAt] = 0.4985 * (string[stringAt] + string[next]);
            stringAt = next;
            v *= std::min(1.0, t / 0.002) * (t > length ? std::exp(-(t - length) / 0.3) : 1.0);
            break;
        }
        case TInstrument::Pad: {
            const double env = std::min(1.0, t / 0.5) * gate;
            // Three detuned saws, built from a few harmonics each so nothing aliases.
            for (double detune : {-0.004, 0.0, 0.005})
                for (int h = 1; h <= 6; ++h)
                    v += std::sin(w * (1 + detune) * h + h * detune * 40) / (h * 1.4);
            v *= 0.22 * env * (0.85 + 0.15 * std::sin(2 * Pi * 0.3 * t));
            break;
        }
        case TInstrument::Bell: {
            const double env = std::min(1.0, t / 0.002) * gate;
            v = env *
                (std::sin(w) * std::exp(-t / 1.4) + 0.5 * std::sin(w * 2.76) * std::exp(-t / 0.6) +
                 0.25 * std::sin(w * 5.4) * std::exp(-t / 0.25));
            break;
        }
        case TInstrument::Organ: {
            const double env = std::min(1.0, t / 0.015) * gate;
            const double drawbars[][2] = {{1, 1.0}, {2, 0.6}, {3, 0.35}, {4, 0.3}, {6, 0.12}};
            for (const auto& d : drawbars)
                v += d[1] * std::sin(w * d[0]);
            v *= 0.45 * env * (1 + 0.08 * std::sin(2 * Pi * 5.5 * t)); // a slow tremolo
            break;
        }
        case TInstrument::Bass: {
            const double env = std::min(1.0, t / 0.006) * std::exp(-t / 0.5) * gate;
            v = env * (std::sin(w) + 0.3 * std::sin(2 * w));
            break;
        }
        case TInstrument::Hat: {
            if (t > 0.05)
                break;
            const double noise = random.Uniform() * 2 - 1;
            hatState = noise - hatPrev; // differencing leaves the hiss, not the thump
            hatPrev = noise;
            v = 0.35 * hatState * std::exp(-t / 0.012);
            break;
        }
        }
        out.L[first + i] += float(v * gl);
        out.R[first + i] += float(v * gr);
    }
}

// A little space: a ping-pong echo, quiet and short.
void Echo(TBuffer& b, double leftDelay, double rightDelay, double feedback, double mix)
{
    const size_t dl = size_t(leftDelay * Rate), dr = size_t(rightDelay * Rate);
    std::vector<float> el(b.Frames()), er(b.Frames());
    for (size_t i = 0; i < b.Frames(); ++i) {
        // Each side repeats the other side's echo, so the repeats bounce across the field.
        el[i] = i >= dl ? b.L[i - dl] + float(feedback) * er[i - dl] : 0.0f;
        er[i] = i >= dr ? b.R[i - dr] + float(feedback) * el[i - dr] : 0.0f;
    }
    for (size_t i = 0; i < b.Frames(); ++i) {
        b.L[i] += float(mix) * el[i];
        b.R[i] += float(mix) * er[i];
    }
}

struct TPiece
{
    const char* Title;
    double Seconds;
    double Bpm;
    int BeatsPerBar;
    int Key; // MIDI note of the tonic
    bool Minor;
    std::vector<int> Progression; // scale degrees from 0, one chord a bar
    TInstrument Chords, Melody;
    uint32_t Seed;
};

int Degree(const TPiece& p, int degree)
{
    static const int major[] = {0, 2, 4, 5, 7, 9, 11};
    static const int minor[] = {0, 2, 3, 5, 7, 8, 10};
    const int octave = degree >= 0 ? degree / 7 : -((6 - degree) / 7);
    const int d = degree - octave * 7;
    return p.Key + 12 * octave + (p.Minor ? minor[d] : major[d]);
}

TBuffer Render(const TPiece& p)
{
    TBuffer out(p.Seconds);
    TRandom random(p.Seed);
    const double beat = 60.0 / p.Bpm;
    const double bar = beat * p.BeatsPerBar;
    const double end = p.Seconds - 2.5; // leave room for the last notes to ring out
    int melody = 7 + 2;                 // start on the third, an octave up
    for (int b = 0; b * bar < end; ++b) {
        const double t0 = b * bar;
        const int root = p.Progression[size_t(b) % p.Progression.size()];
        const bool last = (b + 1) * bar >= end;
        const int chordRoot = last ? 0 : root;
        // Chord: root position triad, spread over the middle of the field.
        for (int k = 0; k < 3; ++k) {
            const int note = Degree(p, chordRoot + 2 * k) - 12;
            const double pan = 0.35 + 0.15 * k;
            if (p.Chords == TInstrument::Pluck) {
                for (int beatNo = 0; beatNo < p.BeatsPerBar; ++beatNo) {
                    // Waltz: bass on one, the chord on two and three.
                    if ((beatNo == 0) != (k == 0))
                        continue;
                    Note(out, p.Chords, beatNo == 0 ? note - 12 : note, t0 + beatNo * beat,
                         beat * 0.9, 0.30, pan, random);
                }
            } else {
                Note(out, p.Chords, note, t0, bar * 0.97, p.Chords == TInstrument::Pad ? 0.16 : 0.2,
                     pan, random);
            }
        }
        if (p.Chords == TInstrument::Organ) {
            for (int beatNo = 0; beatNo < p.BeatsPerBar; ++beatNo) {
                Note(out, TInstrument::Bass, Degree(p, chordRoot + (beatNo % 2 ? 4 : 0)) - 24,
                     t0 + beatNo * beat, beat * 0.8, 0.45, 0.5, random);
                Note(out, TInstrument::Hat, 96, t0 + (beatNo + 0.5) * beat, 0.05, 0.5,
                     beatNo % 2 ? 0.7 : 0.3, random);
            }
        }
        if (last) {
            Note(out, p.Melody, Degree(p, 7), t0, bar, 0.3, 0.62, random);
            break;
        }
        // Melody: a gentle walk through the scale that lands on a chord tone each strong beat.
        for (int beatNo = 0; beatNo < p.BeatsPerBar; ++beatNo) {
            const int split = random.Below(3) == 0 ? 2 : 1;
            for (int s = 0; s < split; ++s) {
                if (beatNo == 0 && s == 0) {
                    const int tones[] = {chordRoot + 7, chordRoot + 9, chordRoot + 11};
                    int best = tones[0];
                    for (int tone : tones)
                        if (std::abs(tone - melody) < std::abs(best - melody))
                            best = tone;
                    melody = best;
                } else {
                    melody += random.Below(5) - 2;
                    melody = std::clamp(melody, 5, 13);
                }
                if (random.Below(8) == 0 && !(beatNo == 0 && s == 0))
                    continue; // a rest now and then
                const double len = beat / split;
                Note(out, p.Melody, Degree(p, melody), t0 + beatNo * beat + s * len, len * 0.85,
                     0.28 + 0.06 * random.Uniform(), 0.62, random);
            }
        }
    }
    Echo(out, beat * 0.75, beat, 0.3, 0.22);

    // Soft edges, then one gain for the whole piece so it peaks just under full scale.
    double peak = 0;
    for (size_t i = 0; i < out.Frames(); ++i) {
        const double t = double(i) / Rate;
        const double fade = std::min({1.0, t / 0.05, (p.Seconds - t) / 1.5});
        out.L[i] *= float(fade);
        out.R[i] *= float(fade);
        peak = std::max({peak, double(std::fabs(out.L[i])), double(std::fabs(out.R[i]))});
    }
    const float gain = float(peak > 0 ? Peak / peak : 1);
    for (size_t i = 0; i < out.Frames(); ++i) {
        out.L[i] *= gain;
        out.R[i] *= gain;
    }
    return out;
}

uint8_t Bcd(int v)
{
    return uint8_t(((v / 10) << 4) | (v % 10));
}

std::string Msf(int lsn)
{
    char text[16];
    std::snprintf(text, sizeof(text), "%02d:%02d:%02d", lsn / 4500, lsn / 75 % 60, lsn % 75);
    return text;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT-FOLDER\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    const std::string binName = "tarvik-demo.bin";
    const std::vector<TPiece> pieces = {
        {"Morning Keys",
         28,
         96,
         4,
         60,
         false,
         {0, 4, 5, 3},
         TInstrument::EPiano,
         TInstrument::EPiano,
         11},
        {"Little Waltz",
         24,
         138,
         3,
         57,
         true,
         {0, 3, 6, 2, 5, 3, 4, 0},
         TInstrument::Pluck,
         TInstrument::Pluck,
         23},
        {"Slow Drift", 34, 66, 4, 63, false, {0, 5, 3, 4}, TInstrument::Pad, TInstrument::Bell, 37},
        {"Sunday Organ",
         22,
         116,
         4,
         55,
         false,
         {0, 3, 4, 0, 5, 1, 4, 4},
         TInstrument::Organ,
         TInstrument::Organ,
         41},
    };
    constexpr int DataSectors = 300;

    const std::string binPath = folder + "/" + binName;
    const std::string binTemp = binPath + ".part";
    std::ofstream bin(binTemp, std::ios::binary | std::ios::trunc);
    if (!bin) {
        std::fprintf(stderr, "cannot write %s\n", binTemp.c_str());
        return 1;
    }
    // The titles go in as CD-Text, so the program shows them as a real disc's titles.
    std::string cue =
        "TITLE \"Tarvik Demo Disc\"\nPERFORMER \"Tarvik\"\nFILE \"" + binName + "\" BINARY\n";
    int lsn = 0;
    int number = 1;
    std::vector<uint8_t> sector(SectorBytes);
    for (const TPiece& piece : pieces) {
        const TBuffer audio = Render(piece);
        const int sectors = int(audio.Frames() / FramesPerSector);
        char head[96];
        std::snprintf(head, sizeof(head), "  TRACK %02d AUDIO\n    TITLE \"%s\"\n", number,
                      piece.Title);
        cue += head;
        cue += "    INDEX 01 " + Msf(lsn) + "\n";
        double sum = 0, peak = 0;
        for (int s = 0; s < sectors; ++s) {
            for (int f = 0; f < FramesPerSector; ++f) {
                const size_t i = size_t(s) * FramesPerSector + size_t(f);
                const float ch[2] = {audio.L[i], audio.R[i]};
                for (int c = 0; c < 2; ++c) {
                    const long v = std::lround(std::clamp(double(ch[c]), -1.0, 1.0) * 32767);
                    sum += double(v) * double(v);
                    peak = std::max(peak, double(std::labs(v)));
                    sector[size_t(f * 4 + c * 2)] = uint8_t(v & 0xFF);
                    sector[size_t(f * 4 + c * 2 + 1)] = uint8_t((v >> 8) & 0xFF);
                }
            }
            bin.write(reinterpret_cast<const char*>(sector.data()), SectorBytes);
        }
        const double rms = std::sqrt(sum / (double(sectors) * FramesPerSector * 2));
        std::printf("demo disc track %d \"%s\": %d:%02d, peak %.1f dBFS, RMS %.1f dBFS\n", number,
                    piece.Title, sectors / 4500, sectors / 75 % 60, 20 * std::log10(peak / 32767),
                    20 * std::log10(rms / 32767));
        lsn += sectors;
        ++number;
    }
    cue += "  TRACK " + std::string(number < 10 ? "0" : "") + std::to_string(number) +
           " MODE1/2352\n    INDEX 01 " + Msf(lsn) + "\n";
    for (int s = 0; s < DataSectors; ++s, ++lsn) {
        std::fill(sector.begin(), sector.end(), uint8_t(0));
        std::fill(sector.begin() + 1, sector.begin() + 11, uint8_t(0xFF));
        sector[12] = Bcd((lsn + 150) / 4500);
        sector[13] = Bcd((lsn + 150) / 75 % 60);
        sector[14] = Bcd((lsn + 150) % 75);
        sector[15] = 1;
        bin.write(reinterpret_cast<const char*>(sector.data()), SectorBytes);
    }
    bin.close();
    if (!bin) {
        std::fprintf(stderr, "cannot write %s\n", binTemp.c_str());
        return 1;
    }

    const std::string cuePath = folder + "/tarvik-demo.cue";
    const std::string cueTemp = cuePath + ".part";
    std::ofstream cueFile(cueTemp, std::ios::trunc);
    cueFile << cue;
    cueFile.close();
    // Both files appear whole or not at all, so a program running meanwhile never reads half.
    if (!cueFile || std::rename(binTemp.c_str(), binPath.c_str()) != 0 ||
        std::rename(cueTemp.c_str(), cuePath.c_str()) != 0) {
        std::fprintf(stderr, "cannot write %s\n", cuePath.c_str());
        return 1;
    }
    return 0;
}
