// The conversion driver on real media and the real ffmpeg bridge, with small
// builders of the test's own: single runs, two passes, merge groups, failures,
// stop, refusal of a second start and cover art.
#include "engine/DNVideoConverter.h"

#include "builders/video/BuilderServices.h"
#include "core/builders/BuilderTestSupport.h"
#include "core/builders/video/FrameTestSupport.h"
#include "core/engine/ProfileRunTest.h"
#include "fixtures/MediaFacts.h"
#include "fixtures/TestMedia.h"
#include "model/DNFileGroupNode.h"
#include "model/DNFileNode.h"
#include "platform/AppPaths.h"
#include "platform/Fd.h"
#include "profiles/DNProfile.h"
#include "services/DNSetting.h"
#include "services/OutputPublishing.h"
#include "support/SmallFileSystem.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtEndian>

#include <gtest/gtest.h>

#include <condition_variable>
#include <functional>
#include <future>
#include <mutex>
#include <stdexcept>
#include <vector>

#include <fcntl.h>
#include <linux/fs.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

QStringList temporaryFiles(const QString& prefix)
{
    return QDir(AppPaths::temporaryFolder()).entryList({ prefix + "*" }, QDir::Files);
}

// What a builder saw of the node and the options when the driver called it.
struct BuildCall {
    NXNodeClass nodeClass;
    QString path;
    EncodeConfig config;
    DNNodeSetting setting;
    DNNodeInfo nodeInfo;
    QString resolution;
};

std::mutex callsMutex;
std::vector<BuildCall> calls;

DNFileNode& recordCall(const std::shared_ptr<NXBasicMediaNode>& node, const EncodeConfig& config)
{
    DNFileNode& file = *node->fileNodeForConversion();
    const std::lock_guard lock(callsMutex);
    calls.push_back({ node->nodeClass(), file.path(), config, file.setting(), file.nodeInfo(),
        file.profile()->videoResolution().currentValue() });
    return file;
}

// An output path a test builder writes in place of the one it would choose.
QString fixedOutput;

// The source and the output of a test builder's list, named as the real
// builders name theirs; a merge group is joined by the real service.
ArgumentBlockPtr encodeWith(const std::shared_ptr<NXBasicMediaNode>& node,
    const EncodeConfig& config, const QStringList& inputOptions, const QStringList& outputOptions)
{
    DNFileNode& file = recordCall(node, config);
    if (isMemberOf<DNFileGroupNode>(node))
        return Video_Concat_With_AVEncoder(file, 0, config);
    // A first pass only gathers statistics.
    const bool statisticsOnly = config.twoPass && config.passIndex == 0;
    const QString chosen = fixedOutput.isEmpty() ? MakeOutputPath(configPath(config.outputDir),
                               file.nodeInfo().outputName, file.profile()->fileNameSuffix())
                                                 : fixedOutput;
    const QString output = statisticsOnly ? QStringLiteral("-") : chosen;
    if (!statisticsOnly)
        file.setOutputName(output);
    ArgumentWriter writer("test");
    writer.add("encoder").add("-d").add("-y");
    for (const QString& option : inputOptions)
        writer.add(option);
    writer.add("-i").add(file.path());
    if (config.twoPass) { // libx264 takes two passes at a bitrate only
        writer.add("-b:v").add("200k").add("-pass").addf("%d", config.passIndex + 1);
        writer.add("-passlogfile").add(config.passLog);
    }
    for (const QString& option : outputOptions)
        writer.add(option);
    if (statisticsOnly)
        writer.add("-f").add("null");
    writer.add(output);
    const DNTVideo* video = file.selectedVideoTrack();
    return writer.finish(video ? int(video->duration) : 0);
}

const QStringList kH264Aac { "-c:v", "libx264", "-preset", "ultrafast", "-c:a", "libfdk_aac" };

ArgumentBlockPtr encodeBuilder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t, EncodeConfig config)
{
    return encodeWith(node, config, {}, kH264Aac);
}

// Real time, looping the source for ten minutes: long enough to be stopped.
ArgumentBlockPtr slowBuilder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t, EncodeConfig config)
{
    return encodeWith(
        node, config, { "-re", "-stream_loop", "-1" }, kH264Aac + QStringList { "-t", "600" });
}

// Two seconds of output, written in real time.
ArgumentBlockPtr realTimeBuilder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t, EncodeConfig config)
{
    return encodeWith(node, config, { "-re" }, kH264Aac);
}

// ffmpeg's own MPEG-4 video encoder, whose two-pass statistics ffmpeg writes itself
// (libx264 writes its own).
ArgumentBlockPtr mpeg4Builder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t, EncodeConfig config)
{
    return encodeWith(node, config, {}, { "-c:v", "mpeg4", "-c:a", "libfdk_aac" });
}

// An output named .mp4 that is no MP4 file: nothing can tag it.
ArgumentBlockPtr matroskaBuilder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t, EncodeConfig config)
{
    return encodeWith(node, config, {}, kH264Aac + QStringList { "-f", "matroska" });
}

// A subtitle file of the test's own muxed with the picture and sound.
QString subtitleInput;

ArgumentBlockPtr subtitledBuilder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t, EncodeConfig config)
{
    return encodeWith(node, config, { "-i", subtitleInput },
        QStringList { "-map", "1", "-map", "0" } + kH264Aac
            + QStringList { "-c:s", "srt", "-f", "matroska" });
}

// ffmpeg opens the output, then refuses the list: MP4 holds no PCM sound.
ArgumentBlockPtr brokenBuilder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t, EncodeConfig config)
{
    return encodeWith(node, config, {},
        { "-c:v", "libx264", "-preset", "ultrafast", "-c:a", "pcm_s16le", "-f", "mp4" });
}

// Two passes that each write the output; the second is refused.
ArgumentBlockPtr brokenSecondPass(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t, EncodeConfig config)
{
    const bool second = config.passIndex == 1;
    config.twoPass = false;
    return second ? brokenBuilder(node, 0, config) : encodeBuilder(node, 0, config);
}

// Two passes that each write the whole output, as a profile's builder
// without pass options does.
ArgumentBlockPtr encodeEachPass(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t, EncodeConfig config)
{
    config.twoPass = false;
    return encodeBuilder(node, 0, config);
}

// The user stops the conversion while its list is being built.
ArgumentBlockPtr stoppedWhileBuilding(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t, EncodeConfig config)
{
    DNVideoConverterStop();
    return encodeWith(node, config, {}, kH264Aac);
}

ArgumentBlockPtr nullBuilder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t, EncodeConfig config)
{
    recordCall(node, config);
    return nullptr;
}

ArgumentBlockPtr throwingBuilder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t, EncodeConfig config)
{
    recordCall(node, config);
    throw std::out_of_range("track index 7");
}

const ArgvAssemblerEntry kTestRows[] = {
    { "Test_Encode", &encodeBuilder },
    { "Test_Slow", &slowBuilder },
    { "Test_RealTime", &realTimeBuilder },
    { "Test_Matroska", &matroskaBuilder },
    { "Test_Mpeg4", &mpeg4Builder },
    { "Test_Subtitled", &subtitledBuilder },
    { "Test_Broken", &brokenBuilder },
    { "Test_StopWhileBuilding", &stoppedWhileBuilding },
    { "Test_BrokenSecondPass", &brokenSecondPass },
    { "Test_EncodeEachPass", &encodeEachPass },
    { "Test_Null", &nullBuilder },
    { "Test_Throw", &throwingBuilder },
};

// Counts the passes the engines report, and wakes a waiting test at each.
struct StateRecorder {
    std::mutex mutex;
    std::condition_variable changed;
    int passes = 0;
    bool stopAtFirstPass = false;

    static void report(int state, void* context)
    {
        auto* self = static_cast<StateRecorder*>(context);
        if (state != kDNVideoConverterStatePassStarted)
            return;
        const std::lock_guard lock(self->mutex);
        ++self->passes;
        if (self->stopAtFirstPass)
            DNVideoConverterStop();
        self->changed.notify_all();
    }

    bool waitForPass()
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(10), [this] { return passes > 0; });
    }
};

// The engine runs of a conversion; a stop can be asked for once a number of
// them have ended, between two passes or two members.
struct RunRecorder {
    std::vector<DNEngineRun> runs;
    std::size_t stopAfter = 0;

    static void record(const DNEngineRun& run, void* context)
    {
        auto* self = static_cast<RunRecorder*>(context);
        self->runs.push_back(run);
        if (self->runs.size() == self->stopAfter)
            DNVideoConverterStop();
    }
};

class DNVideoConverterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(TestMedia::ensure(), QString());
        ASSERT_TRUE(m_folder.isValid());
        QDir().mkpath(outputFolder());
        DNSetting::shareSetting().appSetting().setVideoOutputDirectory(outputFolder());
        DNVideoConverterSetAssemblerTables({}, kTestRows);
        DNVideoConverterSetRunObserver(&RunRecorder::record, &m_recorder);
        const std::lock_guard lock(callsMutex);
        calls.clear();
    }

    void TearDown() override
    {
        DNVideoConverterSetRunObserver(nullptr, nullptr);
        DNVideoConverterUseProgramAssemblerTables();
    }

    QString outputFolder() const { return m_folder.filePath("out"); }

    static std::shared_ptr<DNProfile> profile(
        const QString& builder, bool twoPass = false, const QString& suffix = "mp4")
    {
        return videoProfile({ { "ProfileName", builder }, { "ArgvAssembler", builder },
            { "FileNameSuffix", suffix }, { "EnableTwoPass", twoPass } });
    }

    std::shared_ptr<DNFileNode> fileNode(
        const QString& path, const QString& builder, bool twoPass = false)
    {
        auto node = DNFileNode::fileNodeWithFile(path);
        EXPECT_TRUE(node) << path.toStdString();
        if (node)
            node->setProfile(profile(builder, twoPass));
        return node;
    }

    // A copy of a fixture that the test may delete.
    QString ownCopy(const char* fixture)
    {
        const QString copy = m_folder.filePath(fixture);
        QFile::copy(TestMedia::path(fixture), copy);
        return copy;
    }

    QTemporaryDir m_folder;
    RunRecorder m_recorder;
    std::vector<DNEngineRun>& m_runs = m_recorder.runs;
};

TEST_F(DNVideoConverterTest, RunsAFileInOneOrTwoPassesAndTagsTheOutput)
{
    for (const bool twoPass : { false, true }) {
        SCOPED_TRACE(twoPass ? "two passes" : "one pass");
        calls.clear();
        m_runs.clear();
        auto node = fileNode(TestMedia::path(TestMedia::kVideoWithAudio), "Test_Encode", twoPass);
        StateRecorder states;
        ASSERT_EQ(DNVideoConverterStart(node, 0, &StateRecorder::report, &states), 0)
            << sharedLogText().right(3000).toStdString();

        const int passes = twoPass ? 2 : 1;
        EXPECT_EQ(states.passes, passes);
        ASSERT_EQ(calls.size(), std::size_t(passes));
        EXPECT_EQ(m_runs.size(), std::size_t(passes));
        for (int pass = 0; pass < passes; ++pass) {
            EXPECT_EQ(calls[pass].config.twoPass, twoPass);
            EXPECT_EQ(calls[pass].config.passIndex, pass);
        }
        if (twoPass) {
            const QString passLog = configPath(calls[0].config.passLog);
            EXPECT_TRUE(passLog.startsWith(AppPaths::temporaryFolder() + "/KR_"))
                << passLog.toStdString();
            EXPECT_EQ(configPath(calls[1].config.passLog), passLog);
            EXPECT_TRUE(m_runs[0].ran.contains("-passlogfile"));
        }
        EXPECT_TRUE(temporaryFiles("KR_").isEmpty())
            << temporaryFiles("KR_").join(' ').toStdString();
        EXPECT_TRUE(temporaryFiles("dt_").isEmpty());

        const DNEngineRun& run = m_runs.back();
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.built.first(), "encoder");
        EXPECT_EQ(run.ran.first(), "ffmpeg");
        EXPECT_TRUE(run.built.contains("libfdk_aac") && run.ran.contains("aac"));
        EXPECT_EQ(run.output, node->outputName());
        EXPECT_EQ(DNVideoConverterProgress().percent, 100);
        EXPECT_FALSE(DNVideoConverterIsRunning());

        const MediaFacts facts = MediaFacts::probe(node->outputName());
        ASSERT_TRUE(facts.ok) << facts.error.toStdString();
        EXPECT_EQ(facts.stream("audio").codecName, "aac");
        EXPECT_NEAR(facts.duration, 2, 0.2);
        EXPECT_EQ(facts.count("video"), 2); // the picture and its cover
        EXPECT_TRUE(facts.stream("video", 1).attachedPicture);
        EXPECT_EQ(
            QDir(outputFolder()).entryList(QDir::Files | QDir::Hidden).size(), twoPass ? 2 : 1);
    }
    const QString log = sharedLogText();
    EXPECT_TRUE(log.contains("two pass encode - first encode.."));
    EXPECT_TRUE(log.contains("two pass encode - second encode.."));
    EXPECT_TRUE(log.contains(QRegularExpression("The encoder took \\d+\\.\\d{4} hours")));
    EXPECT_TRUE(log.contains("Cover art added to " + outputFolder()));
}

TEST_F(DNVideoConverterTest, FailuresEndTheConversionWithTheirReason)
{
    const QString missing = ownCopy(TestMedia::kVideoWithAudio);
    auto missingInput = fileNode(missing, "Test_Encode");
    auto missingInputTwoPasses = fileNode(missing, "Test_Encode", true);
    auto mergeMissingAMember = DNFileGroupNode::fileGroupNodeWithNodes(
        { DNFileNode::fileNodeWithFile(TestMedia::path(TestMedia::kVideoWithAudio)),
            DNFileNode::fileNodeWithFile(missing) });
    mergeMissingAMember->setProfile(profile("Test_Encode"));
    QFile::remove(missing);
    const QByteArray gone = QFile::encodeName("The file \"" + missing
        + "\" is no longer there: it was moved or deleted after it was added to the list.");
    const struct {
        const char* what;
        std::shared_ptr<NXBasicMediaNode> node;
        const char* builder; // null: keep the node's profile
        int built, engineRuns;
        const char* logged;
    } cases[] = {
        { "unknown builder", nullptr, "No_Such_Builder", 0, 0,
            "cannot find argument assember, check the profile configure file... " },
        { "null block", nullptr, "Test_Null", 1, 0, "construc arguments failed, exit...." },
        { "builder throws", nullptr, "Test_Throw", 1, 0, "The builder failed: track index 7" },
        // A source gone since it was added is told so before any engine runs.
        { "missing input", missingInput, nullptr, 0, 0, gone.constData() },
        { "missing input, two passes", missingInputTwoPasses, nullptr, 0, 0, gone.constData() },
        { "merge missing a member", mergeMissingAMember, nullptr, 0, 0, gone.constData() },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        calls.clear();
        m_runs.clear();
        auto node
            = c.node ? c.node : fileNode(TestMedia::path(TestMedia::kVideoWithAudio), c.builder);
        StateRecorder states;
        const int result = DNVideoConverterStart(node, 0, &StateRecorder::report, &states);
        EXPECT_NE(result, 0);
        EXPECT_NE(result, kDNVideoConverterStopped);
        EXPECT_EQ(int(calls.size()), c.built);
        EXPECT_EQ(int(m_runs.size()), c.engineRuns);
        EXPECT_EQ(states.passes, c.engineRuns);
        EXPECT_TRUE(sharedLogText().contains(c.logged));
        if (c.node) {
            EXPECT_EQ(DNVideoConverterLastFailure().toStdString(), gone.toStdString());
        }
        EXPECT_TRUE(temporaryFiles("KR_").isEmpty());
        EXPECT_FALSE(DNVideoConverterIsRunning());
    }
    EXPECT_TRUE(QDir(outputFolder()).isEmpty());
}

TEST_F(DNVideoConverterTest, StopEndsALongEncodeAndASecondStartIsRefused)
{
    auto node = fileNode(TestMedia::path(TestMedia::kVideoWithAudio), "Test_Slow");
    StateRecorder states;
    auto conversion = std::async(std::launch::async,
        [&] { return DNVideoConverterStart(node, 0, &StateRecorder::report, &states); });
    ASSERT_TRUE(states.waitForPass());

    auto other = fileNode(TestMedia::path(TestMedia::kVideoWithAudio), "Test_Encode");
    EXPECT_EQ(DNVideoConverterStart(other, 0, nullptr, nullptr), kDNVideoConverterBusy);
    EXPECT_TRUE(DNVideoConverterIsRunning());

    QElapsedTimer stopping;
    stopping.start();
    DNVideoConverterStop();
    ASSERT_EQ(conversion.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_LT(stopping.elapsed(), 2500);
    EXPECT_EQ(conversion.get(), kDNVideoConverterStopped);
    EXPECT_LT(DNVideoConverterProgress().percent, 100);
    EXPECT_FALSE(sharedLogText().contains("Cover art added to " + node->outputName()));

    // The stop ended that conversion only.
    EXPECT_EQ(DNVideoConverterStart(other, 0, nullptr, nullptr), 0);
}

TEST_F(DNVideoConverterTest, MergeGroupConvertsMembersThenJoinsThem)
{
    auto first = fileNode(TestMedia::path(TestMedia::kVideoWithAudio), "Test_Encode");
    auto second = fileNode(TestMedia::path(TestMedia::kTransportStream), "Test_Encode");
    first->setting().setVolume(40);
    first->setting().setTrimEnable(true);
    first->setting().setWatermarkEnable(true);
    const DNNodeSetting firstSetting = first->setting();
    const auto firstProfile = first->profile();
    auto group = DNFileGroupNode::fileGroupNodeWithNodes({ first, second });
    group->setProfile(profile("Test_Encode"));
    DNNodeInfo info = group->nodeInfo();
    info.outputName = "joined";
    group->setNodeInfo(info);

    StateRecorder states;
    ASSERT_EQ(DNVideoConverterStart(group, 0, &StateRecorder::report, &states), 0)
        << sharedLogText().right(3000).toStdString();
    EXPECT_EQ(states.passes, 3);
    ASSERT_EQ(calls.size(), 3u);
    for (int member = 0; member < 2; ++member) {
        SCOPED_TRACE(member);
        const BuildCall& call = calls[member];
        EXPECT_EQ(call.nodeClass, NXNodeClass::FileNode);
        EXPECT_EQ(call.path, (member == 0 ? first : second)->path());
        EXPECT_EQ(configPath(call.config.outputDir), AppPaths::temporaryFolder());
        EXPECT_EQ(call.nodeInfo, info);
        EXPECT_EQ(call.resolution, "160x120");
        EXPECT_EQ(call.setting.volume(), 100u);
        EXPECT_FALSE(call.setting.trimEnable());
        EXPECT_FALSE(call.setting.watermarkEnable());
        EXPECT_FALSE(QFile::exists(m_runs[member].output)) << "member output left behind";
    }
    EXPECT_EQ(calls[2].nodeClass, NXNodeClass::FileGroupNode);
    EXPECT_EQ(configPath(calls[2].config.outputDir), outputFolder());
    EXPECT_EQ(first->setting(), firstSetting);
    EXPECT_EQ(first->profile(), firstProfile);
    EXPECT_NE(first->nodeInfo(), info);

    EXPECT_EQ(group->outputName(), outputFolder() + "/joined.mp4");
    const MediaFacts facts = MediaFacts::probe(group->outputName());
    ASSERT_TRUE(facts.ok) << facts.error.toStdString();
    EXPECT_NEAR(facts.duration, 4, 0.6); // the transport stream starts late
    EXPECT_EQ(facts.stream("video").width, 160);
    EXPECT_TRUE(facts.stream("video", 1).attachedPicture);
    // The join list lives as long as the group's engine run.
    EXPECT_TRUE(temporaryFiles("qzfl").isEmpty()) << temporaryFiles("qzfl").join(' ').toStdString();
}

TEST_F(DNVideoConverterTest, AnUnfinishedConversionLeavesNoTemporaryFilesBehind)
{
    const struct {
        const char* what;
        bool group, twoPass, stopAtFirstPass;
        std::size_t stopAfterRuns;
        bool secondBroken;
        int result, built;
    } cases[] = {
        { "stopped in the first of two passes", false, true, true, 0, false,
            kDNVideoConverterStopped, 1 },
        { "stopped between two passes", false, true, false, 1, false, kDNVideoConverterStopped, 1 },
        { "group stopped during its first member", true, false, true, 0, false,
            kDNVideoConverterStopped, 1 },
        { "group stopped between its members", true, false, false, 1, false,
            kDNVideoConverterStopped, 1 },
        { "group whose second member no longer decodes", true, false, false, 0, true,
            kDNVideoConverterFailed, 2 },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        calls.clear();
        m_runs.clear();
        const QString secondPath = ownCopy(TestMedia::kTransportStream);
        auto first
            = fileNode(TestMedia::path(TestMedia::kVideoWithAudio), "Test_Encode", c.twoPass);
        auto second = fileNode(secondPath, "Test_Encode");
        if (c.secondBroken) {
            ASSERT_TRUE(writeTestFile(secondPath, QByteArray(64 * 1024, 'x')));
        }
        first->setting().setVolume(40);
        const auto firstProfile = first->profile();
        std::shared_ptr<NXBasicMediaNode> node = first;
        if (c.group) {
            auto group = DNFileGroupNode::fileGroupNodeWithNodes({ first, second });
            group->setProfile(profile("Test_Encode"));
            node = group;
        }
        StateRecorder states;
        states.stopAtFirstPass = c.stopAtFirstPass;
        m_recorder.stopAfter = c.stopAfterRuns;
        EXPECT_EQ(DNVideoConverterStart(node, 0, &StateRecorder::report, &states), c.result);
        EXPECT_EQ(int(calls.size()), c.built);
        for (const BuildCall& call : calls)
            EXPECT_NE(call.nodeClass, NXNodeClass::FileGroupNode) << "the group was run";
        for (const DNEngineRun& run : m_runs)
            EXPECT_FALSE(c.group && QFile::exists(run.output)) << run.output.toStdString();
        EXPECT_EQ(first->setting().volume(), 40u);
        EXPECT_EQ(first->profile(), firstProfile);
        EXPECT_TRUE(temporaryFiles("KR_").isEmpty());
        EXPECT_TRUE(temporaryFiles("dt_").isEmpty());
        EXPECT_TRUE(QDir(outputFolder()).isEmpty());
        QFile::remove(secondPath);
    }
}

TEST_F(DNVideoConverterTest, AnOutputThatCannotBeTaggedIsKeptAsItIs)
{
    auto node = fileNode(TestMedia::path(TestMedia::kVideoWithAudio), "Test_Matroska");
    ASSERT_EQ(DNVideoConverterStart(node, 0, nullptr, nullptr), 0);
    const MediaFacts facts = MediaFacts::probe(node->outputName());
    ASSERT_TRUE(facts.ok) << facts.error.toStdString();
    EXPECT_TRUE(facts.formatName.contains("matroska"));
    EXPECT_EQ(facts.count("video"), 1);
    EXPECT_EQ(QDir(outputFolder()).entryList(QDir::Files | QDir::Hidden).size(), 1);
    EXPECT_TRUE(temporaryFiles("dt_").isEmpty());
    // The cover goes in before the output takes its name.
    EXPECT_TRUE(sharedLogText().contains("No cover art for " + outputFolder()));
}

TEST_F(DNVideoConverterTest, AnUnfinishedRunDeletesOnlyTheOutputItMade)
{
    const QString earlier = ownCopy(TestMedia::kAvi);
    // A null device of the test's own stands for /dev/null, which it may
    // use only where it could not delete it.
    QString device = m_folder.filePath("null");
    if (::mknod(QFile::encodeName(device).constData(), S_IFCHR | 0666, makedev(1, 3)) != 0)
        device = QStringLiteral("/dev/null");
    const struct {
        const char* what;
        const char* builder;
        QString output; // empty: the builder's own choice, in the output folder
        int result;
    } cases[] = {
        { "failed run", "Test_Broken", {}, 1 },
        { "stopped run", "Test_Slow", {}, kDNVideoConverterStopped },
        { "second pass failed", "Test_BrokenSecondPass", {}, 1 },
        { "an output that was there before", "Test_Broken", earlier, 1 },
        { "a device", "Test_Broken", device, 1 },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fixedOutput = c.output;
        auto node = fileNode(TestMedia::path(TestMedia::kVideoWithAudio), c.builder,
            c.builder == QLatin1String("Test_BrokenSecondPass"));
        const int created = ::inotify_init1(IN_CLOEXEC);
        ::inotify_add_watch(created, QFile::encodeName(outputFolder()).constData(), IN_MODIFY);
        auto conversion = std::async(
            std::launch::async, [&] { return DNVideoConverterStart(node, 0, nullptr, nullptr); });
        if (c.result == kDNVideoConverterStopped) {
            pollfd watch { created, POLLIN, 0 };
            ::poll(&watch, 1, 10'000); // the output is there
            DNVideoConverterStop();
        }
        EXPECT_EQ(conversion.get(), c.result);
        ::close(created);
        EXPECT_TRUE(QDir(outputFolder()).isEmpty());
    }
    fixedOutput.clear();
    EXPECT_TRUE(
        sharedLogText().contains(QRegularExpression("The unfinished output .* was deleted")));
    EXPECT_TRUE(QFile::exists(earlier));
    EXPECT_TRUE(!QFileInfo(device).isFile() && QFileInfo::exists(device));
}

// Names as long as a file name can be, and names the profile would take
// out of the output folder.
TEST_F(DNVideoConverterTest, OutputNamesStayWithinTheLongestNameAndTheirFolder)
{
    // 255 bytes, "é" being two: its output and a second one's " (1)" are cut.
    const QString longName = m_folder.filePath(QString(125, QChar(0xE9)) + "x.mp4");
    ASSERT_TRUE(QFile::copy(TestMedia::path(TestMedia::kVideoWithAudio), longName));
    for (int run = 0; run < 2; ++run) {
        auto node = fileNode(longName, "Test_Encode");
        ASSERT_EQ(DNVideoConverterStart(node, 0, nullptr, nullptr), 0)
            << DNVideoConverterLastFailure().toStdString();
        EXPECT_LE(QFile::encodeName(QFileInfo(node->outputName()).fileName()).size(), 255);
    }
    EXPECT_EQ(QDir(outputFolder()).entryList(QDir::Files | QDir::Hidden).size(), 2);

    calls.clear();
    for (const char* suffix : { "../mp4", "mp4/../../mp4", ".." }) {
        SCOPED_TRACE(suffix);
        auto node = fileNode(TestMedia::path(TestMedia::kVideoWithAudio), "Test_Encode");
        node->setProfile(profile("Test_Encode", false, suffix));
        EXPECT_EQ(DNVideoConverterStart(node, 0, nullptr, nullptr), kDNVideoConverterFailed);
        EXPECT_TRUE(DNVideoConverterLastFailure().endsWith(
            QStringLiteral("names its outputs with \"%1\", which would put them outside the "
                           "output folder.")
                .arg(suffix)))
            << DNVideoConverterLastFailure().toStdString();
    }
    EXPECT_TRUE(calls.empty());
}

// A first pass that writes the whole output leaves nothing: the second
// pass's output takes the name.
TEST_F(DNVideoConverterTest, TwoPassesThatBothWriteLeaveOneOutput)
{
    auto node = fileNode(TestMedia::path(TestMedia::kVideoWithAudio), "Test_EncodeEachPass", true);
    ASSERT_EQ(DNVideoConverterStart(node, 0, nullptr, nullptr), 0);
    EXPECT_EQ(QDir(outputFolder()).entryList(QDir::Files | QDir::Hidden).join(' ').toStdString(),
        "video_audio.mp4");
    EXPECT_EQ(
        node->outputName().toStdString(), (outputFolder() + "/video_audio.mp4").toStdString());
}

// Makes the folder at `path` immutable, or no longer: nothing, not even
// root, may then remove a file from it. False where that is not allowed.
bool setImmutable(const QString& path, bool immutable)
{
    const Fd folder(
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    int flags = 0;
    if (!folder.valid() || ::ioctl(folder.get(), FS_IOC_GETFLAGS, &flags) != 0)
        return false;
    flags = immutable ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
    return ::ioctl(folder.get(), FS_IOC_SETFLAGS, &flags) == 0;
}

// ffmpeg writes on into a file whose folder is gone and answers 0. The
// reason says what became of the folder and of the unfinished output, which
// does not stay behind in a folder the user moved when it can be removed.
TEST_F(DNVideoConverterTest, AConversionWhoseOutputFolderVanishesFails)
{
    const QString moved = m_folder.filePath("moved");
    const QString locked = m_folder.filePath("locked");
    const auto unlock = qScopeGuard([&] { setImmutable(locked, false); });
    const bool canLock = QDir().mkpath(locked) && setImmutable(locked, true)
        && setImmutable(locked, false) && QDir().rmdir(locked);
    const QString movedReason
        = QStringLiteral("the output folder \"%1\" was moved to \"%2\" while the output was "
                         "written into it; %3 there");
    const struct {
        const char* what;
        std::function<void()> vanish;
        QString reason;
        QString movedTo;
        qsizetype left;
    } cases[] = {
        { "deleted", [this] { QDir(outputFolder()).removeRecursively(); },
            QStringLiteral("the output folder \"%1\" was deleted").arg(outputFolder()), moved, 0 },
        { "moved", [&] { QDir().rename(outputFolder(), moved); },
            movedReason.arg(outputFolder(), moved, "nothing unfinished is left"), moved, 0 },
        { "moved where nothing can be removed",
            [&] {
                QDir().rename(outputFolder(), locked);
                setImmutable(locked, true);
            },
            movedReason.arg(
                outputFolder(), locked, "the unfinished output could not be removed from"),
            locked, 1 },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.left && !canLock)
            GTEST_SKIP() << "this user may not make a folder immutable";
        QDir().mkpath(outputFolder());
        auto node = fileNode(TestMedia::path(TestMedia::kVideoWithAudio), "Test_RealTime");
        const int created = ::inotify_init1(IN_CLOEXEC);
        ::inotify_add_watch(created, QFile::encodeName(outputFolder()).constData(), IN_MODIFY);
        auto conversion = std::async(
            std::launch::async, [&] { return DNVideoConverterStart(node, 0, nullptr, nullptr); });
        pollfd watch { created, POLLIN, 0 };
        ASSERT_EQ(::poll(&watch, 1, 10'000), 1); // the engine writes the output
        ::close(created);
        c.vanish();
        EXPECT_EQ(conversion.get(), kDNVideoConverterFailed);
        EXPECT_EQ(m_runs.back().status, 0);
        EXPECT_TRUE(DNVideoConverterLastFailure().contains(c.reason))
            << qPrintable(DNVideoConverterLastFailure());
        EXPECT_EQ(QDir(c.movedTo).entryList(QDir::Files | QDir::Hidden).size(), c.left);
    }
}

// A recording cut short by its camera: its headers were written for
// `claimed` seconds, its packets hold 5 s.
QString cutShortRecording(const QString& path, double claimed)
{
    if (!runFfmpeg({ "-f", "lavfi", "-i", "testsrc2=size=160x120:rate=25:duration=5", "-f", "lavfi",
            "-i", "sine=duration=5", "-c:v", "libx264", "-c:a", "aac", path }))
        return {};
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite))
        return {};
    QByteArray bytes = file.readAll();
    // The movie's and each track's header (version 0) give the length in the
    // movie's time scale, which the movie header gives.
    const qsizetype movie = bytes.indexOf("mvhd");
    if (movie < 0)
        return {};
    const auto length = quint32(qFromBigEndian<quint32>(bytes.constData() + movie + 16) * claimed);
    qToBigEndian(length, bytes.data() + movie + 20);
    for (qsizetype track = bytes.indexOf("tkhd"); track > 0;
         track = bytes.indexOf("tkhd", track + 4))
        qToBigEndian(length, bytes.data() + track + 24);
    file.seek(0);
    file.write(bytes);
    return path;
}

// Alone or as a merge's first member, the whole 5 s of a recording whose
// headers claim more are converted and kept.
TEST_F(DNVideoConverterTest, ASourceWhoseHeadersClaimMoreIsMeasuredByItsPackets)
{
    const struct {
        const char* what;
        double claimed;
        bool merged; // before a 2 s clip
        double seconds;
    } cases[] = {
        { "10 hours", 36000, false, 5 },
        { "10 s", 10, false, 5 },
        { "10 s, merged", 10, true, 7 },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const QString source = cutShortRecording(m_folder.filePath("camera take.mp4"), c.claimed);
        ASSERT_FALSE(source.isEmpty());
        std::shared_ptr<DNFileNode> node = fileNode(source, "Test_Encode");
        ASSERT_NEAR(node->selectedVideoTrack()->duration, c.claimed, 1);
        if (c.merged) {
            node = DNFileGroupNode::fileGroupNodeWithNodes(
                { node, fileNode(TestMedia::path(TestMedia::kVideoWithAudio), "Test_Encode") });
            node->setProfile(profile("Test_Encode"));
        }
        ASSERT_EQ(DNVideoConverterStart(node, 0, nullptr, nullptr), 0)
            << qPrintable(DNVideoConverterLastFailure());
        EXPECT_NEAR(MediaFacts::probe(node->outputName()).duration, c.seconds, 0.3);
        QFile::remove(source);
    }
}

// A 2 s clip with a subtitle cue at 96 hours gives an output whose container
// says 96 hours: that is no conversion of the clip.
TEST_F(DNVideoConverterTest, AnOutputFarLongerThanItsSourceFails)
{
    subtitleInput = m_folder.filePath("clip.srt");
    ASSERT_TRUE(writeTestFile(subtitleInput,
        "1\n00:00:01,000 --> 00:00:02,000\nHello\n\n2\n96:00:00,000 --> 96:00:01,000\nBye\n"));
    auto node = fileNode(TestMedia::path(TestMedia::kVideoWithAudio), "Test_Subtitled");
    node->setProfile(profile("Test_Subtitled", false, "mkv"));
    EXPECT_EQ(DNVideoConverterStart(node, 0, nullptr, nullptr), kDNVideoConverterFailed);
    EXPECT_TRUE(DNVideoConverterLastFailure().contains("far longer than the 2.0 s asked for"))
        << qPrintable(DNVideoConverterLastFailure());
    EXPECT_TRUE(QDir(outputFolder()).isEmpty());
}

// What cannot make a good output is refused with its reason before any
// builder or engine runs: pictures too small for the encoders or for the
// frame a merge's members share, watermark pictures that cannot be drawn, a
// source deeper in folders than an engine's argument can name, sound whose
// channels cannot be mixed, a chosen subtitle file that cannot be read.
TEST_F(DNVideoConverterTest, WhatCannotBeConvertedIsRefusedBeforeAnyWork)
{
    const auto clipOf = [this](const char* size) {
        const QString path = m_folder.filePath(QStringLiteral("%1.mp4").arg(size));
        EXPECT_TRUE(runFfmpeg({ "-f", "lavfi", "-i", "testsrc2=size=16x16:rate=25:duration=1",
            "-vf", QStringLiteral("scale=%1").arg(size), "-c:v", "libx264", "-pix_fmt", "yuv444p",
            path }));
        return path;
    };
    const QString tiny = clipOf("1:1");
    const QString small = clipOf("2:2");
    const QString huge = m_folder.filePath("huge.png");
    QImage(9000, 9000, QImage::Format_Mono).save(huge);
    const QString text = m_folder.filePath("notes.png");
    ASSERT_TRUE(writeTestFile(text, "not a picture"));
    const QString fifo = m_folder.filePath("mark.png");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QString deep = m_folder.filePath(QString(200, 'd'));
    while (deep.size() < 2100)
        deep += '/' + QString(200, 'd');
    ASSERT_TRUE(QDir().mkpath(deep));
    ASSERT_TRUE(QFile::copy(TestMedia::path(TestMedia::kVideoWithAudio), deep + "/clip.mp4"));
    // Room for the output's name, not for its hidden partial one.
    const QString deepOutput = deep.left(2030);
    ASSERT_TRUE(QDir().mkpath(deepOutput));
    const QString clip = TestMedia::path(TestMedia::kVideoWithAudio);
    // 32 channels with no layout: Matroska keeps none for PCM.
    const QString channels32 = m_folder.filePath("32 channels.mkv");
    QString split = "[1]asplit=32", merge;
    for (int i = 0; i < 32; ++i) {
        split += QStringLiteral("[c%1]").arg(i);
        merge += QStringLiteral("[c%1]").arg(i);
    }
    ASSERT_TRUE(
        runFfmpeg({ "-f", "lavfi", "-i", "testsrc2=size=64x48:rate=25:duration=1", "-f", "lavfi",
            "-i", "sine=duration=1", "-filter_complex", split + ';' + merge + "amerge=inputs=32[a]",
            "-map", "0:v", "-map", "[a]", "-c:v", "libx264", "-c:a", "pcm_s16le", channels32 }));
    const QString largeSubtitle = m_folder.filePath("large.srt");
    ASSERT_TRUE(writeTestFile(largeSubtitle, "1\n00:00:00,000 --> 00:00:01,000\nHello\n"));
    ASSERT_TRUE(QFile::resize(largeSubtitle, 17 << 20));
    const struct {
        const char* what;
        QStringList sources; // more than one: merged
        QString watermark;
        QString reason;
        QString outputFolder {}; // the test's own when empty
        QString subtitle {}; // the subtitle file the user chose for the first source
    } cases[] = {
        { "1x1 picture", { tiny }, {},
            QStringLiteral("the picture of \"%1\" (1 x 1 pixels) is too small").arg(tiny) },
        { "2x2 first member", { small, clip }, {},
            QStringLiteral("frame of 2 x 2 pixels is too small for the picture of \"%1\"")
                .arg(small) },
        { "watermark beyond the pixel limit", { clip }, huge,
            QStringLiteral("\"%1\" cannot be used: it is 9000 x 9000 pixels").arg(huge) },
        { "watermark that is no picture", { clip }, text, "cannot be read as a picture" },
        { "watermark that is a FIFO", { clip }, fifo, "cannot be used: it is not a file" },
        { "source too deep", { deep + "/clip.mp4" }, {},
            "bytes long, and the engines take paths of at most 2047 bytes" },
        { "output folder too deep", { clip }, {},
            "leaves no room for its name within the 2047 bytes the engines take", deepOutput },
        { "32 channels with no layout", { channels32 }, {},
            QStringLiteral("The sound track 1 of \"%1\" cannot be converted: its 32 channels "
                           "carry no layout")
                .arg(channels32) },
        { "32 channels in a merge", { clip, channels32 }, {}, "its 32 channels carry no layout" },
        { "subtitle over 16 MiB", { clip }, {},
            QStringLiteral("The subtitle file \"%1\" cannot be used: it is larger than 16 MiB")
                .arg(largeSubtitle),
            {}, largeSubtitle },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        calls.clear();
        m_runs.clear();
        std::vector<NXBasicMediaNode::Ptr> members;
        for (const QString& source : c.sources)
            members.push_back(fileNode(source, "Test_Encode"));
        if (!c.subtitle.isEmpty()) {
            auto& first = static_cast<DNFileNode&>(*members.front());
            first.setEnableSubtitleEdit(true);
            first.addExtraSubtitle(c.subtitle);
            first.selectSubtitleAtIndex(0, true);
        }
        auto node = members.size() == 1 ? std::static_pointer_cast<DNFileNode>(members.front())
                                        : DNFileGroupNode::fileGroupNodeWithNodes(members);
        node->setProfile(profile("Test_Encode"));
        node->setEnableWatermark(!c.watermark.isEmpty());
        node->setTypeOfWatermark(DNBaseEditSetting::kWatermarkImage);
        node->setImagePathOfWatermark(c.watermark);
        DNSetting::shareSetting().appSetting().setVideoOutputDirectory(
            c.outputFolder.isEmpty() ? outputFolder() : c.outputFolder);
        EXPECT_EQ(DNVideoConverterStart(node, 0, nullptr, nullptr), kDNVideoConverterFailed);
        EXPECT_TRUE(DNVideoConverterLastFailure().contains(c.reason))
            << qPrintable(DNVideoConverterLastFailure());
        // Only the output's name needs its builder.
        EXPECT_EQ(calls.size(), c.outputFolder.isEmpty() ? 0u : 1u);
        EXPECT_TRUE(m_runs.empty());
    }
}

// A profile that writes only sound takes nothing of the picture: a 1 x 1
// picture, alone with a watermark that cannot be drawn or first in a merge,
// keeps no sound from being converted.
TEST_F(DNVideoConverterTest, SoundAloneIsConvertedWhateverThePicture)
{
    DNVideoConverterUseProgramAssemblerTables();
    const QString tiny = m_folder.filePath("tiny.mp4");
    ASSERT_TRUE(runFfmpeg({ "-f", "lavfi", "-i", "testsrc2=size=16x16:rate=25:duration=2", "-f",
        "lavfi", "-i", "sine=duration=2", "-vf", "scale=1:1", "-c:v", "libx264", "-pix_fmt",
        "yuv444p", "-c:a", "aac", tiny }));
    const struct {
        const char* what;
        QStringList sources; // more than one: merged
        QString watermark;
        double seconds;
    } cases[] = {
        { "alone, with a watermark that is no file", { tiny }, m_folder.filePath("none.png"), 2 },
        { "first in a merge", { tiny, TestMedia::path(TestMedia::kVideoWithAudio) }, {}, 4 },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<NXBasicMediaNode::Ptr> members;
        for (const QString& source : c.sources)
            members.push_back(DNFileNode::fileNodeWithFile(source));
        auto node = members.size() == 1 ? std::static_pointer_cast<DNFileNode>(members.front())
                                        : DNFileGroupNode::fileGroupNodeWithNodes(members);
        node->setProfile(shippedProfile("FLAC Audio"));
        node->setEnableWatermark(!c.watermark.isEmpty());
        node->setTypeOfWatermark(DNBaseEditSetting::kWatermarkImage);
        node->setImagePathOfWatermark(c.watermark);
        ASSERT_EQ(DNVideoConverterStart(node, 0, nullptr, nullptr), 0)
            << qPrintable(DNVideoConverterLastFailure());
        EXPECT_NEAR(MediaFacts::probe(node->outputName()).duration, c.seconds, 0.3);
    }
}

// An output folder on a disk with no room: the reason says so, not only
// that the output came out short or that the engine failed.
TEST_F(DNVideoConverterTest, AFullDiskIsTheReason)
{
    const SmallFileSystem disk(outputFolder(), "16k");
    if (!disk.isMounted())
        GTEST_SKIP() << "cannot mount a small file system here (needs root)";
    auto node = fileNode(TestMedia::path(TestMedia::kVideoWithAudio), "Test_Encode");
    EXPECT_EQ(DNVideoConverterStart(node, 0, nullptr, nullptr), kDNVideoConverterFailed);
    const QString failure = DNVideoConverterLastFailure();
    EXPECT_TRUE(failure.startsWith("The conversion failed: the disk is full: ffmpeg could not "
                                   "write all of its output into \""
        + outputFolder() + "\", which has "))
        << qPrintable(failure);
    EXPECT_TRUE(failure.contains("; it said \"")) << qPrintable(failure);
    EXPECT_TRUE(failure.contains("No space left on device"));
}

// The two-pass statistics fill the temporary folder's small disk, while the
// output's folder has room: the reason names the place that filled.
TEST_F(DNVideoConverterTest, AFullDiskIsNamedWhereItFilled)
{
    const QString temporary = m_folder.filePath("temporary");
    ASSERT_TRUE(QDir().mkpath(temporary));
    const SmallFileSystem disk(temporary, "4k");
    if (!disk.isMounted())
        GTEST_SKIP() << "cannot mount a small file system here (needs root)";
    const QByteArray before = qgetenv("TMPDIR");
    qputenv("TMPDIR", QFile::encodeName(temporary));
    auto node = fileNode(TestMedia::path(TestMedia::kVideoWithAudio), "Test_Mpeg4", true);
    const int result = DNVideoConverterStart(node, 0, nullptr, nullptr);
    qputenv("TMPDIR", before);
    EXPECT_EQ(result, kDNVideoConverterFailed);
    const QString failure = DNVideoConverterLastFailure();
    EXPECT_TRUE(failure.startsWith("The conversion failed: the disk is full: ffmpeg could not "
                                   "write all it had to into the temporary folder \""
        + temporary + "\", which has "))
        << qPrintable(failure);
    EXPECT_TRUE(failure.contains("No space left on device")) << qPrintable(failure);
}

// A source that no longer decodes, converted into a folder with 600 KB left:
// the engine's reason is the reason, and the room is a note beside it.
TEST_F(DNVideoConverterTest, LittleRoomLeftIsNoFullDiskWhenTheEngineFailedForAnotherReason)
{
    const SmallFileSystem disk(outputFolder(), "4m");
    if (!disk.isMounted())
        GTEST_SKIP() << "cannot mount a small file system here (needs root)";
    const QString source = ownCopy(TestMedia::kVideoWithAudio);
    auto node = fileNode(source, "Test_Encode");
    ASSERT_TRUE(node);
    ASSERT_TRUE(writeTestFile(source, QByteArray(64 * 1024, 'x')));
    const std::optional<FolderRoom> room = roomOfFolder(outputFolder());
    ASSERT_TRUE(room);
    ASSERT_TRUE(writeTestFile(
        QDir(outputFolder()).filePath("filler"), QByteArray(room->bytes - 600 * 1024, 0)));
    EXPECT_NE(DNVideoConverterStart(node, 0, nullptr, nullptr), 0);
    const QString failure = DNVideoConverterLastFailure();
    EXPECT_FALSE(failure.contains("the disk is full")) << qPrintable(failure);
    EXPECT_TRUE(failure.contains("Invalid data found when processing input"))
        << qPrintable(failure);
    EXPECT_TRUE(failure.endsWith("(\"" + outputFolder() + "\" has 600 KB left)"))
        << qPrintable(failure);
}

// Another writer takes the name between the builder's choice and the run.
TEST_F(DNVideoConverterTest, ANameTakenAfterItWasChosenIsNeverWrittenOver)
{
    const QString taken = QDir(outputFolder()).filePath("video_audio.mp4");
    ASSERT_TRUE(writeTestFile(taken, "theirs"));
    fixedOutput = taken;
    auto node = fileNode(TestMedia::path(TestMedia::kVideoWithAudio), "Test_Encode");
    const int result = DNVideoConverterStart(node, 0, nullptr, nullptr);
    fixedOutput.clear();
    ASSERT_EQ(result, 0);
    EXPECT_EQ(readTestFile(taken), "theirs");
    const QString named = QDir(outputFolder()).filePath("video_audio (1).mp4");
    EXPECT_EQ(node->outputName(), named);
    EXPECT_EQ(m_runs.back().output, named);
}

TEST_F(DNVideoConverterTest, AStopBeforeTheEngineStartsEndsTheConversionWithoutIt)
{
    const struct {
        const char* what;
        const char* builder;
        bool stopWhileIdle, forgetStop;
        int result;
    } cases[] = {
        { "stop while the builder runs", "Test_StopWhileBuilding", false, false,
            kDNVideoConverterStopped },
        { "stop just before the start", "Test_Encode", true, false, kDNVideoConverterStopped },
        { "that stop dropped for a new list", "Test_Encode", true, true, 0 },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        m_runs.clear();
        if (c.stopWhileIdle)
            DNVideoConverterStop();
        if (c.forgetStop)
            DNVideoConverterForgetStop();
        StateRecorder states;
        auto node = fileNode(TestMedia::path(TestMedia::kVideoWithAudio), c.builder);
        EXPECT_EQ(DNVideoConverterStart(node, 0, &StateRecorder::report, &states), c.result);
        const int engineRuns = c.result == 0 ? 1 : 0;
        EXPECT_EQ(int(m_runs.size()), engineRuns);
        EXPECT_EQ(states.passes, engineRuns);
    }
}

// What a program writes on its standard output.
QByteArray outputOf(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(60'000);
    return process.readAllStandardOutput();
}

// A 4:3 and a 16:9 member join in the first one's frame: the wide picture is
// letterboxed in it, never squeezed, and every picture has square pixels.
TEST_F(DNVideoConverterTest, MembersOfMixedShapesShareOneFrameAndKeepTheirPictures)
{
    DNVideoConverterUseProgramAssemblerTables();
    const QString wide = m_folder.filePath("wide.mp4");
    ASSERT_TRUE(runFfmpeg({ "-f", "lavfi", "-i", "color=c=white:size=320x180:rate=25:duration=2",
        "-f", "lavfi", "-i", "sine=duration=2", "-c:v", "libx264", "-pix_fmt", "yuv420p", wide }));
    for (const char* name : { "FLV Video", "MKV Video (H.264)" }) {
        SCOPED_TRACE(name);
        auto group = DNFileGroupNode::fileGroupNodeWithNodes(
            { DNFileNode::fileNodeWithFile(TestMedia::path(TestMedia::kVideoWithAudio)),
                DNFileNode::fileNodeWithFile(wide) });
        group->setProfile(shippedProfile(name));
        ASSERT_EQ(DNVideoConverterStart(group, 0, nullptr, nullptr), 0);
        // Every picture's "width,height,sample aspect" (pictures with side data add a field).
        const QString frames = QString::fromUtf8(outputOf("ffprobe",
            { "-v", "error", "-select_streams", "v", "-show_entries",
                "frame=width,height,sample_aspect_ratio", "-of", "csv=p=0", group->outputName() }));
        QStringList shapes;
        for (const QString& line : frames.split('\n', Qt::SkipEmptyParts))
            shapes << line.section(',', 0, 2);
        shapes.removeDuplicates();
        EXPECT_EQ(shapes, QStringList { "160,120,1:1" }) << shapes.join(' ').toStdString();
        // A grey picture of the second member: rows 4 and 115 in the bars, 60 in the picture.
        const QByteArray picture = outputOf("ffmpeg",
            { "-v", "error", "-ss", "3", "-i", group->outputName(), "-frames:v", "1", "-f",
                "rawvideo", "-pix_fmt", "gray", "-" });
        ASSERT_EQ(picture.size(), 160 * 120);
        const auto brightness = [&](int row) { return uchar(picture[row * 160 + 80]); };
        EXPECT_LT(brightness(4), 40);
        EXPECT_GT(brightness(60), 200);
        EXPECT_LT(brightness(115), 40);
    }
}

} // namespace
