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

struct TrimCase {
    const char* name;
    float duration;
    quint32 start;
    quint32 end;
    float startFraction;
    float endFraction;
    quint32 startBack;
    quint32 endBack;
};

class TrimTimes : public ::testing::TestWithParam<TrimCase> { };

TEST_P(TrimTimes, AreStoredAsFractionsOfTheSelectedTrack)
{
    const TrimCase& c = GetParam();
    auto node = nodeWithVideo(c.duration);
    node->setTrimStartTime(c.start);
    node->setTrimEndTime(c.end);
    EXPECT_FLOAT_EQ(node->setting().trimStartPercent(), c.startFraction);
    EXPECT_FLOAT_EQ(node->setting().trimEndPercent(), c.endFraction);
    EXPECT_EQ(node->trimStartTime(), c.startBack);
    EXPECT_EQ(node->trimEndTime(), c.endBack);
}

INSTANTIATE_TEST_SUITE_P(DNFileNode, TrimTimes,
    ::testing::Values(TrimCase { "quarters", 100.0f, 25, 75, 0.25f, 0.75f, 25, 75 },
        TrimCase { "fractional_length", 10.5f, 3, 10, 3.0f / 10.5f, 10.0f / 10.5f, 3, 10 },
        TrimCase { "ntsc_length", 59.94f, 31, 59, 31.0f / 59.94f, 59.0f / 59.94f, 31, 59 },
        TrimCase {
            "one_second_of_long_clip", 123.456f, 1, 8, 1.0f / 123.456f, 8.0f / 123.456f, 1, 8 },
        TrimCase { "beyond_the_end", 60.0f, 90, 120, 1.0f, 1.0f, 60, 60 },
        TrimCase { "unknown_length", 0.0f, 5, 20, 0.0f, 1.0f, 0, 0 }),
    [](const auto& row) { return std::string(row.param.name); });

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

struct RectCase {
    const char* name;
    qint32 width;
    qint32 height;
    QRectF pixels;
    QRectF expectedFractions; // what is stored; the reset value when ignored
};

class CropRect : public ::testing::TestWithParam<RectCase> { };

TEST_P(CropRect, IsStoredAsFractionsOfThePicture)
{
    const RectCase& c = GetParam();
    auto node = nodeWithVideo(10.0f, c.width, c.height);
    node->setCropRect(c.pixels);
    EXPECT_EQ(node->setting().cropRectPercent(), c.expectedFractions);
    const QRectF back = node->cropRect();
    EXPECT_TRUE(std::isfinite(back.x()) && std::isfinite(back.width()));
}

INSTANTIATE_TEST_SUITE_P(DNFileNode, CropRect,
    ::testing::Values(RectCase { "bottom_left_origin", 640, 480, QRectF(64, 48, 320, 240),
                          QRectF(0.1, 0.1, 0.5, 0.5) },
        RectCase { "all_zero_is_ignored", 640, 480, QRectF(0, 0, 0, 0), QRectF(0, 0, 1, 1) },
        RectCase { "zero_width_track", 0, 480, QRectF(10, 10, 100, 100), QRectF(0, 0, 1, 1) },
        RectCase { "zero_height_track", 640, 0, QRectF(10, 10, 100, 100), QRectF(0, 0, 1, 1) }),
    [](const auto& row) { return std::string(row.param.name); });

class WatermarkRect : public ::testing::TestWithParam<RectCase> { };

TEST_P(WatermarkRect, IsStoredAsFractionsOfThePicture)
{
    const RectCase& c = GetParam();
    auto node = nodeWithVideo(10.0f, c.width, c.height);
    node->setWatermarkRect(c.pixels);
    EXPECT_EQ(node->setting().watermarkRectPercent(), c.expectedFractions);
}

INSTANTIATE_TEST_SUITE_P(DNFileNode, WatermarkRect,
    ::testing::Values(
        RectCase { "corner", 1920, 1080, QRectF(1536, 0, 384, 108), QRectF(0.8, 0.0, 0.2, 0.1) },
        RectCase { "zero_size_track", 0, 0, QRectF(10, 10, 100, 100), QRectF(0.3, 0.3, 0.3, 0.3) }),
    [](const auto& row) { return std::string(row.param.name); });

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
