#include "model/DNFileNode.h"

#include <gtest/gtest.h>

namespace {

DNTVideo videoTrack(float duration, qint32 width, qint32 height)
{
    DNTVideo track;
    track.duration = duration;
    track.width = width;
    track.height = height;
    return track;
}

std::shared_ptr<DNFileNode> nodeWithVideo(float duration, qint32 width = 640, qint32 height = 480)
{
    auto node = std::make_shared<DNFileNode>(QStringLiteral("/media/clip.mp4"));
    node->setVideoTracks({ videoTrack(duration, width, height) });
    return node;
}

TEST(DNFileNode, TrimTimesAreStoredAsFractionsOfTheSelectedTrack)
{
    const struct {
        const char* name;
        float duration;
        quint32 start, end;
        float startFraction, endFraction;
        quint32 startBack, endBack;
    } cases[] = {
        { "quarters", 100.0f, 25, 75, 0.25f, 0.75f, 25, 75 },
        { "ntsc length", 59.94f, 31, 58, 31.0f / 59.94f, 58.0f / 59.94f, 31, 58 },
        // The last whole second is the end: the fraction after it stays in the trim.
        { "to the end of a fractional length", 3599.96f, 3528, 3599, 3528.0f / 3599.96f, 1.0f, 3528,
            3599 },
        { "beyond the end", 60.0f, 90, 120, 1.0f, 1.0f, 60, 60 },
        { "unknown length", 0.0f, 5, 20, 0.0f, 1.0f, 0, 0 },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto node = nodeWithVideo(c.duration);
        node->setTrimStartTime(c.start);
        node->setTrimEndTime(c.end);
        EXPECT_FLOAT_EQ(node->setting().trimStartPercent(), c.startFraction);
        EXPECT_FLOAT_EQ(node->setting().trimEndPercent(), c.endFraction);
        EXPECT_EQ(node->trimStartTime(), c.startBack);
        EXPECT_EQ(node->trimEndTime(), c.endBack);
    }
}

TEST(DNFileNode, TrimFollowsTheSelectedVideoTrack)
{
    auto node = nodeWithVideo(100.0f);
    node->setVideoTracks({ videoTrack(100.0f, 640, 480), videoTrack(40.0f, 320, 240) });
    node->setTrimEndTime(50);
    node->setting().setVideoIndex(1);
    EXPECT_EQ(node->trimEndTime(), 20u);
    EXPECT_EQ(node->currentVideoTrackDuration(), 40u);
    node->setting().setVideoIndex(7); // points nowhere: no length, no crash
    EXPECT_EQ(node->trimEndTime(), 0u);
    EXPECT_EQ(node->currentVideoTrackDuration(), 0u);
}

// A zero-sized picture must neither divide by zero nor store garbage.
TEST(DNFileNode, CropAndWatermarkAreStoredAsFractionsOfThePicture)
{
    const struct {
        const char* name;
        bool watermark;
        qint32 width, height;
        QRectF pixels;
        QRectF expected; // the reset value when ignored
    } cases[] = {
        { "crop", false, 640, 480, { 64, 48, 320, 240 }, { 0.1, 0.1, 0.5, 0.5 } },
        { "crop all zero", false, 640, 480, { 0, 0, 0, 0 }, { 0, 0, 1, 1 } },
        { "crop zero width", false, 0, 480, { 10, 10, 100, 100 }, { 0, 0, 1, 1 } },
        { "crop zero height", false, 640, 0, { 10, 10, 100, 100 }, { 0, 0, 1, 1 } },
        { "watermark", true, 1920, 1080, { 1536, 0, 384, 108 }, { 0.8, 0.0, 0.2, 0.1 } },
        { "watermark zero size", true, 0, 0, { 10, 10, 100, 100 }, { 0.3, 0.3, 0.3, 0.3 } },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto node = nodeWithVideo(10.0f, c.width, c.height);
        if (c.watermark)
            node->setWatermarkRect(c.pixels);
        else
            node->setCropRect(c.pixels);
        EXPECT_EQ(c.watermark ? node->setting().watermarkRectPercent()
                              : node->setting().cropRectPercent(),
            c.expected);
        const QRectF back = node->cropRect();
        EXPECT_TRUE(std::isfinite(back.x()) && std::isfinite(back.width()));
    }
}

TEST(DNFileNode, PixelsComeBackFromFractions)
{
    auto node = nodeWithVideo(10.0f, 1280, 720);
    node->setCropRect(QRectF(128, 72, 640, 360));
    EXPECT_EQ(node->cropRect(), QRectF(128, 72, 640, 360));
    node->setResolutionOfSelectedVideoTrack(QSizeF(640.9, 360.2));
    EXPECT_EQ(node->resolutionOfSelectedVideoTrack(), QSizeF(640, 360));
    EXPECT_EQ(node->cropRect(), QRectF(64, 36, 320, 180));
}

TEST(DNFileNode, TrackLengthIsFilledInOnlyWhenUnknown)
{
    auto known = nodeWithVideo(12.7f);
    known->setCurrentVideoTrackDuration(99);
    EXPECT_EQ(known->currentVideoTrackDuration(), 12u);

    auto unknown = nodeWithVideo(0.0f);
    unknown->setCurrentVideoTrackDuration(99);
    EXPECT_EQ(unknown->currentVideoTrackDuration(), 99u);
}

} // namespace
