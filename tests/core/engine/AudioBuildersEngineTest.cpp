// The audio builders' command lines run on the installed engine, outputs
// checked with ffprobe.
#include "core/engine/ProfileRunTest.h"
#include "engine/AVEncoder.h"
#include "engine/DNVideoConverter.h"
#include "services/DNAppSetting.h"
#include "services/DNSetting.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <string_view>

namespace {

// A 3 s clip: H.264 video, a 48 kHz stereo tone, so that every profile's rate
// and channel choice is a real conversion.
QString makeClip(const QString& folder)
{
    const QString path = folder + QStringLiteral("/clip.mp4");
    const bool made = runFfmpeg({ "-f", "lavfi", "-i", "testsrc=size=160x120:rate=25:duration=3",
        "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=48000:duration=3", "-ac", "2", "-c:v",
        "libx264", "-c:a", "aac", "-shortest", path });
    return made ? path : QString();
}

struct FormatRow {
    const char* profile;
    const char* formatName; // as ffprobe names the container
    const char* codec;
};

const FormatRow kFormats[] = {
    { "AAC Audio", "mov,mp4,m4a,3gp,3g2,mj2", "aac" },
    { "AC-3 Audio", "ac3", "ac3" },
    { "AIFF Audio", "aiff", "pcm_s16be" },
    { "Apple Lossless Audio", "mov,mp4,m4a,3gp,3g2,mj2", "alac" },
    { "Sun AU Audio", "au", "pcm_s16be" },
    { "CAF Audio", "caf", "pcm_s16be" },
    { "DTS Audio", "dts", "dts" },
    { "FLAC Audio", "flac", "flac" },
    { "M4R Ringtone", "mov,mp4,m4a,3gp,3g2,mj2", "aac" },
    { "MP3 Audio", "mp3", "mp3" },
    { "Ogg Vorbis Audio", "ogg", "vorbis" },
    { "RealAudio", "rm", "ac3" },
    { "WAV Audio", "wav", "pcm_s16le" },
    { "WMA Audio", "asf", "wmav2" },
};

const FormatRow& formatRow(std::string_view profile)
{
    for (const FormatRow& row : kFormats) {
        if (row.profile == profile)
            return row;
    }
    return kFormats[0];
}

class AudioBuildersEngine : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_folder = std::make_unique<QTemporaryDir>();
        s_clip = makeClip(s_folder->path());
    }
    static void TearDownTestSuite() { s_folder.reset(); }

    void SetUp() override
    {
        ASSERT_FALSE(s_clip.isEmpty()) << "the test clip could not be made";
        ASSERT_TRUE(m_output.isValid());
    }

    static std::shared_ptr<DNFileNode> clipNode(const std::shared_ptr<DNProfile>& profile)
    {
        auto node = DNFileNode::fileNodeWithFile(s_clip);
        if (node)
            node->setProfile(profile);
        return node;
    }

    // Builds with the profile's builder and runs the list; the output path,
    // empty when either step failed.
    static QString convert(
        const std::shared_ptr<DNFileNode>& node, const QString& folder, int* duration = nullptr)
    {
        const ArgumentBlockPtr block
            = buildWithProfileBuilder(node, configWithOutputFolder(folder));
        if (!block)
            return {};
        if (duration)
            *duration = block->duration;
        if (AVEncoderEncode(block->argc, block->argv.data(), block->duration) != 0)
            return {};
        return node->outputName();
    }

    static void expectAudioOnly(
        const MediaFacts& facts, const FormatRow& row, const DNProfile& profile, double seconds)
    {
        EXPECT_EQ(facts.formatName, row.formatName);
        EXPECT_EQ(facts.count("video"), 0);
        ASSERT_EQ(facts.count("audio"), 1);
        const StreamFacts audio = facts.stream("audio");
        EXPECT_EQ(audio.codecName, row.codec);
        EXPECT_EQ(audio.sampleRate, profile.audioSampleRate().currentValue().toInt());
        // A format without a channel choice keeps the source's two.
        const QString channels = profile.audioChannel().currentValue();
        EXPECT_EQ(audio.channels, channels.isEmpty() ? 2 : channels.toInt());
        EXPECT_NEAR(facts.duration, seconds, 0.1);
    }

    inline static std::unique_ptr<QTemporaryDir> s_folder;
    inline static QString s_clip;
    QTemporaryDir m_output;
};

TEST_F(AudioBuildersEngine, TrimmedLouderClipConvertsToEveryFormat)
{
    for (const FormatRow& row : kFormats) {
        SCOPED_TRACE(row.profile);
        const auto profile = shippedProfile(row.profile);
        ASSERT_NE(profile, nullptr);
        const auto node = clipNode(profile);
        ASSERT_NE(node, nullptr);
        node->setting().setTrimEnable(true);
        node->setting().setTrimStartPercent(0.34f); // from 1.02 s
        node->setting().setTrimEndPercent(1.0f); // to the end: 1.98 s, counted as 1 whole
        node->setting().setVolume(150);
        int duration = 0;
        const QString output = convert(node, m_output.path(), &duration);
        ASSERT_FALSE(output.isEmpty()) << qPrintable(AVEncoderLastCommand().join(' '));
        EXPECT_TRUE(output.endsWith("." + profile->fileNameSuffix()));
        EXPECT_EQ(duration, 1);
        const MediaFacts facts = MediaFacts::probe(output);
        ASSERT_TRUE(facts.ok) << qPrintable(facts.error);
        expectAudioOnly(facts, row, *profile, 1.98);
    }
}

TEST_F(AudioBuildersEngine, SecondSourceTrackIsTheOneConverted)
{
    // AIFF keeps the channels of the track it reads: the second one is mono.
    const auto node = DNFileNode::fileNodeWithFile(TestMedia::path(TestMedia::kTwoAudioAndText));
    ASSERT_NE(node, nullptr);
    const auto profile = shippedProfile("AIFF Audio");
    ASSERT_NE(profile, nullptr);
    node->setProfile(profile);
    node->setting().setAudioIndex(1);
    const QString output = convert(node, m_output.path());
    ASSERT_FALSE(output.isEmpty()) << qPrintable(AVEncoderLastCommand().join(' '));
    const MediaFacts facts = MediaFacts::probe(output);
    ASSERT_TRUE(facts.ok) << qPrintable(facts.error);
    EXPECT_EQ(facts.stream("audio").channels, 1);
}

TEST_F(AudioBuildersEngine, AddedAudioFileIsTheOneConverted)
{
    const QString dub = m_output.path() + QStringLiteral("/dub.wav");
    ASSERT_TRUE(
        runFfmpeg({ "-f", "lavfi", "-i", "sine=frequency=880:duration=5", "-ac", "1", dub }));
    const auto profile = shippedProfile("FLAC Audio");
    ASSERT_NE(profile, nullptr);
    profile->audioChannel().setCurrentValue("1");
    const auto node = clipNode(profile);
    ASSERT_NE(node, nullptr);
    node->addExtraAudio(dub);
    const QString output = convert(node, m_output.path());
    ASSERT_FALSE(output.isEmpty()) << qPrintable(AVEncoderLastCommand().join(' '));
    const MediaFacts facts = MediaFacts::probe(output);
    ASSERT_TRUE(facts.ok) << qPrintable(facts.error);
    // The added file is 5 s long, the source 3 s.
    expectAudioOnly(facts, formatRow("FLAC Audio"), *profile, 5.0);
}

void recordRun(const DNEngineRun& run, void* context)
{
    static_cast<std::vector<DNEngineRun>*>(context)->push_back(run);
}

// The driver converts each member alone into the temporary folder, then runs
// the group's list over the members' files, then deletes them.
TEST_F(AudioBuildersEngine, TwoMemberGroupJoinsIntoOneFileOfTheSummedLength)
{
    DNSetting::shareSetting().appSetting().setVideoOutputDirectory(m_output.path());
    std::vector<DNEngineRun> runs;
    DNVideoConverterSetRunObserver(&recordRun, &runs);
    // The group lists that differ most: no codec options, the filter first, a
    // container only on this path.
    for (const char* name : { "AIFF Audio", "MP3 Audio", "AAC Audio" }) {
        const FormatRow& row = formatRow(name);
        SCOPED_TRACE(row.profile);
        const auto profile = shippedProfile(row.profile);
        ASSERT_NE(profile, nullptr);
        const auto group = DNFileGroupNode::fileGroupNodeWithNodes({ clipNode({}), clipNode({}) });
        group->setProfile(profile);
        runs.clear();
        ASSERT_EQ(DNVideoConverterStart(group, 0, nullptr, nullptr), 0);
        ASSERT_EQ(runs.size(), 3U);
        for (const DNEngineRun& member : { runs[0], runs[1] })
            EXPECT_FALSE(QFile::exists(member.output)) << qPrintable(member.output);
        EXPECT_EQ(runs[2].output, group->outputName());
        const MediaFacts facts = MediaFacts::probe(group->outputName());
        ASSERT_TRUE(facts.ok) << qPrintable(facts.error);
        expectAudioOnly(facts, row, *profile, 6.0);
    }
    DNVideoConverterSetRunObserver(nullptr, nullptr);
}

} // namespace
