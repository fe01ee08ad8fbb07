#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>

class QFileSystemWatcher;
class QTimer;

// Notices CD drives that come and go (a USB drive plugged in, or out, or given to the user's
// group a moment after it appeared) by their device nodes: at once through a watch on the
// device folder, and by a slow look at it in case the watch misses something.
class TDriveWatch : public QObject
{
    Q_OBJECT
public:
    explicit TDriveWatch(const QString& deviceFolder = QStringLiteral("/dev"),
                         QObject* parent = nullptr);

    // The drives' nodes differ from the last look; runs on this object's thread.
    std::function<void()> OnChange;

    // What the drive nodes of `deviceFolder` are now: names, devices, owners, permissions.
    static QByteArray Look(const QString& deviceFolder);

    static constexpr int SettleMs = 500; // udev names and permits a new node in this time
    static constexpr int RescanMs = 5000;

private:
    void LookAgain();

    QString FFolder;
    QByteArray FLast;
    QFileSystemWatcher* FWatcher = nullptr;
    QTimer* FSettle = nullptr;
    QTimer* FRescan = nullptr;
};
