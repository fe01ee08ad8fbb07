#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

// INI files read and written the way the platform's profile-string functions do it, addressed by
// full path, one key per call.
//
// File shape: "[name]" lines open sections (the name is the text between the first "[" and the
// last "]", trimmed); keys before the first header belong to the nameless section ""; a line
// "key=value" is a key (the key ends at the first "="); lines starting with ";" are comments;
// any other line is ignored. CR, LF and CRLF all end a line. Section and key names match without
// regard to ASCII case and blanks around a requested name are ignored; the first of duplicate
// sections, and of duplicate keys within it, wins. A "[" line without its "]" opens no section.
// Values are UTF-8; a value that is not valid UTF-8 (written by another program) reads as
// Windows-1252. A file with a UTF-16 byte order mark is read as UTF-16 and rewritten in it.
// Lines this code does not write keep their bytes exactly.
namespace profile {

// The value of `key` in `section`: trimmed of blanks at both ends, one matching pair of outer
// double or single quotes removed. `defaultValue` when the file, the section or the key is
// missing or unreadable; "key=" reads as the empty text. At most size - 1 characters are
// returned (nothing when size < 1), as by a caller's buffer of `size` characters.
QString GetPrivateProfileString(const QString& section, const QString& key,
                                const QString& defaultValue, int size, const QString& fileName);

// The key names of `section` in file order, duplicates included, comments never. Only the names
// that fit whole into a buffer of `size` bytes (each name's UTF-8 bytes plus a terminator, and a
// final terminator) are returned; the rest are not seen.
QStringList GetPrivateProfileKeyNames(const QString& section, int size, const QString& fileName);

// The key names of `section` as GetPrivateProfileKeyNames lists them (within `namesSize` bytes),
// each with its value as GetPrivateProfileString(section, name, "", valueSize, fileName) reads
// it: a repeated name gets the value of its first occurrence. One pass over the file.
QList<QPair<QString, QString>> GetPrivateProfileSectionValues(const QString& section, int namesSize,
                                                              int valueSize,
                                                              const QString& fileName);

// Sets `key` of `section` to `value`: in place on the key's line (keeping the file's spelling
// of it), or as a new line after the last line of the section, or in a new section at the end of
// the file, creating the file when missing (its folder must exist). Writing the value the key
// already reads as leaves the file untouched. CR and LF in any name or value are written as
// blanks so no text can add lines to the file; a value that would not read back as itself
// (outer blanks or quotes) is written inside double quotes. The file is replaced atomically:
// on any failure it stays as it was and false is returned. A key name that is empty, holds "="
// or starts with ";" or "[" cannot be stored and fails.
bool WritePrivateProfileString(const QString& section, const QString& key, const QString& value,
                               const QString& fileName);

// One key to write.
struct TProfileWrite
{
    QString Section;
    QString Key;
    QString Value;
};

// Applies the writes in order, each as WritePrivateProfileString would, and replaces the file
// once: either every write reaches the file or, on failure, none does, and `failure` (when
// given) receives the reason in a few words ("Permission denied").
bool WritePrivateProfileStrings(const QList<TProfileWrite>& writes, const QString& fileName,
                                QString* failure = nullptr);

} // namespace profile
