#include "model/NXDVDSourceInfo.h"

#include <QFileInfo>

NXDVDSourceInfo NXDVDSourceInfo::sourceInfoWithPath(const QString& path)
{
    NXDVDSourceInfo source;
    source.path = path;
    if (QFileInfo(path).suffix().compare(QLatin1String("iso"), Qt::CaseInsensitive) == 0) {
        source.sourceType = kImage;
    } else if (path.startsWith(QLatin1String("/dev/"))) {
        // A disc is read through its device; where it is mounted, if at all,
        // does not matter to the reader or the engines.
        source.sourceType = kDrive;
        source.devicePath = path;
    }
    return source;
}
