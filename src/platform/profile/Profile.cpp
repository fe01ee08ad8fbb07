#include "platform/profile/Profile.h"

#include "platform/profile/ProfileText.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <optional>

namespace profile {

namespace {

// A profile file is a handful of settings or album sections; anything far larger is not one of
// ours and is neither loaded into memory nor rewritten.
constexpr qint64 MaxFileSize = 64 * 1024 * 1024;

// The file's bytes; nothing when it is missing; no value when it cannot be read.
std::optional<QByteArray> Load(const QString& fileName, bool& exists)
{
    exists = false;
    if (fileName.isEmpty())
        return std::nullopt;
    const QFileInfo info(fileName);
    if (!info.exists())
        return QByteArray();
    exists = true;
    if (!info.isFile() || info.size() > MaxFileSize)
        return std::nullopt;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QByteArray data = file.read(MaxFileSize + 1);
    if (file.error() != QFileDevice::NoError || data.size() > MaxFileSize)
        return std::nullopt;
    return data;
}

bool Store(const QString& fileName, const QByteArray& data)
{
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (file.write(data) != data.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

} // namespace

QString GetPrivateProfileString(const QString& section, const QString& key,
                                const QString& defaultValue, int size, const QString& fileName)
{
    bool exists = false;
    const std::optional<QByteArray> data = Load(fileName, exists);
    std::optional<QString> found;
    if (data)
        found = ReadValue(*data, section, key);
    return Limited(found.value_or(defaultValue), size);
}

QStringList GetPrivateProfileKeyNames(const QString& section, int size, const QString& fileName)
{
    QStringList names;
    for (const auto& pair : GetPrivateProfileSectionValues(section, size, 1, fileName))
        names.append(pair.first);
    return names;
}

QList<QPair<QString, QString>> GetPrivateProfileSectionValues(const QString& section, int namesSize,
                                                              int valueSize,
                                                              const QString& fileName)
{
    bool exists = false;
    const std::optional<QByteArray> data = Load(fileName, exists);
    if (!data)
        return {};
    return SectionValues(*data, section, namesSize, valueSize);
}

bool WritePrivateProfileString(const QString& section, const QString& key, const QString& value,
                               const QString& fileName)
{
    return WritePrivateProfileStrings({{section, key, value}}, fileName);
}

bool WritePrivateProfileStrings(const QList<TProfileWrite>& writes, const QString& fileName)
{
    bool exists = false;
    std::optional<QByteArray> loaded = Load(fileName, exists);
    if (!loaded)
        return false;
    QByteArray& data = *loaded;
    bool changed = false;
    for (const TProfileWrite& write : writes) {
        bool ok = true;
        changed |= ApplyWrite(data, write, ok);
        if (!ok)
            return false;
    }
    if (!changed)
        return true;
    if (exists && !QFileInfo(fileName).isWritable())
        return false;
    return Store(fileName, data);
}

} // namespace profile
