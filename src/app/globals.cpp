#include "app/globals.h"

TMP3Settings Settings{};

void SetDefaultSettings() {}
bool LoadSettings()
{
    return false;
}
void SaveSettings() {}
QString SettingsPathFor(const QString& programPath)
{
    return programPath;
}
QString ConfigFolder()
{
    return {};
}
QString SettingsFileName()
{
    return {};
}
QString AlbumInfoFileName()
{
    return {};
}
bool ReadAlbumInfo(const QString&, QString&, QString&, QString&, QString&, QStringList& TrackNames)
{
    TrackNames.clear();
    return true;
}
bool WriteAlbumInfo(const QString&, const QString&, const QString&, const QString&, const QString&,
                    const QStringList*)
{
    return true;
}
QString TwoDigits(uint16_t n)
{
    return QString::number(n).rightJustified(2, u'0');
}
