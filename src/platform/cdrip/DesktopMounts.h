#pragma once

#include <QByteArray>
#include <QString>

#include <string>
#include <sys/types.h>
#include <vector>

namespace cdrip {

// A file system of a disc that is mounted: the data session of an enhanced or mixed-mode CD,
// which the desktop mounts as soon as the disc goes in. While it is mounted the kernel keeps the
// tray shut.
struct TMount
{
    std::string MountPoint;
    std::string Root;   // the folder of the disc seen there: "/" but for a bind mount
    std::string Source; // the device as the mount names it
    std::string FsType;
    // Mounted where the desktop's disk service puts removable media (/media/USER/...,
    // /run/media/USER/...); false for a mount of the system's (fstab) or made by hand.
    bool ByDesktop = false;
};

// The mounts of the device numbered `device` in `mountinfo`, text as /proc/self/mountinfo has
// it, in the order they were made. Escaped characters (\040 for a space) are decoded.
std::vector<TMount> ParseMountInfo(const QByteArray& mountinfo, dev_t device);

// What of the block device at `device` (a link such as /dev/cdrom is followed) is mounted now in
// this process's view; empty when nothing is, or `device` is no block device.
std::vector<TMount> DeviceMounts(const std::string& device);

// The desktop's disk service (UDisks2 on the system bus), asked over D-Bus. Both calls wait for
// the answer, a password the service asks for included; false with the reason in words in
// `reason` when the service refuses, is absent or does not manage `device`.
//
// Unmounts one file system of `device`: the one the service mounted, else the first.
bool DesktopUnmount(const std::string& device, QString& reason);
// Ejects the disc from the drive holding `device`.
bool DesktopEject(const std::string& device, QString& reason);

} // namespace cdrip
