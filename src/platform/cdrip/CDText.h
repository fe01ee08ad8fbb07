#pragma once

#include "cd/CDRipLibrary.h"

#include <QByteArray>
#include <QString>

#include <cdio/cdio.h>
#include <vector>

namespace cdrip {

// The CD-Text of one disc as libcdio reads it from a drive (the lead-in's text packs) or from a
// disc image (the TITLE and PERFORMER lines of its sheet): the disc's and every track's title
// and performer, as UTF-8.
class TDiscText
{
public:
    // Reads the text of the disc open in `cdio`, whose table of contents holds tracks
    // `first`..`first + count - 1`; they are kept by their place in the table, from 1. Call
    // with libcdio's lock held.
    void Read(CdIo_t* cdio, bool image, track_t first, track_t count);
    void Clear() { FEntries.clear(); }

    // CR_GetCDText: 1 and an empty text when the disc has no such text.
    CDSTATUS Get(int32_t trackNumber, int32_t field, char* text, int32_t size) const;

private:
    struct TEntry
    {
        int32_t Track = 0;
        int32_t Field = 0;
        QByteArray Utf8;
    };
    std::vector<TEntry> FEntries;
};

// Which language block of raw CD-Text packs (as a drive returns them, without the 4-byte
// header) to read: the first whose character set is ISO-8859-1, ASCII or MS-JIS, the ones the
// text can be converted from; -1 when there is none.
int UsableTextBlock(const uint8_t* packs, size_t bytes);

// A text as libcdio hands it out, made fit for a title: valid UTF-8 only (else empty), control
// characters as blanks, outer blanks trimmed. A sheet's text is taken by libcdio as ISO-8859-1;
// `fromSheet` undoes that for a sheet written in UTF-8, as most are today.
QString CleanDiscText(const char* text, bool fromSheet);

} // namespace cdrip
