#include "platform/cdrip/DesktopMounts.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QVariantMap>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace cdrip {

namespace {

const char* const MountInfoFile = "/proc/self/mountinfo";

const QString Service = QStringLiteral("org.freedesktop.UDisks2");
const QString ManagerPath = QStringLiteral("/org/freedesktop/UDisks2/Manager");
const QString BlockDevicesPath = QStringLiteral("/org/freedesktop/UDisks2/block_devices/");
const QString ManagerInterface = QStringLiteral("org.freedesktop.UDisks2.Manager");
const QString BlockInterface = QStringLiteral("org.freedesktop.UDisks2.Block");
const QString FilesystemInterface = QStringLiteral("org.freedesktop.UDisks2.Filesystem");
const QString DriveInterface = QStringLiteral("org.freedesktop.UDisks2.Drive");
const QString PropertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");

// Looking the device up is quick; an unmount or an eject may wait for the user to give a
// password to the desktop's authentication dialog.
constexpr int LookupTimeoutMs = 5000;
constexpr int ActionTimeoutMs = 120000;

// A field of mountinfo with its \ooo escapes (space, tab, newline, backslash) decoded.
std::string Unescape(const QByteArray& field)
{
    std::string out;
    out.reserve(size_t(field.size()));
    for (qsizetype i = 0; i < field.size(); ++i) {
        const auto octal = [&](qsizetype at) { return field[at] >= '0' && field[at] <= '7'; };
        if (field[i] == '\\' && i + 3 < field.size() && octal(i + 1) && octal(i + 2) &&
            octal(i + 3)) {
            out += char(((field[i + 1] - '0') << 6) | ((field[i + 2] - '0') << 3) |
                        (field[i + 3] - '0'));
            i += 3;
        } else {
            out += field[i];
        }
    }
    return out;
}

bool UnderDesktopMedia(const std::string& mountPoint)
{
    return mountPoint.starts_with("/media/") || mountPoint.starts_with("/run/media/");
}

QString Local(const std::string& path)
{
    return QFile::decodeName(QByteArray::fromStdString(path));
}

// The service's own words without the "Error unmounting /dev/sr0: " it puts before them.
QString Gist(const QString& message)
{
    QString gist = message.mid(message.lastIndexOf(QStringLiteral(": ")) + 1).trimmed();
    if (gist.endsWith(QLatin1Char('.')))
        gist.chop(1);
    return gist.isEmpty() ? message : gist;
}

// A refusal of the service in words a user can act on.
QString Refusal(const QDBusMessage& reply)
{
    const QString name = reply.errorName();
    const QString said = Gist(reply.errorMessage());
    if (name.endsWith(QStringLiteral(".DeviceBusy")))
        return said + QStringLiteral(" (a program has a file or folder of the disc open: close "
                                     "it and eject again)");
    if (name.endsWith(QStringLiteral(".NotAuthorizedDismissed")))
        return QStringLiteral("the request for the password was dismissed");
    if (name.contains(QStringLiteral(".NotAuthorized")))
        return QStringLiteral("the system does not allow it (%1)").arg(said);
    if (name.endsWith(QStringLiteral(".ServiceUnknown")) ||
        name.endsWith(QStringLiteral(".NameHasNoOwner")) ||
        name.contains(QStringLiteral(".Spawn.")))
        return QStringLiteral("the desktop's disk service (UDisks2) is not running");
    if (name.endsWith(QStringLiteral(".UnknownObject")) ||
        name.endsWith(QStringLiteral(".UnknownMethod")) ||
        name.endsWith(QStringLiteral(".UnknownInterface")))
        return QStringLiteral("the desktop's disk service does not manage this drive");
    if (name.endsWith(QStringLiteral(".NoReply")) || name.endsWith(QStringLiteral(".Timeout")))
        return QStringLiteral("the desktop's disk service did not answer");
    return said.isEmpty() ? name : said;
}

class TDiskService
{
public:
    TDiskService() : FBus(QDBusConnection::systemBus()) {}

    // The service's object for the block device `device`; empty, with the reason, when it has
    // none or cannot be reached.
    QString BlockObject(const std::string& device, QString& reason)
    {
        if (!FBus.isConnected()) {
            reason = QStringLiteral("the system's message bus cannot be reached, so the "
                                    "desktop's disk service cannot be asked");
            return {};
        }
        QDBusMessage call = QDBusMessage::createMethodCall(Service, ManagerPath, ManagerInterface,
                                                           QStringLiteral("ResolveDevice"));
        call << QVariantMap{{QStringLiteral("path"), Local(device)}} << QVariantMap{};
        const QDBusMessage reply = FBus.call(call, QDBus::Block, LookupTimeoutMs);
        if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()) {
            const auto objects = qdbus_cast<QList<QDBusObjectPath>>(reply.arguments().first());
            if (!objects.isEmpty())
                return objects.first().path();
            reason = QStringLiteral("the desktop's disk service does not manage this drive");
            return {};
        }
        // A service older than ResolveDevice names its objects after the kernel's devices.
        if (reply.errorName().endsWith(QStringLiteral(".UnknownMethod"))) {
            const QString name = QFileInfo(Local(device)).canonicalFilePath().section(u'/', -1);
            if (!name.isEmpty())
                return BlockDevicesPath + name;
        }
        reason = Refusal(reply);
        return {};
    }

    // Calls `method` (options a{sv} empty) and tells a refusal in `reason`.
    bool Act(const QString& object, const QString& interface, const QString& method,
             QString& reason, bool notMountedIsDone = false)
    {
        QDBusMessage call = QDBusMessage::createMethodCall(Service, object, interface, method);
        call << QVariantMap{};
        // The user may be asked for a password by the desktop's own dialog, as the file
        // manager's unmount would.
        call.setInteractiveAuthorizationAllowed(true);
        const QDBusMessage reply = FBus.call(call, QDBus::Block, ActionTimeoutMs);
        if (reply.type() != QDBusMessage::ErrorMessage)
            return true;
        // Unmounted meanwhile, by the user or another program: what was wanted.
        if (notMountedIsDone && reply.errorName().endsWith(QStringLiteral(".NotMounted")))
            return true;
        reason = Refusal(reply);
        return false;
    }

    QString DriveObject(const QString& block, QString& reason)
    {
        QDBusMessage call = QDBusMessage::createMethodCall(Service, block, PropertiesInterface,
                                                           QStringLiteral("Get"));
        call << BlockInterface << QStringLiteral("Drive");
        const QDBusMessage reply = FBus.call(call, QDBus::Block, LookupTimeoutMs);
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
            reason = Refusal(reply);
            return {};
        }
        const QString drive = qdbus_cast<QDBusVariant>(reply.arguments().first())
                                  .variant()
                                  .value<QDBusObjectPath>()
                                  .path();
        if (drive.isEmpty() || drive == QStringLiteral("/"))
            reason = QStringLiteral("the desktop's disk service knows no drive for it");
        return drive == QStringLiteral("/") ? QString() : drive;
    }

private:
    QDBusConnection FBus;
};

} // namespace

std::vector<TMount> ParseMountInfo(const QByteArray& mountinfo, dev_t device)
{
    std::vector<TMount> mounts;
    const QByteArray number =
        QByteArray::number(major(device)) + ':' + QByteArray::number(minor(device));
    for (const QByteArray& line : mountinfo.split('\n')) {
        // ID, parent ID, major:minor, root, mount point, options, optional fields ..., "-",
        // file system type, source, its options.
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() < 10 || fields[2] != number)
            continue;
        qsizetype separator = 6;
        while (separator < fields.size() && fields[separator] != "-")
            ++separator;
        if (separator + 2 >= fields.size())
            continue;
        TMount mount;
        mount.Root = Unescape(fields[3]);
        mount.MountPoint = Unescape(fields[4]);
        mount.FsType = Unescape(fields[separator + 1]);
        mount.Source = Unescape(fields[separator + 2]);
        mount.ByDesktop = UnderDesktopMedia(mount.MountPoint);
        mounts.push_back(std::move(mount));
    }
    return mounts;
}

std::vector<TMount> DeviceMounts(const std::string& device)
{
    struct stat st;
    if (::stat(device.c_str(), &st) != 0 || !S_ISBLK(st.st_mode))
        return {};
    QFile file(QString::fromLatin1(MountInfoFile));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return ParseMountInfo(file.readAll(), st.st_rdev);
}

bool DesktopUnmount(const std::string& device, QString& reason)
{
    TDiskService service;
    const QString block = service.BlockObject(device, reason);
    return !block.isEmpty() &&
           service.Act(block, FilesystemInterface, QStringLiteral("Unmount"), reason, true);
}

bool DesktopEject(const std::string& device, QString& reason)
{
    TDiskService service;
    const QString block = service.BlockObject(device, reason);
    if (block.isEmpty())
        return false;
    const QString drive = service.DriveObject(block, reason);
    return !drive.isEmpty() && service.Act(drive, DriveInterface, QStringLiteral("Eject"), reason);
}

} // namespace cdrip
