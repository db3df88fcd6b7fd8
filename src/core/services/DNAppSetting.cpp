#include "services/DNAppSetting.h"

#include "platform/AppPaths.h"
#include "services/DNSettingArchive.h"

using DNSettingArchive::restoreValue;

DNAppSetting::DNAppSetting()
    : m_videoOutputDirectory(AppPaths::moviesFolder())
    , m_snapshotDirectory(AppPaths::picturesFolder())
{ }

QVariantMap DNAppSetting::archive() const
{
    return {
        { QStringLiteral("videoOutputDirectory"), m_videoOutputDirectory },
        { QStringLiteral("snapshotDirectory"), m_snapshotDirectory },
    };
}

void DNAppSetting::restore(const QVariantMap& map)
{
    *this = DNAppSetting();
    restoreValue<QString>(map, QStringLiteral("videoOutputDirectory"),
        [this](const QString& v) { m_videoOutputDirectory = v; });
    restoreValue<QString>(map, QStringLiteral("snapshotDirectory"),
        [this](const QString& v) { m_snapshotDirectory = v; });
}
