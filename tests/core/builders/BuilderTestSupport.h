#pragma once

// Profiles, options and builder runs for the tests of the command-line builders.

#include "core/profiles/ProfileTestSupport.h"
#include "engine/ArgvAssemblerTables.h"
#include "engine/EncodeConfig.h"
#include "model/DNFileGroupNode.h"
#include "platform/AppPaths.h"
#include "profiles/DNProfile.h"

#include <QString>

#include <memory>

// A profile the program ships, from resources/profiles/Video; null when it
// does not load.
inline std::shared_ptr<DNProfile> shippedProfile(const QString& name)
{
    QString error;
    return DNProfile::profileWithFile(AppPaths::resourcesFolder()
            + QStringLiteral("/profiles/Video/") + name + QStringLiteral(".plist"),
        DNProfileTypeVideo, error);
}

inline EncodeConfig configWithOutputFolder(const QString& folder)
{
    EncodeConfig config;
    setConfigPath(config.outputDir, folder);
    return config;
}

// Runs the builder a profile names, as the driver finds it.
inline ArgumentBlockPtr buildWithProfileBuilder(
    const std::shared_ptr<DNFileNode>& node, const EncodeConfig& config)
{
    const QByteArray name = node->profile()->argvAssembler().toUtf8();
    const ArgvAssembler builder = FindAVEncoderAssembler(name.constData());
    if (!builder)
        return nullptr;
    return builder(node, 0, config);
}
