#include "platform/profile/Profile.h"

#include "platform/profile/ProfileText.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <cstring>
#include <optional>

namespace profile {

namespace {

// A profile file is a handful of settings or album sections; anything far larger is not one of
// ours and is neither loaded into memory nor rewritten.
constexpr qint64 MaxFileSize = 64 * 1024 * 1024;

// The file's text; empty when it is missing; no value, and the reason in `failure`, when it
// cannot be read.
std::optional<TFileText> Load(const QString& fileName, bool& exists, QString* failure = nullptr)
{
    const auto fail = [&](const QString& reason) -> std::optional<TFileText> {
        if (failure != nullptr)
            *failure = reason;
        return std::nullopt;
    };
    exists = false;
    if (fileName.isEmpty())
        return fail(QStringLiteral("no file name was given"));
    const QFileInfo info(fileName);
    if (!info.exists())
        return TFileText{};
    exists = true;
    if (!info.isFile())
        return fail(QStringLiteral("it is not a regular file"));
    if (info.size() > MaxFileSize)
        return fail(QStringLiteral("it is larger than %1 MB").arg(MaxFileSize / (1024 * 1024)));
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return fail(file.errorString());
    const QByteArray data = file.read(MaxFileSize + 1);
    if (file.error() != QFileDevice::NoError)
        return fail(file.errorString());
    if (data.size() > MaxFileSize)
        return fail(QStringLiteral("it is larger than %1 MB").arg(MaxFileSize / (1024 * 1024)));
    return FromFileBytes(data);
}

bool Store(const QString& fileName, const QByteArray& data, QString& failure)
{
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly)) {
        failure = file.errorString();
        return false;
    }
    if (file.write(data) != data.size()) {
        failure = file.errorString();
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        failure = file.errorString();
        return false;
    }
    return true;
}

} // namespace

QString GetPrivateProfileString(const QString& section, const QString& key,
                                const QString& defaultValue, int size, const QString& fileName)
{
    bool exists = false;
    const std::optional<TFileText> text = Load(fileName, exists);
    std::optional<QString> found;
    if (text)
        found = ReadValue(text->Data, section, key);
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
    const std::optional<TFileText> text = Load(fileName, exists);
    if (!text)
        return {};
    return SectionValues(text->Data, section, namesSize, valueSize);
}

bool WritePrivateProfileString(const QString& section, const QString& key, const QString& value,
                               const QString& fileName)
{
    return WritePrivateProfileStrings({{section, key, value}}, fileName);
}

bool WritePrivateProfileStrings(const QList<TProfileWrite>& writes, const QString& fileName,
                                QString* failure)
{
    QString reason;
    const auto fail = [&](const QString& why) {
        if (failure != nullptr)
            *failure = why;
        return false;
    };
    bool exists = false;
    std::optional<TFileText> loaded = Load(fileName, exists, &reason);
    if (!loaded)
        return fail(reason);
    bool changed = false;
    for (const TProfileWrite& write : writes) {
        bool ok = true;
        changed |= ApplyWrite(loaded->Data, write, ok);
        if (!ok)
            return fail(QStringLiteral("the key name \"%1\" cannot be stored").arg(write.Key));
    }
    if (!changed)
        return true;
    if (!loaded->Writable)
        return fail(QStringLiteral("its UTF-16 text is damaged and would not be written back "
                                   "as it is"));
    if (exists && !QFileInfo(fileName).isWritable())
        return fail(QString::fromLocal8Bit(std::strerror(EACCES)));
    if (!Store(fileName, ToFileBytes(*loaded), reason))
        return fail(reason);
    return true;
}

} // namespace profile
