#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>

// A plain notification; the argument is the sending component.
using TNotifyEvent = std::function<void(QObject* Sender)>;

// Reads, writes and removes the ID3v1 tag of one MP3 file: 128 bytes at the very end of the file
// ("TAG", title 30, artist 30, album 30, year 4, comment 30, genre byte). Text fields are
// ISO-8859-1 in the file, padded with spaces; a character outside it is written as "?".
//
// Failures do not raise: they set Error() and fire onError (silently when it is unbound). Only
// an input/output failure while reading a tag (a file that cannot be opened or read, or is
// shorter than 128 bytes) or while cutting one off raises EInOutError (app/Exception.h).
class TMP3Info : public QObject
{
    Q_OBJECT
public:
    // The genre that stands in for any unknown genre byte: "Other".
    static constexpr uint8_t DefaultGenreID = 12;

    // GenreID 12, Valid and Saved false, all texts empty, Genres filled.
    explicit TMP3Info(QObject* owner = nullptr);

    // Setting the file always reads its tag, even when the path is unchanged. On a file without
    // a tag the texts become empty, GenreID 12, Valid false and Error says so; on a missing
    // file the texts stay. May raise EInOutError (Valid is then false).
    const QString& Filename() const { return FFilename; }
    void SetFilename(const QString& value);

    // The text setters keep the first 30 characters (Year: 4), counting each character as the
    // one byte it takes in the file; they fire onChange.
    const QString& Artist() const { return FArtist; }
    void SetArtist(const QString& value);
    const QString& Title() const { return FTitle; }
    void SetTitle(const QString& value);
    const QString& Album() const { return FAlbum; }
    void SetAlbum(const QString& value);
    const QString& Year() const { return FYear; }
    void SetYear(const QString& value);
    const QString& Comment() const { return FComment; }
    void SetComment(const QString& value);

    // The name of the genre last set or read.
    const QString& Genre() const { return FGenre; }
    // Index into Genres(), 0..114; anything greater becomes 12. Fires onChange.
    uint8_t GenreID() const { return FGenreID; }
    void SetGenreID(uint8_t value);

    // The last read found a tag.
    bool Valid() const { return FValid; }
    // The last Save succeeded.
    bool Saved() const { return FSaved; }
    // The message of the last failure.
    const QString& Error() const { return FError; }

    // The 115 genre names; the genre byte is an index into this list.
    const QStringList& Genres() const { return FGenres; }

    // Writes the tag: over the file's tag when it has one, else appended (the file grows by
    // 128 bytes). Clears a missing owner write permission first and leaves it cleared. The last
    // 128 bytes of a file are only ever replaced when they hold a tag; a failed append leaves
    // the file at its old length.
    void Save();
    // Cuts the tag off the end of the file. May raise EInOutError.
    void RemoveID3();

    TNotifyEvent onChangeFile; // a tag was read
    TNotifyEvent onChange;     // a field was set
    TNotifyEvent onError;      // Error was set

private:
    void ReadTag();
    void Fail(const QString& message);
    void Changed();
    // Gives the file its owner write permission back; false when it still lacks it.
    bool MakeWritable() const;

    QString FFilename;
    QString FArtist;
    QString FTitle;
    QString FAlbum;
    QString FYear;
    QString FComment;
    QString FGenre;
    uint8_t FGenreID = DefaultGenreID;
    bool FValid = false;
    bool FSaved = false;
    // The last Save appended a tag to this file, so the next one replaces it.
    bool FAppended = false;
    QString FError;
    QStringList FGenres;
};
