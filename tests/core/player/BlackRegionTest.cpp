#include "player/BlackRegion.h"

#include "support/EncodeWords.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QImage lavfiPicture(const QString& source, const QString& path)
{
    EXPECT_EQ(
        encodeWords({ "encoder", "-y", "-f", "lavfi", "-i", source, "-frames:v", "1", path }), 0);
    return QImage(path);
}

struct BarsCase {
    const char* label;
    QString source; // lavfi graph of one picture
    QRect expected; // origin at the bottom left
};

TEST(BlackRegion, FindsTheBarsOfPaddedPictures)
{
    const std::vector<BarsCase> cases = {
        { "bars of 10 and 40", "color=white:size=620x280,pad=640:360:10:40:black",
            { 10, 40, 620, 280 } },
        { "all black", "color=black:size=640x360", { 0, 0, 640, 360 } },
        // Sample rows lie every 14 rows: a box of 70 rows meets 5 of them, 84 rows 6.
        { "dark logo on 5 rows", "color=black:size=30x70,pad=640:360:0:0:white",
            { 0, 0, 640, 360 } },
        // A black patch that does not span the whole side is picture, not a bar.
        { "dark logo on 6 rows", "color=black:size=30x84,pad=640:360:0:0:white",
            { 0, 0, 640, 360 } },
        { "colour bars", "smptebars=size=720x480", { 0, 0, 720, 480 } },
        { "deep blue beside white", "color=0x000060:size=100x360,pad=640:360:0:0:white",
            { 0, 0, 640, 360 } },
        { "bar at the bottom only", "color=gray:size=640x300,pad=640:360:0:0:black",
            { 0, 60, 640, 300 } },
        { "bright stripes beside a dark picture", "color=black:size=600x360,pad=640:360:20:0:white",
            { 0, 0, 640, 360 } },
    };
    QTemporaryDir folder;
    for (const auto& c : cases) {
        const QImage picture = lavfiPicture(c.source, folder.filePath("bars.png"));
        ASSERT_FALSE(picture.isNull()) << c.label;
        EXPECT_EQ(extentByDividingBlackRegion(picture), c.expected) << c.label;
    }
}

TEST(BlackRegion, SmallOrMissingPicturesKeepTheirExtent)
{
    QImage narrow(25, 200, QImage::Format_RGB32);
    narrow.fill(Qt::black);
    narrow.setPixel(20, 100, qRgb(255, 255, 255));
    EXPECT_EQ(extentByDividingBlackRegion(narrow), QRect(0, 0, 25, 200));
    EXPECT_EQ(extentByDividingBlackRegion(QImage()), QRect());
    // A palette picture is read by its colours, not by its palette indexes.
    QImage indexed(100, 100, QImage::Format_Indexed8);
    indexed.setColorTable({ qRgb(255, 255, 255), qRgb(0, 0, 0) });
    indexed.fill(1);
    for (int y = 0; y < 100; ++y)
        for (int x = 50; x < 100; ++x)
            indexed.setPixel(x, y, 0);
    EXPECT_EQ(dividingLengthHorizontal(indexed, true), 49);
}

} // namespace
