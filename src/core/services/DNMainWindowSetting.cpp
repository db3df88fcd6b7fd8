#include "services/DNMainWindowSetting.h"

#include "services/DNSettingArchive.h"

#include <QThread>

using DNSettingArchive::restoreValue;

DNMainWindowSetting::DNMainWindowSetting()
    : m_cpuCore(QThread::idealThreadCount())
{ }

QVariantMap DNMainWindowSetting::archive() const
{
    return {
        { QStringLiteral("deinterlacing"), m_deinterlacing },
        { QStringLiteral("safemode"), m_safemode },
        { QStringLiteral("highQuality"), m_highQuality },
        { QStringLiteral("cpuCore"), m_cpuCore },
    };
}

void DNMainWindowSetting::restore(const QVariantMap& map)
{
    *this = DNMainWindowSetting();
    restoreValue<bool>(
        map, QStringLiteral("deinterlacing"), [this](bool v) { m_deinterlacing = v; });
    restoreValue<bool>(map, QStringLiteral("safemode"), [this](bool v) { m_safemode = v; });
    restoreValue<bool>(map, QStringLiteral("highQuality"), [this](bool v) { m_highQuality = v; });
    // A stored count below one thread would stop every conversion.
    restoreValue<qint32>(map, QStringLiteral("cpuCore"), [this](qint32 v) {
        if (v > 0)
            m_cpuCore = v;
    });
}
