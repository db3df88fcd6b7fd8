// The buffered range under the position slider's played range.
#include "controls/NXPreloadSlider.h"

#include <QImage>

#include <gtest/gtest.h>

namespace {

bool isBufferedColour(QRgb pixel)
{
    return std::abs(qRed(pixel) - 72) < 6 && std::abs(qGreen(pixel) - 86) < 6
        && std::abs(qBlue(pixel) - 108) < 6;
}

} // namespace

TEST(NXPreloadSlider, DrawsTheBufferedRangeOnlyBeyondThePlayedOne)
{
    const struct {
        double maximum;
        float value;
        double preload;
        int bufferedUpTo; // the last column in the buffered colour, -1 for none
    } cases[] = {
        { 100, 10, 50, 99 }, { 100, 60, 50, -1 }, { 100, 10, 150, 199 },
        { 0, 0, 50, -1 }, // no range: nothing to measure against
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.preload);
        NXPreloadSlider slider;
        slider.resize(200, 10);
        slider.setMaxValue(row.maximum);
        slider.setValue(row.value, row.preload);
        const QImage picture = slider.grab().toImage();
        int last = -1;
        for (int x = 0; x < picture.width(); ++x)
            if (isBufferedColour(picture.pixel(x, 5)))
                last = x;
        EXPECT_NEAR(last, row.bufferedUpTo, row.bufferedUpTo < 0 ? 0 : 6);
    }
}
