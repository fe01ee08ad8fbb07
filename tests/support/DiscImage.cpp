#include "support/DiscImage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cmath>
#include <vector>

namespace {

constexpr int FramesPerSector = 588;
constexpr double SampleRate = 44100.0;
constexpr double Pi = 3.14159265358979323846;

// A small deterministic generator, so a seed gives the same disc on every machine.
class TRandom
{
public:
    explicit TRandom(uint64_t seed) : FState(seed * 0x9E3779B97F4A7C15ull + 0x632BE59BD9B4E019ull)
    {
    }
    uint32_t Next()
    {
        FState ^= FState >> 12;
        FState ^= FState << 25;
        FState ^= FState >> 27;
        return uint32_t((FState * 0x2545F4914F6CDD1Dull) >> 32);
    }
    double Uniform() { return Next() / 4294967296.0; }
    int Below(int n) { return int(Next() % uint32_t(n)); }

private:
    uint64_t FState;
};

// One sine partial run by rotating a phasor: exact enough for test audio and far cheaper than
// calling sin() for every sample of a long disc.
struct TPartial
{
    double Re = 0, Im = 0, StepRe = 1, StepIm = 0, Amp = 0;
    void Start(double hz, double amp, double phase)
    {
        Re = std::cos(phase);
        Im = std::sin(phase);
        StepRe = std::cos(2 * Pi * hz / SampleRate);
        StepIm = std::sin(2 * Pi * hz / SampleRate);
        Amp = amp;
    }
    double Next()
    {
        const double v = Im * Amp;
        const double re = Re * StepRe - Im * StepIm;
        Im = Re * StepIm + Im * StepRe;
        Re = re;
        return v;
    }
};

// A voice plays one note at a time: a few harmonics under an attack/decay envelope.
struct TVoice
{
    TPartial Partials[3];
    int64_t Length = 0, Pos = 0;
    double Pan = 0.5;
    double Next()
    {
        const double t = double(Pos);
        const double attack = std::min(1.0, t / 441.0);
        const double release = std::min(1.0, double(Length - Pos) / 882.0);
        const double env = attack * release * std::exp(-t / (SampleRate * 0.6));
        double v = 0;
        for (TPartial& p : Partials)
            v += p.Next();
        ++Pos;
        return v * env;
    }
};

class TTrackSynth
{
public:
    TTrackSynth(uint32_t seed, int track, const TDiscTrackSpec& layout)
        : FRandom((uint64_t(seed) << 8) ^ uint64_t(track + 1)), FLayout(layout)
    {
        if (layout.ToneHz > 0) {
            FTone.Start(layout.ToneHz, layout.ToneLevel, 0);
            return;
        }
        FRoot = 110.0 * std::pow(2.0, FRandom.Below(12) / 12.0);
        FNoteFrames = int64_t(SampleRate * (0.18 + 0.25 * FRandom.Uniform()));
        FBright = 0.2 + 0.5 * FRandom.Uniform();
        FVoices[0].Pan = 0.25 + 0.2 * FRandom.Uniform();
        FVoices[1].Pan = 0.55 + 0.2 * FRandom.Uniform();
    }

    void Frame(int16_t& left, int16_t& right)
    {
        double l, r;
        if (FLayout.ToneHz > 0) {
            l = r = FTone.Next();
        } else {
            if (FVoices[0].Pos >= FVoices[0].Length)
                NextNote(FVoices[0], 4);
            if (FVoices[1].Pos >= FVoices[1].Length)
                NextNote(FVoices[1], 2);
            const double a = FVoices[0].Next(), b = FVoices[1].Next();
            l = a * (1 - FVoices[0].Pan) + b * (1 - FVoices[1].Pan);
            r = a * FVoices[0].Pan + b * FVoices[1].Pan;
        }
        left = int16_t(std::lround(std::clamp(l, -1.0, 1.0) * 32767.0));
        right = int16_t(std::lround(std::clamp(r, -1.0, 1.0) * 32767.0));
    }

private:
    void NextNote(TVoice& voice, int octave)
    {
        static const int scale[] = {0, 2, 4, 5, 7, 9, 11, 12};
        const double hz = FRoot * octave / 2 * std::pow(2.0, scale[FRandom.Below(8)] / 12.0);
        voice.Length = FNoteFrames * (1 + FRandom.Below(2));
        voice.Pos = 0;
        double amp = 0.28;
        for (int h = 0; h < 3; ++h, amp *= FBright)
            voice.Partials[h].Start(hz * (h + 1), amp, 2 * Pi * FRandom.Uniform());
    }

    TRandom FRandom;
    TDiscTrackSpec FLayout;
    TPartial FTone;
    TVoice FVoices[2];
    double FRoot = 220, FBright = 0.4;
    int64_t FNoteFrames = 11025;
};

uint8_t ToBcd(int v)
{
    return uint8_t(((v / 10) << 4) | (v % 10));
}

// A MODE1 sector: sync pattern, address, mode byte and a recognisable payload. The error
// correction bytes stay zero; nothing here reads a data track as data.
void DataSector(uint8_t* out, int lsn)
{
    std::fill(out, out + TDiscImage::SectorBytes, uint8_t(0));
    std::fill(out + 1, out + 11, uint8_t(0xFF));
    const int abs = lsn + 150;
    out[12] = ToBcd(abs / 4500);
    out[13] = ToBcd(abs / 75 % 60);
    out[14] = ToBcd(abs % 75);
    out[15] = 1;
    for (int i = 0; i < 2048; ++i)
        out[16 + i] = uint8_t((lsn * 7 + i) & 0xFF);
}

QString Msf(int lsn)
{
    return QStringLiteral("%1:%2:%3")
        .arg(lsn / 4500, 2, 10, QLatin1Char('0'))
        .arg(lsn / 75 % 60, 2, 10, QLatin1Char('0'))
        .arg(lsn % 75, 2, 10, QLatin1Char('0'));
}

} // namespace

bool TDiscImage::Write(const QString& folder, const QList<TDiscTrackSpec>& tracks, uint32_t seed,
                       const QString& baseName)
{
    Tracks.clear();
    LeadOut = 0;
    Error.clear();
    if (!QDir().mkpath(folder)) {
        Error = QStringLiteral("cannot create %1").arg(folder);
        return false;
    }
    CuePath = QDir(folder).absoluteFilePath(baseName + QStringLiteral(".cue"));
    BinPath = QDir(folder).absoluteFilePath(baseName + QStringLiteral(".bin"));

    QFile bin(BinPath);
    if (!bin.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        Error = bin.errorString();
        return false;
    }
    QByteArray cue;
    if (!DiscTitle.isEmpty())
        cue += "TITLE \"" + DiscTitle.toUtf8() + "\"\n";
    if (!DiscPerformer.isEmpty())
        cue += "PERFORMER \"" + DiscPerformer.toUtf8() + "\"\n";
    cue += "FILE \"" + QFileInfo(BinPath).fileName().toUtf8() + "\" BINARY\n";
    std::vector<uint8_t> sector(SectorBytes);
    int lsn = 0;
    for (int t = 0; t < tracks.size(); ++t) {
        const TDiscTrackSpec& layout = tracks[t];
        TDiscImageTrack track;
        track.Number = t + 1;
        track.FirstSector = lsn;
        track.Sectors = std::max(1, layout.Sectors);
        track.Audio = layout.Audio;
        Tracks << track;
        cue += QStringLiteral("  TRACK %1 %2\n    INDEX 01 %3\n")
                   .arg(t + 1, 2, 10, QLatin1Char('0'))
                   .arg(layout.Audio ? QStringLiteral("AUDIO") : QStringLiteral("MODE1/2352"))
                   .arg(Msf(lsn))
                   .toUtf8();
        if (!layout.Title.isEmpty())
            cue += "    TITLE \"" + layout.Title.toUtf8() + "\"\n";
        TTrackSynth synth(seed, t, layout);
        for (int s = 0; s < track.Sectors; ++s, ++lsn) {
            if (layout.Audio) {
                for (int f = 0; f < FramesPerSector; ++f) {
                    int16_t l, r;
                    synth.Frame(l, r);
                    uint8_t* p = sector.data() + f * 4;
                    p[0] = uint8_t(l & 0xFF);
                    p[1] = uint8_t((l >> 8) & 0xFF);
                    p[2] = uint8_t(r & 0xFF);
                    p[3] = uint8_t((r >> 8) & 0xFF);
                }
            } else {
                DataSector(sector.data(), lsn);
            }
            if (bin.write(reinterpret_cast<const char*>(sector.data()), SectorBytes) !=
                SectorBytes) {
                Error = bin.errorString();
                return false;
            }
        }
    }
    LeadOut = lsn;
    if (!bin.flush()) {
        Error = bin.errorString();
        return false;
    }
    bin.close();

    QFile cueFile(CuePath);
    if (!cueFile.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        cueFile.write(cue) != cue.size()) {
        Error = cueFile.errorString();
        return false;
    }
    return true;
}

QByteArray TDiscImage::ReadSectors(int first, int count) const
{
    QFile bin(BinPath);
    if (first < 0 || count <= 0 || !bin.open(QIODevice::ReadOnly) ||
        !bin.seek(qint64(first) * SectorBytes))
        return {};
    return bin.read(qint64(count) * SectorBytes);
}

QByteArray TDiscImage::TrackBytes(int index) const
{
    if (index < 0 || index >= Tracks.size())
        return {};
    return ReadSectors(Tracks[index].FirstSector, Tracks[index].Sectors);
}
