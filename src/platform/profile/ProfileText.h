#pragma once

#include "platform/profile/Profile.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

#include <optional>

// The profile functions' reading and editing of a file's bytes, without the file: the rules of
// Profile.h, applied to what a file holds.
namespace profile {

// The value of `key` in `section`, or nothing when the section or key is missing.
std::optional<QString> ReadValue(const QByteArray& data, const QString& section,
                                 const QString& key);

// The key names of `section` that fit into `namesSize` bytes, each with its value cut to
// valueSize - 1 characters.
QList<QPair<QString, QString>> SectionValues(const QByteArray& data, const QString& section,
                                             int namesSize, int valueSize);

// Applies one write to the bytes; true when they changed. `ok` turns false, and nothing
// changes, for a key name a file cannot hold.
bool ApplyWrite(QByteArray& data, const TProfileWrite& write, bool& ok);

// How a file stores its text. The line rules work on the file's own bytes (UTF-8, or another
// program's code page); a file that starts with a UTF-16 byte order mark is read through a
// UTF-8 copy of its text and written back in UTF-16 with the same mark, so the program that
// wrote it can go on reading it.
enum class TFileEncoding
{
    Bytes,
    Utf16LE,
    Utf16BE
};

struct TFileText
{
    QByteArray Data; // what the line rules read and edit
    TFileEncoding Encoding = TFileEncoding::Bytes;
    // False when writing Data back would not give the file's bytes again (broken UTF-16):
    // such a file is read as far as it decodes but never rewritten.
    bool Writable = true;
};

TFileText FromFileBytes(const QByteArray& bytes);

// The bytes a file in `text.Encoding` holds for `text.Data`.
QByteArray ToFileBytes(const TFileText& text);

// At most size - 1 characters of `text`, never half a character; nothing when size < 1.
QString Limited(QString text, int size);

} // namespace profile
