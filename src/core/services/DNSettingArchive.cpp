#include "services/DNSettingArchive.h"

#include "platform/DNLogger.h"

void DNSettingArchive::logWrongType(const QString& key, const QVariant& value)
{
    DNLog(QStringLiteral("Setting \"%1\" has an unexpected type (%2); its default is kept.")
              .arg(key, QString::fromLatin1(value.typeName())));
}
