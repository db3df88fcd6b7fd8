// The segment slider's knob and handle arithmetic under the mouse. Points are
// given as the slider keeps them, with the origin at the bottom left.
#include "controls/NXSegmentSlider.h"

#include <QCoreApplication>
#include <QMouseEvent>

#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr double kTrackY = 15; // inside the track, clear of the handles' tops

class SegmentSlider : public ::testing::Test {
protected:
    void SetUp() override
    {
        // A track 200 points wide, starting at x = 14. Left hidden, as the
        // editor's slider is while the sheet is being set up.
        slider.resize(228, 31);
        QObject::connect(&slider, &NXSegmentSlider::actionTriggered,
            [this](NXSegmentSlider* sender) { sent.push_back(sender->value()); });
    }

    void mouse(QEvent::Type type, double x, double y, Qt::KeyboardModifiers modifiers = {})
    {
        const QPointF point(x, slider.height() - y);
        const Qt::MouseButtons held
            = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
        QMouseEvent event(type, point, slider.mapToGlobal(point), Qt::LeftButton, held, modifiers);
        QCoreApplication::sendEvent(&slider, &event);
    }
    void dragTo(double x, Qt::KeyboardModifiers modifiers = {})
    {
        mouse(QEvent::MouseMove, x, kTrackY, modifiers);
    }

    double leftInnerEdge() const
    {
        const QRectF left = slider.segment()->leftOne().frame();
        return left.x() + left.width();
    }
    double rightInnerEdge() const { return slider.segment()->rightOne().frame().x(); }

    NXSegmentSlider slider;
    std::vector<double> sent;
};

TEST_F(SegmentSlider, KnobStaysOnTheTrackWhateverTheValue)
{
    const struct {
        double percent;
        double value;
        double knobX;
    } cases[] = {
        { 0.5, 50, 195 * 0.5 + 11 },
        { -0.1, -10, 11 },
        { 1.5, 150, 195 + 11 },
    };
    for (const auto& row : cases) {
        slider.setPercentValue(row.percent);
        EXPECT_DOUBLE_EQ(slider.value(), row.value);
        EXPECT_DOUBLE_EQ(slider.knobFrame().x(), row.knobX);
    }
    EXPECT_EQ(slider.segmentValuePosition(), QPointF(0, 1));
}

TEST_F(SegmentSlider, TrackClicksMoveTheKnobOnlyInsideTheSegmentButAlwaysSendAtMouseUp)
{
    slider.setEnableSegments(true);
    slider.setSegmentLeftProportionValue(0.25, 0.75);
    EXPECT_EQ(slider.segmentValuePosition(), QPointF(0.25, 0.75));
    slider.setValue(10);
    mouse(QEvent::MouseButtonPress, 200, kTrackY);
    EXPECT_TRUE(sent.empty());
    mouse(QEvent::MouseButtonRelease, 200, kTrackY);
    EXPECT_EQ(sent, std::vector<double> { 10 });

    mouse(QEvent::MouseButtonPress, 114, kTrackY);
    mouse(QEvent::MouseButtonRelease, 114, kTrackY);
    EXPECT_EQ(sent, (std::vector<double> { 10, 50, 50 }));
}

TEST_F(SegmentSlider, LeftHandleKeepsItsDistanceIgnoresLeapsAndStopsAtTheTrackStart)
{
    slider.setEnableSegments(true);
    slider.setSegmentLeftProportionValue(0.25, 0.75); // inner edges at 64 and 164
    mouse(QEvent::MouseButtonPress, 60, 5);
    const struct {
        double mouseX;
        double leftEdge;
        double value;
    } steps[] = {
        { 150, 164 - 20, 68 },
        { 170, 164 - 20, 68 }, // passed the right handle: ignored, not snapped
        { 100, 100, 43 },
        { 0, 14, 0 },
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.mouseX);
        dragTo(step.mouseX);
        EXPECT_DOUBLE_EQ(leftInnerEdge(), step.leftEdge);
        EXPECT_DOUBLE_EQ(slider.value(), step.value);
    }
    EXPECT_TRUE(sent.empty());
    mouse(QEvent::MouseButtonRelease, 0, 5);
    EXPECT_EQ(slider.segmentValuePosition(), QPointF(0, 0.75));
    EXPECT_EQ(sent.size(), 1U);
}

TEST_F(SegmentSlider, ShiftDragsTheWholeSegmentUntilAnEndAndFreezesWithoutShift)
{
    slider.setEnableSegments(true);
    slider.setSegmentLeftProportionValue(0.25, 0.75);
    mouse(QEvent::MouseButtonPress, 100, kTrackY, Qt::ShiftModifier);
    const struct {
        double mouseX;
        Qt::KeyboardModifiers modifiers;
        double leftEdge;
    } steps[] = {
        { 120, Qt::ShiftModifier, 84 },
        { 160, Qt::ShiftModifier, 84 }, // the right edge would pass the track's end
        { 130, Qt::ControlModifier, 94 },
        { 100, Qt::NoModifier, 94 },
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.mouseX);
        dragTo(step.mouseX, step.modifiers);
        EXPECT_DOUBLE_EQ(leftInnerEdge(), step.leftEdge);
        EXPECT_DOUBLE_EQ(rightInnerEdge() - leftInnerEdge(), 100);
    }
    mouse(QEvent::MouseButtonRelease, 100, kTrackY);
}

TEST_F(SegmentSlider, ValueArrivingWhileTheKnobIsHeldWaitsForMouseUp)
{
    slider.setValue(10);
    const double knobX = slider.knobFrame().center().x();
    mouse(QEvent::MouseButtonPress, knobX, 25);
    slider.setValue(70);
    slider.setValue(80);
    EXPECT_DOUBLE_EQ(slider.value(), 10);
    EXPECT_DOUBLE_EQ(slider.knobFrame().center().x(), knobX);
    mouse(QEvent::MouseButtonRelease, knobX, 25);
    EXPECT_EQ(sent, std::vector<double> { 80 });
}

} // namespace
