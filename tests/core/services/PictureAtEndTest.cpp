// The editor asks for the source picture at the preview's time, which stands
// on the clip's last frame or past its end once the clip has played through.
// There the decoder is drained and has no frame to give: the picture is the
// clip's last one, whatever the container and the order its frames are stored in.
#include "services/ThumbnailCapture.h"
#include "support/RunFfmpeg.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>

extern "C" {
#include <libavutil/frame.h>
}

namespace {

constexpr QSize kSize(64, 48);
constexpr int kRate = 10;

// A clip whose frame N is a flat grey of its own (brighter by 8 each frame,
// over again every 20 frames), so that a picture tells which frame it is.
struct EndCase {
    const char* name;
    int frames;
    QStringList encoding;
    bool withSound = false;
};

const EndCase kOneFrame = { "one_frame.mp4", 1, { "-c:v", "libx264", "-pix_fmt", "yuv420p" } };

const EndCase kCases[] = {
    { "b_frames.mp4", 20,
        { "-c:v", "libx264", "-x264-params", "bframes=3:b-adapt=0", "-pix_fmt", "yuv420p" } },
    { "transport.ts", 20,
        { "-c:v", "libx264", "-x264-params", "bframes=3:b-adapt=0", "-pix_fmt", "yuv420p", "-f",
            "mpegts" } },
    // Two minutes without an index: a seek to its end lands after its last
    // key frame, and its start lies further back than is read after a seek.
    { "long_transport.ts", 1200,
        { "-c:v", "libx264", "-g", "20", "-x264-params", "bframes=3:b-adapt=0", "-pix_fmt",
            "yuv420p", "-f", "mpegts" } },
    kOneFrame,
    { "part2.avi", 20, { "-c:v", "mpeg4", "-vtag", "XVID", "-q:v", "2" } },
    // A key frame only at the start, and many more packets of sound than of
    // picture after it.
    { "long_gop.mp4", 300,
        { "-c:v", "libx264", "-x264-params", "keyint=300:scenecut=0", "-pix_fmt", "yuv420p", "-c:a",
            "aac" },
        true },
    { "vp9.webm", 20,
        { "-c:v", "libvpx-vp9", "-deadline", "realtime", "-cpu-used", "8", "-pix_fmt",
            "yuv420p" } },
};

bool makeClip(const QString& path, const EndCase& c)
{
    const QString picture
        = QStringLiteral("color=c=black:s=%1x%2:r=%3,geq=lum=20+8*mod(N\\,20):cb=128:cr=128")
              .arg(kSize.width())
              .arg(kSize.height())
              .arg(kRate);
    QStringList arguments { "-f", "lavfi", "-i", picture };
    if (c.withSound)
        arguments += { "-f", "lavfi", "-i",
            QStringLiteral("sine=sample_rate=48000:duration=%1").arg(c.frames / kRate) };
    return runFfmpeg(arguments + QStringList { "-frames:v", QString::number(c.frames) } + c.encoding
        + QStringList { path });
}

// The centre of the last frame ffmpeg decodes from `path`.
QRgb lastDecodedCentre(const QString& path)
{
    QByteArray rgb;
    if (!runFfmpeg({ "-i", path, "-f", "rawvideo", "-pix_fmt", "rgb24", "-" }, &rgb))
        return 0;
    const qsizetype frameBytes = qsizetype(kSize.width()) * kSize.height() * 3;
    if (rgb.size() < frameBytes || rgb.size() % frameBytes != 0) {
        ADD_FAILURE() << "ffmpeg gave " << rgb.size() << " bytes";
        return 0;
    }
    const qsizetype centre = rgb.size() - frameBytes
        + (qsizetype(kSize.height() / 2) * kSize.width() + kSize.width() / 2) * 3;
    const auto byte = [&rgb](qsizetype at) { return static_cast<uchar>(rgb[at]); };
    return qRgb(byte(centre), byte(centre + 1), byte(centre + 2));
}

void expectSameGrey(const QImage& picture, QRgb expected)
{
    ASSERT_FALSE(picture.isNull());
    ASSERT_EQ(picture.size(), kSize);
    const QRgb centre = picture.pixel(kSize.width() / 2, kSize.height() / 2);
    // Neighbouring frames lie 9 apart in each channel.
    EXPECT_NEAR(qRed(centre), qRed(expected), 3);
    EXPECT_NEAR(qGreen(centre), qGreen(expected), 3);
    EXPECT_NEAR(qBlue(centre), qBlue(expected), 3);
}

} // namespace

TEST(PictureAtEnd, TheLastFrameAndPastTheEndGiveTheLastPicture)
{
    QTemporaryDir dir;
    for (const EndCase& c : kCases) {
        SCOPED_TRACE(c.name);
        const QString path = dir.filePath(c.name);
        ASSERT_TRUE(makeClip(path, c));
        const QRgb last = lastDecodedCentre(path);
        const double lastFrame = double(c.frames - 1) / kRate;
        const double end = double(c.frames) / kRate;
        for (const double seconds : { lastFrame, end, end + 0.04, end + 1, end + 2.5, end + 5 }) {
            SCOPED_TRACE(seconds);
            QString why;
            // Without the window's limit: a busy machine may be slow to read.
            const QImage picture
                = captureSourcePicture(path, seconds, &why, std::chrono::minutes(1));
            EXPECT_TRUE(why.isEmpty()) << why.toStdString();
            expectSameGrey(picture, last);
        }
    }
}

// A thumbnail is taken a tenth into the file, after a clip of one frame has
// ended: the decoder is drained there too.
TEST(PictureAtEnd, AOneFrameClipHasAThumbnail)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("one_frame.mp4");
    ASSERT_TRUE(makeClip(path, kOneFrame));
    expectSameGrey(captureThumbnail(path, kSize), lastDecodedCentre(path));
}

// What a drained decoder leaves, or a frame in no format the scaler reads,
// is refused with a null picture rather than handed on.
TEST(PictureAtEnd, AFrameWithoutAPictureIsNotScaled)
{
    const std::unique_ptr<AVFrame, void (*)(AVFrame*)> frame(
        av_frame_alloc(), [](AVFrame* f) { av_frame_free(&f); });
    ASSERT_TRUE(frame);
    EXPECT_TRUE(scaledFramePicture(*frame, kSize).isNull());

    frame->width = kSize.width();
    frame->height = kSize.height();
    frame->format = AV_PIX_FMT_YUV420P;
    ASSERT_EQ(av_frame_get_buffer(frame.get(), 0), 0);
    EXPECT_FALSE(scaledFramePicture(*frame, kSize).isNull());
    frame->format = AV_PIX_FMT_NONE;
    EXPECT_TRUE(scaledFramePicture(*frame, kSize).isNull());
    frame->format = AV_PIX_FMT_YUV420P;
    EXPECT_TRUE(scaledFramePicture(*frame, QSize()).isNull());
}
