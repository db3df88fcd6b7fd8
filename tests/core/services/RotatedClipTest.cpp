// A phone's clip stores its picture lying down with a rotation for display:
// the probe gives the upright size, the rotation and the aspect, and the
// thumbnail shows the picture as the conversion turns it.
#include "model/DNFileNode.h"

#include "fixtures/TestMedia.h"
#include "services/ThumbnailCapture.h"
#include "support/RunFfmpeg.h"
#include "support/TestFiles.h"

#include <QTemporaryDir>
#include <QtEndian>

#include <gtest/gtest.h>

#include <cmath>
#include <utility>

namespace {

struct RotationCase {
    int rotation;
    QSize upright;
    const char* aspect;
    const char* corner; // of the red square, stored at the top left
};

const RotationCase kRotations[] = {
    { 0, { 320, 180 }, "16:9", "top left" },
    { 90, { 180, 320 }, "9:16", "top right" },
    { 180, { 320, 180 }, "16:9", "bottom right" },
    { 270, { 180, 320 }, "9:16", "bottom left" },
};

} // namespace

TEST(RotatedClip, ProbeAndThumbnailSeeTheUprightPicture)
{
    for (const RotationCase& c : kRotations) {
        SCOPED_TRACE(c.rotation);
        const QString path = TestMedia::markedClip(c.rotation);
        const auto node = DNFileNode::fileNodeWithFile(path);
        ASSERT_TRUE(node);
        const DNTVideo& track = node->videoTracks().front();
        EXPECT_EQ(track.rotation, c.rotation);
        EXPECT_EQ(QSize(track.width, track.height), c.upright);
        EXPECT_EQ(QSize(track.storedWidth(), track.storedHeight()), QSize(320, 180));
        EXPECT_EQ(track.aspectRatio, c.aspect);
        EXPECT_EQ(node->resolutionOfSelectedVideoTrack(), QSizeF(c.upright));

        const QImage converted = TestMedia::convertedPicture(path);
        EXPECT_EQ(converted.size(), c.upright);
        EXPECT_EQ(TestMedia::markedCorner(converted), c.corner);
        const QImage thumbnail = captureThumbnail(path, QSize(160, 160));
        EXPECT_EQ(thumbnail.size(), c.upright.scaled(160, 160, Qt::KeepAspectRatio));
        EXPECT_EQ(TestMedia::markedCorner(thumbnail), c.corner);
        const QImage whole = captureSourcePicture(path, 1.0);
        EXPECT_EQ(whole.size(), c.upright);
        EXPECT_EQ(TestMedia::markedCorner(whole), c.corner);
    }
}

// A display matrix by an angle other than a quarter turn: the engine turns
// the picture inside its stored frame, so the node keeps the stored size, as
// the converted picture has it. The clip is the marked one with its track's
// matrix rewritten to 60 degrees clockwise.
TEST(RotatedClip, AnOddAngleKeepsTheStoredSize)
{
    QByteArray bytes = readTestFile(TestMedia::markedClip(0));
    const qsizetype header = bytes.indexOf("tkhd");
    ASSERT_GE(header, 0);
    ASSERT_EQ(bytes[header + 4], 0); // version 0: the matrix is 44 bytes after the name
    const double c = 0.5;
    const double s = std::sqrt(3.0) / 2;
    const double matrix[] = { c, s, 0, -s, c, 0, 0, 0 };
    for (int i = 0; i < 8; ++i)
        qToBigEndian<qint32>(static_cast<qint32>(std::lround(matrix[i] * 65536)),
            bytes.data() + header + 44 + 4 * i);
    QTemporaryDir dir;
    const QString path = dir.filePath("sixty.mp4");
    ASSERT_TRUE(writeTestFile(path, bytes));

    const auto node = DNFileNode::fileNodeWithFile(path);
    ASSERT_TRUE(node);
    const DNTVideo& track = node->videoTracks().front();
    EXPECT_EQ(track.rotation, 0);
    EXPECT_EQ(QSize(track.width, track.height), QSize(320, 180));
    const QImage converted = TestMedia::convertedPicture(path);
    EXPECT_EQ(converted.size(), QSize(320, 180));
    // Turned by 60 degrees, the red square has left its corner.
    EXPECT_EQ(TestMedia::markedCorner(converted), QString());
}

// Pixels wider than high stand higher than wide once the picture is turned
// upright: PAL DV at 16:9 (64:45) becomes 45:64.
TEST(RotatedClip, PixelShapeTurnsWithThePicture)
{
    QTemporaryDir dir;
    const QString turned = dir.filePath("turned.mp4");
    const QString source = TestMedia::path(TestMedia::kGridPal169);
    ASSERT_TRUE(runFfmpeg({ "-i", source, "-c", "copy", "-metadata:s:v:0", "rotate=90", turned }));
    for (const auto& [path, pixel] :
        { std::pair(source, 64.0 / 45), std::pair(turned, 45.0 / 64) }) {
        const auto node = DNFileNode::fileNodeWithFile(path);
        ASSERT_TRUE(node);
        EXPECT_NEAR(node->videoTracks().front().sampleAspect, pixel, 1e-6);
    }
}

// A picture bigger than the decoder's limit is refused before any of it is
// decoded in our process. The file is a small motion-JPEG clip whose headers
// and frame say 16000 x 16000, as a hostile file would.
TEST(RotatedClip, RefusesAPictureBeyondThePixelLimit)
{
    QTemporaryDir dir;
    const QString small = dir.filePath("small.avi");
    ASSERT_TRUE(runFfmpeg({ "-f", "lavfi", "-i", "color=c=gray:s=16x16:r=1:d=1", "-c:v", "mjpeg",
        "-pix_fmt", "yuvj420p", small }));
    QByteArray bytes = readTestFile(small);
    const auto setLittle32 = [&bytes](const char* chunk, std::initializer_list<int> offsets) {
        const qsizetype at = bytes.indexOf(chunk);
        ASSERT_GE(at, 0) << chunk;
        for (const int offset : offsets)
            qToLittleEndian<quint32>(16000, bytes.data() + at + 8 + offset);
    };
    setLittle32("avih", { 32, 36 }); // the file's frame size
    setLittle32("strf", { 4, 8 }); // the stream's picture size
    const qsizetype frameHeader = bytes.indexOf("\xff\xc0");
    ASSERT_GE(frameHeader, 0);
    qToBigEndian<quint16>(16000, bytes.data() + frameHeader + 5);
    qToBigEndian<quint16>(16000, bytes.data() + frameHeader + 7);
    const QString huge = dir.filePath("huge.avi");
    ASSERT_TRUE(writeTestFile(huge, bytes));

    DNFileLoadFailure failure = DNFileLoadFailure::None;
    EXPECT_EQ(DNFileNode::fileNodeWithFile(huge, true, &failure), nullptr);
    EXPECT_EQ(failure, DNFileLoadFailure::PictureTooLarge);
    EXPECT_EQ(DNFileLoadFailureText(failure), "its picture is larger than 8192 x 8192 pixels");
    EXPECT_TRUE(captureThumbnail(huge, QSize(160, 160)).isNull());
}

// The black-border preset asks for a source picture on the main thread: past
// its limit the capture gives up with a reason, and the preview's picture serves.
TEST(RotatedClip, SourcePictureGivesUpPastItsLimit)
{
    const QString path = TestMedia::markedClip(90);
    QString error;
    EXPECT_TRUE(captureSourcePicture(path, 1.0, &error, std::chrono::milliseconds(0)).isNull());
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(captureSourcePicture(path, 1.0, &error).isNull()) << error.toStdString();
}
