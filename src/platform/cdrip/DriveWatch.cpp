#include "platform/cdrip/DriveWatch.h"

#include <QDir>
#include <QFile>
#include <QFileSystemWatcher>
#include <QRegularExpression>
#include <QTimer>

#include <sys/stat.h>

TDriveWatch::TDriveWatch(const QString& deviceFolder, QObject* parent)
    : QObject(parent), FFolder(deviceFolder), FLast(Look(deviceFolder))
{
    FSettle = new QTimer(this);
    FSettle->setSingleShot(true);
    FSettle->setInterval(SettleMs);
    connect(FSettle, &QTimer::timeout, this, [this] { LookAgain(); });

    FWatcher = new QFileSystemWatcher(this);
    FWatcher->addPath(deviceFolder);
    // The folder changes for every device of the machine; only a look tells whether a drive
    // was among them, once udev is done with the node.
    connect(FWatcher, &QFileSystemWatcher::directoryChanged, this, [this] { FSettle->start(); });

    FRescan = new QTimer(this);
    FRescan->setInterval(RescanMs);
    connect(FRescan, &QTimer::timeout, this, [this] { LookAgain(); });
    FRescan->start();
}

QByteArray TDriveWatch::Look(const QString& deviceFolder)
{
    static const QRegularExpression drive(QStringLiteral("^(sr|scd)\\d+$"));
    QByteArray look;
    const QStringList names = QDir(deviceFolder).entryList(QDir::System | QDir::Files, QDir::Name);
    for (const QString& name : names) {
        if (!drive.match(name).hasMatch())
            continue;
        struct stat st;
        const QByteArray path = QFile::encodeName(deviceFolder + QLatin1Char('/') + name);
        if (::stat(path.constData(), &st) != 0)
            continue;
        // A drive given to the user's group or access list a moment after it appeared opens
        // now where it did not: that shows in the owner, the mode or the change time.
        look += path + ' ' + QByteArray::number(qulonglong(st.st_rdev)) + ' ' +
                QByteArray::number(st.st_mode) + ' ' + QByteArray::number(st.st_uid) + ' ' +
                QByteArray::number(st.st_gid) + ' ' +
                QByteArray::number(qlonglong(st.st_ctim.tv_sec)) + '.' +
                QByteArray::number(qlonglong(st.st_ctim.tv_nsec)) + '\n';
    }
    return look;
}

void TDriveWatch::LookAgain()
{
    QByteArray now = Look(FFolder);
    if (now == FLast)
        return;
    FLast = std::move(now);
    if (OnChange)
        OnChange();
}
