#include "player/EditPictureFilters.h"

#include <gtest/gtest.h>

#include <numbers>

namespace {

NXVarsAdjust plainColours()
{
    NXVarsAdjust values;
    values.vSaturation = 1.0;
    values.vGamma = 1.0;
    return values;
}

struct ColourCase {
    const char* label;
    void (*edit)(NXVarsAdjust&);
    QRgb in;
    QRgb expected;
};

TEST(EditColorFilters, FollowTheColourFormulas)
{
    const std::vector<ColourCase> cases = {
        { "plain values keep the pixel", [](NXVarsAdjust&) {}, qRgb(200, 100, 50),
            qRgb(200, 100, 50) },
        { "no saturation gives the luma grey", [](NXVarsAdjust& v) { v.vSaturation = 0; },
            qRgb(255, 0, 0), qRgb(54, 54, 54) },
        { "brightness adds", [](NXVarsAdjust& v) { v.vBrightness = 0.2; }, qRgb(100, 100, 100),
            qRgb(151, 151, 151) },
        { "contrast stretches around middle grey", [](NXVarsAdjust& v) { v.vContrast = 2; },
            qRgb(40, 140, 220), qRgb(0, 152, 255) },
        { "gamma is a power", [](NXVarsAdjust& v) { v.vGamma = 2; }, qRgb(128, 255, 0),
            qRgb(64, 255, 0) },
        { "hue turns red to green", [](NXVarsAdjust& v) { v.vHueAngle = 2 * std::numbers::pi / 3; },
            qRgb(255, 0, 0), qRgb(0, 255, 0) },
        { "hue leaves grey", [](NXVarsAdjust& v) { v.vHueAngle = std::numbers::pi; },
            qRgb(128, 128, 128), qRgb(128, 128, 128) },
        { "gamma acts after the colour controls",
            [](NXVarsAdjust& v) {
                v.vBrightness = -0.5;
                v.vGamma = 0.5;
            },
            qRgb(255, 191, 0), qRgb(180, 127, 0) },
    };
    for (const auto& c : cases) {
        NXVarsAdjust values = plainColours();
        c.edit(values);
        QImage picture(4, 2, QImage::Format_ARGB32);
        picture.fill(c.in);
        const QImage out = EditColorFilters(values).apply(picture);
        ASSERT_EQ(out.size(), picture.size()) << c.label;
        const QRgb p = out.pixel(3, 1);
        EXPECT_NEAR(qRed(p), qRed(c.expected), 1) << c.label;
        EXPECT_NEAR(qGreen(p), qGreen(c.expected), 1) << c.label;
        EXPECT_NEAR(qBlue(p), qBlue(c.expected), 1) << c.label;
    }
}

struct FitCase {
    QSizeF extent;
    QSizeF bounds;
    QRectF expected;
};

TEST(FittedPictureRect, FitsInsideAndCentresTheFreeAxis)
{
    const std::vector<FitCase> cases = {
        { { 1280, 720 }, { 400, 300 }, { 0, 37.5, 400, 225 } },
        { { 360, 640 }, { 400, 300 }, { 115.625, 0, 168.75, 300 } },
        { { 400, 300 }, { 400, 300 }, { 0, 0, 400, 300 } },
        { { 100, 100 }, { 0, 0 }, {} },
    };
    for (const auto& c : cases)
        EXPECT_EQ(fittedPictureRect(c.extent, c.bounds), c.expected) << c.extent.width();
}

TEST(CroppedPicture, CountsRowsFromTheBottomAndStaysInside)
{
    QImage picture(4, 4, QImage::Format_RGB32);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            picture.setPixel(x, y, qRgb(x * 50, y * 50, 0));
    const QImage bottomLeft = croppedPicture(picture, QRectF(0, 0, 2, 1));
    ASSERT_EQ(bottomLeft.size(), QSize(2, 1));
    EXPECT_EQ(bottomLeft.pixel(0, 0), qRgb(0, 150, 0));
    const QImage pastTheEdge = croppedPicture(picture, QRectF(3, 3, 5, 5));
    ASSERT_EQ(pastTheEdge.size(), QSize(1, 1));
    EXPECT_EQ(pastTheEdge.pixel(0, 0), qRgb(150, 0, 0));
}

} // namespace
