// The DVD backup engines' lists, written out by hand as the backup and
// HandBrake-style builders write them, run through their bridges on the test
// disc; the driver's engine choice and checks of what they wrote; their stop.
#include "engine/DVDToMKV.h"
#include "engine/DiscBackupTool.h"
#include "engine/PlayerStreamDump.h"

#include "core/builders/video/FrameTestSupport.h"
#include "core/profiles/ProfileTestSupport.h"
#include "engine/DNVideoConverter.h"
#include "engine/DVDOutputCheck.h"
#include "fixtures/MediaFacts.h"
#include "fixtures/TestDisc.h"
#include "model/DNDVDNode.h"
#include "services/DNSetting.h"
#include "services/DVDTitleReader.h"
#include "support/ChildProcesses.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <future>

namespace {

using Encode = int (*)(int argc, const char* const* argv, int duration);

constexpr double kLengthSlack = 1.0;

int run(Encode encode, const QStringList& words, int duration)
{
    ArgumentWriter writer("test list");
    for (const QString& word : words)
        writer.add(word);
    const ArgumentBlockPtr block = writer.finish(duration);
    return block ? encode(block->argc, block->argv.data(), block->duration) : -100;
}

QString runTool(const QString& program, const QStringList& arguments, const QString& folder = {})
{
    QProcess process;
    process.setWorkingDirectory(folder);
    process.start(program, arguments);
    process.waitForFinished(60'000);
    return QString::fromUtf8(process.readAllStandardOutput());
}

int chapterCount(const QString& path)
{
    return int(runTool("ffprobe", { "-v", "error", "-show_chapters", "-of", "csv=p=0", path })
                   .split('\n', Qt::SkipEmptyParts)
                   .size());
}

class DiscBackupEngines : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(TestDisc::ensure(), QString()); }
    void SetUp() override { ASSERT_TRUE(m_folder.isValid()); }

    QString out(const QString& name) const { return m_folder.filePath(name); }

    // A 3 s PAL title whose sound is MP2, the one kind HandBrakeCLI cannot copy as AC-3.
    QString palDisc() const
    {
        runTool("ffmpeg",
            { "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                "testsrc2=size=720x576:rate=25:duration=3", "-f", "lavfi", "-i",
                "sine=frequency=440:sample_rate=48000:duration=3", "-map", "0:v", "-map", "1:a",
                "-c:v", "mpeg2video", "-aspect", "4:3", "-c:a", "mp2", "-f", "dvd", "-muxpreload",
                "0.2", "-muxdelay", "0.2", "pal.mpg" },
            m_folder.path());
        qputenv("VIDEO_FORMAT", "PAL");
        runTool("dvdauthor", { "-o", "pal", "-t", "pal.mpg" }, m_folder.path());
        runTool("dvdauthor", { "-o", "pal", "-T" }, m_folder.path());
        return out("pal");
    }

    QTemporaryDir m_folder;
};

// The ripper counts its tasks apart; the run's share is what they add up to.
TEST(DVDToMKVProgress, ComesFromTheEncodingLineAcrossTasks)
{
    ProgressInfo progress;
    EXPECT_TRUE(
        DVDToMKVReadProgressLine("Encoding: task 2 of 2, 50.00 % (120.3 fps)", 100, progress));
    EXPECT_DOUBLE_EQ(progress.percent, 75.0);
    EXPECT_DOUBLE_EQ(progress.convertedTime, 75.0);
    EXPECT_TRUE(DVDToMKVReadProgressLine("Encoding: task 1 of 1, 21.45 %", -1, progress));
    EXPECT_EQ(progress.convertedTime, 0.0) << "a run of unknown length has no time written";
}

TEST_F(DiscBackupEngines, DumpsHoldEveryStreamOfTheTitle)
{
    const auto dump = [&](const QString& source, const QString& device, const char* start) {
        return QStringList { source, "-dvd-device", device, "-ss", start, "-dumpstream",
            "-dumpfile", out(QStringLiteral("dump %1.vob").arg(m_folder.path().size())) };
    };
    const struct {
        const char* name;
        QStringList list;
        int duration;
    } dumps[] = {
        { "folder", dump("dvd://1", TestDisc::folder(), "0"), 12 },
        { "image", dump("dvd://1", TestDisc::image(), "0"), 12 },
        { "image, navigation reader, 3 to 8 s",
            dump("dvdnav://1", TestDisc::image(), "3") + QStringList { "-endpos", "5" }, 5 },
    };
    for (const auto& each : dumps) {
        SCOPED_TRACE(each.name);
        const QString output = each.list[each.list.indexOf("-dumpfile") + 1];
        ASSERT_EQ(run(&PlayerStreamDumpEncode, each.list, each.duration), 0);
        const MediaFacts facts = MediaFacts::probe(output);
        EXPECT_EQ(facts.stream("video").codecName, "mpeg2video");
        EXPECT_EQ(facts.count("audio"), 2);
        EXPECT_EQ(facts.stream("audio", 1).codecName, "ac3");
        EXPECT_EQ(facts.count("subtitle"), 2);
        EXPECT_NEAR(facts.duration, each.duration, kLengthSlack);
        EXPECT_EQ(PlayerStreamDumpProgress().percent, 100);
        QFile::remove(output);
    }
}

// A stand-in player that makes the dump 1 MiB and waits: the progress is that
// against the sectors of what the list covers, the whole title or a part.
TEST_F(DiscBackupEngines, DumpProgressIsTheDumpAgainstTheTitlesSectors)
{
    QFile player(out("mplayer"));
    ASSERT_TRUE(player.open(QIODevice::WriteOnly));
    player.write("#!/bin/sh\nfor word; do :; done\ntruncate -s 1M \"$word\"\nexec sleep 30\n");
    player.close();
    player.setPermissions(QFile::ReadOwner | QFile::ExeOwner);
    const QByteArray path = qgetenv("PATH");
    const auto restore = qScopeGuard([&path] { qputenv("PATH", path); });
    qputenv("PATH", QFile::encodeName(m_folder.path()) + ':' + path);
    const double set1 = QFileInfo(TestDisc::videoTSFolder() + "/VTS_01_1.VOB").size();
    const double set2 = QFileInfo(TestDisc::videoTSFolder() + "/VTS_02_1.VOB").size();
    const struct {
        int title;
        int duration;
        double covered; // bytes
    } dumps[] = { { 1, 12, set1 }, { 1, 6, set1 / 2 }, { 2, 11, set2 } };
    for (const auto& each : dumps) {
        const QStringList list { QStringLiteral("dvd://%1").arg(each.title), "-dvd-device",
            TestDisc::folder(), "-dumpstream", "-dumpfile", out("d.vob") };
        auto dump = std::async(
            std::launch::async, [&] { return run(&PlayerStreamDumpEncode, list, each.duration); });
        const double percent = (1 << 20) * 100.0 / each.covered;
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return std::abs(PlayerStreamDumpProgress().percent - percent) < 0.01; }, 5000))
            << PlayerStreamDumpProgress().percent << " instead of " << percent;
        PlayerStreamDumpStop();
        EXPECT_EQ(dump.get(), kToolBridgeStopped);
    }
}

TEST_F(DiscBackupEngines, ImagesOfFolderAndImageOpenAsTheDisc)
{
    const QString sources[] = { TestDisc::folder(), TestDisc::videoTSFolder(), TestDisc::image() };
    for (const QString& source : sources) {
        SCOPED_TRACE(qPrintable(source));
        const QString output = out("backup.iso");
        ASSERT_EQ(run(&DiscBackupToolEncode, { source, output, "iso" }, 12), 0);
        QString failure;
        const auto disc = readDVDTitles(output, failure);
        ASSERT_TRUE(disc) << qPrintable(failure);
        ASSERT_EQ(disc->titles.size(), 2u);
        EXPECT_EQ(disc->titles[0].length, 12);
        EXPECT_EQ(disc->titles[1].length, 11);
        DVDOutputExpectation expected;
        expected.discImage = true;
        expected.discTitleSeconds = { 12, 11 };
        EXPECT_EQ(checkDVDOutput(output, expected), QString());
        expected.discTitleSeconds = { 12 };
        EXPECT_TRUE(checkDVDOutput(output, expected).contains("2 titles instead of 1"));
        QFile::remove(output);
    }
}

TEST_F(DiscBackupEngines, HandBrakeListsMakeTheirOutputs)
{
    const auto mkv = [&](const QString& source, const QString& tracks, const QString& output) {
        return QStringList { "encoder", "-i", source, "-m", "-f", "mkv", "-e", "ffmpeg4", "-b",
            "2000", "-E", "copy:ac3", "-t", "1", "-a", tracks, "-s", tracks, "-o", output };
    };
    const auto mp4 = [&](const QString& output) {
        return QStringList { "encoder", "-i", TestDisc::image(), "-t", "1", "-e", "x264", "-q",
            "20.0", "-r", "25", "--pfr", "-a", "1", "-E", "faac", "-B", "128", "-6", "dpl2", "-R",
            "Auto", "-D", "0.0", "-f", "mp4", "-4", "-X", "720", "--loose-anamorphic", "-m", "-o",
            output };
    };
    const struct {
        const char* name;
        QStringList list;
        int duration;
        const char* videoCodec;
        QStringList audio; // codec and language of each sound stream
        int subtitles;
        int chapters;
        double seconds;
    } runs[] = {
        { "MKV backup", mkv(TestDisc::folder(), "1,2", out("backup.mkv")), 0, "mpeg4",
            { "ac3 eng", "ac3 fre" }, 2, 2, 12 },
        { "MKV backup of a PAL title with MP2 sound", mkv(palDisc(), "1", out("pal.mkv")), 0,
            "mpeg4", { "ac3 und" }, 0, 0, 3 },
        { "MP4", mp4(out("whole.mp4")), 0, "h264", { "aac eng" }, 0, 2, 12 },
        { "MP4 with a stop limit", mp4(out("limited.mp4")), 5, "h264", { "aac eng" }, 0, 1, 5 },
    };
    for (const auto& each : runs) {
        SCOPED_TRACE(each.name);
        ASSERT_EQ(run(&appMain, each.list, each.duration), 0) << qPrintable(each.list.join(' '));
        const QString output = each.list.last();
        const MediaFacts facts = MediaFacts::probe(output);
        ASSERT_TRUE(facts.ok) << qPrintable(facts.error);
        EXPECT_EQ(facts.stream("video").codecName, each.videoCodec);
        QStringList audio;
        for (int n = 0; n < facts.count("audio"); ++n) {
            const StreamFacts stream = facts.stream("audio", n);
            audio << stream.codecName + ' '
                    + (stream.language.isEmpty() ? QStringLiteral("und") : stream.language);
        }
        EXPECT_EQ(audio, each.audio);
        EXPECT_EQ(facts.count("subtitle"), each.subtitles);
        EXPECT_EQ(chapterCount(output), each.chapters);
        EXPECT_NEAR(facts.duration, each.seconds, kLengthSlack);
    }
}

TEST_F(DiscBackupEngines, RefusedAndFailedRunsLeaveNoFileOfTheirOwn)
{
    QDir().mkpath(out("no disc"));
    QFile kept(out("kept.iso"));
    ASSERT_TRUE(kept.open(QIODevice::WriteOnly));
    kept.write("mine");
    kept.close();
    // The image cut where the parsing library crashes on its tables.
    const QString cut = out("cut.iso");
    ASSERT_TRUE(QFile::copy(TestDisc::image(), cut) && QFile::resize(cut, 575488));
    const struct {
        const char* name;
        Encode encode;
        QStringList list;
        QString output;
        const char* reason;
    } runs[] = {
        { "a folder without VIDEO_TS", &DiscBackupToolEncode,
            { out("no disc"), out("a.iso"), "iso" }, out("a.iso"), "holds no VIDEO_TS folder" },
        { "a drive that is not there", &DiscBackupToolEncode, { "/dev/sr97", out("b.iso"), "iso" },
            out("b.iso"), "cannot be opened" },
        { "an image onto a file that is there", &DiscBackupToolEncode,
            { TestDisc::image(), out("kept.iso"), "iso" }, {}, "is there already" },
        { "an output folder that is not there", &appMain,
            { "encoder", "-i", TestDisc::folder(), "-t", "1", "-f", "mkv", "-o",
                out("missing/c.mkv") },
            out("missing/c.mkv"), "exit status 3" },
        { "a dump onto a file that is there", &PlayerStreamDumpEncode,
            { "dvd://1", "-dvd-device", TestDisc::folder(), "-dumpstream", "-dumpfile",
                out("kept.iso") },
            {}, "is there already" },
        { "a dump of a damaged disc", &PlayerStreamDumpEncode,
            { "dvd://1", "-dvd-device", cut, "-dumpstream", "-dumpfile", out("d.vob") },
            out("d.vob"), "cut.iso cannot be read: the DVD's title tables are damaged" },
    };
    for (const auto& each : runs) {
        SCOPED_TRACE(each.name);
        EXPECT_NE(run(each.encode, each.list, 12), 0);
        EXPECT_TRUE(sharedLogText().contains(each.reason));
        EXPECT_TRUE(each.output.isEmpty() || !QFileInfo::exists(each.output));
        ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
        EXPECT_EQ(kept.readAll(), "mine");
        kept.close();
    }
}

struct StoppableEngine {
    const char* name;
    Encode encode;
    void (*stop)();
    ProgressInfo (*progress)();
    void (*setStateCallback)(ToolBridgeStateCallback callback, void* context);
};

// Each tool is stopped once it has reported progress, mid-run.
TEST_F(DiscBackupEngines, AStopEndsTheRunPromptlyAndLeavesNothing)
{
    // Sparse filler makes the disc big enough to be still running when stopped.
    const QString big = out("big");
    ASSERT_TRUE(QDir().mkpath(big + "/VIDEO_TS"));
    for (const QString& name : QDir(TestDisc::videoTSFolder()).entryList(QDir::Files))
        QFile::copy(TestDisc::videoTSFolder() + "/" + name, big + "/VIDEO_TS/" + name);
    QFile filler(big + "/filler.bin");
    ASSERT_TRUE(filler.open(QIODevice::WriteOnly) && filler.resize(qint64(3) << 30));
    filler.close();
    const StoppableEngine handBrake { "HandBrakeCLI", &appMain, &HBStopJob, &DVDToMKVProgress,
        &DVDToMKVSetStateCallback };
    const StoppableEngine imageMaker { "genisoimage", &DiscBackupToolEncode, &DiscBackupToolStop,
        &DiscBackupToolProgress, &DiscBackupToolSetStateCallback };
    StoppableEngine copy = imageMaker;
    copy.name = "image copy";
    const struct {
        StoppableEngine engine;
        QStringList list;
        QString output;
    } runs[] = {
        { handBrake,
            { "encoder", "-i", TestDisc::image(), "-t", "1", "-e", "x264", "--encoder-preset",
                "placebo", "-f", "mp4", "-o", out("stopped.mp4") },
            out("stopped.mp4") },
        { imageMaker, { big, out("stopped.iso"), "iso" }, out("stopped.iso") },
        { copy, { filler.fileName(), out("copied.iso"), "iso" }, out("copied.iso") },
    };
    for (const auto& each : runs) {
        SCOPED_TRACE(each.engine.name);
        // The progress of the previous run stays readable until this one starts.
        std::atomic<bool> started = false;
        each.engine.setStateCallback(
            [](int, void* flag) { static_cast<std::atomic<bool>*>(flag)->store(true); }, &started);
        auto conversion = std::async(
            std::launch::async, [&] { return run(each.engine.encode, each.list, 12); });
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return started && each.engine.progress().percent > 0; }, 30'000));
        QElapsedTimer stopping;
        stopping.start();
        each.engine.stop();
        ASSERT_EQ(conversion.wait_for(std::chrono::seconds(5)), std::future_status::ready);
        EXPECT_LT(stopping.elapsed(), 2000);
        EXPECT_EQ(conversion.get(), kToolBridgeStopped);
        EXPECT_EQ(childProcessCount(), 0);
        EXPECT_FALSE(QFileInfo::exists(each.output));
        each.engine.setStateCallback(nullptr, nullptr);
    }
}

// The driver's DVD path with a builder that writes the list a case sets.
QStringList g_list;
QString g_output;

ArgumentBlockPtr listBuilder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig)
{
    std::static_pointer_cast<DNDVDNode>(node)->titleAt(titleIndex)->setOutputName(g_output);
    ArgumentWriter writer("test list");
    for (const QString& word : g_list)
        writer.add(word);
    return writer.finish(0);
}

const ArgvAssemblerEntry kListRows[]
    = { { "Test_List", &listBuilder }, { kHandBrakeMP4Builder, &listBuilder } };

TEST_F(DiscBackupEngines, TheDriverChoosesTheEngineAndChecksItsOutput)
{
    DNVideoConverterSetAssemblerTables(kListRows, {});
    QDir().mkpath(out("out"));
    DNSetting::shareSetting().appSetting().setVideoOutputDirectory(out("out"));
    const struct {
        const char* name;
        const char* builder;
        int globalID;
        QStringList list;
        const char* problem; // "" for a run that succeeds
    } runs[] = {
        { "stream dump", "Test_List", kGlobalIDPlayerStreamDump,
            { "dvd://1", "-dvd-device", TestDisc::image(), "-ss", "0", "-dumpstream", "-dumpfile",
                out("out/a.vob") },
            "" },
        { "ISO backup", "Test_List", kGlobalIDDiscBackupTool,
            { TestDisc::folder(), out("out/a.iso"), "iso" }, "" },
        { "HandBrake MP4, by its builder name", kHandBrakeMP4Builder, 9001,
            { "encoder", "-i", TestDisc::image(), "-t", "1", "-e", "x264", "-a", "1", "-E", "faac",
                "-f", "mp4", "-o", out("out/a.mp4") },
            "" },
        // HandBrakeCLI answers 0 and skips the tracks it does not find.
        { "MKV backup with stream ids for track numbers", "Test_List", kGlobalIDDVDToMKV,
            { "encoder", "-i", TestDisc::image(), "-m", "-f", "mkv", "-e", "ffmpeg4", "-E",
                "copy:ac3", "-t", "1", "-a", "128,129", "-s", "32,33", "-o", out("out/a.mkv") },
            "0 sound streams instead of 2" },
    };
    for (const auto& each : runs) {
        SCOPED_TRACE(each.name);
        const auto node = DNDVDNode::dvdNodeWithSourceInfo(
            NXDVDSourceInfo::sourceInfoWithPath(TestDisc::image()));
        ASSERT_TRUE(node);
        node->setProfile(
            videoProfile({ { "ArgvAssembler", each.builder }, { "GlobalID", each.globalID } }));
        g_list = each.list;
        g_output = each.list.size() == 3 ? each.list[1] : each.list.last();
        const int status = DNVideoConverterStart(node, 0, nullptr, nullptr);
        EXPECT_EQ(status == 0, !*each.problem);
        EXPECT_EQ(QFileInfo::exists(g_output), !*each.problem);
        if (*each.problem) {
            EXPECT_TRUE(sharedLogText().contains(each.problem));
        }
    }
    DNVideoConverterUseProgramAssemblerTables();
}

} // namespace
