#include "services/NXCameraRecorderSetting.h"

#include "services/DNScreenRecorderSetting.h"
#include "services/DNSettingArchive.h"

using DNSettingArchive::restoreValue;

namespace {

const QString kVolume = QStringLiteral("NXC_volume_preview");
const QString kAutoAdd = QStringLiteral("NXC_auto_add_list");
const QString kTargetPlace = QStringLiteral("NXC_default_target_place");
const QString kFinishAndOpen = QStringLiteral("NXC_finish_and_open");
const QString kFinishAndShow = QStringLiteral("NXC_finish_and_show_finder");

} // namespace

NXCameraRecorderSetting::NXCameraRecorderSetting()
    : m_defaultTargetPlace(DNScreenRecorderSetting::defaultRecordFolder())
{ }

QVariantMap NXCameraRecorderSetting::archive() const
{
    return {
        { kVolume, m_volume },
        { kAutoAdd, m_isAutoAdd2ConvertList },
        { kTargetPlace, m_defaultTargetPlace },
        { kFinishAndOpen, m_isFinishedOpenIt },
        { kFinishAndShow, m_isShowInFinder },
    };
}

void NXCameraRecorderSetting::restore(const QVariantMap& map)
{
    *this = NXCameraRecorderSetting();
    restoreValue<double>(map, kVolume, [this](double v) { m_volume = v; });
    restoreValue<bool>(map, kAutoAdd, [this](bool v) { m_isAutoAdd2ConvertList = v; });
    restoreValue<QString>(
        map, kTargetPlace, [this](const QString& v) { m_defaultTargetPlace = v; });
    restoreValue<bool>(map, kFinishAndOpen, [this](bool v) { m_isFinishedOpenIt = v; });
    restoreValue<bool>(map, kFinishAndShow, [this](bool v) { m_isShowInFinder = v; });
}
