#pragma once

// Nodes and profiles for the tests of the video builders: a file node made by
// hand (no probe), with a profile written from a plain map.

#include "core/profiles/ProfileTestSupport.h"
#include "engine/ArgumentBlock.h"
#include "engine/ArgvAssemblerTables.h"
#include "engine/EncodeConfig.h"
#include "model/DNFileNode.h"
#include "profiles/DNProfile.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

inline QVariantMap choice(const QString& value)
{
    return QVariantMap { { "DefaultValue", value } };
}

// A bitrate choice with its ceiling and rate-control model.
inline QVariantMap qualityChoice(
    const char* model, const char* bitrate = "1500", int ceiling = 2000)
{
    QVariantMap quality = choice(bitrate);
    quality["MaxVideoBitrate"] = ceiling;
    quality["BitrateModel"] = model;
    return quality;
}

// A complete video profile; `overrides` replace or add root keys.
inline QVariantMap videoProfileMap(const QVariantMap& overrides = {})
{
    QVariantMap map {
        { "ProfileName", "Test" },
        { "Category", "Tests" },
        { "GlobalID", 9001 },
        { "ArgvAssembler", "Video_To_MKV_With_AVEncoder" },
        { "FileNameSuffix", "mkv" },
        { "FileFormat", "matroska" },
        { "QualityPhase", 1 },
        { "VideoCodec", choice("libx264") },
        { "VideoQuality", qualityChoice("CBR") },
        { "VideoFrameRate", choice("keep origin") },
        { "VideoResolution", choice("keep origin") },
        { "VideoAspect", choice("keep origin") },
        { "AudioCodec", choice("aac") },
        { "AudioQuality", choice("128") },
        { "AudioSampleRate", choice("44100") },
        { "AudioChannel", choice("2") },
    };
    for (auto it = overrides.begin(); it != overrides.end(); ++it)
        map[it.key()] = it.value();
    return map;
}

inline std::shared_ptr<DNProfile> videoProfile(const QVariantMap& overrides = {})
{
    QTemporaryDir dir;
    const QString path = dir.filePath("profile.plist");
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return nullptr;
    file.write(plistBytes(videoProfileMap(overrides), PlistForm::Xml));
    file.close();
    QString error;
    auto profile = DNProfile::profileWithFile(path, DNProfileTypeVideo, error);
    EXPECT_NE(profile, nullptr) << qPrintable(error);
    return profile;
}

// A file of 120 s at 25 fps with one video and one audio stream, whose
// stream lists agree, converting into `folder`.
inline std::shared_ptr<DNFileNode> videoNode(std::shared_ptr<DNProfile> profile)
{
    auto node = std::make_shared<DNFileNode>(QStringLiteral("/media/my clip.mp4"));
    node->setFileFormat(QStringLiteral("MPEG-4"));
    node->setSameStreams(true);
    DNTVideo video;
    video.duration = 120.0f;
    video.fps = 25.0f;
    video.codec = QStringLiteral("avc1");
    video.vid = 1;
    video.width = 640;
    video.height = 360;
    node->setVideoTracks({ video });
    DNTAudio audio;
    audio.aid = 2;
    node->setAudioTracks({ audio });
    DNNodeInfo info;
    info.outputName = QStringLiteral("my clip.mp4");
    node->setNodeInfo(info);
    node->setProfile(std::move(profile));
    return node;
}

// The arguments joined by blanks, for order checks on a few neighbours.
inline QString lineOf(const ArgumentBlockPtr& block)
{
    return block ? block->arguments().join(QLatin1Char(' ')) : QString();
}

// A hand-made node with a written profile, converting into a folder of its own.
class VideoBuilderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(setConfigPath(config.outputDir, dir.path()));
        useProfile({});
    }

    void useProfile(const QVariantMap& overrides)
    {
        node = videoNode(videoProfile(overrides));
        ASSERT_NE(node->profile(), nullptr);
    }

    QString line(ArgvAssembler builder) { return lineOf(builder(node, 0, config)); }

    QTemporaryDir dir;
    EncodeConfig config;
    std::shared_ptr<DNFileNode> node;
};
