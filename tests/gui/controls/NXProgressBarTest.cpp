// The progress bar's fill and percent, as painted.
#include "controls/NXProgressBar.h"

#include <QImage>

#include <gtest/gtest.h>

namespace {

// Columns of the bar's percent field that hold white text.
QList<int> whiteColumns(const QImage& picture)
{
    QList<int> columns;
    for (int x = 0; x < picture.width(); ++x)
        for (int y = 0; y < picture.height(); ++y)
            if (qRed(picture.pixel(x, y)) > 200 && qBlue(picture.pixel(x, y)) > 200) {
                columns << x;
                break;
            }
    return columns;
}

} // namespace

TEST(NXProgressBar, ShowsThePercentRightAlignedAtTheFillEndOnlyAbove8Percent)
{
    const struct {
        double value;
        bool hasText;
    } cases[] = { { 0.05, false }, { 0.5, true }, { 1.5, true } };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.value);
        NXProgressBar bar;
        bar.resize(270, 14);
        bar.setDoubleValue(row.value);
        const QImage picture = bar.grab().toImage();
        const double fillEnd = 1 + std::min(row.value, 1.0) * 268;
        EXPECT_DOUBLE_EQ(bar.innerProgressRect().right(), fillEnd);
        const QList<int> white = whiteColumns(picture);
        EXPECT_EQ(!white.isEmpty(), row.hasText);
        if (row.hasText) {
            EXPECT_GE(white.first(), fillEnd - 30);
            EXPECT_GE(white.last(), fillEnd - 4) << "right-aligned";
            EXPECT_LE(white.last(), fillEnd);
        }
    }
}
