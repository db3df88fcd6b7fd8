// The command lines of the audio builders, compared word for word.
#include "core/builders/BuilderTestSupport.h"

#include <QHash>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

namespace {

const QString kSource = QStringLiteral("/media/clip one.mkv");
const QString kMember0 = QStringLiteral("/tmp/member 0.out");
const QString kMember1 = QStringLiteral("/tmp/member 1.out");

DNNodeInfo fullInfo()
{
    DNNodeInfo info;
    info.displayName = QStringLiteral("Song");
    info.artist = QStringLiteral("Band");
    info.genre = QStringLiteral("Video");
    info.outputName = QStringLiteral("clip one.mkv");
    return info;
}

// The profile with the same choices in every format, where it has them.
std::shared_ptr<DNProfile> profileWithChoices(const QString& name)
{
    auto profile = shippedProfile(name);
    if (!profile)
        return nullptr;
    profile->audioQuality().setCurrentValue(QStringLiteral("128"));
    profile->audioSampleRate().setCurrentValue(QStringLiteral("44100"));
    profile->audioChannel().setCurrentValue(QStringLiteral("2"));
    return profile;
}

DNTAudio audioTrack(float seconds)
{
    DNTAudio track;
    track.duration = seconds;
    return track;
}

// A source with a video track of `seconds` and two audio streams.
std::shared_ptr<DNFileNode> sourceNode(const std::shared_ptr<DNProfile>& profile, float seconds)
{
    auto node = std::make_shared<DNFileNode>(kSource);
    DNTVideo video;
    video.duration = seconds;
    node->setVideoTracks({ video });
    node->setAudioTracks({ audioTrack(seconds), audioTrack(seconds) });
    node->setProfile(profile);
    node->setNodeInfo(fullInfo());
    return node;
}

std::shared_ptr<DNFileNode> convertedMember(const QString& output, float audioSeconds)
{
    auto member = std::make_shared<DNFileNode>(QStringLiteral("/media/source.mp4"));
    member->setVideoTracks({ DNTVideo {} });
    member->setAudioTracks({ audioTrack(audioSeconds) });
    member->setOutputName(output);
    return member;
}

std::shared_ptr<DNFileGroupNode> groupOf(
    const std::vector<NXBasicMediaNode::Ptr>& members, const std::shared_ptr<DNProfile>& profile)
{
    auto group = DNFileGroupNode::fileGroupNodeWithNodes(members);
    group->setProfile(profile);
    group->setNodeInfo(fullInfo());
    return group;
}

// Spells out a list written with blanks between its words; placeholders stand
// for the words that hold blanks themselves.
QStringList expand(const char* words, const QString& output)
{
    const QHash<QString, QStringList> placeholders {
        { "SRC", { kSource } },
        { "OUT", { output } },
        { "M0", { kMember0 } },
        { "M1", { kMember1 } },
        { "CONCAT", { "[0:0] [1:0] concat=n=2:v=0:a=1" } },
        { "META",
            { "-metadata", "title=Song", "-metadata", "artist=Band", "-metadata", "genre=Video" } },
    };
    QStringList list;
    for (const QString& word : QString::fromLatin1(words).split(' '))
        list << placeholders.value(word, { word });
    return list;
}

class AudioBuilders : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_folder.isValid()); }
    EncodeConfig config() const { return configWithOutputFolder(m_folder.path()); }
    QString outputFor(const QString& suffix) const
    {
        return m_folder.path() + QStringLiteral("/clip one.") + suffix;
    }

    QTemporaryDir m_folder;
};

struct FormatRow {
    const char* profile;
    const char* single;
    const char* group;
};

const FormatRow kFormats[] = {
    { "AAC Audio",
        "encoder -d -y -i SRC -vn -sn -c:a libfaac -b:a 128k -ar 44100 -ac 2 META -map 0:a:1 OUT",
        "encoder -d -y -i M0 -i M1 -c:a libfaac -b:a 128k -ar 44100 -ac 2 -filter_complex CONCAT "
        "META -f mp4 OUT" },
    { "AC-3 Audio",
        "encoder -d -y -i SRC -vn -sn -c:a ac3 -b:a 128k -ar 44100 -ac 2 META -map 0:a:1 -f ac3 "
        "OUT",
        "encoder -d -y -i M0 -i M1 -c:a ac3 -b:a 128k -ar 44100 -ac 2 -filter_complex CONCAT META "
        "-f ac3 OUT" },
    { "AIFF Audio", "encoder -d -y -i SRC -vn -sn -ar 44100 META -map 0:a:1 -f aiff OUT",
        "encoder -d -y -i M0 -i M1 -filter_complex CONCAT META -f aiff OUT" },
    { "Apple Lossless Audio",
        "encoder -d -y -i SRC -vn -sn -c:a alac -ar 44100 -ac 2 META -map 0:a:1 OUT",
        "encoder -d -y -i M0 -i M1 -c:a alac -ar 44100 -ac 2 -filter_complex CONCAT META OUT" },
    { "Sun AU Audio", "encoder -d -y -i SRC -vn -sn -ar 44100 -ac 2 META -map 0:a:1 OUT",
        "encoder -d -y -i M0 -i M1 -ar 44100 -ac 2 -filter_complex CONCAT META OUT" },
    { "CAF Audio",
        "encoder -d -y -i SRC -vn -sn -b:a 128k -ar 44100 -ac 2 META -map 0:a:1 -f caf OUT",
        "encoder -d -y -i M0 -i M1 -b:a 128k -ar 44100 -ac 2 -filter_complex CONCAT META -f caf "
        "OUT" },
    { "DTS Audio",
        "encoder -d -y -i SRC -vn -sn -c:a dts -ar 44100 -ac 2 -strict -2 META -map 0:a:1 -f dts "
        "OUT",
        "encoder -d -y -i M0 -i M1 -c:a dts -ar 44100 -ac 2 -strict -2 -filter_complex CONCAT META "
        "-f dts OUT" },
    { "FLAC Audio",
        "encoder -d -y -i SRC -vn -sn -c:a flac -ar 44100 -ac 2 META -map 0:a:1 -f flac OUT",
        "encoder -d -y -i M0 -i M1 -c:a flac -ar 44100 -ac 2 -filter_complex CONCAT META -f flac "
        "OUT" },
    { "M4R Ringtone",
        "encoder -d -y -i SRC -vn -sn -c:a libfaac -b:a 128k -ar 44100 -ac 2 META -map 0:a:1 -f "
        "mp4 OUT",
        "encoder -d -y -i M0 -i M1 -c:a libfaac -b:a 128k -ar 44100 -ac 2 -filter_complex CONCAT "
        "META -f mp4 OUT" },
    { "MP3 Audio",
        "encoder -d -y -i SRC -vn -sn -c:a libmp3lame -b:a 128k -ar 44100 -ac 2 META -map 0:a:1 "
        "-f mp3 OUT",
        "encoder -d -y -i M0 -i M1 -filter_complex CONCAT -c:a libmp3lame -b:a 128k -ar 44100 -ac "
        "2 META -f mp3 OUT" },
    { "Ogg Vorbis Audio",
        "encoder -d -y -i SRC -vn -sn -c:a libvorbis -b:a 128k -ar 44100 -ac 2 -aq 3 META -map "
        "0:a:1 OUT",
        "encoder -d -y -i M0 -i M1 -c:a libvorbis -b:a 128k -ar 44100 -ac 2 -aq 3 -filter_complex "
        "CONCAT META OUT" },
    { "RealAudio",
        "encoder -d -y -i SRC -vn -sn -c:a ac3 -b:a 128k -ar 44100 -ac 2 META -map 0:a:1 -f rm OUT",
        "encoder -d -y -i M0 -i M1 -c:a ac3 -b:a 128k -ar 44100 -ac 2 -filter_complex CONCAT META "
        "-f rm OUT" },
    { "WAV Audio", "encoder -d -y -i SRC -vn -sn -ar 44100 -ac 2 META -map 0:a:1 -f wav OUT",
        "encoder -d -y -i M0 -i M1 -ar 44100 -ac 2 -filter_complex CONCAT META -f wav OUT" },
    { "WMA Audio",
        "encoder -d -y -i SRC -vn -sn -c:a wmav2 -b:a 128k -ar 44100 -ac 2 META -map 0:a:1 OUT",
        "encoder -d -y -i M0 -i M1 -c:a wmav2 -b:a 128k -ar 44100 -ac 2 -filter_complex CONCAT "
        "META OUT" },
};

TEST_F(AudioBuilders, EveryFormatWritesItsSingleAndGroupLists)
{
    for (const FormatRow& row : kFormats) {
        SCOPED_TRACE(row.profile);
        const auto profile = profileWithChoices(row.profile);
        ASSERT_NE(profile, nullptr);
        const QString output = outputFor(profile->fileNameSuffix());

        const auto node = sourceNode(profile, 101.5f);
        node->setting().setAudioIndex(1);
        const ArgumentBlockPtr single = buildWithProfileBuilder(node, config());
        ASSERT_NE(single, nullptr);
        EXPECT_EQ(single->arguments(), expand(row.single, output));
        EXPECT_EQ(single->duration, 101);
        EXPECT_EQ(node->outputName(), output);

        // The group's own edits have no say in the joined output.
        const auto group = groupOf(
            { convertedMember(kMember0, 30.0f), convertedMember(kMember1, 40.0f) }, profile);
        group->setting().setTrimEnable(true);
        group->setting().setTrimEndPercent(0.5f);
        group->setting().setVolume(150);
        const ArgumentBlockPtr joined = buildWithProfileBuilder(group, config());
        ASSERT_NE(joined, nullptr);
        EXPECT_EQ(joined->arguments(), expand(row.group, output));
        EXPECT_EQ(joined->duration, 70);
        EXPECT_EQ(group->outputName(), output);
    }
}

TEST_F(AudioBuilders, TrimAndHeaderDuration)
{
    struct Row {
        const char* name;
        float length;
        bool enabled;
        float start;
        float end;
        qint32 subtitle;
        const char* trim; // the words between "-y" and "-i"
        int duration;
        // A trim that leaves nothing to convert: the build is refused for this reason.
        const char* refusal = nullptr;
    };
    const Row rows[] = {
        { "middle_half", 101.0f, true, 0.25f, 0.75f, -1, "-ss 25.25 -t 50.5", 50 },
        { "with_a_subtitle_chosen", 101.0f, true, 0.25f, 0.75f, 0, "-ss 25.25 -t 50.5", 50 },
        { "track_without_length", 0.0f, true, 0.25f, 0.75f, -1, "", 0 },
        { "switched_off", 59.9f, false, 0.25f, 0.75f, -1, "", 59 },
        { "end_at_start", 101.0f, true, 0.5f, 0.5f, -1, "", 101,
            "the trim from 50.5 s to 50.5 s keeps 0 s" },
        { "end_before_start", 101.0f, true, 0.75f, 0.25f, -1, "", 101,
            "the trim from 75.75 s to 25.25 s keeps 0 s" },
        { "less_than_a_second_kept", 101.0f, true, 0.5f, 0.505f, -1, "", 101,
            "the trim from 50.5 s to 51.005 s keeps 0.505 s of the 101 s source" },
    };
    const auto profile = profileWithChoices("AAC Audio");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const auto node = sourceNode(profile, row.length);
        node->setSubtitleTracks({ DNTSubtitle {} });
        node->setting().setSubtitleIndex(row.subtitle);
        node->setting().setTrimEnable(row.enabled);
        node->setting().setTrimStartPercent(row.start);
        node->setting().setTrimEndPercent(row.end);
        takeBuildRefusal();
        const ArgumentBlockPtr block = buildWithProfileBuilder(node, config());
        if (row.refusal) {
            EXPECT_EQ(block, nullptr);
            EXPECT_TRUE(takeBuildRefusal().startsWith(row.refusal));
            continue;
        }
        ASSERT_NE(block, nullptr);
        const QStringList arguments = block->arguments();
        const qsizetype input = arguments.indexOf("-i");
        const QString trim = arguments.mid(3, input - 3).join(' ');
        EXPECT_EQ(trim, QString::fromLatin1(row.trim));
        EXPECT_EQ(block->duration, row.duration);
    }
}

TEST_F(AudioBuilders, VolumeMetadataAndTrackChoice)
{
    struct Row {
        const char* name;
        std::function<void(DNFileNode&)> edit;
        const char* words; // what follows "-ac 2" up to the output path; null: refused
    };
    const Row rows[] = {
        { "volume_raised", [](DNFileNode& n) { n.setting().setVolume(150); },
            "-af volume=1.50[audio] META -map 0:a:0" },
        { "no_artist",
            [](DNFileNode& n) {
                DNNodeInfo info = n.nodeInfo();
                info.artist.reset();
                n.setNodeInfo(info);
            },
            "-metadata title=Song -metadata genre=Video -map 0:a:0" },
        { "empty_artist_and_no_title",
            [](DNFileNode& n) {
                DNNodeInfo info = n.nodeInfo();
                info.artist = QString();
                info.displayName.reset();
                n.setNodeInfo(info);
            },
            "-metadata artist= -metadata genre=Video -map 0:a:0" },
        { "no_audio_track", [](DNFileNode& n) { n.setting().setAudioIndex(-1); }, "META -an" },
        // A map ffmpeg cannot satisfy is refused before it runs.
        { "audio_choice_past_the_list", [](DNFileNode& n) { n.setting().setAudioIndex(2); },
            nullptr },
    };
    const auto profile = profileWithChoices("AAC Audio");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const auto node = sourceNode(profile, 10.0f);
        row.edit(*node);
        const ArgumentBlockPtr block = buildWithProfileBuilder(node, config());
        ASSERT_EQ(block == nullptr, row.words == nullptr);
        if (!block)
            continue;
        const QStringList arguments = block->arguments();
        const qsizetype after = arguments.indexOf("-ac") + 2;
        EXPECT_EQ(arguments.mid(after, arguments.size() - after - 1),
            expand(row.words, outputFor("m4a")));
    }
}

TEST_F(AudioBuilders, AddedAudioFileIsAnInputOfItsOwnAndTrimmedLikeTheSource)
{
    const auto node = sourceNode(profileWithChoices("WAV Audio"), 101.0f);
    node->addExtraAudio(QStringLiteral("/media/dub.wav"));
    node->setting().setTrimEnable(true);
    node->setting().setTrimStartPercent(0.25f);
    node->setting().setTrimEndPercent(0.75f);
    const ArgumentBlockPtr block = buildWithProfileBuilder(node, config());
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block->arguments(),
        QStringList({ "encoder", "-d", "-y", "-ss", "25.25", "-t", "50.5", "-i", kSource, "-ss",
            "25.25", "-t", "50.5", "-i", "/media/dub.wav", "-vn", "-sn", "-ar", "44100", "-ac", "2",
            "-metadata", "title=Song", "-metadata", "artist=Band", "-metadata", "genre=Video",
            "-map", "1:a:0", "-f", "wav", outputFor("wav") }));
}

TEST_F(AudioBuilders, MissingProfileValueRefusesAndNamesTheKey)
{
    struct Row {
        const char* profile;
        NXProfileInfoBase& (*drop)(DNProfile&);
        const char* key;
        bool group;
        bool refused;
    };
    const auto quality = +[](DNProfile& p) -> NXProfileInfoBase& { return p.audioQuality(); };
    const auto rate = +[](DNProfile& p) -> NXProfileInfoBase& { return p.audioSampleRate(); };
    const auto channels = +[](DNProfile& p) -> NXProfileInfoBase& { return p.audioChannel(); };
    const Row rows[] = {
        { "MP3 Audio", quality, "AudioQuality", false, true },
        { "MP3 Audio", quality, "AudioQuality", true, true },
        { "WAV Audio", rate, "AudioSampleRate", false, true },
        { "FLAC Audio", channels, "AudioChannel", true, true },
        // Values a format does not write are not needed.
        { "FLAC Audio", quality, "AudioQuality", false, false },
        { "AIFF Audio", channels, "AudioChannel", false, false },
        { "AIFF Audio", rate, "AudioSampleRate", true, false },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.profile) + " without " + row.key);
        auto profile = profileWithChoices(row.profile);
        ASSERT_NE(profile, nullptr);
        row.drop(*profile) = NXProfileInfoBase {};
        std::shared_ptr<DNFileNode> node = sourceNode(profile, 10.0f);
        if (row.group)
            node = groupOf({ convertedMember(kMember0, 5.0f) }, profile);
        const qsizetype logBefore = sharedLogText().size();
        const ArgumentBlockPtr block = buildWithProfileBuilder(node, config());
        EXPECT_EQ(block == nullptr, row.refused);
        const QString log = sharedLogText().mid(logBefore);
        EXPECT_EQ(log.contains(QStringLiteral("\"%1\"").arg(row.key)), row.refused)
            << qPrintable(log);
        if (row.refused) {
            EXPECT_TRUE(node->outputName().isEmpty());
        }
    }
}

TEST_F(AudioBuilders, GroupLengthsAndRefusals)
{
    using Fault = void (*)(DNFileNode&);
    struct Row {
        const char* name;
        std::vector<float> lengths; // of the members' selected audio tracks
        Fault lastMember; // what is wrong with the last member, if anything
        int duration; // -1: refused
        const char* filter;
    };
    const Row rows[] = {
        { "one_member", { 12.0f }, nullptr, 12, "[0:0] concat=n=1:v=0:a=1" },
        { "truncated_at_every_member", { 10.7f, 10.7f }, nullptr, 20,
            "[0:0] [1:0] concat=n=2:v=0:a=1" },
        { "no_members", {}, nullptr, 0, "concat=n=0:v=0:a=1" },
        { "member_without_audio", { 10.0f, 10.0f }, [](DNFileNode& m) { m.setAudioTracks({}); }, -1,
            "" },
        { "member_without_audio_chosen", { 10.0f, 10.0f },
            [](DNFileNode& m) { m.setting().setAudioIndex(-1); }, -1, "" },
        { "audio_choice_past_the_list", { 10.0f, 10.0f },
            [](DNFileNode& m) { m.setting().setAudioIndex(1); }, -1, "" },
        { "member_not_converted", { 10.0f }, [](DNFileNode& m) { m.setOutputName(QString()); }, -1,
            "" },
    };
    const auto profile = profileWithChoices("AAC Audio");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<NXBasicMediaNode::Ptr> members;
        std::shared_ptr<DNFileNode> last;
        for (const float length : row.lengths) {
            last = convertedMember(kMember0, length);
            members.push_back(last);
        }
        if (row.lastMember)
            row.lastMember(*last);
        const auto group = groupOf(members, profile);
        const ArgumentBlockPtr block = buildWithProfileBuilder(group, config());
        ASSERT_EQ(block == nullptr, row.duration < 0);
        if (!block) {
            EXPECT_TRUE(group->outputName().isEmpty());
            continue;
        }
        const QStringList arguments = block->arguments();
        EXPECT_EQ(arguments.value(arguments.indexOf("-filter_complex") + 1), row.filter);
        EXPECT_EQ(block->duration, row.duration);
    }
}

TEST_F(AudioBuilders, LargeGroupsStopAtTheArgumentLimit)
{
    struct Row {
        const char* profile;
        bool metadata;
        int members;
        bool fits;
    };
    const Row rows[] = {
        { "AAC Audio", true, 52, true },
        { "AAC Audio", true, 53, false },
        { "AAC Audio", false, 55, true },
        { "AAC Audio", false, 56, false },
        { "AIFF Audio", false, 59, true },
        { "AIFF Audio", false, 60, false },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.profile) + " of " + std::to_string(row.members));
        std::vector<NXBasicMediaNode::Ptr> members;
        for (int i = 0; i < row.members; ++i)
            members.push_back(convertedMember(kMember0, 1.0f));
        const auto group = groupOf(members, profileWithChoices(row.profile));
        if (!row.metadata) {
            DNNodeInfo info;
            info.outputName = QStringLiteral("joined.mkv");
            group->setNodeInfo(info);
        }
        const ArgumentBlockPtr block = buildWithProfileBuilder(group, config());
        ASSERT_EQ(block != nullptr, row.fits);
        if (block) {
            EXPECT_LT(block->argc, MaxArguNumber);
            EXPECT_EQ(block->duration, row.members);
        } else {
            EXPECT_TRUE(group->outputName().isEmpty());
        }
    }
}

} // namespace
