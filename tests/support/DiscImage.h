#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <cstdint>

// Writes a disc image the way a CD drive would present the disc: a CUE sheet and one BIN of raw
// 2352-byte sectors (little-endian 16-bit stereo CD-DA for audio, MODE1/2352 for data), so that
// tests read real discs through libcdio. The audio is music-like (chords of a few partials under
// note envelopes, two voices panned apart) and depends only on the seed and the track, so a test
// can write the same disc twice and compare bit for bit.

struct TDiscTrackSpec
{
    int Sectors = 750;      // length in 2352-byte sectors (75 a second)
    bool Audio = true;      // false: a MODE1/2352 data track
    double ToneHz = 0;      // > 0: the track is one steady sine of this frequency in both channels
    double ToneLevel = 0.5; // the tone's peak, as a fraction of full scale
    QString Title = {};     // non-empty: a TITLE line (CD-Text) for the track, in UTF-8
};

struct TDiscImageTrack
{
    int Number = 0;      // from 1
    int FirstSector = 0; // as the table of contents gives it
    int Sectors = 0;
    bool Audio = true;
    int LastSector() const { return FirstSector + Sectors - 1; }
};

class TDiscImage
{
public:
    static constexpr int SectorBytes = 2352;

    // Writes <folder>/<baseName>.cue and <folder>/<baseName>.bin. Returns false and sets Error
    // when the folder cannot be written. Memory stays small whatever the disc's length.
    bool Write(const QString& folder, const QList<TDiscTrackSpec>& tracks, uint32_t seed = 1,
               const QString& baseName = QStringLiteral("disc"));

    // Non-empty before Write: the disc's own TITLE and PERFORMER lines.
    QString DiscTitle;
    QString DiscPerformer;

    // `count` raw sectors from `first` on, read back from the BIN.
    QByteArray ReadSectors(int first, int count) const;
    // The exact bytes of track `index` (from 0): what a bit-exact extraction must deliver.
    QByteArray TrackBytes(int index) const;

    QString CuePath;
    QString BinPath;
    QList<TDiscImageTrack> Tracks;
    int LeadOut = 0; // first sector after the last track
    QString Error;
};
