#include "engine/EncodeConfig.h"

#include "platform/AppPaths.h"
#include "platform/DNLogger.h"
#include "services/DNAppSetting.h"
#include "services/DNMainWindowSetting.h"

#include <cstring>

EncodeConfig makeEncodeConfig(const DNMainWindowSetting& engine, const DNAppSetting& app)
{
    EncodeConfig config;
    config.dvdNav = !engine.safemode();
    config.deinterlace = engine.deinterlacing();
    config.avSyncFix = engine.safemode() && !engine.highQuality();
    config.safeMode = engine.safemode();
    config.highQuality = engine.highQuality();
    config.cpuCore = engine.cpuCore();
    if (!setConfigPath(config.outputDir, app.videoOutputDirectory())) {
        DNLog(QStringLiteral(
            "Warrning: the output path is too long to use for encoder, So replace it "
            "with home directory."));
        setConfigPath(config.outputDir, AppPaths::homeFolder());
    }
    return config;
}

bool setConfigPath(char (&field)[MaxCharLength], const QString& path)
{
    const QByteArray bytes = path.toUtf8();
    std::memset(field, 0, sizeof field);
    if (bytes.size() >= MaxCharLength)
        return false;
    std::memcpy(field, bytes.constData(), std::size_t(bytes.size()));
    return true;
}

QString configPath(const char (&field)[MaxCharLength])
{
    return QString::fromUtf8(field, qsizetype(strnlen(field, sizeof field)));
}
