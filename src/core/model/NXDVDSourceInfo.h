#pragma once

#include <QString>

// Where a DVD source comes from.
struct NXDVDSourceInfo {
    static constexpr qint32 kDrive = 1;
    static constexpr qint32 kFolder = 2; // a VIDEO_TS folder or the folder above it
    static constexpr qint32 kImage = 3; // an ISO image

    qint32 sourceType = kFolder;
    QString devicePath; // the drive's device ("/dev/sr0"); used for a drive only
    QString path; // the mount point of a drive, the folder or the image

    bool operator==(const NXDVDSourceInfo&) const = default;

    // An image for the extension "iso" in any case, a drive for a device
    // under /dev, else a folder.
    static NXDVDSourceInfo sourceInfoWithPath(const QString& path);

    // What the reader and the engines open: the device for a drive, else the path.
    QString playbackPath() const { return sourceType == kDrive ? devicePath : path; }
};
