// Sources of the shapes users bring (odd sizes, 4:4:4, 10-bit HDR, ProRes,
// pixels that are not square; BT.709, BT.601 and BT.2020 colours) through
// every video profile on the installed ffmpeg: each output is probed, decoded
// whole, and its picture measured: its shape on screen, and its colours as
// players show them.
#include "core/engine/ProfileRunTest.h"
#include "support/RunFfmpeg.h"

#include <QRect>

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <vector>

namespace {

// What a profile's output holds whatever the source.
struct Promise {
    const char* profile;
    const char* pixelFormat; // as the decoder reports it
    bool evenWidth;
    bool evenHeight;
    bool keepsSize; // "keep origin": the source's picture, less a pixel its codec cannot take
    bool keepsHdr; // a 10-bit intermediate: an HDR source stays as it is, tags and all
};

// A source of the sweep, and the cells of flat colour its picture is made of.
struct Source {
    const char* file;
    int columns = 0; // 0: no flat cells to compare
    int rows = 0;
};

const Source kSources[] = {
    { TestMedia::kOdd853x480, 4, 2 },
    { TestMedia::kOdd321x241Full },
    { TestMedia::kHlg, 2, 1 },
    { TestMedia::kPq, 2, 1 },
    { TestMedia::kProRes422 },
    { TestMedia::kGridPal169, 4, 2 },
};

const Promise kPromises[] = {
    { "MKV Video (H.264)", "yuv420p", true, true, true, false },
    { "MKV Video (MPEG-4)", "yuv420p", true, true, true, false },
    { "HD MKV Video (720p)", "yuv420p", true, true, false, false },
    { "HD MKV Video (1080p)", "yuv420p", true, true, false, false },
    { "3GP Video (H.264)", "yuv420p", true, true, false, false },
    { "3GP Video (MPEG-4)", "yuv420p", true, true, false, false },
    { "3G2 Video (H.264)", "yuv420p", true, true, false, false },
    { "3G2 Video (MPEG-4)", "yuv420p", true, true, false, false },
    { "FLV Video", "yuv420p", true, true, true, false },
    { "F4V Video", "yuv420p", true, true, true, false },
    { "ASF Video", "yuv420p", true, true, true, false },
    { "WebM Video", "yuv420p", false, false, true, false },
    { "SWF Video", "yuv420p", true, true, false, false },
    { "RealMedia Video", "yuv420p", true, true, false, false },
    { "VOB Video", "yuv420p", true, true, false, false },
    { "NTSC DVD Video", "yuv420p", true, true, false, false },
    { "PAL DVD Video", "yuv420p", true, true, false, false },
    { "NTSC DV Video", "yuv411p", true, true, false, false },
    { "PAL DV Video", "yuv420p", true, true, false, false },
    { "ProRes 4444", "yuv444p12le", true, false, true, true },
    { "ProRes 422 HQ", "yuv422p10le", true, false, true, true },
    { "ProRes 422", "yuv422p10le", true, false, true, true },
    { "ProRes 422 LT", "yuv422p10le", true, false, true, true },
    { "ProRes 422 Proxy", "yuv422p10le", true, false, true, true },
};

const QStringList kPlayerH264Profiles { "Constrained Baseline", "Baseline", "Main", "High" };

// The scaler's name of the matrix players decode `video` with: its tag, else
// what they take an untagged picture of its size to be. VP8's decoders know
// BT.601 only.
QString playersMatrix(const StreamFacts& video)
{
    if (video.codecName == "vp8" || video.colorSpace == "smpte170m"
        || video.colorSpace == "bt470bg")
        return "bt601";
    if (video.colorSpace.startsWith("bt2020"))
        return "bt2020";
    if (!video.colorSpace.isEmpty())
        return video.colorSpace;
    return video.width >= 1280 || video.height > 576 ? "bt709" : "bt601";
}

// The primaries players read `video` in: its tag, else those of the
// television standard its lines say, else BT.709's.
QString playersPrimaries(const StreamFacts& video)
{
    if (!video.colorPrimaries.isEmpty())
        return video.colorPrimaries;
    if (video.width >= 1280 || video.height > 576)
        return "bt709";
    return video.height == 576 ? "bt470bg" : video.height == 480 ? "smpte170m" : "bt709";
}

// Red, green and blue of the middle of each cell of `source`'s grid in the
// first picture's `area`, decoded with `matrix` after `filters`. The picture
// is decoded before it is made small: the scaler forgets the matrix when it
// shrinks a picture very much in one go.
std::vector<int> cellColours(const QString& path, QRect area, const Source& source,
    const QString& matrix, const QString& filters = {})
{
    QByteArray raw;
    EXPECT_TRUE(runFfmpeg({ "-i", path, "-frames:v", "1", "-vf",
                              filters
                                  + QStringLiteral("crop=%1:%2:%3:%4,scale=in_color_matrix=%5,"
                                                   "format=rgb24,scale=%6:%7:flags=area")
                                        .arg(area.width())
                                        .arg(area.height())
                                        .arg(area.x())
                                        .arg(area.y())
                                        .arg(matrix)
                                        .arg(4 * source.columns)
                                        .arg(4 * source.rows),
                              "-f", "rawvideo", "-" },
        &raw));
    raw.resize(qsizetype(48) * source.columns * source.rows);
    // Each cell is 4 by 4 samples; its middle 2 by 2 lie clear of its edges.
    std::vector<int> colours;
    for (int cell = 0; cell < source.columns * source.rows; ++cell)
        for (int colour = 0; colour < 3; ++colour) {
            int sum = 0;
            for (const int y : { 1, 2 })
                for (const int x : { 1, 2 })
                    sum += quint8(raw[((cell / source.columns * 4 + y) * 4 * source.columns
                                          + cell % source.columns * 4 + x)
                            * 3
                        + colour]);
            colours.push_back(sum / 4);
        }
    return colours;
}

// The mean luma and chromas, as stored, over the middle of the grid's grey
// cell (the third of the second row) in the first picture's `area`.
std::array<double, 3> greyCellLevels(const QString& path, QRect area)
{
    const QRect middle(area.x() + area.width() * 9 / 16, area.y() + area.height() * 5 / 8,
        area.width() / 8, area.height() / 4);
    QByteArray raw;
    EXPECT_TRUE(runFfmpeg({ "-i", path, "-frames:v", "1", "-vf",
                              QStringLiteral("format=yuv444p,crop=%1:%2:%3:%4")
                                  .arg(middle.width())
                                  .arg(middle.height())
                                  .arg(middle.x())
                                  .arg(middle.y()),
                              "-f", "rawvideo", "-" },
        &raw));
    const qsizetype plane = qsizetype(middle.width()) * middle.height();
    std::array<double, 3> levels {};
    if (plane == 0 || raw.size() != 3 * plane)
        return levels;
    for (qsizetype at = 0; at < raw.size(); ++at)
        levels[std::size_t(at / plane)] += quint8(raw[at]);
    for (double& level : levels)
        level /= double(plane);
    return levels;
}

// A grey keeps its levels through every change of matrix: it has no colour
// for a matrix to weigh, and a level's rounding shows as a tint.
void expectGreyKept(const std::array<double, 3>& shown, const std::array<double, 3>& source)
{
    for (std::size_t plane = 0; plane < 3; ++plane)
        EXPECT_LT(std::abs(shown[plane] - source[plane]), 1.0)
            << "YUV"[plane] << " of the grey is " << shown[plane] << ", the source's "
            << source[plane];
}

void expectColoursNear(
    const std::vector<int>& shown, const std::vector<int>& expected, int levels = 8)
{
    ASSERT_EQ(shown.size(), expected.size());
    for (std::size_t i = 0; i < shown.size(); ++i)
        EXPECT_NEAR(shown[i], expected[i], levels) << "cell " << i / 3 << " colour " << i % 3;
}

// The filters of ffmpeg's own colour-managed conversion of a picture of the
// colours `from` ("tin=...:pin=...") into the primaries `primaries`, written
// in the scaler's `matrix` as an output is: a colour beyond the primaries is
// clipped where the output clips it.
QString managedInto(const QString& primaries, const QString& matrix, const QString& from)
{
    const QString written = matrix == "bt601" ? QString("smpte170m")
        : matrix == "bt2020"                  ? QString("bt2020nc")
                                              : matrix;
    return QStringLiteral("format=yuv444p16le,zscale=%1:t=bt709:p=%2:m=%3,")
        .arg(from, primaries, written);
}

// HDR to BT.709 SDR as ffmpeg's own filters make it.
const QString kToneMapped
    = "zscale=t=linear:npl=100,format=gbrpf32le,zscale=p=bt709,"
      "tonemap=tonemap=hable:desat=0,zscale=t=bt709:m=bt709:r=tv,format=yuv420p,";

class SourceShapes : public ProfileRunTest, public ::testing::WithParamInterface<Source> {
protected:
    void SetUp() override
    {
        ProfileRunTest::SetUp();
        path = TestMedia::path(GetParam().file);
        const MediaFacts facts = MediaFacts::probe(path);
        ASSERT_TRUE(facts.ok) << qPrintable(facts.error);
        source = facts.stream("video");
        hdr = source.colorTransfer == "smpte2084" || source.colorTransfer == "arib-std-b67";
        if (GetParam().columns > 0)
            sourceColours = cellColours(path, QRect(0, 0, source.width, source.height), GetParam(),
                hdr ? QString("bt709") : playersMatrix(source), hdr ? kToneMapped : QString());
    }

    // The picture on screen has the source's shape, whatever bars the frame adds.
    void expectShape(const StreamFacts& video, QRect area, const Promise& promise)
    {
        ASSERT_FALSE(area.isEmpty());
        EXPECT_NEAR(
            area.width() * video.pixelAspect() / area.height() / source.displayAspect(), 1.0, 0.01)
            << area.width() << "x" << area.height() << " of " << video.width << "x" << video.height
            << " at " << qPrintable(video.sampleAspect);
        if (!promise.keepsSize)
            return;
        EXPECT_LE(source.height - video.height, 1);
        EXPECT_NEAR(video.width * video.pixelAspect(), source.width * source.pixelAspect(), 2);
    }

    void expectColours(
        const QString& output, const StreamFacts& video, QRect area, const Promise& promise)
    {
        // No tag an encoder wrote in place of one it cannot carry.
        for (const QString& tag : { video.colorPrimaries, video.colorTransfer, video.colorSpace })
            EXPECT_TRUE(tag != "reserved" && tag != "gbr") << qPrintable(tag);
        if (promise.keepsHdr && hdr) {
            EXPECT_EQ(video.colorTransfer, source.colorTransfer);
            EXPECT_EQ(video.colorPrimaries, "bt2020");
            return;
        }
        const QString shownIn = playersPrimaries(video);
        if (hdr) {
            EXPECT_TRUE(video.colorPrimaries.isEmpty() || video.colorPrimaries == shownIn)
                << qPrintable(video.colorPrimaries);
            EXPECT_TRUE(QStringList({ "", "bt709", "smpte170m" }).contains(video.colorTransfer))
                << qPrintable(video.colorTransfer);
        }
        // Tone-mapped into the primaries the output's players read.
        const std::vector<int> expected = hdr && !sourceColours.empty()
            ? cellColours(path, QRect(0, 0, source.width, source.height), GetParam(),
                playersMatrix(video),
                kToneMapped
                    + managedInto(shownIn, playersMatrix(video), "tin=bt709:pin=bt709:min=bt709"))
            : sourceColours;
        if (!expected.empty())
            expectColoursNear(
                cellColours(output, area, GetParam(), playersMatrix(video)), expected);
    }

    QString path;
    StreamFacts source;
    bool hdr = false;
    std::vector<int> sourceColours;
};

TEST_P(SourceShapes, EveryVideoProfileWritesWhatItsPlayersTake)
{
    for (const Promise& p : kPromises) {
        SCOPED_TRACE(p.profile);
        const auto node = load(path, p.profile);
        ASSERT_NE(node, nullptr);
        EXPECT_EQ(node->selectedVideoTrack()->isHighDynamicRange(), hdr);
        const MediaFacts facts = convertAndProbe(node);
        EXPECT_TRUE(facts.ok) << qPrintable(facts.error);
        if (!facts.ok)
            continue;
        const StreamFacts video = facts.stream("video");
        EXPECT_EQ(video.pixFmt, p.pixelFormat);
        EXPECT_TRUE(!p.evenWidth || video.width % 2 == 0) << video.width;
        EXPECT_TRUE(!p.evenHeight || video.height % 2 == 0) << video.height;
        if (video.codecName == "h264") {
            EXPECT_TRUE(kPlayerH264Profiles.contains(video.profile)) << qPrintable(video.profile);
        }
        const DecodedPicture decoded = decodePicture(node->outputName());
        EXPECT_EQ(decoded.errors, QString());
        expectShape(video, decoded.area, p);
        expectColours(node->outputName(), video, decoded.area, p);
    }
}

INSTANTIATE_TEST_SUITE_P(Sources, SourceShapes, ::testing::ValuesIn(kSources),
    [](const ::testing::TestParamInfo<Source>& source) {
        return QString::fromUtf8(source.param.file).section('.', 0, 0).toStdString();
    });

// A format without colour tags is written in the matrix its players take an
// untagged picture of its size to be (BT.709 from 1280x720 on, BT.601
// below), FLV1 in square pixels, and ProRes is tagged only with what it can
// say of the source.
class OutputColours : public ProfileRunTest { };

TEST_F(OutputColours, ArePlayedAsTheSourceShowsThem)
{
    const struct {
        const char* profile;
        const char* source;
        const char* resolution; // null: the profile's own
        const char* codec;
        const char* tags; // matrix, primaries, transfer
    } cases[] = {
        { "ASF Video", TestMedia::kGridPal169, "1280x720", nullptr, ",," },
        { "FLV Video", TestMedia::kGridHdv709, nullptr, "h263", ",," },
        { "ProRes 422", TestMedia::kGrid2020, nullptr, nullptr, "bt2020nc,bt2020,bt709" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.profile);
        const QString path = TestMedia::path(c.source);
        const StreamFacts source = MediaFacts::probe(path).stream("video");
        const auto node = load(path, c.profile);
        ASSERT_NE(node, nullptr);
        if (c.resolution)
            node->profile()->videoResolution().setCurrentValue(c.resolution);
        if (c.codec)
            node->profile()->videoCodec().setCurrentValue(c.codec);
        const StreamFacts video = convertAndProbe(node).stream("video");
        const QStringList tags { video.colorSpace, video.colorPrimaries, video.colorTransfer };
        EXPECT_EQ(tags.join(',').toStdString(), c.tags);
        const QRect area = decodePicture(node->outputName()).area;
        EXPECT_NEAR(
            area.width() * video.pixelAspect() / area.height(), source.displayAspect(), 0.01);
        const Source grid { c.source, 4, 2 };
        expectColoursNear(cellColours(node->outputName(), area, grid, playersMatrix(video)),
            cellColours(
                path, QRect(0, 0, source.width, source.height), grid, playersMatrix(source)));
    }
}

// The everyday changes of matrix (HD into a DVD, DV, WebM or the older
// formats' SD frames, SD into an HD frame) keep a grey's levels.
TEST_F(OutputColours, GreysKeepTheirLevelsThroughEveryChangeOfMatrix)
{
    const struct {
        const char* profile;
        const char* source;
        const char* resolution; // null: the profile's own
    } cases[] = {
        { "PAL DVD Video", TestMedia::kGridHdv709, nullptr },
        { "WebM Video", TestMedia::kGridHdv709, nullptr },
        { "PAL DV Video", TestMedia::kGridHdv709, nullptr },
        { "NTSC DV Video", TestMedia::kGridHdv709, nullptr },
        { "ASF Video", TestMedia::kGridPal169, "1280x720" },
        { "VOB Video", TestMedia::kGridHdv709, nullptr },
        { "RealMedia Video", TestMedia::kGridHdv709, nullptr },
        { "SWF Video", TestMedia::kGridHdv709, nullptr },
        // An odd width, whose chroma is converted whole.
        { "WebM Video", TestMedia::kOdd853x480, nullptr },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.profile) + " from " + c.source);
        const QString path = TestMedia::path(c.source);
        const StreamFacts source = MediaFacts::probe(path).stream("video");
        const auto node = load(path, c.profile);
        ASSERT_NE(node, nullptr);
        if (c.resolution)
            node->profile()->videoResolution().setCurrentValue(c.resolution);
        const StreamFacts video = convertAndProbe(node).stream("video");
        EXPECT_NE(playersMatrix(video), playersMatrix(source)) << "no change of matrix";
        expectGreyKept(greyCellLevels(node->outputName(), decodePicture(node->outputName()).area),
            greyCellLevels(path, QRect(0, 0, source.width, source.height)));
    }
}

// A BT.2020 picture at standard dynamic range is shown by an output's players
// in the primaries they read it in (its tags, else those of its television
// standard, else BT.709's) with the colours ffmpeg's own colour-managed
// conversion gives, and a tagged output names what it holds; one that carries
// BT.2020 keeps it.
TEST_F(OutputColours, WideGamutSourcesShowInThePrimariesTheirPlayersRead)
{
    const char* const small = TestMedia::kGrid2020;
    const struct {
        const char* profile;
        const char* source;
        const char* tags; // matrix, primaries, transfer
        const char* shownIn; // the primaries players read the output in
    } cases[] = {
        { "3GP Video (MPEG-4)", small, ",,", "bt709" },
        { "ASF Video", small, ",,", "bt709" },
        { "RealMedia Video", small, ",,", "bt709" },
        { "NTSC DV Video", small, ",,", "smpte170m" },
        { "PAL DV Video", small, ",,", "bt470bg" },
        { "PAL DVD Video", small, "smpte170m,bt470bg,smpte170m", "bt470bg" },
        { "MKV Video (H.264)", small, "bt2020nc,bt2020,bt2020-10", "bt2020" },
        // Kept at its odd width, which the converter takes only with whole chroma.
        { "WebM Video", TestMedia::kOddGrid2020, "smpte170m,smpte170m,smpte170m", "smpte170m" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.profile);
        const QString path = TestMedia::path(c.source);
        const StreamFacts source = MediaFacts::probe(path).stream("video");
        const Source grid { c.source, 4, 2 };
        const auto node = load(path, c.profile);
        ASSERT_NE(node, nullptr);
        const StreamFacts video = convertAndProbe(node).stream("video");
        const QStringList tags { video.colorSpace, video.colorPrimaries, video.colorTransfer };
        EXPECT_EQ(tags.join(',').toStdString(), c.tags);
        const bool kept = QLatin1String(c.shownIn) == QLatin1String("bt2020");
        const QString managed = kept
            ? QString()
            : managedInto(c.shownIn, playersMatrix(video),
                "tin=" + source.colorTransfer + ":pin=bt2020:min=bt2020nc");
        const QRect area = decodePicture(node->outputName()).area;
        expectColoursNear(cellColours(node->outputName(), area, grid, playersMatrix(video)),
            cellColours(path, QRect(0, 0, source.width, source.height), grid,
                playersMatrix(kept ? source : video), managed));
    }
}

// Four cells of SDR colours (grey, red, green, blue), lifted to HDR with
// `transfer` ("smpte2084" or "arib-std-b67") in BT.2020 as an HDR camera
// gives them.
QString hdrCells(const QString& folder, const QString& transfer)
{
    const QString path = folder + "/cells-" + transfer + ".mkv";
    const bool made = runFfmpeg(
        QStringList { "-f", "lavfi", "-i",
            "color=c=0xB0B0B0:s=160x96:r=25:d=0.4,drawbox=x=40:w=40:h=96:c=0xC02020:t=fill,"
            "drawbox=x=80:w=40:h=96:c=0x30B040:t=fill,drawbox=x=120:w=40:h=96:c=0x3060C0:t=fill,"
            "format=gbrpf32le,zscale=tin=bt709:pin=bt709:t="
                + transfer + ":p=bt2020:m=bt2020nc:npl=1000:r=tv,format=yuv420p10le",
            "-c:v", "libx265", "-preset", "ultrafast", "-x265-params",
            "log-level=error:colorprim=bt2020:colormatrix=bt2020nc:transfer=" + transfer,
            "-color_primaries", "bt2020", "-color_trc", transfer, "-colorspace", "bt2020nc", path },
        nullptr);
    EXPECT_TRUE(made) << qPrintable(path);
    return path;
}

// An HDR picture is tone-mapped into the primaries the output's players read
// it in, as a BT.2020 one is brought into them, and a tagged output names them.
TEST_F(OutputColours, HdrSourcesShowInThePrimariesTheirPlayersRead)
{
    const QString pq = hdrCells(dir.path(), "smpte2084");
    const QString hlg = hdrCells(dir.path(), "arib-std-b67");
    const struct {
        const char* profile;
        const QString& source;
        const char* tags; // matrix, primaries, transfer
        const char* shownIn;
    } cases[] = {
        { "PAL DV Video", pq, ",,", "bt470bg" },
        { "NTSC DV Video", pq, ",,", "smpte170m" },
        { "PAL DV Video", hlg, ",,", "bt470bg" },
        { "PAL DVD Video", pq, "smpte170m,bt470bg,smpte170m", "bt470bg" },
        { "MKV Video (H.264)", hlg, "bt709,bt709,bt709", "bt709" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.profile + (" from " + c.source).toStdString());
        const StreamFacts source = MediaFacts::probe(c.source).stream("video");
        const QByteArray name = c.source.toUtf8();
        const Source cells { name.constData(), 4, 1 };
        const auto node = load(c.source, c.profile);
        ASSERT_NE(node, nullptr);
        const StreamFacts video = convertAndProbe(node).stream("video");
        const QStringList tags { video.colorSpace, video.colorPrimaries, video.colorTransfer };
        EXPECT_EQ(tags.join(',').toStdString(), c.tags);
        const QRect area = decodePicture(node->outputName()).area;
        expectColoursNear(cellColours(node->outputName(), area, cells, playersMatrix(video)),
            cellColours(c.source, QRect(0, 0, source.width, source.height), cells,
                playersMatrix(video),
                kToneMapped
                    + managedInto(
                        c.shownIn, playersMatrix(video), "tin=bt709:pin=bt709:min=bt709")),
            4);
    }
}

// A picture the user turns a quarter fills a television frame as its turned
// shape shows, the frame keeping its own size; so does a turned picture of
// pixels that are not square in a format that names a few display aspects
// only, where a picture shown at one of them keeps its pixels.
TEST_F(OutputColours, TurnedPicturesKeepTheirShapeInEveryFrame)
{
    const struct {
        const char* profile;
        int angle;
        QSize frame; // empty: any
    } cases[] = {
        { "NTSC DVD Video", 90, { 720, 480 } },
        { "PAL DV Video", 270, { 720, 576 } },
        { "VOB Video", 90, {} },
        // Fitted by its pixels into the profile's 720x480.
        { "VOB Video", 0, { 640, 480 } },
    };
    const QString path = TestMedia::path(TestMedia::kGridHdv709);
    const double shown = MediaFacts::probe(path).stream("video").displayAspect();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.profile);
        const auto node = load(path, c.profile);
        ASSERT_NE(node, nullptr);
        node->setRotationAngle(c.angle);
        const StreamFacts video = convertAndProbe(node).stream("video");
        if (!c.frame.isEmpty()) {
            EXPECT_EQ(QSize(video.width, video.height), c.frame);
        }
        const QRect area = decodePicture(node->outputName()).area;
        ASSERT_FALSE(area.isEmpty());
        const double expected = c.angle % 180 == 90 ? 1.0 / shown : shown;
        EXPECT_NEAR(area.width() * video.pixelAspect() / area.height() / expected, 1.0, 0.01)
            << area.width() << "x" << area.height() << " at " << qPrintable(video.sampleAspect);
    }
}

} // namespace
