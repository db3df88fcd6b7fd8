#include "services/DNScreenRecorderSetting.h"

#include "platform/AppPaths.h"
#include "platform/DNLogger.h"
#include "services/DNSettingArchive.h"

#include <QDir>
#include <QFileInfo>

using DNSettingArchive::restoreValue;

namespace {

const QString kSessionPresetIndex = QStringLiteral("sessionPresetIndex");
const QString kMaxFramerate = QStringLiteral("maxFramerate");
const QString kCountDown = QStringLiteral("countDown");
const QString kTargetFolder = QStringLiteral("targetFolder");
const QString kCaptureMouse = QStringLiteral("captureMouse");
const QString kOpenRecordMovie = QStringLiteral("openRecordMovie");
const QString kAddToConvertList = QStringLiteral("addToConvertList");

bool makeRecordFolder()
{
    const QString folder = DNScreenRecorderSetting::defaultRecordFolder();
    if (QFileInfo(folder).isDir() || QDir().mkpath(folder))
        return true;
    DNLog(QStringLiteral("Cannot create the recordings folder \"%1\".").arg(folder));
    return false;
}

} // namespace

QString DNScreenRecorderSetting::defaultRecordFolder()
{
    return AppPaths::moviesFolder() + QStringLiteral("/Record");
}

DNScreenRecorderSetting::DNScreenRecorderSetting()
    : m_targetFolder(defaultRecordFolder())
{
    static const bool made = makeRecordFolder();
    Q_UNUSED(made);
}

QVariantMap DNScreenRecorderSetting::archive() const
{
    return {
        { kSessionPresetIndex, m_sessionPresetIndex },
        { kMaxFramerate, m_maxFramerate },
        { kCountDown, m_countDown },
        { kTargetFolder, m_targetFolder },
        { kCaptureMouse, m_captureMouse },
        { kOpenRecordMovie, m_openRecordMovie },
        { kAddToConvertList, m_addToConvertList },
    };
}

void DNScreenRecorderSetting::restore(const QVariantMap& map)
{
    *this = DNScreenRecorderSetting();
    restoreValue<quint64>(
        map, kSessionPresetIndex, [this](quint64 v) { m_sessionPresetIndex = v; });
    restoreValue<quint64>(map, kMaxFramerate, [this](quint64 v) { m_maxFramerate = v; });
    restoreValue<quint64>(map, kCountDown, [this](quint64 v) { m_countDown = v; });
    restoreValue<QString>(map, kTargetFolder, [this](const QString& v) { m_targetFolder = v; });
    restoreValue<bool>(map, kCaptureMouse, [this](bool v) { m_captureMouse = v; });
    restoreValue<bool>(map, kOpenRecordMovie, [this](bool v) { m_openRecordMovie = v; });
    restoreValue<bool>(map, kAddToConvertList, [this](bool v) { m_addToConvertList = v; });
}
