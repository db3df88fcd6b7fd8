// The builders' filter graphs and merge lists run on the installed ffmpeg:
// sizes checked with ffprobe, pictures by reading pixels of a decoded frame.
#include "builders/video/BuilderServices.h"

#include "core/engine/ProfileRunTest.h"
#include "core/profiles/ProfileTestSupport.h"
#include "model/DNFileGroupNode.h"
#include "platform/TemporaryFile.h"
#include "support/EncodeWords.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

namespace {

bool runTool(const QString& program, const QStringList& arguments, const QString& input = {},
    const QString& output = {})
{
    QProcess process;
    if (!input.isEmpty())
        process.setStandardInputFile(input);
    if (!output.isEmpty())
        process.setStandardOutputFile(output);
    process.start(program, arguments);
    return process.waitForFinished(60'000) && process.exitStatus() == QProcess::NormalExit
        && process.exitCode() == 0;
}

// Share of pixels in `area` whose colour differs clearly between two frames.
double changedShare(const QImage& a, const QImage& b, const QRect& area)
{
    int changed = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            const QRgb p = a.pixel(x, y);
            const QRgb q = b.pixel(x, y);
            const int d = std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q))
                + std::abs(qBlue(p) - qBlue(q));
            changed += d > 60 ? 1 : 0;
        }
    return double(changed) / (area.width() * area.height());
}

bool similar(QRgb p, QRgb q)
{
    return std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q))
        + std::abs(qBlue(p) - qBlue(q))
        < 40;
}

class BuilderServicesEngine : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_TRUE(TestMedia::ensure().isEmpty());
        s_dir = std::make_unique<QTemporaryDir>();
        s_source = s_dir->filePath("pattern.mp4");
        ASSERT_TRUE(runFfmpeg({ "-f", "lavfi", "-i", "testsrc2=size=640x360:rate=25:duration=2",
            "-c:v", "libx264", "-pix_fmt", "yuv420p", s_source }));
    }
    static void TearDownTestSuite() { s_dir.reset(); }

    static std::shared_ptr<DNFileNode> node(
        const QString& path, const QString& frameSize = QStringLiteral("keep origin"))
    {
        auto node = DNFileNode::fileNodeWithFile(path);
        if (!node)
            return nullptr;
        auto profile = std::make_shared<DNProfile>();
        profile->videoResolution().setChoices(frameSize, { frameSize });
        node->setProfile(profile);
        node->setting().setSubtitleIndex(-1);
        return node;
    }

    // The frame at `seconds` after the node's graph (or none) as a picture.
    QImage frame(const DNFileNode& n, const std::optional<QString>& graph, double seconds = 0.5)
    {
        const QString out = m_dir.filePath(QStringLiteral("frame%1.png").arg(++m_count));
        QStringList args { "encoder", "-y", "-i", n.path() };
        if (graph)
            args << "-filter_complex" << *graph << "-map"
                 << "[video]";
        args << "-an"
             << "-sn"
             << "-ss" << QString::number(seconds) << "-frames:v"
             << "1" << out;
        EXPECT_EQ(encodeWords(args), 0) << (graph ? graph->toStdString() : "no graph");
        m_lastFacts = MediaFacts::probe(out);
        return QImage(out).convertToFormat(QImage::Format_RGB32);
    }

    QSize lastSize() const
    {
        const StreamFacts video = m_lastFacts.stream("video");
        return QSize(video.width, video.height);
    }

    static inline std::unique_ptr<QTemporaryDir> s_dir;
    static inline QString s_source;
    QTemporaryDir m_dir;
    MediaFacts m_lastFacts;
    int m_count = 0;
};

struct GeometryCase {
    const char* label;
    QString frameSize;
    bool expand;
    std::function<void(DNNodeSetting&)> edit;
    QSize expected;
    // (output point, source point) pairs that must show the same colour.
    std::vector<std::pair<QPoint, QPoint>> samePixels;
    std::vector<QPoint> black; // bars
};

TEST_F(BuilderServicesEngine, GeometryGivesTheExpectedPicture)
{
    const std::vector<GeometryCase> cases = {
        { "expanded to the profile", "720x480", true, [](DNNodeSetting&) {}, { 720, 480 },
            { { { 293, 375 }, { 260, 300 } }, { { 652, 397 }, { 580, 320 } } },
            { { 360, 10 }, { 360, 470 } } },
        { "fitted without bars", "720x480", false, [](DNNodeSetting&) {}, { 720, 404 }, {}, {} },
        { "bottom-left quarter", "keep origin", false,
            [](DNNodeSetting& s) {
                s.setCropEnable(true);
                s.setCropRectPercent(QRectF(0, 0, 0.5, 0.5));
            },
            { 320, 180 }, { { { 40, 40 }, { 40, 220 } }, { { 300, 160 }, { 300, 340 } } }, {} },
        { "quarter turn", "keep origin", false, [](DNNodeSetting& s) { s.setRotationAngle(90); },
            { 360, 640 }, { { { 40, 100 }, { 100, 319 } }, { { 300, 600 }, { 600, 59 } } }, {} },
        { "mirror", "keep origin", false, [](DNNodeSetting& s) { s.setMirror(true); }, { 640, 360 },
            { { { 40, 100 }, { 599, 100 } }, { { 600, 300 }, { 39, 300 } } }, {} },
    };
    const auto plain = node(s_source);
    ASSERT_TRUE(plain);
    const QImage source = frame(*plain, std::nullopt);
    ASSERT_EQ(source.size(), QSize(640, 360));
    for (const auto& c : cases) {
        const auto n = node(s_source, c.frameSize);
        c.edit(n->setting());
        const QImage out = frame(*n, GenVideoFilterChain(*n, {}, true, c.expand, EncodeConfig()));
        EXPECT_EQ(lastSize(), c.expected) << c.label;
        if (out.size() != c.expected)
            continue;
        for (const auto& [at, from] : c.samePixels)
            EXPECT_TRUE(similar(out.pixel(at), source.pixel(from)))
                << c.label << " at " << at.x() << "," << at.y();
        for (const QPoint& at : c.black)
            EXPECT_LT(qGray(out.pixel(at)), 30) << c.label;
    }
}

struct SubtitleCase {
    const char* label;
    const char* fixture; // empty: the 640x360 pattern
    std::function<void(DNFileNode&, const QString& folder)> choose;
    QRect drawnArea; // where the subtitle must change the picture
    QRect untouched;
};

void attachSrt(DNFileNode& n, const QString& path, const QString& codePage)
{
    auto tracks = n.subtitleTracks();
    DNTExtSubtitle srt = DNTExtSubtitle::extSubtitleTrack(path);
    srt.codePage = codePage;
    tracks.push_back(srt);
    n.setSubtitleTracks(tracks);
    n.setting().setSubtitleIndex(int(tracks.size()) - 1);
}

TEST_F(BuilderServicesEngine, BurntSubtitlesChangeThePictureWhereTheyShow)
{
    const QByteArray cue = "1\n00:00:00,000 --> 00:00:05,000\n";
    const std::vector<SubtitleCase> cases = {
        { "SRT in UTF-8", "",
            [&](DNFileNode& n, const QString& folder) {
                ASSERT_TRUE(writeFile(folder + "/u.srt", cue + "HELLO WORLD Grüße\n"));
                attachSrt(n, folder + "/u.srt", "UTF-8");
            },
            { 100, 270, 440, 80 }, { 0, 0, 640, 200 } },
        { "SRT at the top", "",
            [&](DNFileNode& n, const QString& folder) {
                ASSERT_TRUE(writeFile(folder + "/t.srt", cue + "HELLO WORLD\n"));
                attachSrt(n, folder + "/t.srt", "UTF-8");
                n.setSubtitlePos(DNBaseEditSetting::kSubtitleTop);
            },
            { 100, 0, 440, 80 }, { 0, 160, 640, 200 } },
        { "SRT in the centre", "",
            [&](DNFileNode& n, const QString& folder) {
                ASSERT_TRUE(writeFile(folder + "/c.srt", cue + "HELLO WORLD\n"));
                attachSrt(n, folder + "/c.srt", "UTF-8");
                n.setSubtitlePos(DNBaseEditSetting::kSubtitleCentre);
            },
            { 100, 140, 440, 80 }, { 0, 0, 640, 120 } },
        // The copy the graph names lands in the temporary folder, here one
        // whose name holds what the graph and the filter's options read.
        { "path and copy with ' : [", "",
            [&](DNFileNode& n, const QString& folder) {
                const QString odd = folder + "/it's [odd]: a";
                ASSERT_TRUE(QDir().mkpath(odd));
                qputenv("TMPDIR", odd.toUtf8());
                ASSERT_TRUE(writeFile(odd + "/o'k:[1].srt", cue + "HELLO WORLD\n"));
                attachSrt(n, odd + "/o'k:[1].srt", "windows-1252");
            },
            { 100, 270, 440, 80 }, { 0, 0, 640, 200 } },
        { "SRT in Shift_JIS", "",
            [&](DNFileNode& n, const QString& folder) {
                ASSERT_TRUE(writeFile(folder + "/j.txt", cue + "HELLO こんにちは\n"));
                ASSERT_TRUE(runTool("iconv", { "-f", "UTF-8", "-t", "SHIFT_JIS" },
                    folder + "/j.txt", folder + "/j.srt"));
                attachSrt(n, folder + "/j.srt", "Shift_JIS");
            },
            { 100, 270, 440, 80 }, { 0, 0, 640, 200 } },
        { "text stream of the file", TestMedia::kTwoAudioAndText,
            [](DNFileNode& n, const QString&) { n.setting().setSubtitleIndex(0); },
            { 20, 85, 120, 34 }, { 0, 0, 160, 60 } },
        { "picture stream of the file", TestMedia::kPictureSubtitle,
            [](DNFileNode& n, const QString&) { n.setting().setSubtitleIndex(0); },
            { 22, 202, 116, 12 }, { 0, 0, 320, 180 } },
    };
    const QByteArray temporaryFolder = qgetenv("TMPDIR");
    const auto restore = qScopeGuard([&] { qputenv("TMPDIR", temporaryFolder); });
    for (const auto& c : cases) {
        const QString path = *c.fixture ? TestMedia::path(c.fixture) : s_source;
        const auto n = node(path);
        ASSERT_TRUE(n) << c.label;
        const QImage without = frame(*n, std::nullopt);
        c.choose(*n, m_dir.path());
        const auto graph = GenVideoFilterChain(*n, {}, true, false, EncodeConfig());
        ASSERT_TRUE(graph) << c.label;
        const QImage with = frame(*n, graph);
        ASSERT_EQ(with.size(), without.size()) << c.label;
        EXPECT_GT(changedShare(with, without, c.drawnArea), 0.02) << c.label;
        EXPECT_LT(changedShare(with, without, c.untouched), 0.001) << c.label;
    }
}

// A trim of 10 s to 20 s of the 30 s box clock with an SRT burnt in: the
// source is seeked before it is decoded, and a cue from 14 s to 16 s shows
// from 4 s to 6 s of the output, which is as long as the trim.
TEST_F(BuilderServicesEngine, ASeekedSourceShowsItsBurntCueAtTheShiftedTime)
{
    const auto n = DNFileNode::fileNodeWithFile(TestMedia::path(TestMedia::kBoxClock));
    ASSERT_TRUE(n);
    n->setProfile(shippedProfile("FLV Video"));
    ASSERT_TRUE(
        writeFile(m_dir.filePath("cue.srt"), "1\n00:00:14,000 --> 00:00:16,000\nHELLO WORLD\n"));
    attachSrt(*n, m_dir.filePath("cue.srt"), "UTF-8");
    n->setting().setTrimEnable(true);
    n->setting().setTrimStartPercent(10.0f / 30);
    n->setting().setTrimEndPercent(20.0f / 30);
    const ArgumentBlockPtr block = buildWithProfileBuilder(n, configWithOutputFolder(m_dir.path()));
    ASSERT_TRUE(block);
    const QStringList words = block->arguments();
    EXPECT_EQ(words.mid(words.indexOf("-ss"), 5), QStringList({ "-ss", "10", "-t", "10", "-i" }));
    ASSERT_EQ(AVEncoderEncode(block->argc, block->argv.data(), block->duration), 0);

    const auto out = node(n->outputName());
    ASSERT_TRUE(out);
    EXPECT_NEAR(MediaFacts::probe(n->outputName()).duration, 10, kSlack);
    const QImage before = frame(*out, std::nullopt, 2.5);
    const QRect bottom(0, lastSize().height() * 2 / 3, lastSize().width(), lastSize().height() / 3);
    EXPECT_GT(changedShare(frame(*out, std::nullopt, 5), before, bottom), 0.005);
    EXPECT_LT(changedShare(frame(*out, std::nullopt, 7.5), before, bottom), 0.001);
}

// A 2 s clip with an SRT whose last cue comes ten hours in: the subtitle
// stream ends with the picture, and so does the output.
TEST_F(BuilderServicesEngine, ASubtitleStreamEndsWithThePicture)
{
    const QString source = TestMedia::path(TestMedia::kVideoWithAudio);
    const auto n = DNFileNode::fileNodeWithFile(source);
    ASSERT_TRUE(n);
    n->setProfile(shippedProfile("MKV Video (H.264)"));
    ASSERT_TRUE(writeFile(m_dir.filePath("long.srt"),
        "1\n00:00:00,500 --> 00:00:01,000\nFirst\n\n"
        "2\n00:00:01,500 --> 00:00:05,000\nOver the end\n\n"
        "3\n10:00:00,000 --> 10:00:01,000\nLast\n"));
    attachSrt(*n, m_dir.filePath("long.srt"), "UTF-8");
    const ArgumentBlockPtr block = buildWithProfileBuilder(n, configWithOutputFolder(m_dir.path()));
    ASSERT_TRUE(block);
    ASSERT_EQ(AVEncoderEncode(block->argc, block->argv.data(), block->duration), 0);

    const MediaFacts facts = MediaFacts::probe(n->outputName());
    ASSERT_EQ(facts.count("subtitle"), 1);
    EXPECT_NEAR(facts.duration, MediaFacts::probe(source).duration, kSlack);
}

// Subtitles and trims as users bring them, judged by the output: the run
// succeeds, the output lasts what was kept, and a subtitle stream is there
// only when one of its cues shows.
TEST_F(BuilderServicesEngine, TrimsAndSubtitlesGiveWholeOutputs)
{
    // 149 pictures at 25 a second: 5.96 s, whose last 0.96 s a trim to the end keeps.
    const QString fractional = m_dir.filePath("fractional.mp4");
    ASSERT_TRUE(runFfmpeg({ "-f", "lavfi", "-i", "testsrc2=size=320x240:rate=25", "-frames:v",
        "149", "-c:v", "libx264", "-pix_fmt", "yuv420p", fractional }));
    const QByteArray ass = "[Script Info]\nScriptType: v4.00+\n\n[Events]\n"
                           "Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, "
                           "Effect, Text\n"
                           "Dialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,Soon\n"
                           "Dialogue: 0,5:00:00.00,5:00:01.00,Default,,0,0,0,,Far\n";
    const struct {
        const char* label;
        QString source;
        const char* profile;
        const char* subtitleName; // none when empty
        QByteArray subtitle;
        quint32 trimStart, trimEnd; // editor seconds; no trim when both are 0
        double seconds;
        int subtitleStreams;
    } cases[] = {
        { "burnt SRT, trim without a cue", TestMedia::path(TestMedia::kBoxClock), "FLV Video",
            "early.srt", "1\n00:00:01,000 --> 00:00:02,000\nEarly\n", 5, 10, 5, 0 },
        { "SRT stream, every cue past the end", TestMedia::path(TestMedia::kVideoWithAudio),
            "MKV Video (H.264)", "late.srt", "1\n00:01:00,000 --> 00:01:01,000\nLate\n", 0, 0,
            MediaFacts::probe(TestMedia::path(TestMedia::kVideoWithAudio)).duration, 0 },
        { "SRT stream, trim without a cue", TestMedia::path(TestMedia::kBoxClock),
            "MKV Video (H.264)", "early.srt", "1\n00:00:01,000 --> 00:00:02,000\nEarly\n", 5, 25,
            20, 0 },
        { "ASS stream with a cue hours after the picture",
            TestMedia::path(TestMedia::kVideoWithAudio), "MKV Video (H.264)", "far.ass", ass, 0, 0,
            MediaFacts::probe(TestMedia::path(TestMedia::kVideoWithAudio)).duration, 1 },
        { "trim to the end keeps its last fraction", fractional, "MKV Video (H.264)", "", {}, 2, 5,
            3.96, 0 },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const auto n = DNFileNode::fileNodeWithFile(c.source);
        ASSERT_TRUE(n);
        n->setProfile(shippedProfile(c.profile));
        n->setting().setSubtitleIndex(-1);
        if (*c.subtitleName) {
            ASSERT_TRUE(writeFile(m_dir.filePath(c.subtitleName), c.subtitle));
            attachSrt(*n, m_dir.filePath(c.subtitleName), "UTF-8");
        }
        if (c.trimEnd > 0) {
            n->setEnableTrimming(true);
            n->setTrimStartTime(c.trimStart);
            n->setTrimEndTime(c.trimEnd);
        }
        const ArgumentBlockPtr block
            = buildWithProfileBuilder(n, configWithOutputFolder(m_dir.path()));
        ASSERT_TRUE(block);
        const int status = AVEncoderEncode(block->argc, block->argv.data(), block->duration);
        EXPECT_EQ(status, 0) << AVEncoderLastFailure().toStdString();
        if (status != 0)
            continue;
        const MediaFacts facts = MediaFacts::probe(n->outputName());
        EXPECT_NEAR(facts.duration, c.seconds, kSlack);
        EXPECT_EQ(facts.count("subtitle"), c.subtitleStreams);
        EXPECT_TRUE(runTool(
            "ffmpeg", { "-v", "error", "-xerror", "-i", n->outputName(), "-f", "null", "-" }));
    }
}

TEST_F(BuilderServicesEngine, WatermarkShowsAtItsPlaceAndTransparency)
{
    QImage logo(40, 40, QImage::Format_RGB32);
    logo.fill(QColor(255, 0, 0));
    const QString logoPath = m_dir.filePath("logo.png");
    ASSERT_TRUE(logo.save(logoPath));
    const auto n = node(s_source);
    const QImage without = frame(*n, std::nullopt);
    n->setEnableWatermark(true);
    n->setTypeOfWatermark(DNBaseEditSetting::kWatermarkImage);
    n->setImagePathOfWatermark(logoPath);
    // The bottom-right corner, 160x90 pixels; the square logo fills its middle.
    n->setting().setWatermarkRectPercent(QRectF(0.75, 0, 0.25, 0.25));
    const QPoint inside(560, 315);
    for (const quint32 transparency : { 0u, 50u }) {
        n->setWatermarkTransparency(transparency);
        const QImage with = frame(*n, GenVideoFilterChain(*n, {}, true, false, EncodeConfig()));
        const QRgb p = with.pixel(inside);
        const QRgb under = without.pixel(inside);
        const double share = (100 - transparency) / 100.0;
        EXPECT_NEAR(qRed(p), share * 255 + (1 - share) * qRed(under), 30) << transparency;
        EXPECT_NEAR(qGreen(p), (1 - share) * qGreen(under), 30) << transparency;
        EXPECT_LT(changedShare(with, without, { 0, 0, 480, 360 }), 0.001) << transparency;
    }
}

// The bounding box of the pixels `test` picks, empty when none.
QRect boxOf(const QImage& picture, const std::function<bool(QRgb)>& test)
{
    QRect box;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            if (test(picture.pixel(x, y)))
                box |= QRect(x, y, 1, 1);
    return box;
}

bool isRed(QRgb p)
{
    return qRed(p) > 150 && qGreen(p) < 100 && qBlue(p) < 100;
}

bool isGreen(QRgb p)
{
    return qGreen(p) > 150 && qRed(p) < 100 && qBlue(p) < 100;
}

// A phone's portrait clip (stored 320x180, turned a quarter clockwise, so
// 180x320 upright with the red square at the top right) edited in upright
// pixels, as the editor's selectors give them: the output has the box the
// editor drew, within 1 %. The editor's own quarter turn comes after the
// file's: the picture ends upside down.
TEST_F(BuilderServicesEngine, PortraitClipIsEditedAsItIsShown)
{
    QImage logo(36, 64, QImage::Format_RGB32);
    logo.fill(QColor(0, 255, 0));
    const QString logoPath = m_dir.filePath("green.png");
    ASSERT_TRUE(logo.save(logoPath));
    const struct {
        const char* label;
        std::function<void(DNFileNode&)> edit;
        QSize size;
        QRect red; // the square, top-left origin
        QRect green; // the watermark, top-left origin
    } cases[] = {
        { "as stored", [](DNFileNode&) {}, { 180, 320 }, { 132, 0, 48, 48 }, {} },
        { "4:3 crop at the top",
            [](DNFileNode& n) {
                n.setEnableCrop(true);
                n.setCropRect(QRectF(0, 320 - 135, 180, 135));
            },
            { 180, 135 }, { 132, 0, 48, 48 }, {} },
        { "watermark at the bottom left",
            [&logoPath](DNFileNode& n) {
                n.setEnableWatermark(true);
                n.setTypeOfWatermark(DNBaseEditSetting::kWatermarkImage);
                n.setImagePathOfWatermark(logoPath);
                n.setWatermarkRect(QRectF(0, 0, 36, 64));
            },
            { 180, 320 }, { 132, 0, 48, 48 }, { 0, 256, 36, 64 } },
        { "turned a quarter more", [](DNFileNode& n) { n.setRotationAngle(90); }, { 320, 180 },
            { 272, 132, 48, 48 }, {} },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const auto n = node(TestMedia::markedClip(90));
        ASSERT_TRUE(n);
        c.edit(*n);
        const QImage out = frame(*n, GenVideoFilterChain(*n, {}, true, false, EncodeConfig()));
        EXPECT_NEAR(lastSize().width(), c.size.width(), c.size.width() / 100.0);
        EXPECT_NEAR(lastSize().height(), c.size.height(), c.size.height() / 100.0);
        for (const auto& [expected, test] :
            { std::pair { c.red, &isRed }, std::pair { c.green, &isGreen } }) {
            const QRect found = boxOf(out, test);
            EXPECT_EQ(found.isEmpty(), expected.isEmpty());
            if (found.isEmpty() || expected.isEmpty())
                continue;
            EXPECT_NEAR(found.x(), expected.x(), 2) << found.x() << "," << found.y();
            EXPECT_NEAR(found.y(), expected.y(), 2) << found.x() << "," << found.y();
            EXPECT_NEAR(found.width(), expected.width(), 2);
            EXPECT_NEAR(found.height(), expected.height(), 2);
        }
    }
}

TEST_F(BuilderServicesEngine, EveryEditTogetherWithOddTemporaryPathsIsAccepted)
{
    // Subtitle copies and the watermark picture land in the temporary
    // folder; its name holds every character the graph treats specially.
    const QString odd = m_dir.filePath("it's [odd]; a:b, c\\d");
    ASSERT_TRUE(QDir().mkpath(odd));
    const QByteArray saved = qgetenv("TMPDIR");
    qputenv("TMPDIR", odd.toUtf8());
    QImage logo(40, 20, QImage::Format_RGB32);
    logo.fill(Qt::green);
    ASSERT_TRUE(logo.save(odd + "/logo.png"));
    ASSERT_TRUE(writeFile(odd + "/sub.srt", "1\n00:00:00,000 --> 00:00:05,000\nHELLO\n"));

    const auto n = node(s_source, "720x480");
    n->setting().setCropEnable(true);
    n->setting().setCropRectPercent(QRectF(0.1, 0.1, 0.8, 0.6));
    n->setting().setRotationAngle(270);
    n->setEnableWatermark(true);
    n->setTypeOfWatermark(DNBaseEditSetting::kWatermarkImage);
    n->setImagePathOfWatermark(odd + "/logo.png");
    attachSrt(*n, odd + "/sub.srt", "windows-1252");
    EncodeConfig config;
    config.deinterlace = true;
    const auto graph = GenVideoFilterChain(*n, "setpts=N/(FRAME_RATE*TB)", true, true, config);
    qputenv("TMPDIR", saved);
    ASSERT_TRUE(graph);
    EXPECT_TRUE(graph->contains("subtitles=") && graph->contains("movie=")) << graph->toStdString();
    frame(*n, graph);
    EXPECT_EQ(lastSize(), QSize(480, 720));
}

TEST_F(BuilderServicesEngine, ConcatListJoinsTwoClips)
{
    const QString source = TestMedia::path(TestMedia::kVideoWithAudio);
    const QStringList outputs { m_dir.filePath("it's one.mp4"), m_dir.filePath("two.mp4") };
    std::vector<NXBasicMediaNode::Ptr> members;
    double expected = 0;
    for (const QString& output : outputs) {
        ASSERT_TRUE(QFile::copy(source, output));
        auto member = DNFileNode::fileNodeWithFile(output);
        ASSERT_TRUE(member);
        member->setOutputName(output);
        members.push_back(member);
        expected += MediaFacts::probe(output).duration;
    }
    auto group = DNFileGroupNode::fileGroupNodeWithNodes(members);
    ASSERT_TRUE(writeProfile(m_dir.filePath("mp4.plist"), fullProfile()));
    QString error;
    group->setProfile(
        DNProfile::profileWithFile(m_dir.filePath("mp4.plist"), DNProfileTypeVideo, error));
    ASSERT_TRUE(group->profile()) << error.toStdString();
    DNNodeInfo info;
    info.outputName = QStringLiteral("joined.mp4");
    group->setNodeInfo(info);
    // The join list goes with the run, as the driver's runs take theirs.
    const TemporaryFileScope scratch;
    const ArgumentBlockPtr block
        = Video_Concat_With_AVEncoder(*group, 0, configWithOutputFolder(m_dir.path()));
    ASSERT_TRUE(block);
    ASSERT_EQ(AVEncoderEncode(block->argc, block->argv.data(), block->duration), 0);
    const MediaFacts facts = MediaFacts::probe(group->outputName());
    ASSERT_TRUE(facts.ok) << facts.error.toStdString();
    EXPECT_NEAR(facts.duration, expected, 0.3);
}

} // namespace
