// The DVD builders' command lines, written out by hand, run through the
// encoder-core bridge on the test disc; the driver's DVD path with its
// output check, merge, cleanup and stop.
#include "engine/EncoderCore.h"

#include "core/builders/BuilderTestSupport.h"
#include "core/builders/video/FrameTestSupport.h"
#include "engine/DNVideoConverter.h"
#include "engine/DVDOutputCheck.h"
#include "fixtures/MediaFacts.h"
#include "fixtures/TestDisc.h"
#include "model/DNDVDGroupTitle.h"
#include "platform/AppPaths.h"
#include "profiles/DNProfile.h"
#include "profiles/DNProfileManager.h"
#include "services/DNSetting.h"
#include "support/ChildProcesses.h"
#include "support/SmallFileSystem.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <future>

namespace {

constexpr double kLengthSlack = 1.0;
const QString kChain = QStringLiteral("pp,scale=720:-2,eq2=1:1:0:1,harddup,fixpts");
const QString kInfo = QStringLiteral(R"(name="Garden":artist="Quillon":genre="Video")");

ArgumentBlockPtr blockOf(const QStringList& words, int duration)
{
    ArgumentWriter writer("test list");
    for (const QString& word : words)
        writer.add(word);
    return writer.finish(duration);
}

double displayAspect(const QString& path)
{
    QProcess probe;
    probe.start("ffprobe",
        { "-v", "error", "-select_streams", "v:0", "-show_entries", "stream=display_aspect_ratio",
            "-of", "default=nw=1:nk=1", path });
    probe.waitForFinished(30'000);
    const QStringList ratio
        = QString::fromUtf8(probe.readAllStandardOutput()).section('\n', 0, 0).split(':');
    return ratio.size() == 2 && ratio[1].toDouble() > 0 ? ratio[0].toDouble() / ratio[1].toDouble()
                                                        : 0;
}

QStringList fifosLeft()
{
    return QDir(AppPaths::temporaryFolder()).entryList({ "encoder-*.nut" }, QDir::System);
}

class EncoderCoreEngine : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(TestDisc::ensure(), QString()); }

    void SetUp() override { ASSERT_TRUE(m_folder.isValid()); }

    QString out(const QString& name) const { return m_folder.filePath(name); }

    // The start of every list: the title, untrimmed or from 3 s.
    static QStringList source(int title, bool trimmed)
    {
        return { "encoder", QStringLiteral("dvd://%1").arg(title), "-dvd-device", TestDisc::image(),
            "-ss", trimmed ? "3" : "0" };
    }

    int encode(const QStringList& words, int duration)
    {
        const ArgumentBlockPtr block = blockOf(words, duration);
        return block ? EncoderCoreEncode(block->argc, block->argv.data(), block->duration) : -100;
    }

    QTemporaryDir m_folder;
};

struct FamilyRun {
    const char* family;
    QStringList list;
    const char* format;
    const char* videoCodec; // "" for none
    const char* audioCodec;
    double seconds;
    double aspect; // display width by height; 0 when the container keeps none
};

// One list per family, as the builders write them, each to its container.
TEST_F(EncoderCoreEngine, EveryFamilysListMakesItsOutput)
{
    const QString x264 = QStringLiteral(
        "crf=22:sar=1/1:threads=auto:bitrate=768:level_idc=30:bframes=0:no8x8dct:frameref=6:"
        "global_header:partitions=all:keyint=60:nocabac:me=umh:subq=9:weightp=0:"
        "profile=baseline:level=30");
    const QString mpeg2 = QStringLiteral(
        "vcodec=mpeg2video:vrc_buf_size=1835:vrc_maxrate=5800:vbitrate=4000:keyint=15:vstrict=0:");
    const QString mpeg2Tail = QStringLiteral("autoaspect:vmax_b_frames=2:vb_strategy=1:threads=2");
    const QStringList faac { "-oac", "faac", "-faacopts", "br=128:mpeg=4:object=2:raw" };
    const QStringList mp3 { "-oac", "mp3lame", "-lameopts", "mode=0:cbr:br=128" };
    const QStringList track { "-info", kInfo, "-aid", "128" };
    const QStringList end { "-endpos", "5" };
    // The H.264 core's order, with its container and x264 options.
    const auto h264 = [&](QStringList start, const char* format, const QString& options,
                          const QString& output) {
        return start
            + QStringList { "-of", "lavf", "-lavfopts", format, "-sws", "2", "-af", "volnorm=1",
                  "-srate", "44100", "-channels", "2", "-vf", kChain }
        + faac + QStringList { "-ovc", "x264", "-x264encopts", options } + track
            + QStringList { "-o", output };
    };
    const auto divx = [&](const QStringList& sound, const QString& output) {
        return QStringList { "-of", "avi", "-ffourcc", "DX50", "-ovc", "lavc", "-lavcopts",
            "vcodec=mpeg4:vbitrate=800:autoaspect:keyint=132:threads=2", "-vf", kChain }
        + track + sound + QStringList { "-o", output };
    };
    const auto mpeg2List = [&](const QStringList& sound, const char* format, const QString& options,
                               const QString& output) {
        return source(1, true) + sound
            + QStringList { "-ovc", "lavc", "-of", "mpeg", "-mpegopts", format, "-vf", kChain,
                  "-lavcopts", options }
        + track + QStringList { "-o", output } + end;
    };
    const auto sound = [&](const QStringList& codec, const QString& output) {
        return source(1, true) + QStringList { "-srate", "44100", "-ovc", "frameno" } + codec
            + QStringList { "-of", "rawaudio", "-aid", "129", "-o", output, "-info", kInfo } + end;
    };
    const QStringList reencode { "-channels", "2", "-oac", "lavc" };
    const FamilyRun runs[] = {
        { "H.264 ipod, read with dvdnav",
            h264({ "encoder", "dvdnav://1", "-dvd-device", TestDisc::image(), "-ss", "0" },
                "format=ipod", x264, out("ipod.m4v")),
            "mov,mp4,m4a,3gp,3g2,mj2", "h264", "aac", 12, 4.0 / 3 },
        { "H.264 psp, 16:9 title", h264(source(2, true), "format=psp", x264, out("psp.mp4")) + end,
            "mov,mp4,m4a,3gp,3g2,mj2", "h264", "aac", 5, 16.0 / 9 },
        { "DivX, sound copied",
            source(1, false) + divx({ "-oac", "copy", "-channels", "2" }, out("copy.avi")), "avi",
            "mpeg4", "ac3", 12, 4.0 / 3 },
        { "Xvid",
            source(1, true)
                + QStringList { "-of", "avi", "-ffourcc", "XVID", "-ovc", "xvid", "-xvidencopts",
                    "bitrate=800:autoaspect:threads=2", "-vf", kChain }
                + track + QStringList { "-channels", "2", "-srate", "44100", "-af", "volnorm=1" }
                + mp3 + QStringList { "-o", out("xvid.avi") } + end,
            "avi", "mpeg4", "mp3", 5, 4.0 / 3 },
        { "MPEG-2, AC-3 copied",
            mpeg2List({ "-oac", "copy", "-channels", "2" }, "format=dvd:tsaf", mpeg2 + mpeg2Tail,
                out("copy.mpg"))
                + QStringList { "-mc", "0" },
            "mpeg", "mpeg2video", "ac3", 5, 4.0 / 3 },
        { "MPEG-2, AC-3 encoded",
            mpeg2List(reencode, "format=dvd:tsaf",
                mpeg2 + "acodec=ac3_fixed:abitrate=192:" + mpeg2Tail, out("ac3.mpg")),
            "mpeg", "mpeg2video", "ac3", 5, 4.0 / 3 },
        { "AAC sound",
            sound({ "-oac", "faac", "-faacopts", "br=128:mpeg=4:object=2" }, out("sound.aac")),
            "aac", "", "aac", 5, 0 },
        { "AC-3 sound",
            source(1, true)
                + QStringList { "-ovc", "frameno", "-oac", "copy", "-aid", "128", "-of", "rawaudio",
                    "-o", out("sound.ac3"), "-info", kInfo }
                + end,
            "ac3", "", "ac3", 5, 0 },
        { "main title backup",
            source(1, false)
                + QStringList { "-ovc", "copy", "-oac", "copy", "-of", "mpeg", "-mpegopts",
                    "format=dvd:tsaf", "-aid", "128", "-o", out("backup.vob") },
            "mpeg", "mpeg2video", "ac3", 12, 4.0 / 3 },
    };
    for (const FamilyRun& run : runs) {
        SCOPED_TRACE(run.family);
        ASSERT_EQ(encode(run.list, int(run.seconds)), 0) << qPrintable(run.list.join(' '));
        const QString output = run.list[run.list.indexOf("-o") + 1];
        const MediaFacts facts = MediaFacts::probe(output);
        ASSERT_TRUE(facts.ok) << qPrintable(facts.error);
        EXPECT_EQ(facts.formatName, run.format);
        EXPECT_EQ(facts.stream("video").codecName, run.videoCodec);
        EXPECT_EQ(facts.stream("audio").codecName, run.audioCodec);
        EXPECT_NEAR(facts.duration, run.seconds, kLengthSlack);
        if (run.aspect > 0) {
            EXPECT_NEAR(displayAspect(output), run.aspect, 0.01);
        }
    }
    EXPECT_TRUE(fifosLeft().isEmpty());
}

// Two passes share a statistics file; the first writes no output at all.
TEST_F(EncoderCoreEngine, MpegFourRunsInTwoPasses)
{
    const QString passLog = out("KR_pass");
    const auto pass = [&](int number, const QString& output) {
        return source(1, true)
            + QStringList { "-srate", "44100", "-of", "lavf", "-lavfopts", "format=ipod", "-oac",
                  "lavc", "-ovc", "lavc", "-lavcopts",
                  QStringLiteral("aglobal=1:vglobal=1:vcodec=mpeg4:level=30:vmax_b_frames=0:"
                                 "autoaspect:acodec=libfaac:vbitrate=800:abitrate=128:threads=2:"
                                 "vpass=%1")
                      .arg(number),
                  "-passlogfile", passLog, "-channels", "2", "-vf", kChain, "-info", kInfo, "-aid",
                  "128", "-o", output, "-af", "volnorm=1", "-endpos", "5" };
    };
    ASSERT_EQ(encode(pass(1, "/dev/null"), 5), 0);
    EXPECT_FALSE(EncoderCoreLastCommand().contains("|")) << "a first pass has nothing to finish";
    EXPECT_TRUE(QFileInfo(passLog).size() > 0);
    ASSERT_EQ(encode(pass(2, out("two.mp4")), 5), 0);
    const MediaFacts facts = MediaFacts::probe(out("two.mp4"));
    EXPECT_EQ(facts.stream("video").codecName, "mpeg4");
    EXPECT_EQ(facts.stream("audio").codecName, "aac");
    EXPECT_NEAR(facts.duration, 5, kLengthSlack);
}

// The rows' changes as the run sees them, where an output alone cannot show them.
TEST(EncoderCoreTranslation, OwnOptionsAndTheWordsOnlyTheListShows)
{
    const EncoderCorePlan plain = EncoderCoreAdaptArguments(
        { "encoder", "dvdnav://2", "-oac", "copy", "-of", "avi", "-o", "/out/a b.avi" });
    EXPECT_TRUE(plain.arguments.contains("dvd://2"));
    EXPECT_EQ(plain.arguments.mid(0, 6),
        QStringList({ "-noconfig", "all", "-vc", "ffmpeg12,", "-ni", "-nosub" }));
    EXPECT_EQ(plain.arguments.mid(plain.arguments.size() - 2), QStringList({ "-mc", "0" }));
    EXPECT_EQ(plain.arguments[plain.outputAt], "/out/a b.avi");
    EXPECT_FALSE(plain.finishing);

    const EncoderCorePlan text = EncoderCoreAdaptArguments({ "encoder", "dvd://1", "-oac", "copy",
        "-mc", "0", "-sub", "/s/zh.srt", "-o", "/out/a.avi" });
    EXPECT_FALSE(text.arguments.contains("-nosub"));
    EXPECT_EQ(text.arguments.count("-mc"), 1);
    const qsizetype sub = text.arguments.indexOf("-sub");
    ASSERT_GT(sub, 0);
    EXPECT_EQ(text.arguments[sub - 1], "-ass");

    const EncoderCorePlan flv = EncoderCoreAdaptArguments({ "encoder", "dvd://1", "-lavcopts",
        "vcodec=flv:mv0:trell:cbp:coder=1", "-sid", "0", "-o", "/out/a.flv" });
    EXPECT_TRUE(flv.arguments.contains("vcodec=flv:o=mpv_flags=+mv0+cbp_rd:trell"));
    EXPECT_FALSE(flv.arguments.contains("-nosub"));

    const EncoderCorePlan quiet
        = EncoderCoreAdaptArguments({ "encoder", "dvd://1", "-oac", "faac", "-faacopts", "br=96",
            "-of", "lavf", "-lavfopts", "format=ipod", "-nosound", "-o", "/out/a.mp4" });
    EXPECT_FALSE(quiet.finishing) << "no sound, nothing to finish";
    EXPECT_TRUE(quiet.arguments.contains("format=ipod"));

    const EncoderCorePlan sound
        = EncoderCoreAdaptArguments({ "encoder", "dvd://1", "-oac", "faac", "-faacopts",
            "br=96:mpeg=4", "-of", "lavf", "-lavfopts", "format=ipod", "-o", "/out/a.mp4" });
    ASSERT_TRUE(sound.finishing);
    EXPECT_EQ(EncoderCoreFinishingArguments(*sound.finishing, "/tmp/f.nut", "/out/a.mp4").mid(10),
        QStringList({ "-map", "0", "-c:v", "copy", "-c:a", "aac", "-b:a", "96k", "-f", "ipod",
            "file:/out/a.mp4" }));
}

// What mplayer reports of a title once it has decoded a frame, which the
// bridge takes from a disc folder's IFO files instead.
EncoderCoreTitleShape shapeMplayerFinds(const QString& device, int title)
{
    QProcess mplayer;
    mplayer.start("mplayer",
        { "-noconfig", "all", "-really-quiet", "-identify", "-nosound", "-vo", "null", "-frames",
            "1", "-vc", "mpeg12,", QStringLiteral("dvd://%1").arg(title), "-dvd-device", device });
    mplayer.waitForFinished(60'000);
    EncoderCoreTitleShape shape;
    for (const QString& line : QString::fromUtf8(mplayer.readAllStandardOutput()).split('\n')) {
        if (line.startsWith("ID_VIDEO_ASPECT=") && line.mid(16).toDouble() > 0)
            shape.aspect = line.mid(16).trimmed();
        if (line.startsWith("ID_VIDEO_FPS="))
            shape.rate = line.mid(13).toDouble();
    }
    return shape;
}

// A disc folder's IFO files name each title's aspect and rate as mplayer
// finds them decoding it, 4:3 and 16:9, NTSC and PAL; an image is left to
// mplayer.
TEST(EncoderCoreTranslation, AFoldersTitleShapeIsTheOneMplayerFinds)
{
    const QString made = TestDisc::ensure() + TestDisc::ensureFlashAndBeepShapes();
    ASSERT_TRUE(made.isEmpty()) << qPrintable(made);
    const struct {
        QString device;
        int title;
    } titles[] = { { TestDisc::folder(), 1 }, { TestDisc::folder(), 2 },
        { TestDisc::palFolder(), 1 }, { TestDisc::palFolder(), 2 },
        { TestDisc::videoTSFolder(), 2 }, { TestDisc::flashAndBeepNtscFolder(), 1 },
        { TestDisc::flashAndBeepShapesFolder(), 4 } };
    for (const auto& title : titles) {
        SCOPED_TRACE(
            QStringLiteral("%1 title %2").arg(title.device).arg(title.title).toStdString());
        const std::optional<EncoderCoreTitleShape> named
            = EncoderCoreFolderTitleShape(title.device, title.title);
        ASSERT_TRUE(named);
        const EncoderCoreTitleShape found = shapeMplayerFinds(title.device, title.title);
        EXPECT_EQ(named->aspect, found.aspect);
        EXPECT_NEAR(named->rate, found.rate, 0.001);
    }
    EXPECT_FALSE(EncoderCoreFolderTitleShape(TestDisc::image(), 1));
    EXPECT_FALSE(EncoderCoreFolderTitleShape(TestDisc::folder(), 3));
}

TEST(EncoderCoreTranslation, ProgressComesFromTheStatusLine)
{
    ProgressInfo progress;
    EXPECT_TRUE(EncoderCoreReadProgressLine(
        "Pos:   3.0s     90f (25%) 45.10fps Trem:   0min   1mb  A-V:0.000 [768:128]", 12,
        progress));
    EXPECT_DOUBLE_EQ(progress.percent, 25.0);
    EXPECT_EQ(progress.frameNumber, 90);
    EXPECT_DOUBLE_EQ(progress.fps, 45.1);
    EXPECT_TRUE(EncoderCoreReadProgressLine("Pos:   6.0s  180f (40%)  50.00fps", 0, progress));
    EXPECT_DOUBLE_EQ(progress.percent, 40.0) << "without a duration, mencoder's own percent";
    EXPECT_FALSE(EncoderCoreReadProgressLine("Writing header...", 12, progress));
}

// What mencoder leaves when it answers 0 and the run still failed.
TEST(DVDOutputCheck, NamesWhatIsWrongWithAnOutput)
{
    QTemporaryDir folder;
    const auto make = [&](const QString& name, const QString& soundSeconds,
                          const QStringList& sound = { "-c:a", "aac" }) {
        const QString path = folder.filePath(name);
        QProcess ffmpeg;
        ffmpeg.start("ffmpeg",
            QStringList { "-v", "error", "-f", "lavfi", "-i", "testsrc2=size=64x48:d=5", "-f",
                "lavfi", "-i", "sine=d=" + soundSeconds, "-map", "0:v", "-map", "1:a" }
                + sound + QStringList { path });
        ffmpeg.waitForFinished(30'000);
        return path;
    };
    // AC-3 then MP2 copied into one stream labelled AC-3: the second half
    // does not decode, though the container says 10 s.
    const QByteArray list = QStringLiteral("file 'file:%1'\nfile 'file:%2'\n")
                                .arg(make("ac3.mpg", "5", { "-c:a", "ac3", "-f", "dvd" }),
                                    make("mp2.mpg", "5", { "-c:a", "mp2", "-f", "dvd" }))
                                .toUtf8();
    QProcess join;
    join.start("ffmpeg",
        { "-v", "error", "-f", "concat", "-safe", "0", "-i",
            "data:text/plain;base64," + list.toBase64(), "-c", "copy", "-f", "dvd",
            folder.filePath("joined.mpg") });
    join.waitForFinished(30'000);
    QFile empty(folder.filePath("empty.mp4"));
    ASSERT_TRUE(empty.open(QIODevice::WriteOnly));
    empty.close();
    const QString whole = make("whole.mp4", "5");
    const struct {
        QString path;
        DVDOutputExpectation expected;
        const char* problem; // "" for none
    } cases[] = {
        { whole, { 5, true }, "" },
        { folder.filePath("none.mp4"), { 5, true }, "wrote no output file" },
        { empty.fileName(), { 5, true }, "empty output file" },
        { whole, { 12, true }, "lasts 5.0 s instead of 12.0 s" },
        { make("short-sound.mp4", "0.1"), { 5, true }, "sound decodes for 0.1 s instead of 5.0 s" },
        { folder.filePath("joined.mpg"), { 10, true },
            "sound decodes for 5.0 s instead of 10.0 s" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(qPrintable(c.path));
        const QString problem = checkDVDOutput(c.path, c.expected);
        EXPECT_EQ(problem.isEmpty(), !*c.problem) << qPrintable(problem);
        EXPECT_TRUE(problem.contains(c.problem)) << qPrintable(problem);
    }
}

// The driver's DVD path on the test disc, with the program's builders or
// with one that writes the list a test sets.
QStringList g_list;

ArgumentBlockPtr listBuilder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig)
{
    const auto dvd = std::static_pointer_cast<DNDVDNode>(node);
    dvd->titleAt(titleIndex)->setOutputName(g_list[g_list.indexOf("-o") + 1]);
    return blockOf(g_list, 0);
}

const ArgvAssemblerEntry kListRows[] = { { "Test_List", &listBuilder } };

class DVDConversion : public EncoderCoreEngine {
protected:
    void SetUp() override
    {
        EncoderCoreEngine::SetUp();
        QDir().mkpath(out("out"));
        DNSetting::shareSetting().appSetting().setVideoOutputDirectory(out("out"));
    }
    void TearDown() override { DNVideoConverterUseProgramAssemblerTables(); }

    std::shared_ptr<DNDVDNode> load(const QString& source, const char* builder)
    {
        QString failure;
        auto node = DNDVDNode::dvdNodeWithSourceInfo(
            NXDVDSourceInfo::sourceInfoWithPath(source), &failure);
        EXPECT_TRUE(node) << qPrintable(failure);
        if (node)
            node->setProfile(
                videoProfile({ { "ArgvAssembler", builder }, { "FileNameSuffix", "mp4" } }));
        return node;
    }

    QStringList outputs() const { return QDir(out("out")).entryList(QDir::Files | QDir::Hidden); }

    // `source` with the catalogue profile `globalID`, all its titles merged
    // into one when `merge`, and the output folder emptied.
    std::shared_ptr<DNDVDNode> catalogueNode(const QString& source, int globalID, bool merge)
    {
        QDir(out("out")).removeRecursively();
        QDir().mkpath(out("out"));
        const auto node = load(source, "unused");
        if (!node)
            return node;
        node->setProfile(DNProfileManager::profileManager().profileWithGlobalID(globalID)->copy());
        for (const auto& title : node->titles())
            title->setIsSelected(merge || title->titleNumber() == 1);
        node->setMergeIntoOne(merge);
        return node;
    }

    // The PAL disc with a catalogue profile: the first half of one title, or
    // both titles merged. The output, or an empty path after a failure.
    QString convertPAL(int globalID, int title, bool merge = false)
    {
        QDir(out("out")).removeRecursively();
        QDir().mkpath(out("out"));
        const auto node = load(TestDisc::palImage(), "unused");
        if (!node)
            return {};
        node->setProfile(DNProfileManager::profileManager().profileWithGlobalID(globalID)->copy());
        for (const auto& each : node->titles())
            each->setIsSelected(merge || each->titleNumber() == title + 1);
        node->setMergeIntoOne(merge);
        node->titleAt(title)->setting().setTrimEnable(!merge);
        node->titleAt(title)->setting().setTrimEndPercent(0.5f);
        const int result = DNVideoConverterStart(node, merge ? 0 : title, nullptr, nullptr);
        return result == 0 && outputs().size() == 1 ? out("out/" + outputs().front()) : QString();
    }
    QStringList titleFiles() const
    {
        return QDir(AppPaths::temporaryFolder())
            .entryList({ QString(TestDisc::kPalName) + "*" }, QDir::Files);
    }
};

// mencoder answers 0 for these; the output check fails them and removes
// what they wrote.
TEST_F(DVDConversion, RunsThatWroteTooLittleFailAndLeaveNoFile)
{
    const QString truncated = out("Truncated.iso");
    QFile image(TestDisc::image());
    ASSERT_TRUE(image.open(QIODevice::ReadOnly));
    QFile part(truncated);
    ASSERT_TRUE(part.open(QIODevice::WriteOnly));
    part.write(image.read(image.size() * 2 / 5));
    part.close();
    const auto damaged = load(truncated, "DVD_To_iPad2_H264_With_MEncoder");
    ASSERT_TRUE(damaged);
    EXPECT_EQ(DNVideoConverterStart(damaged, 0, nullptr, nullptr), kDNVideoConverterFailed);
    EXPECT_TRUE(sharedLogText().contains("instead of 12.0 s"));
    EXPECT_TRUE(outputs().isEmpty());

    DNVideoConverterSetAssemblerTables(kListRows, {});
    const auto silent = load(TestDisc::image(), "Test_List");
    ASSERT_TRUE(silent);
    g_list = source(1, false)
        + QStringList { "-srate", "44100", "-ovc", "frameno", "-oac", "mp3lame", "-lameopts",
              "vbr=0:br=128:vol=5:mode=0", "-of", "rawaudio", "-aid", "140", "-o",
              out("out/none.mp3") };
    EXPECT_EQ(DNVideoConverterStart(silent, 0, nullptr, nullptr), kDNVideoConverterFailed);
    EXPECT_TRUE(sharedLogText().contains("empty output file"));
    EXPECT_TRUE(outputs().isEmpty());

    // A failed first pass writes to "/dev/null": that is no file of ours.
    g_list = source(1, false) + QStringList { "-no-such-option", "-o", "/dev/null" };
    EXPECT_NE(DNVideoConverterStart(silent, 0, nullptr, nullptr), 0);
    EXPECT_FALSE(QFileInfo("/dev/null").isFile());

    // Without sound chosen the same title is a picture alone.
    silent->titleAt(0)->setAudioTracks({});
    g_list = source(1, true)
        + QStringList { "-of", "lavf", "-lavfopts", "format=ipod", "-vf", kChain, "-oac", "faac",
              "-faacopts", "br=128:mpeg=4:object=2:raw", "-ovc", "x264", "-x264encopts",
              "bitrate=500:global_header", "-nosound", "-o", out("out/quiet.mp4"), "-endpos", "5" };
    silent->titleAt(0)->setting().setTrimEnable(true);
    silent->titleAt(0)->setting().setTrimStartPercent(0.25f);
    silent->titleAt(0)->setting().setTrimEndPercent(0.25f + 5.5f / 12.0f);
    ASSERT_EQ(DNVideoConverterStart(silent, 0, nullptr, nullptr), 0);
    const MediaFacts facts = MediaFacts::probe(out("out/quiet.mp4"));
    EXPECT_EQ(facts.count("audio"), 0);
    EXPECT_EQ(facts.stream("video").codecName, "h264");
}

// The finishing ffmpeg's lines are logged on a thread of their own: its
// complaint is still the conversion's reason.
TEST_F(DVDConversion, AFailedFinishingStageGivesFfmpegsReason)
{
    DNVideoConverterSetAssemblerTables(kListRows, {});
    const auto node = load(TestDisc::image(), "Test_List");
    ASSERT_TRUE(node);
    g_list = source(1, true)
        + QStringList { "-of", "lavf", "-lavfopts", "format=nosuchformat", "-oac", "faac", "-ovc",
              "x264", "-o", out("out/bad.mp4"), "-endpos", "2" };
    EXPECT_EQ(DNVideoConverterStart(node, 0, nullptr, nullptr), kDNVideoConverterFailed);
    EXPECT_TRUE(DNVideoConverterLastFailure().endsWith(
        "ffmpeg failed with exit status 1: file:" + out("out/bad.mp4") + ": Invalid argument"))
        << qPrintable(DNVideoConverterLastFailure());
}

TEST_F(DVDConversion, AStopEndsBothProgramsAndLeavesNothing)
{
    const auto node = load(TestDisc::image(), "DVD_To_iPad2_H264_With_MEncoder");
    ASSERT_TRUE(node);
    std::atomic<bool> started = false;
    const auto onState
        = [](int, void* flag) { static_cast<std::atomic<bool>*>(flag)->store(true); };
    auto conversion = std::async(
        std::launch::async, [&] { return DNVideoConverterStart(node, 0, onState, &started); });
    // The engine has written frames of this run: a stop now is one mid-run.
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return started && EncoderCoreProgress().frameNumber > 0; }, 20'000));
    QElapsedTimer stopping;
    stopping.start();
    DNVideoConverterStop();
    ASSERT_EQ(conversion.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_LT(stopping.elapsed(), 2000);
    EXPECT_EQ(conversion.get(), kDNVideoConverterStopped);
    EXPECT_EQ(childProcessCount(), 0);
    EXPECT_TRUE(outputs().isEmpty());
    EXPECT_TRUE(fifosLeft().isEmpty());

    // A stop asked for while the engine is being started keeps it from starting.
    const auto stopAtStart = [](int, void*) { DNVideoConverterStop(); };
    EXPECT_EQ(DNVideoConverterStart(node, 0, stopAtStart, nullptr), kDNVideoConverterStopped);
    EXPECT_EQ(EncoderCoreProgress().frameNumber, 0);
    EXPECT_TRUE(outputs().isEmpty());
    EXPECT_TRUE(fifosLeft().isEmpty());
}

// A disk that fills up under each engine: mencoder answers 0 for a cut AVI,
// the dump ends with "Exiting... (Fatal error)", HandBrakeCLI with a status
// of its own. Each run says that the disk is full, in which folder, and
// leaves nothing there.
TEST_F(DVDConversion, AFullDiskIsTheReasonWhicheverEngineFailed)
{
    const struct {
        int globalID;
        const char* program; // the one that writes the output
    } cases[] = { { 1103026, "mencoder" }, { kGlobalIDPlayerStreamDump, "mplayer" },
        { kGlobalIDDVDToMKV, "HandBrakeCLI" } };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.program);
        const auto node = catalogueNode(TestDisc::image(), c.globalID, false);
        ASSERT_TRUE(node);
        const SmallFileSystem disk(out("out"), "256k");
        if (!disk.isMounted())
            GTEST_SKIP() << "cannot mount a small file system here (needs root)";
        EXPECT_NE(DNVideoConverterStart(node, 0, nullptr, nullptr), 0);
        EXPECT_TRUE(DNVideoConverterLastFailure().startsWith(
            QStringLiteral("The conversion failed: the disk is full: %1 could not write all of "
                           "its output into \"%2\", which has 0 KB left")
                .arg(c.program, out("out"))))
            << qPrintable(DNVideoConverterLastFailure());
        EXPECT_TRUE(outputs().isEmpty());
    }
}

// The chosen sound track is the one heard: the French track is at 880 Hz.
TEST_F(DVDConversion, TheChosenSoundTrackIsConverted)
{
    const auto node = load(TestDisc::image(), "DVD_To_iPad2_H264_With_MEncoder");
    ASSERT_TRUE(node);
    node->titleAt(0)->setting().setAudioIndex(1);
    ASSERT_EQ(DNVideoConverterStart(node, 0, nullptr, nullptr), 0);
    ASSERT_EQ(outputs().size(), 1);
    EXPECT_NEAR(firstSecondTone(out("out/" + outputs().front())), 880, 20);
}

} // namespace

namespace {

// The mean level of a file's sound in dB, from ffmpeg's volumedetect.
double meanVolume(const QString& path)
{
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", { "-v", "info", "-i", path, "-af", "volumedetect", "-f", "null", "-" });
    ffmpeg.waitForFinished(30'000);
    const QString log = QString::fromUtf8(ffmpeg.readAllStandardError());
    const QRegularExpressionMatch match
        = QRegularExpression(R"(mean_volume: (-?[\d.]+) dB)").match(log);
    return match.hasMatch() ? match.captured(1).toDouble() : 0;
}

// One catalogue profile per DVD builder family on title 1, trimmed 3 to 8 s.
TEST_F(DVDConversion, CatalogueProfilesMakeTheirContainersAndCodecs)
{
    const struct {
        int globalID;
        bool twoPasses;
        int volume;
        const char* format;
        const char* videoCodec; // "" for sound alone
        const char* audioCodec;
        bool merge = false; // both titles whole, into one output
    } runs[] = {
        { 1101098, false, 100, "mov,mp4,m4a,3gp,3g2,mj2", "h264", "aac" },
        { 1105009, false, 100, "mpegts", "h264", "aac" },
        { 1102095, true, 100, "mov,mp4,m4a,3gp,3g2,mj2", "mpeg4", "aac" },
        { 1103026, false, 100, "avi", "mpeg4", "mp3" },
        { 1104015, false, 100, "asf", "wmv2", "mp3" },
        { 1105006, false, 100, "mpeg", "mpeg2video", "mp2" },
        { 1105004, false, 100, "mpeg", "mpeg2video", "ac3", true },
        { 1105018, false, 100, "mp3", "", "mp3" },
        { 1105018, false, 50, "mp3", "", "mp3" },
    };
    std::vector<double> levels;
    for (const auto& run : runs) {
        SCOPED_TRACE(run.globalID);
        QDir(out("out")).removeRecursively();
        QDir().mkpath(out("out"));
        const auto node = load(TestDisc::image(), "unused");
        ASSERT_TRUE(node);
        const auto profile = DNProfileManager::profileManager().profileWithGlobalID(run.globalID);
        ASSERT_TRUE(profile);
        profile->setUserEnableTwopassCode(run.twoPasses);
        node->setProfile(profile);
        for (const auto& title : node->titles())
            title->setIsSelected(title->isSelected() || run.merge);
        node->setMergeIntoOne(run.merge);
        DNDVDTitleSetting& setting = node->titleAt(0)->setting();
        setting.setTrimEnable(!run.merge);
        setting.setTrimStartPercent(0.25f);
        setting.setTrimEndPercent(0.25f + 5.5f / 12.0f);
        setting.setVolume(quint32(run.volume));
        ASSERT_EQ(DNVideoConverterStart(node, 0, nullptr, nullptr), 0);
        ASSERT_EQ(outputs().size(), 1);
        const QString output = out("out/" + outputs().front());
        const MediaFacts facts = MediaFacts::probe(output);
        EXPECT_EQ(facts.formatName, run.format);
        EXPECT_EQ(facts.stream("video").codecName, run.videoCodec);
        EXPECT_EQ(facts.stream("audio").codecName, run.audioCodec);
        // A muxer that drops frames in each title leaves a merge over half a
        // second short while each title alone stays within a second.
        EXPECT_NEAR(facts.duration, run.merge ? 23 : 5, run.merge ? 0.5 : kLengthSlack);
        if (*run.videoCodec) {
            EXPECT_NEAR(displayAspect(output), 4.0 / 3, 0.01);
        }
        EXPECT_TRUE(QDir(AppPaths::temporaryFolder()).entryList({ "KR_*" }).isEmpty());
        if (!*run.videoCodec)
            levels.push_back(meanVolume(output));
    }
    ASSERT_EQ(levels.size(), 2u);
    EXPECT_NEAR(levels[0] - levels[1], 6.0, 1.0) << "half the volume is 6 dB lower";

    // A title without sound has nothing for a sound-only profile.
    const auto silent = load(TestDisc::image(), "unused");
    ASSERT_TRUE(silent);
    silent->setProfile(DNProfileManager::profileManager().profileWithGlobalID(1105018));
    silent->titleAt(0)->setAudioTracks({});
    EXPECT_EQ(DNVideoConverterStart(silent, 0, nullptr, nullptr), kDNVideoConverterFailed);
    EXPECT_TRUE(sharedLogText().contains("Title 1 has no audio track"));
}

// libmpeg2 smeared every moving edge (frame 50 against the source: at most
// 22 dB at any offset); libavcodec's decoder gives 42 to 55 dB at the
// output's offset of one or two frames. The sound of this disc, written by
// ffmpeg's DVD target, is read whole, and the disc's name keeps its quote.
TEST_F(DVDConversion, EveryFamilyKeepsTheTitlesPictureAndWholeSound)
{
    constexpr double kClean = 35; // dB
    const QString source = TestDisc::palFolder() + "/VIDEO_TS/VTS_01_1.VOB";
    const std::pair<int, const char*> families[]
        = { { 1105001, "h264" }, { 1105002, "h264" }, { 1102092, "mpeg4" }, { 1103024, "mpeg4" },
              { 1104015, "wmv2" }, { 1105007, "flv1" }, { 1105006, "mpeg2video" } };
    for (const auto& [globalID, codec] : families) {
        SCOPED_TRACE(globalID);
        const QString output = convertPAL(globalID, 0);
        ASSERT_FALSE(output.isEmpty()) << qPrintable(sharedLogText().right(2000));
        EXPECT_TRUE(QFileInfo(output).fileName().startsWith("Ann's Orchard_T1."));
        EXPECT_EQ(MediaFacts::probe(output).stream("video").codecName, codec);
        if (globalID != 1105007) { // FLV keeps no aspect
            EXPECT_NEAR(displayAspect(output), 16.0 / 9, 0.02);
        }
        double best = 0;
        for (int offset = -2; offset <= 2; ++offset)
            best = std::max(best, framePsnr(output, 50, source, 50 + offset));
        EXPECT_GT(best, kClean);
        EXPECT_NEAR(decodedSoundSeconds(output), 3, 0.5);
    }
    // AC-3 Sound from the MP2 title writes AC-3, half of its 5 s.
    const QString sound = convertPAL(1105020, 1);
    EXPECT_EQ(MediaFacts::probe(sound).stream("audio").codecName, "ac3");
    EXPECT_NEAR(decodedSoundSeconds(sound), 2.5, 0.5);
}

// A merge's list joins the converted titles on mencoder; read through its
// cache, a join could wait for ever on a cache process that had died. ffmpeg
// runs the join now, placing each title by its own clock.
TEST_F(DVDConversion, MencoderJoinsOfTwoTitlesFinishWithoutACache)
{
    for (const int globalID : { 1105007, 1104015 }) {
        SCOPED_TRACE(globalID);
        const auto node = catalogueNode(TestDisc::image(), globalID, true);
        ASSERT_TRUE(node);
        ASSERT_EQ(DNVideoConverterStart(node, 0, nullptr, nullptr), 0);
        const QStringList join = EncoderCoreLastCommand();
        EXPECT_EQ(join.value(0), "ffmpeg");
        EXPECT_FALSE(join.contains("-cache")) << qPrintable(join.join(' '));
        ASSERT_EQ(outputs().size(), 1);
        EXPECT_NEAR(MediaFacts::probe(out("out/" + outputs().front())).duration, 23, 0.5);
    }
}

// Faults found while the command lines are made, before any engine runs: a
// merge with a profile that converts one title at a time (the reason names
// the profile), LPCM sound, which mencoder copies into no output, in a
// single title or in a merge's later title, and an output folder whose path
// leaves no room for the merge's name (the titles themselves go to the
// temporary folder).
TEST_F(DVDConversion, WhatNoEngineCanDoIsRefusedBeforeAnyWork)
{
    QString deepFolder = out(QString(200, 'd'));
    while (QFile::encodeName(deepFolder).size() < 2030)
        deepFolder += '/' + QString(std::min<qsizetype>(200, 2030 - deepFolder.size()), 'd');
    ASSERT_TRUE(QDir().mkpath(deepFolder));
    const auto restoreFolder = qScopeGuard(
        [this] { DNSetting::shareSetting().appSetting().setVideoOutputDirectory(out("out")); });
    const struct {
        QString source;
        std::vector<int> globalIDs;
        bool merge;
        std::function<void(DNDVDNode&)> spoil;
        const char* reason;
    } cases[] = {
        { TestDisc::image(), { 1105018, kGlobalIDDiscBackupTool, kGlobalIDDVDToMKV }, true,
            [](DNDVDNode&) {}, "\"%1\" cannot merge DVD titles" },
        { TestDisc::lpcmFolder(), { 1105021, 1103025, 1105004, 1105005 }, false,
            [](DNDVDNode& node) { ASSERT_EQ(node.titleAt(0)->audioTracks().front().index, 160); },
            "the sound of title 1 is LPCM" },
        { TestDisc::palFolder(), { 1105021, 1103025, 1105004, 1105005 }, true,
            [](DNDVDNode& node) {
                auto tracks = node.titleAt(1)->audioTracks();
                ASSERT_FALSE(tracks.empty());
                tracks.front().index = 160;
                tracks.front().channel = 2;
                node.titleAt(1)->setAudioTracks(tracks);
            },
            "the sound of title 2 is LPCM" },
        { TestDisc::image(), { 1105004, 1105001 }, true,
            [&deepFolder](DNDVDNode&) {
                DNSetting::shareSetting().appSetting().setVideoOutputDirectory(deepFolder);
            },
            "leaves no room for its name within the 2047 bytes the engines take" },
    };
    for (const auto& test : cases) {
        for (const int globalID : test.globalIDs) {
            SCOPED_TRACE(QStringLiteral("%1 %2").arg(test.reason).arg(globalID).toStdString());
            const auto node = catalogueNode(test.source, globalID, test.merge);
            ASSERT_TRUE(node);
            test.spoil(*node);
            for (const auto& title : node->titles())
                title->setting().setAudioIndex(0);
            int runs = 0;
            const auto countRuns = [](int state, void* context) {
                *static_cast<int*>(context) += state == kDNVideoConverterStatePassStarted ? 1 : 0;
            };
            EXPECT_EQ(DNVideoConverterStart(node, 0, countRuns, &runs), kDNVideoConverterFailed);
            EXPECT_EQ(runs, 0);
            const QString reason
                = QString(test.reason).replace("%1", node->profile()->profileName());
            EXPECT_TRUE(DNVideoConverterLastFailure().contains(reason))
                << qPrintable(DNVideoConverterLastFailure());
            EXPECT_TRUE(outputs().isEmpty());
            DNSetting::shareSetting().appSetting().setVideoOutputDirectory(out("out"));
        }
    }
}

// A profile that converts the sound makes the LPCM title whole.
TEST_F(DVDConversion, LPCMSoundIsConvertedByAProfileThatConvertsTheSound)
{
    const auto node = catalogueNode(TestDisc::lpcmFolder(), 1105001, false);
    ASSERT_TRUE(node);
    node->titleAt(0)->setting().setAudioIndex(0);
    ASSERT_EQ(DNVideoConverterStart(node, 0, nullptr, nullptr), 0)
        << qPrintable(DNVideoConverterLastFailure());
    ASSERT_EQ(outputs().size(), 1);
    EXPECT_NEAR(decodedSoundSeconds(out("out/" + outputs().front())), 3, 0.5);
}

// AC-3 5.1 then MP2 stereo, 16:9 then 4:3, through mencoder's merges, the
// AVI that keeps the disc's sound and the ffmpeg joins (transport stream,
// MPEG-2, backup): the sound decodes to the end and the circle stays round.
TEST_F(DVDConversion, MergesOfUnlikeTitlesKeepTheirSoundAndShapes)
{
    std::vector<DNEngineRun> runs;
    DNVideoConverterSetRunObserver(
        [](const DNEngineRun& run, void* list) {
            static_cast<std::vector<DNEngineRun>*>(list)->push_back(run);
        },
        &runs);
    const auto forget = qScopeGuard([] { DNVideoConverterSetRunObserver(nullptr, nullptr); });
    for (const int globalID : { 1105001, 1103025, 1105009, 1105004, 1105021 }) {
        SCOPED_TRACE(globalID);
        runs.clear();
        const QString output = convertPAL(globalID, 0, true);
        ASSERT_FALSE(output.isEmpty()) << qPrintable(sharedLogText().right(2000));
        // The join wrote under a hidden name of its own; the output took its
        // name once checked.
        ASSERT_FALSE(runs.empty());
        EXPECT_EQ(runs.back().output, output);
        EXPECT_FALSE(runs.back().ran.join('\n').contains(output));
        EXPECT_NEAR(decodedSoundSeconds(output), 11, 0.5);
        EXPECT_NEAR(centreDiscShape(output, 3), 1, 0.05);
        EXPECT_NEAR(centreDiscShape(output, 8.5), 1, 0.05);
        EXPECT_TRUE(titleFiles().isEmpty());
    }
}

} // namespace
