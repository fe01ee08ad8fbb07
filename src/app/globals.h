#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>

// The one settings record: the output folder, two job options and the MP3 encoder settings.
// Read and written directly by the options dialog, the main window and the extraction job.
struct TMP3Settings
{
    bool ConfirmReplace;    // ask before replacing an existing output file; never stored
    QString OutDir;         // output folder of extracted files
    bool OpenWhenDone;      // open the output folder when a job ends
    int32_t SampleRates;    // Hz
    int32_t BitRates;       // kbit/s (the minimum bitrate when VBR is on)
    int32_t MaxBitRates;    // kbit/s, maximum VBR bitrate
    int32_t Mode;           // 0 stereo, 1 joint stereo, 2 dual channel, 3 mono
    int32_t Quality;        // 0 normal, 1 low, 2 high, 3 voice
    int32_t EnableVBR;      // 32-bit boolean: 0 false, -1 true, any non-zero reads as true
    int32_t WriteVBRHeader; // 32-bit boolean
    int32_t VBRQuality;     // 0..9
    int32_t CopyRight;      // 32-bit boolean
    int32_t Original;       // 32-bit boolean
    int32_t CRC;            // 32-bit boolean
    int32_t bPrivate;       // 32-bit boolean
    // The correction for the drive's read offset, in samples ("ReadOffset" in "System"), as
    // published for each drive model: a positive value takes every sample that many samples
    // later on the disc than the drive hands it out. Read only, never written: it is set by hand
    // for a drive whose offset is known, and 0 changes nothing.
    int32_t ReadOffset;
};

// Holds the built-in defaults from program initialisation on.
extern TMP3Settings Settings;

// Puts the built-in defaults into every field, ConfirmReplace included. The default output
// folder is the user's Music folder.
void SetDefaultSettings();

// Reads every key of the settings file into Settings (ConfirmReplace keeps its value) and
// returns true. When no settings file exists, writes the current values with SaveSettings
// and returns false; that write may throw like SaveSettings.
bool LoadSettings();

// Writes all fourteen keys to the settings file, leaving other keys alone. Throws
// Exception("Unable to write to <settings file path>: <reason>") when the file cannot be
// written; none of the keys is then written.
void SaveSettings();

// The settings file of a program at `programPath`: the whole path lower-cased (ASCII letters
// only), its extension (from the last "." after the last "\", "/" or ":") replaced by ".ini",
// or ".ini" appended when it has none. D:\Apps\Ripper.EXE gives d:\apps\ripper.ini.
QString SettingsPathFor(const QString& programPath);

// The configuration folder (the application's configuration location), created when missing.
QString ConfigFolder();

// tarvik.ini in the configuration folder (the folder is created when missing).
QString SettingsFileName();

// cdplayer.ini in the configuration folder (the folder is created when missing).
QString AlbumInfoFileName();

// Reads the album information of disc `DiscID` from the album information file. Artist,
// Title, Year and Genre are set from the disc's section when it exists; then blank Title,
// Artist and Genre become "No Title", "No Artist" and "Other". TrackNames is emptied and gets
// one entry per non-empty key of the section, and at least as many as reach every track key
// present ("0" to "98", empty ones included); entry i holds key "i" (empty when absent or
// empty). Returns true also when the file or section is missing; nothing is ever reported.
bool ReadAlbumInfo(const QString& DiscID, QString& Artist, QString& Title, QString& Year,
                   QString& Genre, QStringList& TrackNames);

// The disc's stored "artist", "album", "year" and "genre" values as they stand, whole and
// without fallbacks (empty when absent), for a save that must keep them.
void ReadStoredAlbumInfo(const QString& DiscID, QString& Artist, QString& Album, QString& Year,
                         QString& Genre);

// Writes "artist", "album", "year", "genre" and then "0", "1", ... for TrackNames (when given)
// into the disc's section, all in one replacement of the file. Returns false when the file
// cannot be written (then none of the keys is), with "Unable to write to <file>: <reason>" in
// Failure when given; nothing is reported here.
bool WriteAlbumInfo(const QString& DiscID, const QString& Artist, const QString& Album,
                    const QString& Year, const QString& Genre,
                    const QStringList* TrackNames = nullptr, QString* Failure = nullptr);

// `n` in decimal, left-filled with "0" to two characters: 0 -> "00", 7 -> "07", 100 -> "100".
QString TwoDigits(uint16_t n);
