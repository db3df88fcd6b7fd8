#include "core/builders/dvd/DVDBuilderTestSupport.h"

#include "builders/dvd/H264.h"
#include "builders/dvd/Merge.h"

#include <QFile>

#include <functional>

namespace {

const QString kEncoderOptions
    = "crf=22:sar=1/1:threads=auto:bitrate=1500:level_idc=30:bframes=0:no8x8dct:frameref=6:"
      "global_header:partitions=all:keyint=60:nocabac:me=umh:subq=9:weightp=0:profile=baseline:"
      "level=30";

// Title 1, no trim, no subtitle, keep-origin aspect and rate, the first sound.
QStringList baseList(const QString& folder)
{
    return { "encoder", "dvd://1", "-dvd-device", "/discs/My Film", "-ss", "0", "-of", "lavf",
        "-lavfopts", "format=ipod", "-sws", "2", "-af", "volnorm=1", "-srate", "44100", "-channels",
        "2", "-vf", "pp,scale=720:-2,eq2=1:1:0:1,harddup,fixpts", "-oac", "faac", "-faacopts",
        "br=128:mpeg=4:object=2:raw", "-ovc", "x264", "-x264encopts", kEncoderOptions, "-info",
        "name=\"My Film\":artist=\"Quillon\":genre=\"Video\"", "-aid", "128", "-o",
        folder + "/My Film_T1.mp4" };
}

const QStringList kSubtitleFile { "-sub", "/subs/a b.srt", "-subfont-text-scale", "3.3", "-subpos",
    "100", "-subwidth", "90", "-subcp", "UTF-8", "-font",
    "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", "-subfont-text-scale", "4.0",
    "-subfont-blur", "1", "-subfont-outline", "1.5", "-ffactor", "3" };

class DVDH264 : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(setConfigPath(config.outputDir, dir.path())); }
    QTemporaryDir dir;
    EncodeConfig config;
};

TEST_F(DVDH264, WholeListsForEachChoice)
{
    using Change = std::function<void(DNDVDNode&, DNDVDTitleSetting&, EncodeConfig&)>;
    const QStringList base = baseList(dir.path());
    const QString subtitlePath = dir.filePath("a b.srt");
    QFile subtitle(subtitlePath);
    ASSERT_TRUE(subtitle.open(QIODevice::WriteOnly));
    subtitle.close();
    const auto output = [&](const QStringList& list) { return list.indexOf("-o") + 2; };
    struct Row {
        const char* name;
        QVariantMap profile;
        Change change;
        QStringList expected;
        int duration = 0;
    };
    const std::vector<Row> rows {
        { "plain: 34 words", {}, {}, base },
        { "trim 0.25-0.75 of an hour", {},
            [](DNDVDNode&, DNDVDTitleSetting& s, EncodeConfig&) {
                s.setTrimEnable(true);
                s.setTrimStartPercent(0.25f);
                s.setTrimEndPercent(0.75f);
            },
            replaced(base, "0", { "900" }) + QStringList { "-endpos", "1800" }, 1800 },
        { "trim of a 12 s title from 2 s to its end, as the editor sets it", {},
            [](DNDVDNode& n, DNDVDTitleSetting& s, EncodeConfig&) {
                n.titleAt(0)->setLength(12);
                s.setTrimEnable(true);
                s.setTrimStartPercent(2.0f / 12.0f);
                s.setTrimEndPercent(12.0f / 12.0f);
            },
            replaced(base, "0", { "2" }) + QStringList { "-endpos", "10" }, 10 },
        { "volume 50 %", {},
            [](DNDVDNode&, DNDVDTitleSetting& s, EncodeConfig&) { s.setVolume(50); },
            replaced(base, "volnorm=1", { "volume=-6.0" }) },
        { "volume 150 %", {},
            [](DNDVDNode&, DNDVDTitleSetting& s, EncodeConfig&) { s.setVolume(150); },
            replaced(base, "volnorm=1", { "volume=3.5" }) },
        { "volume 0 % is silence", {},
            [](DNDVDNode&, DNDVDTitleSetting& s, EncodeConfig&) { s.setVolume(0); },
            replaced(base, "volnorm=1", { "volume=-200.0" }) },
        { "aspect and rate",
            { { "VideoAspect", choice("4x3") }, { "VideoFrameRate", choice("23.976") } }, {},
            replaced(replaced(base, "-vf", { "-aspect", "4:3", "-vf" }),
                "pp,scale=720:-2,eq2=1:1:0:1,harddup,fixpts",
                { "pp,scale=720:-2,eq2=1:1:0:1,harddup,fixpts", "-ofps", "24000/1001" }) },
        { "navigation, drift fix, drive", {},
            [](DNDVDNode& n, DNDVDTitleSetting&, EncodeConfig& c) {
                c.dvdNav = true;
                c.avSyncFix = true;
                n.setSourceInfo(NXDVDSourceInfo::sourceInfoWithPath("/dev/sr0"));
            },
            replaced(replaced(base, "dvd://1", { "dvdnav://1" }), "/discs/My Film", { "/dev/sr0" })
                + QStringList { "-mc", "0" } },
        { "no sound", {},
            [](DNDVDNode&, DNDVDTitleSetting& s, EncodeConfig&) { s.setAudioIndex(-1); },
            replaced(replaced(base, "-aid", { "-nosound" }), "128", {}) },
        { "disc subtitle by its stream number", {},
            [](DNDVDNode&, DNDVDTitleSetting& s, EncodeConfig&) {
                s.setSubtitleEnable(true);
                s.setSubtitleIndex(1);
            },
            replaced(base, "-o", { "-sid", "2", "-spualign", "0", "-subpos", "100", "-o" }) },
        { "subtitle file", {},
            [&](DNDVDNode& n, DNDVDTitleSetting& s, EncodeConfig&) {
                DNDVDTExtSubtitle file = DNDVDTExtSubtitle::extSubtitleTrack(subtitlePath);
                file.codePage = "UTF-8";
                n.titleAt(0)->subtitleTracks().emplace_back(file);
                s.setSubtitleEnable(true);
                s.setSubtitleIndex(2);
            },
            replaced(base, "-o",
                replaced(kSubtitleFile, "/subs/a b.srt", { subtitlePath })
                    + QStringList { "-o" }) },
        { "forced subtitles in the sound's language", {},
            [](DNDVDNode& n, DNDVDTitleSetting& s, EncodeConfig&) {
                n.titleAt(0)->setSubtitleTracks({ dvdSubtitle(0, "french"),
                    dvdSubtitle(3, "english"), dvdSubtitle(4, "English") });
                s.setSubtitleEnable(true);
                s.setForceSubOnly(true);
            },
            replaced(base, "-o",
                { "-sid", "3", "-spualign", "0", "-subpos", "100", "-forcedsubsonly", "-o" }) },
        { "a subtitle past the list", {},
            [](DNDVDNode&, DNDVDTitleSetting& s, EncodeConfig&) {
                s.setSubtitleEnable(true);
                s.setSubtitleIndex(5);
            },
            base },
        { "quotes and missing tags", {},
            [](DNDVDNode& n, DNDVDTitleSetting&, EncodeConfig&) {
                DNNodeInfo info = n.nodeInfo();
                info.displayName = "Say \"Hi\"";
                info.artist.reset();
                info.genre.reset();
                n.setNodeInfo(info);
            },
            replaced(base, "name=\"My Film\":artist=\"Quillon\":genre=\"Video\"",
                { "name=\"Say _Hi_\":artist=\"unknown\":genre=\"unknown\"" }) },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const auto node = dvdNode(row.profile);
        EncodeConfig options = config;
        if (row.change)
            row.change(*node, node->titleAt(0)->setting(), options);
        const ArgumentBlockPtr block = DVD_To_H264_MovOrIpod_With_MEncoder(node, 0, options);
        ASSERT_TRUE(block);
        EXPECT_EQ(block->arguments(), row.expected);
        EXPECT_EQ(block->duration, row.duration);
        EXPECT_EQ(node->titleAt(0)->outputName(), row.expected[output(row.expected) - 1]);
    }
}

TEST_F(DVDH264, ContainerFollowsTheDispatcherAndTheSuffix)
{
    const struct {
        ArgvAssembler dispatcher;
        const char* suffix;
        const char* format;
    } rows[] = {
        { &DVD_To_H264_MovOrIpod_With_MEncoder, "MOV", "format=mov" },
        { &DVD_To_H264_MovOrIpod_With_MEncoder, "m4v", "format=ipod" },
        { &DVD_To_H264_PSP_With_MEncoder, "mp4", "format=psp" },
        { &DVD_To_H264_MP4_With_MEncoder, "mp4", "format=mp4" },
    };
    for (const auto& row : rows) {
        const auto node = dvdNode({ { "FileNameSuffix", row.suffix } });
        const ArgumentBlockPtr block = row.dispatcher(node, 1, config);
        ASSERT_TRUE(block);
        EXPECT_TRUE(block->arguments().contains(row.format)) << row.suffix;
        EXPECT_TRUE(block->arguments().contains("dvd://2"));
    }
}

TEST_F(DVDH264, ImpossibleChoicesAreRefused)
{
    const auto node = dvdNode();
    node->titleAt(0)->setting().setAudioIndex(2);
    EXPECT_FALSE(DVD_To_H264_MovOrIpod_With_MEncoder(nullptr, 0, config));
    EXPECT_FALSE(DVD_To_H264_MovOrIpod_With_MEncoder(dvdNode(), 2, config));
    EXPECT_FALSE(DVD_To_H264_MovOrIpod_With_MEncoder(node, 0, config));
    EXPECT_TRUE(sharedLogText().contains("no audio track at position 2"));
}

// Merged titles of different display aspect: the copy merge takes them as they are.
std::shared_ptr<DNDVDGroupTitle> mergedGroup(const char* aspect)
{
    const auto node = dvdNode({ { "VideoAspect", choice(aspect) }, { "FileNameSuffix", "flv" } });
    node->setMergeIntoOne(true);
    for (const auto& title : node->titles()) {
        title->setIsSelected(true);
        title->setOutputName(QStringLiteral("/tmp/t%1.flv").arg(title->titleNumber()));
    }
    return DNDVDGroupTitle::dvdGroupTitleWithDVDNode(node);
}

TEST_F(DVDH264, MergedTitlesJoinTheirFilesInOneOutput)
{
    const QString out = dir.path() + "/My Film.flv";
    const QStringList head { "encoder", "/tmp/t1.flv", "/tmp/t2.flv" };
    // Local titles are not read through a cache (its process can die and hang the join).
    const QStringList tail { "-o", out };
    const QStringList ipod { "-of", "lavf", "-lavfopts", "format=ipod" };
    const QStringList faac { "-oac", "faac", "-faacopts", "br=128:mpeg=4:object=2:raw", "-ovc",
        "copy" };
    const struct {
        ArgvAssembler builder;
        const char* aspect;
        QStringList middle;
    } rows[] = {
        { &Group_DVDTitle_To_FLV_With_MEncoder, "16x9",
            { "-of", "lavf", "-lavfopts", "format=flv", "-oac", "copy", "-ovc", "copy" } },
        // The H.264 core hands a group to its merge builder.
        { &DVD_To_H264_MovOrIpod_With_MEncoder, "16x9",
            ipod + QStringList { "-aspect", "16:9" } + faac },
        { &Merge_DVDTitle_To_AVC_Default_With_MEncoder, "1.78:1",
            ipod + QStringList { "-aspect", "1.78" } + faac },
        { &Merge_DVDTitle_To_H264_Default_With_MEncoder, "keep origin", ipod + faac },
        { &Merge_DVDTitle_To_MPEG4_Default_With_MEncoder, "16x9",
            ipod
                + QStringList { "-oac", "lavc", "-ovc", "copy", "-lavcopts",
                    "aglobal=1:acodec=libfaac" } },
        { &Group_DVDTitle_To_WMV_With_MEncoder, "16x9",
            { "-of", "lavf", "-lavfopts", "format=asf", "-oac", "copy", "-ovc", "copy" } },
        { &Group_DVDTitle_To_AVI_With_MEncoder, "16x9",
            { "-of", "avi", "-oac", "copy", "-ovc", "copy" } },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.middle.join(' ').toStdString());
        const auto group = mergedGroup(row.aspect);
        const ArgumentBlockPtr block = row.builder(group, 7, config);
        ASSERT_TRUE(block);
        EXPECT_EQ(block->arguments(), head + row.middle + tail);
        EXPECT_EQ(block->duration, 0);
        EXPECT_EQ(group->outputName(), out);
    }
    EXPECT_FALSE(Group_DVDTitle_To_FLV_With_MEncoder(dvdNode(), -1, config)) << "not a group";
    // mencoder cannot join MPEG-2 titles: ffmpeg's concat demuxer does.
    for (const ArgvAssembler join : { &Group_DVDTitle_To_MPEG2_With_MEncoder,
             &Group_DVDTitle_To_MainBackupMPEG2_With_MEncoder }) {
        const ArgumentBlockPtr block = join(mergedGroup("16x9"), 7, config);
        ASSERT_TRUE(block);
        const QStringList words = block->arguments();
        EXPECT_EQ(words.mid(0, 4), QStringList({ "encoder", "-y", "-f", "concat" }));
        EXPECT_EQ(words.mid(6), QStringList({ "-c", "copy", "-f", "dvd", out }));
        QFile list(words.value(5));
        ASSERT_TRUE(list.open(QIODevice::ReadOnly));
        EXPECT_EQ(list.readAll(), "file '/tmp/t1.flv'\nfile '/tmp/t2.flv'\n");
    }
}

} // namespace
