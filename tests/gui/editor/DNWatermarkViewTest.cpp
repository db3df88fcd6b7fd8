// The watermark boxes: their default place, the text's first sizing and
// rendering, and the picture drawn at the chosen transparency.
#include "editor/DNWatermarkView.h"
#include "gui/editor/BlackPicture.h"

#include <gtest/gtest.h>

namespace {

TEST(DNWatermarkView, BoxStartsTopLeftAndANewFrameResetsIt)
{
    DNWatermarkView view(QRect(0, 0, 640, 360));
    EXPECT_EQ(view.selectionArea(), QRectF(0, 300, 60, 40));
    view.setSelectionArea({ 100, 100, 80, 50 });
    view.setFrame(QRect(0, 0, 320, 180));
    EXPECT_EQ(view.selectionArea(), QRectF(0, 120, 60, 40));
    EXPECT_EQ(view.controlCells().back()->frame(), QRectF(0, 120, 60, 40));
}

TEST(DNWatermarkView, FirstTextSizesTheBoxAndEveryFontRendersAt144Points)
{
    DNWatermarkView view(QRect(0, 0, 640, 360));
    view.setSelectionArea({ 500, 330, 60, 30 });
    view.setText(QStringLiteral("Watermark"));
    // At 52 points the text is wider and taller than the room left: cut there.
    EXPECT_EQ(view.selectionArea(), QRectF(500, 330, 140, 30));
    view.setText(QStringLiteral("W"));
    EXPECT_EQ(view.selectionArea(), QRectF(500, 330, 140, 30));

    const QString family = view.textFont().family();
    view.setTextFont(QFont(family, 12));
    DNWatermarkView reference(QRect(0, 0, 640, 360));
    reference.setText(QStringLiteral("W"));
    reference.setTextFont(QFont(family, 144));
    EXPECT_EQ(view.textFont().pointSizeF(), 144);
    EXPECT_EQ(view.image().size(), reference.image().size());
    EXPECT_GT(view.image().height(), 100);

    view.setText(QString());
    EXPECT_TRUE(view.image().isNull());
}

TEST(DNImageWatermarkView, DrawsThePictureAtItsOpacityAndNothingWithoutOne)
{
    BlackPicture picture({ 200, 100 });
    auto* view = new DNImageWatermarkView(QRect(0, 0, 200, 100), &picture.picture);
    view->setSelectionArea({ 50, 20, 100, 60 });
    picture.picture.show();
    const QPoint middle(100, 50), topLeftHandle(56, 26);
    EXPECT_EQ(picture.redAt(topLeftHandle), 0); // no picture: not even the handles

    QImage red(10, 10, QImage::Format_ARGB32);
    red.fill(Qt::red);
    view->setImage(red);
    const struct {
        float transparency;
        int middleRed;
    } cases[] = { { 0, 255 }, { 25, 191 }, { 100, 0 } };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.transparency);
        view->setTransparency(row.transparency);
        EXPECT_NEAR(picture.redAt(middle), row.middleRed, 2);
        EXPECT_EQ(picture.redAt(topLeftHandle), 255);
    }
}

} // namespace
