#include "services/NXVideoDownloadSetting.h"

#include "platform/AppPaths.h"
#include "services/DNSettingArchive.h"

using DNSettingArchive::restoreValue;

namespace {

// One table of keys, so that writing and reading cannot drift apart.
const QString kFavFormat = QStringLiteral("favFormat");
const QString kFavResolution = QStringLiteral("favResolution");
const QString kDownloadTarget = QStringLiteral("downloadTarget");
const QString kProxyAddress = QStringLiteral("proxyAddress");
const QString kProxyPort = QStringLiteral("proxyPort");
const QString kVolume = QStringLiteral("volume");
const QString kFinishedOpenTarget = QStringLiteral("isFinishedOpenTarget");
const QString kFinishedShutdown = QStringLiteral("isFinishedShutdown");
const QString kSpeedLimited = QStringLiteral("isSpeedLimited");
const QString kProxyEnabled = QStringLiteral("isProxyEnabled");
const QString kAdd2ListOrCopy2iTunes = QStringLiteral("isAdd2ListOrCopy2iTunes");
const QString kDonotShowQuitWarningAgain = QStringLiteral("donotShowQuitWarningAgain");

} // namespace

NXVideoDownloadSetting::NXVideoDownloadSetting()
{
    setDefaults();
}

void NXVideoDownloadSetting::resetToDefaults()
{
    const QString before = m_downloadTarget;
    setDefaults();
    announceTarget(before);
}

void NXVideoDownloadSetting::announceTarget(const QString& before)
{
    if (m_downloadTarget != before)
        emit downloadTargetChanged(m_downloadTarget);
}

void NXVideoDownloadSetting::setDefaults()
{
    m_favFormat = QStringLiteral("mp4");
    m_favResolution = QStringLiteral("480P");
    m_downloadTarget = AppPaths::moviesFolder() + QStringLiteral("/Quillon");
    m_proxyAddress.clear();
    m_proxyPort = QStringLiteral("8080");
    m_volume = 20.0;
    m_isFinishedOpenTarget = true;
    m_isFinishedShutdown = false;
    m_isSpeedLimited = false;
    m_isProxyEnabled = false;
    m_isAdd2ListOrCopy2iTunes = false;
    m_donotShowQuitWarningAgain = false;
}

void NXVideoDownloadSetting::setDownloadTarget(const QString& folder)
{
    if (folder == m_downloadTarget)
        return;
    m_downloadTarget = folder;
    emit downloadTargetChanged(folder);
}

QVariantMap NXVideoDownloadSetting::archive() const
{
    return {
        { kFavFormat, m_favFormat },
        { kFavResolution, m_favResolution },
        { kDownloadTarget, m_downloadTarget },
        { kProxyAddress, m_proxyAddress },
        { kProxyPort, m_proxyPort },
        { kVolume, m_volume },
        { kFinishedOpenTarget, m_isFinishedOpenTarget },
        { kFinishedShutdown, m_isFinishedShutdown },
        { kSpeedLimited, m_isSpeedLimited },
        { kProxyEnabled, m_isProxyEnabled },
        { kAdd2ListOrCopy2iTunes, m_isAdd2ListOrCopy2iTunes },
        { kDonotShowQuitWarningAgain, m_donotShowQuitWarningAgain },
    };
}

void NXVideoDownloadSetting::restore(const QVariantMap& map)
{
    const QString before = m_downloadTarget;
    setDefaults();
    restoreValue<QString>(map, kFavFormat, [this](const QString& v) { m_favFormat = v; });
    restoreValue<QString>(map, kFavResolution, [this](const QString& v) { m_favResolution = v; });
    restoreValue<QString>(map, kDownloadTarget, [this](const QString& v) { m_downloadTarget = v; });
    restoreValue<QString>(map, kProxyAddress, [this](const QString& v) { m_proxyAddress = v; });
    restoreValue<QString>(map, kProxyPort, [this](const QString& v) { m_proxyPort = v; });
    restoreValue<double>(map, kVolume, [this](double v) { m_volume = v; });
    restoreValue<bool>(map, kFinishedOpenTarget, [this](bool v) { m_isFinishedOpenTarget = v; });
    restoreValue<bool>(map, kFinishedShutdown, [this](bool v) { m_isFinishedShutdown = v; });
    restoreValue<bool>(map, kSpeedLimited, [this](bool v) { m_isSpeedLimited = v; });
    restoreValue<bool>(map, kProxyEnabled, [this](bool v) { m_isProxyEnabled = v; });
    restoreValue<bool>(
        map, kAdd2ListOrCopy2iTunes, [this](bool v) { m_isAdd2ListOrCopy2iTunes = v; });
    restoreValue<bool>(
        map, kDonotShowQuitWarningAgain, [this](bool v) { m_donotShowQuitWarningAgain = v; });
    announceTarget(before);
}
