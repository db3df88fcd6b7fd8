// Sources of the shapes users bring (odd sizes, 4:4:4, 10-bit HDR, ProRes)
// through every video profile on the installed ffmpeg: each output is probed
// and decoded whole.
#include "core/engine/ProfileRunTest.h"
#include "support/RunFfmpeg.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <array>

namespace {

// What a profile's output holds whatever the source.
struct Promise {
    const char* profile;
    const char* pixelFormat; // as the decoder reports it
    bool evenWidth;
    bool evenHeight;
    bool keepsSize; // "keep origin": the source's picture, less a pixel its codec cannot take
    bool keepsHdr; // a 10-bit intermediate: an HDR source stays as it is
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

// ffmpeg's complaints while decoding every stream of a file; empty when clean.
QString decodeErrors(const QString& path)
{
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", { "-nostdin", "-v", "error", "-xerror", "-i", path, "-f", "null", "-" });
    if (!ffmpeg.waitForFinished(120'000))
        return "the decode did not end";
    const QString errors = QString::fromUtf8(ffmpeg.readAllStandardError()).trimmed();
    return ffmpeg.exitCode() == 0 ? errors
                                  : QStringLiteral("status %1: ").arg(ffmpeg.exitCode()) + errors;
}

double displayAspect(const StreamFacts& video)
{
    const QStringList sample = video.sampleAspect.split(':');
    const double ratio = sample.size() == 2 && sample[0].toInt() > 0
        ? sample[0].toDouble() / sample[1].toDouble()
        : 1.0;
    return video.width * ratio / video.height;
}

// Y, U and V of the middle of the first picture's left half (the grey of the
// HDR sources), then of its right half (the red), after `filters`.
std::array<int, 6> patches(const QString& path, const QString& filters = {})
{
    QByteArray raw;
    EXPECT_TRUE(
        runFfmpeg({ "-i", path, "-frames:v", "1", "-vf",
                      filters + "crop=iw:ih/8:0:ih*7/16,scale=8:1:flags=area,format=yuv444p", "-f",
                      "rawvideo", "-" },
            &raw));
    const auto at = [&raw](int plane, int x) {
        const qsizetype index = plane * 8 + x;
        return index < raw.size() ? int(quint8(raw[index])) : -1;
    };
    return { at(0, 2), at(1, 2), at(2, 2), at(0, 5), at(1, 5), at(2, 5) };
}

// HDR to BT.709 SDR as ffmpeg's own filters make it.
const QString kToneMapped
    = "zscale=t=linear:npl=100,format=gbrpf32le,zscale=p=bt709,"
      "tonemap=tonemap=hable:desat=0,zscale=t=bt709:m=bt709:r=tv,format=yuv420p,";

class SourceShapes : public ProfileRunTest, public ::testing::WithParamInterface<const char*> {
protected:
    void expectColours(const QString& output, const StreamFacts& video, const StreamFacts& source,
        const Promise& promise)
    {
        if (promise.keepsHdr) {
            EXPECT_EQ(video.colorTransfer, source.colorTransfer);
            EXPECT_EQ(video.colorPrimaries, "bt2020");
            return;
        }
        // Formats with no place for the tags leave them out.
        for (const QString& tag : { video.colorPrimaries, video.colorTransfer, video.colorSpace })
            EXPECT_TRUE(tag.isEmpty() || tag == "bt709") << qPrintable(tag);
        const std::array<int, 6> made = patches(output);
        const std::array<int, 6> reference = patches(TestMedia::path(GetParam()), kToneMapped);
        for (std::size_t i = 0; i < made.size(); ++i)
            EXPECT_NEAR(made[i], reference[i], 8) << "value " << i;
    }
};

TEST_P(SourceShapes, EveryVideoProfileWritesWhatItsPlayersTake)
{
    const QString path = TestMedia::path(GetParam());
    const MediaFacts sourceFacts = MediaFacts::probe(path);
    ASSERT_TRUE(sourceFacts.ok) << qPrintable(sourceFacts.error);
    const StreamFacts source = sourceFacts.stream("video");
    const bool hdr = source.colorTransfer == "smpte2084" || source.colorTransfer == "arib-std-b67";
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
        if (p.keepsSize) {
            EXPECT_LE(source.width - video.width, 1);
            EXPECT_LE(source.height - video.height, 1);
            EXPECT_NEAR(displayAspect(video) / displayAspect(source), 1.0,
                1.0 / std::min(source.width, source.height));
        }
        if (video.codecName == "h264") {
            EXPECT_TRUE(kPlayerH264Profiles.contains(video.profile)) << qPrintable(video.profile);
        }
        EXPECT_EQ(decodeErrors(node->outputName()), QString());
        if (hdr)
            expectColours(node->outputName(), video, source, p);
    }
}

INSTANTIATE_TEST_SUITE_P(Sources, SourceShapes,
    ::testing::Values(TestMedia::kOdd853x480, TestMedia::kOdd321x241Full, TestMedia::kHlg,
        TestMedia::kPq, TestMedia::kProRes422),
    [](const ::testing::TestParamInfo<const char*>& source) {
        return QString::fromUtf8(source.param).section('.', 0, 0).toStdString();
    });

} // namespace
