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

// At most size - 1 characters of `text`, never half a character; nothing when size < 1.
QString Limited(QString text, int size);

} // namespace profile
