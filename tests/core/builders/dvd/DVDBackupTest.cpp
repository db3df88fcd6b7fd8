#include "core/builders/dvd/DVDBuilderTestSupport.h"

#include "builders/dvd/Backup.h"
#include "builders/dvd/HandBrake.h"

namespace {

// Title 1 of the test DVD, changed by `change`: index -1 trims it to its middle
// half, others choose the second sound and burn the subtitle at `index`.
ArgumentBlockPtr build(ArgvAssembler builder, const QVariantMap& profile, int change,
    const EncodeConfig& config, bool subtitleFile = false)
{
    const auto node = dvdNode(profile);
    DNDVDTitleSetting& setting = node->titleAt(0)->setting();
    setting.setTrimEnable(change == -1);
    setting.setTrimStartPercent(0.25f);
    setting.setTrimEndPercent(0.75f);
    setting.setAudioIndex(change == -2 ? -1 : 1);
    setting.setSubtitleEnable(change >= 0);
    setting.setSubtitleIndex(change);
    if (subtitleFile)
        node->titleAt(0)->setSubtitleTracks({ DNDVDTExtSubtitle {} });
    return builder(node, 0, config);
}

TEST(DVDBackups, BackupAndHandBrakeLists)
{
    QTemporaryDir dir;
    EncodeConfig config;
    ASSERT_TRUE(setConfigPath(config.outputDir, dir.path()));
    const QString out = dir.path() + "/My Film";
    const QStringList dump { "dvd://1", "-dvd-device", "/discs/My Film", "-ss" };
    const QStringList copy { "encoder", "dvd://1", "-dvd-device", "/discs/My Film", "-ss", "0",
        "-ovc", "copy", "-oac", "copy", "-of", "mpeg", "-mpegopts", "format=dvd:tsaf" };
    const QStringList mkv { "encoder", "-i", "/discs/My Film", "-m", "-f", "mkv", "-e", "ffmpeg4",
        "-b", "2000", "-E", "copy:ac3", "-t", "1", "-a", "1,2", "-s", "1,2" };
    const QStringList mp4 { "encoder", "-i", "/discs/My Film", "-t", "1", "-e", "x264", "-q",
        "20.0", "-r", "25", "--pfr", "-a", "2", "-E", "faac", "-B", "128", "-6", "dpl2", "-R",
        "Auto", "-D", "0.0", "-f", "mp4", "-4", "-X", "720", "--loose-anamorphic", "-m" };
    const QVariantMap keepSize { { "VideoFrameRate", choice("25") } };
    const QVariantMap wide { { "VideoResolution", choice("1280x720") } };
    const QVariantMap mkvProfile { { "FileNameSuffix", "mkv" },
        { "VideoQuality", qualityChoice("CBR", "2000", 3000) } };
    const struct {
        ArgvAssembler builder;
        QVariantMap profile;
        int change;
        QStringList expected;
        int32_t duration;
        bool subtitleFile = false;
    } cases[] = {
        { &DVD_To_DVD_FullBackup_MPEG2_With_MEncoder, {}, 0,
            dump + QStringList { "0", "-dumpstream", "-dumpfile", out + "_T1.mp4" }, 3600 },
        { &DVD_To_DVD_FullBackup_MPEG2_With_MEncoder, {}, -1,
            dump
                + QStringList { "900", "-dumpstream", "-dumpfile", out + "_T1.mp4", "-endpos",
                    "1800" },
            1800 },
        { &DVD_To_DVD_MainBackup_MPEG2_With_MEncoder, {}, 0,
            copy + QStringList { "-aid", "129", "-o", out + "_T1.mp4" }, 0 },
        { &DVD_To_DVD_MainBackup_MPEG2_With_MEncoder, {}, -2,
            copy + QStringList { "-nosound", "-o", out + "_T1.mp4" }, 0 },
        { &DVD_To_DVD_MainBackup_ISO, {}, -1, { "/discs/My Film", out + ".mp4", "iso" }, 3600 },
        { &DVD_To_DVD_MainBackup_MKV, mkvProfile, 0, mkv + QStringList { "-o", out + "_T1.mkv" },
            0 },
        { &DVD_To_DVD_MainBackup_MKV, mkvProfile, -1,
            mkv
                + QStringList { "--start-at", "pts:81000000", "--stop-at", "pts:162000000", "-o",
                    out + "_T1.mkv" },
            1800 },
        { &DVD_To_MP4_H264_With_HandBrake, keepSize, -3,
            mp4 + QStringList { "-o", out + "_T1.mp4" }, 0 },
        { &DVD_To_MP4_H264_With_HandBrake, keepSize, 0,
            mp4 + QStringList { "-s", "1", "--subtitle-burned", "-o", out + "_T1.mp4" }, 0 },
        // A subtitle file is no track of the disc: nothing is burnt.
        { &DVD_To_MP4_H264_With_HandBrake, keepSize, 0, mp4 + QStringList { "-o", out + "_T1.mp4" },
            0, true },
        { &DVD_To_MP4_H264_With_HandBrake, wide, -3,
            replaced(mp4.mid(0, 9) + mp4.mid(12), "720", { "1280.0" })
                + QStringList { "-o", out + "_T1.mp4" },
            0 },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected.join(' ').toStdString());
        const ArgumentBlockPtr block
            = build(c.builder, c.profile, c.change, config, c.subtitleFile);
        ASSERT_TRUE(block);
        EXPECT_EQ(block->arguments(), c.expected);
        EXPECT_EQ(block->duration, c.duration);
    }
    // Without subtitle tracks the "-s" pair goes, without sound tracks "-a" too.
    const auto bare = dvdNode(mkvProfile);
    bare->titleAt(0)->setSubtitleTracks({});
    const QStringList noSubtitles = mkv.mid(0, 16) + QStringList { "-o", out + "_T1.mkv" };
    EXPECT_EQ(DVD_To_DVD_MainBackup_MKV(bare, 0, config)->arguments(), noSubtitles);
    bare->titleAt(0)->setAudioTracks({});
    const QStringList noTracks = mkv.mid(0, 14) + QStringList { "-o", out + "_T1.mkv" };
    EXPECT_EQ(DVD_To_DVD_MainBackup_MKV(bare, 0, config)->arguments(), noTracks);
    const auto node = dvdNode();
    node->setMergeIntoOne(true);
    node->titleAt(0)->setIsSelected(true);
    const auto group = DNDVDGroupTitle::dvdGroupTitleWithDVDNode(node);
    EXPECT_FALSE(DVD_To_DVD_MainBackup_ISO(group, -1, config));
    EXPECT_FALSE(DVD_To_DVD_MainBackup_MKV(group, -1, config));
    EXPECT_FALSE(DVD_To_DVD_FullBackup_MPEG2_With_MEncoder(group, -1, config));
    EXPECT_FALSE(DVD_To_MP4_H264_With_HandBrake(group, -1, config));
}

} // namespace
