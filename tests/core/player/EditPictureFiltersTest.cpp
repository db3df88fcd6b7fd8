#include "player/EditPictureFilters.h"

#include <gtest/gtest.h>

#include <numbers>

namespace {

struct ColourCase {
    const char* label;
    NXVarsAdjust values;
    QRgb in;
    QRgb expected;
};

TEST(EditColorFilters, FollowTheColourFormulas)
{
    const std::vector<ColourCase> cases = {
        { "no saturation gives the luma grey", { .vGamma = 1 }, qRgb(255, 0, 0), qRgb(54, 54, 54) },
        { "brightness adds", { .vBrightness = 0.2, .vGamma = 1, .vSaturation = 1 },
            qRgb(100, 100, 100), qRgb(151, 151, 151) },
        { "contrast stretches around middle grey",
            { .vContrast = 2, .vGamma = 1, .vSaturation = 1 }, qRgb(40, 140, 220),
            qRgb(0, 152, 255) },
        { "gamma is a power", { .vGamma = 2, .vSaturation = 1 }, qRgb(128, 255, 0),
            qRgb(64, 255, 0) },
        { "hue turns red to green",
            { .vGamma = 1, .vHueAngle = 2 * std::numbers::pi / 3, .vSaturation = 1 },
            qRgb(255, 0, 0), qRgb(0, 255, 0) },
        { "gamma acts after the colour controls",
            { .vBrightness = -0.5, .vGamma = 0.5, .vSaturation = 1 }, qRgb(255, 191, 0),
            qRgb(180, 127, 0) },
    };
    for (const auto& c : cases) {
        QImage picture(4, 2, QImage::Format_ARGB32);
        picture.fill(c.in);
        const QRgb p = EditColorFilters(c.values).apply(picture).pixel(3, 1);
        const int distance = std::abs(qRed(p) - qRed(c.expected))
            + std::abs(qGreen(p) - qGreen(c.expected)) + std::abs(qBlue(p) - qBlue(c.expected));
        EXPECT_LE(distance, 2) << c.label << " " << std::hex << p;
    }
}

} // namespace
