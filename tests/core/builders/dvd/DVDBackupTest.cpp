#include "core/builders/dvd/DVDBuilderTestSupport.h"

#include "builders/dvd/Backup.h"
#include "builders/dvd/HandBrake.h"
#include "engine/ArgvAssemblerTables.h"

#include <functional>

namespace {

using Change = std::function<void(DNDVDNode&)>;

struct Case {
    const char* name;
    ArgvAssembler builder;
    QVariantMap profile;
    Change change;
    QStringList expected;
    int32_t duration;
};

void trimMiddleHalf(DNDVDNode& node)
{
    DNDVDTitleSetting& setting = node.titleAt(0)->setting();
    setting.setTrimEnable(true);
    setting.setTrimStartPercent(0.25f);
    setting.setTrimEndPercent(0.75f);
}

void chooseNoSound(DNDVDNode& node)
{
    node.titleAt(0)->setting().setAudioIndex(-1);
}

void burnSubtitle(DNDVDNode& node, qint32 index)
{
    node.titleAt(0)->setting().setSubtitleEnable(true);
    node.titleAt(0)->setting().setSubtitleIndex(index);
}

class DVDBackups : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(setConfigPath(config.outputDir, dir.path())); }

    // Title 1 of the test DVD through each case's builder.
    void expectLists(const std::vector<Case>& cases) const
    {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name);
            const auto node = dvdNode(c.profile);
            if (c.change)
                c.change(*node);
            const ArgumentBlockPtr block = c.builder(node, 0, config);
            ASSERT_TRUE(block);
            EXPECT_EQ(block->arguments(), c.expected);
            EXPECT_EQ(block->duration, c.duration);
        }
    }

    QString output(const char* file) const { return dir.path() + "/" + file; }

    QTemporaryDir dir;
    EncodeConfig config;
};

TEST_F(DVDBackups, DiscBackupLists)
{
    const QStringList source { "dvd://1", "-dvd-device", "/discs/My Film" };
    const QStringList copy { "encoder", "dvd://1", "-dvd-device", "/discs/My Film", "-ss", "0",
        "-ovc", "copy", "-oac", "copy", "-of", "mpeg", "-mpegopts", "format=dvd:tsaf" };
    const QVariantMap iso { { "FileNameSuffix", "iso" } };
    const QVariantMap vob { { "FileNameSuffix", "vob" } };
    const QVariantMap mpg { { "FileNameSuffix", "mpg" } };
    expectLists({
        { "dump untrimmed: the whole length", &DVD_To_DVD_FullBackup_MPEG2_With_MEncoder, vob, {},
            source
                + QStringList { "-ss", "0", "-dumpstream", "-dumpfile", output("My Film_T1.vob") },
            3600 },
        { "dump trimmed", &DVD_To_DVD_FullBackup_MPEG2_With_MEncoder, vob, trimMiddleHalf,
            source
                + QStringList { "-ss", "900", "-dumpstream", "-dumpfile", output("My Film_T1.vob"),
                    "-endpos", "1800" },
            1800 },
        { "main title with sound", &DVD_To_DVD_MainBackup_MPEG2_With_MEncoder, mpg, {},
            copy + QStringList { "-aid", "128", "-o", output("My Film_T1.mpg") }, 0 },
        { "main title without sound", &DVD_To_DVD_MainBackup_MPEG2_With_MEncoder, mpg,
            chooseNoSound, copy + QStringList { "-nosound", "-o", output("My Film_T1.mpg") }, 0 },
        { "image: no title mark", &DVD_To_DVD_MainBackup_ISO, iso, trimMiddleHalf,
            { "/discs/My Film", output("My Film.iso"), "iso" }, 3600 },
    });
}

TEST_F(DVDBackups, DumpOfADriveTitle)
{
    const auto node = dvdNode({ { "FileNameSuffix", "vob" } });
    NXDVDSourceInfo drive = node->sourceInfo();
    drive.sourceType = NXDVDSourceInfo::kDrive;
    drive.devicePath = QStringLiteral("/dev/sr0");
    node->setSourceInfo(drive);
    auto third = dvdTitle(3);
    third->setLength(5400);
    node->appendTitle(third);
    const ArgumentBlockPtr block = DVD_To_DVD_FullBackup_MPEG2_With_MEncoder(node, 2, config);
    ASSERT_TRUE(block);
    EXPECT_EQ(block->arguments(),
        QStringList({ "dvd://3", "-dvd-device", "/dev/sr0", "-ss", "0", "-dumpstream", "-dumpfile",
            output("My Film_T3.vob") }));
    EXPECT_EQ(block->duration, 5400);
    EXPECT_EQ(third->outputName(), output("My Film_T3.vob"));
}

TEST_F(DVDBackups, HandBrakeListsCountTracksFromOne)
{
    const QStringList mkv { "encoder", "-i", "/discs/My Film", "-m", "-f", "mkv", "-e", "ffmpeg4",
        "-b", "2000", "-E", "copy:ac3", "-t", "1" };
    const QVariantMap mkvProfile { { "FileNameSuffix", "mkv" },
        { "VideoQuality", qualityChoice("CBR", "2000", 3000) } };
    const QStringList mp4 { "encoder", "-i", "/discs/My Film", "-t", "1", "-e", "x264", "-q",
        "20.0", "-r", "25", "--pfr", "-a", "2", "-E", "faac", "-B", "128", "-6", "dpl2", "-R",
        "Auto", "-D", "0.0", "-f", "mp4", "-4", "-X", "720", "--loose-anamorphic", "-m" };
    const QVariantMap mp4Profile { { "VideoFrameRate", choice("25") },
        { "VideoResolution", choice("keep origin") }, { "AudioQuality", choice("128") } };
    const Change secondSound = [](DNDVDNode& node) { node.titleAt(0)->setting().setAudioIndex(1); };
    const QStringList mkvOutput { "-o", output("My Film_T1.mkv") };
    const QStringList mp4Output { "-o", output("My Film_T1.mp4") };
    expectLists({
        { "MKV: every track", &DVD_To_DVD_MainBackup_MKV, mkvProfile, {},
            mkv + QStringList { "-a", "1,2", "-s", "1,2" } + mkvOutput, 0 },
        { "MKV: no subtitles", &DVD_To_DVD_MainBackup_MKV, mkvProfile,
            [](DNDVDNode& node) { node.titleAt(0)->setSubtitleTracks({}); },
            mkv + QStringList { "-a", "1,2" } + mkvOutput, 0 },
        { "MKV: no tracks", &DVD_To_DVD_MainBackup_MKV, mkvProfile,
            [](DNDVDNode& node) {
                node.titleAt(0)->setSubtitleTracks({});
                node.titleAt(0)->setAudioTracks({});
            },
            mkv + mkvOutput, 0 },
        { "MKV: trimmed starts at the trim", &DVD_To_DVD_MainBackup_MKV, mkvProfile, trimMiddleHalf,
            mkv + QStringList { "-a", "1,2", "-s", "1,2", "--start-at", "duration:900" }
                + mkvOutput,
            1800 },
        { "MP4: second sound", &DVD_To_MP4_H264_With_HandBrake, mp4Profile, secondSound,
            mp4 + mp4Output, 0 },
        { "MP4: first subtitle burnt", &DVD_To_MP4_H264_With_HandBrake, mp4Profile,
            [=](DNDVDNode& node) {
                secondSound(node);
                burnSubtitle(node, 0);
            },
            mp4 + QStringList { "-s", "1", "--subtitle-burned" } + mp4Output, 0 },
        { "MP4: subtitles on, none chosen", &DVD_To_MP4_H264_With_HandBrake, mp4Profile,
            [=](DNDVDNode& node) {
                secondSound(node);
                burnSubtitle(node, -1);
            },
            mp4 + mp4Output, 0 },
        { "MP4: a subtitle file is no disc track", &DVD_To_MP4_H264_With_HandBrake, mp4Profile,
            [=](DNDVDNode& node) {
                secondSound(node);
                DNDVDTExtSubtitle file;
                file.path = QStringLiteral("/subs/film.srt");
                node.titleAt(0)->setSubtitleTracks({ file });
                burnSubtitle(node, 0);
            },
            mp4 + mp4Output, 0 },
        { "MP4: width of 1280x720, the source's rate", &DVD_To_MP4_H264_With_HandBrake,
            { { "VideoFrameRate", choice("keep origin") },
                { "VideoResolution", choice("1280x720") }, { "AudioQuality", choice("128") } },
            secondSound, replaced(mp4.mid(0, 9) + mp4.mid(12), "720", { "1280.0" }) + mp4Output,
            0 },
    });
}

TEST_F(DVDBackups, MergedTitlesAreRefusedButTheMainTitleCopyJoinsThem)
{
    const auto node = dvdNode();
    node->setMergeIntoOne(true);
    for (const auto& title : node->titles())
        title->setIsSelected(true);
    const auto group = DNDVDGroupTitle::dvdGroupTitleWithDVDNode(node);
    for (const char* row : { "DVD_To_DVDFullBackup_MPEG_With_MEncoder", "DVD_Backup_To_ISO",
             "DVD_Backup_To_MKV", "DVD_To_MP4_H264_With_HandBrake" }) {
        SCOPED_TRACE(row);
        const ArgvAssembler entry = findArgvAssembler(row);
        ASSERT_TRUE(entry);
        EXPECT_FALSE(entry(group, -1, config));
    }
    EXPECT_TRUE(DVD_To_DVD_MainBackup_MPEG2_With_MEncoder(group, -1, config));
}

} // namespace
