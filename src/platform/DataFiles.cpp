#include "platform/DataFiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

QStringList DataFolders()
{
    QStringList folders;
    const QString exeDir = QCoreApplication::applicationDirPath();
    if (!exeDir.isEmpty()) {
        folders << exeDir;
        folders << QDir::cleanPath(exeDir + QStringLiteral("/../share/tarvik"));
    }
    const QString installed = QStringLiteral(TARVIK_DATA_INSTALL_DIR);
    if (!folders.contains(installed))
        folders << installed;
    return folders;
}

QString FindDataFile(const QString& relative)
{
    for (const QString& folder : DataFolders()) {
        const QFileInfo info(folder + QLatin1Char('/') + relative);
        if (info.exists())
            return info.absoluteFilePath();
    }
    return {};
}
