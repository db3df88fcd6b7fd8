#include "core/builders/dvd/DVDBuilderTestSupport.h"

#include "builders/dvd/AVI.h"
#include "builders/dvd/FlashWindowsMedia.h"
#include "builders/dvd/H264.h"
#include "builders/dvd/MPEG2.h"
#include "builders/dvd/MPEG4.h"
#include "builders/dvd/Sound.h"
#include "engine/ArgvAssemblerTables.h"
#include "profiles/DNProfileManager.h"

#include <functional>
#include <set>

namespace {

using Change = std::function<void(DNDVDTitle&, EncodeConfig&)>;

const QString kChain = "pp,scale=720:-2,eq2=1:1:0:1,harddup,fixpts";
const QString kInfo = "name=\"My Film\":artist=\"Quillon\":genre=\"Video\"";
const QStringList kSource { "encoder", "dvd://1", "-dvd-device", "/discs/My Film", "-ss", "0" };
const QVariantMap kAspectAndRate { { "VideoAspect", choice("4x3") },
    { "VideoFrameRate", choice("25") } };

struct Case {
    const char* name;
    ArgvAssembler builder;
    QVariantMap profile;
    Change change;
    QStringList expected;
};

void volume(DNDVDTitle& title, EncodeConfig&, quint32 percent)
{
    title.setting().setVolume(percent);
}

void noSound(DNDVDTitle& title, EncodeConfig&)
{
    title.setting().setAudioIndex(-1);
}

void trackChannels(DNDVDTitle& title, qint32 channels)
{
    auto tracks = title.audioTracks();
    tracks[0].channel = channels;
    title.setAudioTracks(tracks);
}

class DVDBuilders : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(setConfigPath(config.outputDir, dir.path()));
        config.cpuCore = 2;
    }

    // Title 1 of the test DVD through each case's builder.
    void expectLists(const std::vector<Case>& cases) const
    {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name);
            const auto node = dvdNode(c.profile);
            EncodeConfig options = config;
            if (c.change)
                c.change(*node->titleAt(0), options);
            const ArgumentBlockPtr block = c.builder(node, 0, options);
            ASSERT_TRUE(block);
            EXPECT_EQ(block->arguments(), c.expected);
        }
    }

    QString output(const char* suffix) const { return dir.path() + "/My Film_T1." + suffix; }

    QTemporaryDir dir;
    EncodeConfig config;
};

TEST_F(DVDBuilders, H264Sisters)
{
    const QStringList sound { "-af", "volnorm=1", "-srate", "44100", "-channels", "2" };
    const QStringList faac { "-oac", "faac", "-faacopts", "br=128:mpeg=4:object=2:raw" };
    const QStringList tail { "-info", kInfo, "-aid", "128", "-o", output("mp4") };
    const auto core = [&](const char* format, const QString& options) {
        return kSource + QStringList { "-of", "lavf", "-lavfopts", format, "-sws", "2" } + sound
            + QStringList { "-vf", kChain } + faac
            + QStringList { "-ovc", "x264", "-x264encopts", options } + tail;
    };
    const QString avc = "crf=22:sar=1/1:threads=auto:global_header:level_idc=30:bframes=0:"
                        "no8x8dct:frameref=6:partitions=all:keyint=60:nocabac:trellis=1:"
                        "chroma_me:me=umh:weightp=0:subq=5:profile=baseline:level=30";
    expectLists({
        { "game console", &DVD_To_PS_H264_With_MEncoder, {}, {},
            core("format=mp4",
                "crf=22:sar=1/1:threads=auto:bitrate=1500:level_idc=41:bframes=0:frameref=4:"
                "global_header:partitions=all:keyint=60:me=umh:subq=9:weightp=0:profile=high") },
        { "transport stream, whatever the suffix", &DVD_To_TS_H264_Default_With_MEncoder,
            { { "FileNameSuffix", "mp4" } }, {},
            core("format=mpegts",
                "crf=22:sar=1/1:threads=auto:bitrate=1500:level_idc=30:bframes=0:no8x8dct:"
                "frameref=6:partitions=all:keyint=60:nocabac:me=umh:subq=9:weightp=0:"
                "profile=baseline:level=30") },
        { "AVC: -vf after x264, -channels before -srate, aspect and rate after -af",
            &DVD_To_AVC_Default_With_MEncoder, kAspectAndRate, {},
            kSource
                + QStringList { "-of", "lavf", "-lavfopts", "format=mp4", "-ovc", "x264",
                    "-x264encopts", avc, "-vf", kChain, "-channels", "2", "-srate", "44100" }
                + faac + QStringList { "-af", "volnorm=1", "-aspect", "4:3", "-ofps", "25" }
                + tail },
    });
}

TEST_F(DVDBuilders, MPEG4InOneOrTwoPasses)
{
    const QString stats = dir.path() + "/KR_stats";
    const auto pass = [stats](int index) {
        return [stats, index](DNDVDTitle&, EncodeConfig& c) {
            c.twoPass = true;
            c.passIndex = index;
            setConfigPath(c.passLog, stats);
        };
    };
    const QString options = "aglobal=1:vglobal=1:vcodec=mpeg4:level=30:vmax_b_frames=0:"
                            "autoaspect:acodec=libfaac:vbitrate=1500:abitrate=128:threads=2";
    const auto list = [&](const char* format, const QString& lavc, const QStringList& passLog,
                          const QString& out) {
        return kSource
            + QStringList { "-srate", "44100", "-of", "lavf", "-lavfopts", format, "-oac", "lavc",
                  "-ovc", "lavc", "-lavcopts", lavc }
        + passLog
            + QStringList { "-channels", "2", "-vf", kChain, "-info", kInfo, "-aid", "128", "-o",
                  out, "-af", "volnorm=1" };
    };
    const QStringList passLog { "-passlogfile", stats };
    // The transport-stream core writes the channel count after the audio track.
    const QStringList transportStream = replaced(
        replaced(replaced(list("format=mpegts",
                              "aglobal=1:vcodec=mpeg4:level=30:vmax_b_frames=0:autoaspect:"
                              "acodec=libfaac:vbitrate=1500:abitrate=128:threads=2:vpass=1",
                              passLog, "/dev/null"),
                     "-channels", {}),
            "2", {}),
        "128", { "128", "-channels", "2" });
    const QVariantMap mpeg4 { { "VideoCodec", choice("mpeg4") } };
    QVariantMap mov = mpeg4;
    mov["FileNameSuffix"] = "MOV";
    expectLists({
        { "one pass, MOV", &DVD_To_MPEG4_MovOrIpod_With_MEncoder, mov, {},
            list("format=mov", options, {}, output("MOV")) },
        { "first of two", &DVD_To_MPEG4_MovOrIpod_With_MEncoder, mpeg4, pass(0),
            list("format=ipod", options + ":vpass=1", passLog, "/dev/null") },
        { "second of two", &DVD_To_MPEG4_PSP_With_MEncoder, mpeg4, pass(1),
            list("format=psp", options + ":vpass=2", passLog, output("mp4")) },
        { "game console, second of two", &DVD_To_PS_MPEG4_With_MEncoder, mpeg4, pass(1),
            list("format=mp4",
                "aglobal=1:vglobal=1:vcodec=mpeg4:vmax_b_frames=0:autoaspect:acodec=libfaac:"
                "vbitrate=1500:abitrate=128:threads=2:coder=1:vpass=2",
                passLog, output("mp4")) },
        { "transport stream, first of two", &DVD_To_TS_MPEG4_Default_With_MEncoder, mpeg4, pass(0),
            transportStream },
    });
    // The first pass writes nowhere, yet the title keeps the output the second writes.
    const auto node = dvdNode(mpeg4);
    EncodeConfig first = config;
    pass(0)(*node->titleAt(0), first);
    ASSERT_TRUE(DVD_To_MPEG4_MovOrIpod_With_MEncoder(node, 0, first));
    EXPECT_EQ(node->titleAt(0)->outputName(), output("mp4"));
}

TEST_F(DVDBuilders, AVICopiesTheSoundOnlyWhenItFits)
{
    const QStringList divx { "-of", "avi", "-ffourcc", "DX50", "-ovc", "lavc", "-lavcopts",
        "vcodec=mpeg4:vbitrate=1500:autoaspect:keyint=132:threads=2", "-vf", kChain };
    const QStringList mp3 { "-oac", "mp3lame", "-lameopts", "mode=0:cbr:br=128" };
    const QStringList end { "-o", output("avi") };
    const QVariantMap keep { { "AudioCodec", choice("Keep Origin") }, { "FileNameSuffix", "avi" } };
    QVariantMap sixKept = keep;
    sixKept["AudioChannel"] = choice("6");
    const auto channels = [](qint32 count) {
        return [count](DNDVDTitle& t, EncodeConfig&) { trackChannels(t, count); };
    };
    const QStringList xvidAspect { "-of", "avi", "-aspect", "4:3", "-ffourcc", "XVID", "-ovc",
        "xvid", "-xvidencopts",
        "bvhq=1:chroma_opt:quant_type=mpeg:bitrate=1500:autoaspect:threads=2", "-vf", kChain,
        "-ofps", "25" };
    QVariantMap xvidProfile = kAspectAndRate;
    xvidProfile["FileNameSuffix"] = "avi";
    expectLists({
        { "Keep Origin, 2 against 2: copied, -info at 16", &DVD_To_AVI_DIVX_Default_With_MEncoder,
            keep, channels(2),
            kSource + divx
                + QStringList { "-info", kInfo, "-aid", "128", "-oac", "copy", "-channels", "2" }
                + end },
        { "2 against a 6-channel track: re-encoded", &DVD_To_AVI_DIVX_Default_With_MEncoder, keep,
            channels(6),
            kSource + divx
                + QStringList { "-info", kInfo, "-aid", "128", "-channels", "2", "-af",
                    "lavcresample=44100,volnorm=1" }
                + mp3 + end },
        { "6 against a stereo track: copied with the track's count",
            &DVD_To_AVI_XVID_Default_With_MEncoder, sixKept, channels(2),
            kSource
                + QStringList { "-of", "avi", "-ffourcc", "XVID", "-ovc", "xvid", "-xvidencopts",
                    "bitrate=1500:autoaspect:threads=2", "-vf", kChain, "-info", kInfo, "-aid",
                    "128", "-oac", "copy", "-channels", "2" }
                + end },
        { "Xvid, high quality, MP3 at half the volume", &DVD_To_AVI_XVID_Default_With_MEncoder,
            xvidProfile,
            [](DNDVDTitle& t, EncodeConfig& c) {
                c.highQuality = true;
                t.setting().setVolume(50);
            },
            kSource + xvidAspect
                + QStringList { "-info", kInfo, "-aid", "128", "-channels", "2", "-srate", "44100",
                    "-af", "volume=-6.0" }
                + mp3 + end },
        { "no sound, no drift fix", &DVD_To_AVI_DIVX_Default_With_MEncoder, keep,
            [](DNDVDTitle& t, EncodeConfig& c) {
                noSound(t, c);
                c.avSyncFix = true;
            },
            kSource + divx + QStringList { "-info", kInfo, "-nosound" } + end },
    });
}

TEST_F(DVDBuilders, AVICodecSwitchReadsTheVideoCodecInAnyCase)
{
    const struct {
        const char* codec; // "": the profile has no codec value
        const char* fourcc; // null: refused
    } rows[] = { { "divx", "DX50" }, { "XviD", "XVID" }, { "H264", nullptr }, { "XVID ", nullptr },
        { "", nullptr } };
    for (const char* name : { "DVD_To_PCGen_AVI_MP3_Audio_With_MEncoder",
             "DVD_To_PCGen_AVI_Copy_Audio_With_MEncoder" }) {
        const ArgvAssembler row = findArgvAssembler(name);
        ASSERT_TRUE(row);
        for (const auto& r : rows) {
            const ArgumentBlockPtr block
                = row(dvdNode({ { "VideoCodec", choice(r.codec) } }), 0, config);
            EXPECT_EQ(block ? block->arguments().value(9) : QString(), QString(r.fourcc)) << name;
            EXPECT_TRUE(block || sharedLogText().contains("is neither DIVX nor XVID")) << name;
        }
    }
}

TEST_F(DVDBuilders, FlashAndWindowsMedia)
{
    const QStringList flvHead = kSource
        + QStringList { "-srate", "44100", "-af", "volnorm=1", "-of", "lavf", "-lavfopts",
              "format=flv", "-oac", "mp3lame", "-channels", "2", "-lameopts", "abr:br=128", "-ovc",
              "lavc", "-lavcopts" };
    const QStringList flvTail { "-vf", kChain, "-aid", "128", "-o", output("mp4") };
    const QStringList wmv = kSource
        + QStringList { "-of", "lavf", "-lavfopts", "format=wmv", "-ovc", "lavc", "-lavcopts",
              "aglobal=1:vglobal=1:vcodec=wmv2:autoaspect", "-srate", "44100", "-channels", "2",
              "-oac", "mp3lame", "-lameopts", "mode=0:cbr:br=128", "-af",
              "lavcresample=44100,volnorm=1", "-vf", kChain, "-info", kInfo, "-aid", "128", "-o",
              output("mp4") };
    expectLists({
        { "FLV: -sws without high quality, no -info", &DVD_To_FLV_With_MEncoder, {}, {},
            flvHead
                + QStringList { "vcodec=flv:vbitrate=1500:mv0:trell:v4mv:cbp:last_pred=3", "-sws",
                    "2" }
                + flvTail },
        { "FLV: high quality, drift fix, volume 150", &DVD_To_FLV_With_MEncoder, {},
            [](DNDVDTitle& t, EncodeConfig& c) {
                c.highQuality = true;
                c.avSyncFix = true;
                volume(t, c, 150);
            },
            replaced(flvHead, "volnorm=1", { "volume=3.5" })
                + QStringList { "vcodec=flv:vbitrate=1500:mbd=2:mv0:trell:v4mv:cbp:last_pred=3" }
                + flvTail + QStringList { "-mc", "0" } },
        { "WMV: -info at 26, no -mc", &DVD_To_WMV_MP3_Default_With_MEncoder, {},
            [](DNDVDTitle&, EncodeConfig& c) { c.avSyncFix = true; }, wmv },
    });
}

TEST_F(DVDBuilders, MPEG2CopiesOrReencodes)
{
    const QString copy = "vcodec=mpeg2video:vrc_buf_size=1835:vrc_maxrate=5800:vbitrate=1500:"
                         "keyint=15:vstrict=0:autoaspect:vmax_b_frames=2:vb_strategy=1:threads=2";
    const QString mp2 = "vcodec=mpeg2video:vrc_buf_size=1792:vrc_maxrate=20000:vbitrate=1500:"
                        "keyint=15:vstrict=0:acodec=mp2:abitrate=128:autoaspect:vmax_b_frames=2:"
                        "vb_strategy=1:threads=2";
    const QStringList copyNoTrack = kSource
        + QStringList { "-oac", "copy", "-ovc", "lavc", "-of", "mpeg", "-mpegopts",
              "format=dvd:tsaf", "-vf", kChain, "-lavcopts", copy, "-info", kInfo, "-nosound", "-o",
              output("mp4"), "-mc", "0" };
    const auto reencoded = [&](const QStringList& container, const QStringList& tail) {
        return kSource + QStringList { "-channels", "2", "-oac", "lavc", "-ovc", "lavc" }
        + container
            + QStringList { "-vf", kChain, "-lavcopts", mp2, "-ofps", "30000/1001", "-info", kInfo,
                  "-aid", "128", "-o", output("mp4") }
        + tail;
    };
    const QVariantMap ntsc { { "VideoFrameRate", choice("29.97") } };
    expectLists({
        { "copy without a track: 25 words ending -mc 0",
            &DVD_To_MPEG2_AC3_Copy_Default_With_MEncoder, {}, noSound, copyNoTrack },
        { "copy of a 6-channel track", &DVD_To_MPEG2_AC3_Copy_Default_With_MEncoder, {},
            [](DNDVDTitle& t, EncodeConfig&) { trackChannels(t, 6); },
            replaced(replaced(copyNoTrack, "copy", { "copy", "-channels", "6" }), "-nosound",
                { "-aid", "128" }) },
        { "MP2 in a program stream", &DVD_To_MPEG2_MP2_Reencode_Default_With_MEncoder, ntsc, {},
            reencoded({ "-of", "mpeg", "-mpegopts", "format=mpeg2" }, {}) },
        { "MP2 in a transport stream, drift fix", &DVD_To_TS_MPEG2_Default_With_MEncoder, ntsc,
            [](DNDVDTitle&, EncodeConfig& c) { c.avSyncFix = true; },
            reencoded({ "-of", "lavf", "-lavfopts", "format=mpegts" }, { "-mc", "0" }) },
    });
}

TEST_F(DVDBuilders, SoundOnly)
{
    const QStringList encoded { "-srate", "44100", "-ovc", "frameno", "-oac" };
    expectLists({
        { "MP3 at 100 keeps the level", &DVD_To_MP3_Default_With_MEncoder, {}, {},
            kSource + encoded
                + QStringList { "mp3lame", "-lameopts", "vbr=0:br=128:vol=1.00:mode=0", "-of",
                    "rawaudio", "-aid", "128", "-o", output("mp4"), "-info", kInfo } },
        { "MP3 at 50 halves it", &DVD_To_MP3_Default_With_MEncoder, {},
            [](DNDVDTitle& t, EncodeConfig& c) { volume(t, c, 50); },
            kSource + encoded
                + QStringList { "mp3lame", "-lameopts", "vbr=0:br=128:vol=0.50:mode=0", "-of",
                    "rawaudio", "-aid", "128", "-o", output("mp4"), "-info", kInfo } },
        { "AAC without a chosen track: -o at 16", &DVD_To_AAC_Default_With_MEncoder, {}, noSound,
            kSource + encoded
                + QStringList { "faac", "-faacopts", "br=128:mpeg=4:object=2", "-of", "rawaudio",
                    "-o", output("mp4"), "-info", kInfo } },
        { "AC-3 without a chosen track: -of at 10", &DVD_To_AC3_Default_With_MEncoder, {},
            [](DNDVDTitle& t, EncodeConfig& c) {
                noSound(t, c);
                c.avSyncFix = true;
            },
            kSource
                + QStringList { "-ovc", "frameno", "-oac", "copy", "-of", "rawaudio", "-o",
                    output("mp4"), "-info", kInfo, "-mc", "0" } },
        { "AC-3 from MPEG sound is encoded", &DVD_To_AC3_Default_With_MEncoder, {},
            [](DNDVDTitle& t, EncodeConfig&) { t.setAudioTracks({ dvdAudio(1, "English") }); },
            kSource
                + QStringList { "-ovc", "frameno", "-srate", "48000", "-oac", "lavc", "-lavcopts",
                    "acodec=ac3_fixed:abitrate=192", "-aid", "1", "-of", "rawaudio", "-o",
                    output("mp4"), "-info", kInfo } },
    });
}

TEST_F(DVDBuilders, SoundOnlyRefusesMergesAndTitlesWithoutSound)
{
    const auto node = dvdNode();
    node->titleAt(1)->setAudioTracks({});
    EXPECT_FALSE(DVD_To_MP3_Default_With_MEncoder(node, 1, config));
    EXPECT_TRUE(sharedLogText().contains("Title 2 has no audio track"));
    node->setMergeIntoOne(true);
    for (const auto& title : node->titles())
        title->setIsSelected(true);
    EXPECT_FALSE(DVD_To_AC3_Default_With_MEncoder(
        DNDVDGroupTitle::dvdGroupTitleWithDVDNode(node), -1, config));
}

// The driver refuses a merge before converting any title when the profile's
// builder cannot merge: that answer must be what the builder does with every
// DVD profile of the catalogue.
TEST_F(DVDBuilders, EveryProfileSaysWhetherItsBuilderMerges)
{
    std::set<QString> singleTitleBuilders;
    for (const DNProfileCategory& category :
        DNProfileManager::profileManager().categoriesOfType(DNProfileTypeDVD)) {
        for (const auto& profile : category.profiles) {
            const QByteArray name = profile->argvAssembler().toUtf8();
            SCOPED_TRACE(name.constData());
            const auto node = dvdNode();
            node->setProfile(profile->copy());
            node->setMergeIntoOne(true);
            for (const auto& title : node->titles()) {
                title->setIsSelected(true);
                title->setOutputName(dir.path()
                    + QStringLiteral("/t%1.%2")
                          .arg(title->titleNumber())
                          .arg(profile->fileNameSuffix()));
            }
            const ArgvAssembler builder = findArgvAssembler(name.constData());
            ASSERT_TRUE(builder);
            const bool merges
                = builder(DNDVDGroupTitle::dvdGroupTitleWithDVDNode(node), -1, config) != nullptr;
            EXPECT_EQ(merges, DVDArgvAssemblerMergesTitles(name.constData()));
            if (!merges)
                singleTitleBuilders.insert(QString::fromUtf8(name));
        }
    }
    EXPECT_EQ(singleTitleBuilders.size(), 7u);
    EXPECT_FALSE(DVDArgvAssemblerMergesTitles(nullptr));
}

TEST_F(DVDBuilders, TransportStreamMergesJoinInATransportStream)
{
    const auto node = dvdNode({ { "FileNameSuffix", "m2ts" } });
    node->setMergeIntoOne(true);
    for (const auto& title : node->titles()) {
        title->setIsSelected(true);
        title->setOutputName(QStringLiteral("/tmp/t%1.m2ts").arg(title->titleNumber()));
    }
    const auto group = DNDVDGroupTitle::dvdGroupTitleWithDVDNode(node);
    // mencoder reads too little of the titles' transport streams: ffmpeg joins them.
    for (const ArgvAssembler core : { &DVD_To_TS_H264_Default_With_MEncoder,
             &DVD_To_TS_MPEG4_Default_With_MEncoder, &DVD_To_TS_MPEG2_Default_With_MEncoder }) {
        const ArgumentBlockPtr join = core(group, -1, config);
        ASSERT_TRUE(join);
        EXPECT_EQ(join->arguments().mid(6),
            QStringList({ "-c", "copy", "-f", "mpegts", dir.path() + "/My Film.m2ts" }));
    }
}

} // namespace
