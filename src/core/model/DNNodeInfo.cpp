#include "model/DNNodeInfo.h"

#include "services/DNHelpers.h"

#include <QFileInfo>

DNNodeInfo DNNodeInfo::nodeInfoForFile(
    const QString& path, const QString& titleTag, const QString& performerTag)
{
    const QFileInfo file(path);
    DNNodeInfo info;
    info.displayName = titleTag.isEmpty() ? file.completeBaseName() : titleTag;
    info.outputName = file.fileName();
    info.genre = QStringLiteral("Video");
    info.artist = performerTag.isEmpty() ? DNApplicationName() : performerTag;
    return info;
}
