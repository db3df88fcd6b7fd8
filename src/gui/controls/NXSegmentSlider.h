#pragma once

#include <QImage>
#include <QPointF>
#include <QRectF>
#include <QWidget>

#include <optional>

class QPainter;

// A picture with a frame in the slider's coordinates. Frames, like every
// rectangle of the slider, have their origin at the bottom left; the slider
// flips them once when painting.
class NXImageCell {
public:
    QRectF frame() const { return frame_; }
    void setFrame(const QRectF& frame) { frame_ = frame; }
    qint64 tag() const { return tag_; }
    void setTag(qint64 tag) { tag_ = tag; }
    // Sets the picture; the frame takes its size.
    void setImage(const QImage& image);
    // A left handle (tag 1) is placed by its right edge, every other cell by
    // its left edge, so both handles meet the segment they bound.
    void setPosition(const QPointF& point);
    void setXPosition(double x) { frame_.moveLeft(x); }
    void drawInView(QPainter& painter, double viewHeight) const;

private:
    QImage image_;
    QRectF frame_;
    qint64 tag_ = 0;
};

// The two handles of the kept part. The segment runs from the left handle's
// right edge to the right handle's left edge.
class NXLimitSegment {
public:
    NXImageCell& leftOne() { return leftOne_; }
    NXImageCell& rightOne() { return rightOne_; }
    const NXImageCell& leftOne() const { return leftOne_; }
    const NXImageCell& rightOne() const { return rightOne_; }

    double segmentLength() const;
    void offsetSegment(double dx);
    // The handle under the point, or none.
    NXImageCell* pointInOneControl(const QPointF& point);
    bool pointInControlArea(const QPointF& point) const;
    // Whether the point has passed the other handle's inner edge.
    bool oneControlbeyondOther(qint64 tag, const QPointF& point) const;
    // Whether moving by dx would bring an inner edge onto or past the rect's ends.
    bool beyondRect(const QRectF& rect, double dx) const;
    void drawInView(QPainter& painter, double viewHeight) const;

private:
    double innerLeft() const { return leftOne_.frame().x() + leftOne_.frame().width(); }

    NXImageCell leftOne_;
    NXImageCell rightOne_;
};

// The editor's trim and position slider: a track with a playback knob and,
// when segments are enabled, the kept part between two handles. A click on
// the track moves the knob, a drag moves the knob or a handle, and a drag with
// Shift (or Control) held inside the segment moves the whole segment. The
// action (actionTriggered) is sent once, at mouse up, so the player is asked
// to seek only when the person lets go; values the player reports while the
// knob is held wait until then.
class NXSegmentSlider : public QWidget {
    Q_OBJECT
public:
    explicit NXSegmentSlider(QWidget* parent = nullptr);

    void setValue(double value);
    void setDoubleValue(double value) { setValue(value); }
    void setFloatValue(float value) { setValue(value); }
    void setIntValue(int value) { setValue(value); }
    void setIntegerValue(qint64 value) { setValue(double(value)); }
    double value() const { return currentValue_; }
    void setPercentValue(double fraction);

    void setMinValue(double value) { minValue_ = value; }
    void setMaxValue(double value) { maxValue_ = value; }
    double minValue() const { return minValue_; }
    double maxValue() const { return maxValue_; }
    void setMinSegDistanceValue(double points) { minSegDistanceValue_ = points; }
    double minSegDistanceValue() const { return minSegDistanceValue_; }

    void setEnableSegments(bool on);
    bool enableSegments() const { return enableSegments_; }
    void setEditable(bool on);
    bool editable() const { return editable_; }

    void setSegmentLeftProportionValue(double fraction);
    void setSegmentRightProportionValue(double fraction);
    void setSegmentLeftProportionValue(double left, double right);
    void setSegmentLeftValue(double value);
    void setSegmentRightValue(double value);
    void setSegmentLeftValue(double left, double right);
    // The segment as fractions (left, right) of the track; (0, 1) without one.
    QPointF segmentValuePosition() const;

    void addNewLimitSegmentAtValue(double value);

    // Read-only views for the owner's layout and for tests.
    QRectF knobFrame() const { return progressKnob.frame(); }
    // The track, with x = 14 where the value 0 lies.
    QRectF progressRect() const;
    const NXLimitSegment* segment() const { return segmentsCell_ ? &*segmentsCell_ : nullptr; }

    QSize sizeHint() const override { return { 300, 31 }; }

signals:
    void actionTriggered(NXSegmentSlider* slider);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    enum MouseDownType { Idle = 0, TrackClick = 1, KnobDrag = 2, HandleDrag = 3, SegmentDrag = 4 };

    // The drag state, as one record.
    struct NXSSFlag {
        MouseDownType mouseDownType = Idle;
        bool mouseDown = false;
        bool isRemaind = false;
        double markMoveStartX = 0;
        double markRemaindValue = 0;
    };

    void updateCurrent();
    void sendActionToTarget();
    double span() const { return maxValue_ - minValue_; }
    double trackFraction(double x) const;
    double valueToSliderPositionX() const;
    double valueToSegmentPosition(bool isLeft, double value) const;
    double positionToSegementValue(double position) const;
    double checkPositionValueForOne(bool isLeft, double x) const;
    void addNewLimitSegmentInPosition();
    QPointF sliderPoint(const QMouseEvent* event) const;
    void onMouseDragged(const QPointF& point, Qt::KeyboardModifiers modifiers);
    void onMouseUp();
    void updateHoverCursor(const QPointF& point);
    void drawTrack(QPainter& painter) const;
    void drawSegment(QPainter& painter) const;

    NXImageCell progressKnob;
    std::optional<NXLimitSegment> segmentsCell_;
    qint64 segmentSide_ = 0;
    NXSSFlag flags_;
    double maxValue_ = 100;
    double minValue_ = 0;
    double currentValue_ = 10;
    double minSegDistanceValue_ = 20;
    bool enableSegments_ = false;
    bool editable_ = true;
    bool m_cursorPushed = false;
};
