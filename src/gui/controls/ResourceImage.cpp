#include "controls/ResourceImage.h"

#include "platform/AppPaths.h"

#include <QDir>

QPixmap resourceImage(const QString& name)
{
    return QPixmap(QDir(AppPaths::resourcesFolder()).filePath(QStringLiteral("images/") + name));
}
