#include "controls/NXSegmentSlider.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace {

constexpr double kTrackInset = 14;
constexpr double kTrackY = 10;
constexpr double kTrackHeight = 10;
constexpr double kKnobTop = 21;
const QColor kSegmentColour = QColor::fromRgbF(0.2588f, 0.4039f, 1.0f, 1.0f);

// The slider's artwork, drawn once: a knob that stands on the track and two
// handles that hang below it, each pointing at the segment it bounds.
QImage knobArtwork()
{
    QImage image(8, 21, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(60, 60, 60), 1));
    painter.setBrush(QColor(245, 245, 245));
    painter.drawRoundedRect(QRectF(0.5, 0.5, 7, 20), 3, 3);
    return image;
}

QImage handleArtwork(bool isLeft)
{
    QImage image(7, 20, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    const double inner = isLeft ? 7 : 0;
    const double outer = isLeft ? 0 : 7;
    path.moveTo(inner, 0);
    path.lineTo(inner, 20);
    path.lineTo(outer, 14);
    path.lineTo(outer, 0);
    path.closeSubpath();
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(40, 70, 200));
    painter.drawPath(path);
    return image;
}

QRectF flipped(const QRectF& rect, double viewHeight)
{
    return { rect.x(), viewHeight - rect.y() - rect.height(), rect.width(), rect.height() };
}

} // namespace

void NXImageCell::setImage(const QImage& image)
{
    image_ = image;
    frame_.setSize(image.size());
}

void NXImageCell::setPosition(const QPointF& point)
{
    frame_.moveTop(point.y());
    frame_.moveLeft(tag_ == 1 ? point.x() - frame_.width() : point.x());
}

void NXImageCell::drawInView(QPainter& painter, double viewHeight) const
{
    painter.drawImage(flipped(frame_, viewHeight), image_);
}

double NXLimitSegment::segmentLength() const
{
    return rightOne_.frame().x() - innerLeft();
}

void NXLimitSegment::offsetSegment(double dx)
{
    leftOne_.setXPosition(leftOne_.frame().x() + dx);
    rightOne_.setXPosition(rightOne_.frame().x() + dx);
}

NXImageCell* NXLimitSegment::pointInOneControl(const QPointF& point)
{
    if (leftOne_.frame().contains(point))
        return &leftOne_;
    if (rightOne_.frame().contains(point))
        return &rightOne_;
    return nullptr;
}

bool NXLimitSegment::pointInControlArea(const QPointF& point) const
{
    return innerLeft() < point.x() && point.x() < rightOne_.frame().x();
}

bool NXLimitSegment::oneControlbeyondOther(qint64 tag, const QPointF& point) const
{
    if (tag == leftOne_.tag())
        return point.x() > rightOne_.frame().x();
    if (tag == rightOne_.tag())
        return innerLeft() > point.x();
    return false;
}

bool NXLimitSegment::beyondRect(const QRectF& rect, double dx) const
{
    return !(innerLeft() + dx > rect.x() && rect.x() + rect.width() > rightOne_.frame().x() + dx);
}

void NXLimitSegment::drawInView(QPainter& painter, double viewHeight) const
{
    leftOne_.drawInView(painter, viewHeight);
    rightOne_.drawInView(painter, viewHeight);
}

NXSegmentSlider::NXSegmentSlider(QWidget* parent)
    : QWidget(parent)
{
    progressKnob.setImage(knobArtwork());
    updateCurrent();
    setMouseTracking(true);
    setFocusPolicy(Qt::ClickFocus);
}

QRectF NXSegmentSlider::progressRect() const
{
    // Taken from the current width each time: Qt holds a hidden widget's
    // resize event back until it is shown, and the owner places the handles
    // before that.
    return { kTrackInset, kTrackY, width() - 2 * kTrackInset, kTrackHeight };
}

void NXSegmentSlider::resizeEvent(QResizeEvent*)
{
    updateCurrent();
}

double NXSegmentSlider::trackFraction(double x) const
{
    // A slider narrower than its end caps has no track to divide.
    const double trackWidth = progressRect().width();
    return trackWidth > 0 ? (x - kTrackInset) / trackWidth : 0;
}

double NXSegmentSlider::valueToSliderPositionX() const
{
    const double fraction = span() != 0 ? (currentValue_ - minValue_) / span() : 0;
    const double width = progressRect().width();
    return (width - 5) * std::clamp(fraction, 0.0, 1.0) + kTrackInset - 8 + 5;
}

double NXSegmentSlider::valueToSegmentPosition(bool isLeft, double value) const
{
    const double fraction = span() != 0 ? value / span() : 0;
    const double position = fraction * progressRect().width() + kTrackInset;
    if (!isLeft || !segmentsCell_)
        return position;
    return position - segmentsCell_->leftOne().frame().width();
}

double NXSegmentSlider::positionToSegementValue(double position) const
{
    return span() * trackFraction(position);
}

double NXSegmentSlider::checkPositionValueForOne(bool isLeft, double x) const
{
    if (!segmentsCell_)
        return x;
    const QRectF track = progressRect();
    if (isLeft) {
        const double limit = segmentsCell_->rightOne().frame().x() - minSegDistanceValue_;
        return std::max(std::min(limit, x), track.x());
    }
    const QRectF left = segmentsCell_->leftOne().frame();
    const double limit = left.x() + left.width() + minSegDistanceValue_;
    return std::min(std::max(limit, x), track.x() + track.width());
}

void NXSegmentSlider::updateCurrent()
{
    QRectF knob = progressKnob.frame();
    knob.moveTo(valueToSliderPositionX(), height() - kKnobTop);
    progressKnob.setFrame(knob);
    update();
}

void NXSegmentSlider::sendActionToTarget()
{
    emit actionTriggered(this);
}

void NXSegmentSlider::setValue(double value)
{
    // The person's drag wins; the last value reported meanwhile is applied
    // when the mouse goes up.
    if (flags_.mouseDown) {
        flags_.markRemaindValue = value;
        flags_.isRemaind = true;
        return;
    }
    currentValue_ = value;
    updateCurrent();
}

void NXSegmentSlider::setPercentValue(double fraction)
{
    setValue(span() * fraction);
}

void NXSegmentSlider::setEnableSegments(bool on)
{
    segmentsCell_.reset();
    if (on)
        addNewLimitSegmentAtValue(currentValue_);
    enableSegments_ = on;
    update();
}

void NXSegmentSlider::setEditable(bool on)
{
    if (editable_ == on)
        return;
    editable_ = on;
    update();
}

void NXSegmentSlider::setSegmentLeftProportionValue(double fraction)
{
    setSegmentLeftValue(span() * fraction);
}

void NXSegmentSlider::setSegmentRightProportionValue(double fraction)
{
    setSegmentRightValue(span() * fraction);
}

void NXSegmentSlider::setSegmentLeftProportionValue(double left, double right)
{
    setSegmentLeftValue(span() * left, span() * right);
}

void NXSegmentSlider::setSegmentLeftValue(double value)
{
    if (segmentsCell_)
        segmentsCell_->leftOne().setXPosition(valueToSegmentPosition(true, value));
    update();
}

void NXSegmentSlider::setSegmentRightValue(double value)
{
    if (segmentsCell_)
        segmentsCell_->rightOne().setXPosition(valueToSegmentPosition(false, value));
    update();
}

void NXSegmentSlider::setSegmentLeftValue(double left, double right)
{
    setSegmentLeftValue(left);
    setSegmentRightValue(right);
}

QPointF NXSegmentSlider::segmentValuePosition() const
{
    if (!segmentsCell_)
        return { 0, 1 };
    const QRectF left = segmentsCell_->leftOne().frame();
    double leftFraction = trackFraction(left.x() + left.width());
    if (leftFraction <= 0.000001)
        leftFraction = 0;
    return { leftFraction, trackFraction(segmentsCell_->rightOne().frame().x()) };
}

void NXSegmentSlider::addNewLimitSegmentAtValue(double value)
{
    currentValue_ = value;
    addNewLimitSegmentInPosition();
}

void NXSegmentSlider::addNewLimitSegmentInPosition()
{
    // A new segment spans the whole track; the owner then places its handles.
    const QRectF track = progressRect();
    NXLimitSegment segment;
    segment.leftOne().setImage(handleArtwork(true));
    segment.leftOne().setTag(1);
    segment.leftOne().setPosition({ track.x(), 0 });
    segment.rightOne().setImage(handleArtwork(false));
    segment.rightOne().setTag(2);
    segment.rightOne().setPosition({ track.x() + track.width(), 0 });
    segmentsCell_ = segment;
    updateCurrent();
}

QPointF NXSegmentSlider::sliderPoint(const QMouseEvent* event) const
{
    return { event->position().x(), height() - event->position().y() };
}

void NXSegmentSlider::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    flags_.mouseDown = true;
    const QPointF point = sliderPoint(event);
    const bool wholeSegment = event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier);
    NXImageCell* handle = segmentsCell_ ? segmentsCell_->pointInOneControl(point) : nullptr;
    if (progressKnob.frame().contains(point)) {
        flags_.mouseDownType = KnobDrag;
    } else if (editable_ && wholeSegment) {
        // Outside the segment the drag that follows does nothing.
        if (segmentsCell_ && segmentsCell_->pointInControlArea(point)) {
            flags_.mouseDownType = SegmentDrag;
            flags_.markMoveStartX = point.x();
        }
    } else if (editable_ && enableSegments_ && handle) {
        flags_.mouseDownType = HandleDrag;
        segmentSide_ = handle->tag();
    } else {
        flags_.mouseDownType = TrackClick;
        const bool inSegment = segmentsCell_ && segmentsCell_->pointInControlArea(point);
        if (!enableSegments_ || inSegment) {
            currentValue_ = span() * trackFraction(point.x());
            updateCurrent();
            sendActionToTarget();
        }
        return;
    }
    QGuiApplication::setOverrideCursor(Qt::ClosedHandCursor);
    m_cursorPushed = true;
}

void NXSegmentSlider::mouseMoveEvent(QMouseEvent* event)
{
    if (!flags_.mouseDown) {
        updateHoverCursor(sliderPoint(event));
        return;
    }
    onMouseDragged(sliderPoint(event), event->modifiers());
}

void NXSegmentSlider::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && flags_.mouseDown)
        onMouseUp();
}

void NXSegmentSlider::onMouseDragged(const QPointF& point, Qt::KeyboardModifiers modifiers)
{
    const QRectF track = progressRect();
    const double x = std::min(std::max(point.x(), kTrackInset), track.x() + track.width());
    switch (flags_.mouseDownType) {
    case KnobDrag:
        currentValue_ = span() * trackFraction(x);
        updateCurrent();
        break;
    case SegmentDrag: {
        if (!(modifiers & (Qt::ShiftModifier | Qt::ControlModifier)))
            break;
        const double dx = x - flags_.markMoveStartX;
        if (segmentsCell_->beyondRect(track, dx))
            break;
        segmentsCell_->offsetSegment(dx);
        currentValue_ += span() * (track.width() > 0 ? dx / track.width() : 0);
        flags_.markMoveStartX = x;
        updateCurrent();
        break;
    }
    case HandleDrag: {
        if (!segmentsCell_ || segmentsCell_->oneControlbeyondOther(segmentSide_, { x, point.y() }))
            break;
        const bool isLeft = segmentSide_ == 1;
        const double value = positionToSegementValue(checkPositionValueForOne(isLeft, x));
        if (isLeft)
            setSegmentLeftValue(value);
        else
            setSegmentRightValue(value);
        currentValue_ = span() * trackFraction(x);
        updateCurrent();
        break;
    }
    default:
        break;
    }
}

void NXSegmentSlider::onMouseUp()
{
    flags_.mouseDown = false;
    flags_.mouseDownType = Idle;
    segmentSide_ = 0;
    if (flags_.isRemaind) {
        currentValue_ = flags_.markRemaindValue;
        updateCurrent();
        flags_.isRemaind = false;
    }
    if (m_cursorPushed) {
        QGuiApplication::restoreOverrideCursor();
        m_cursorPushed = false;
    }
    sendActionToTarget();
}

void NXSegmentSlider::updateHoverCursor(const QPointF& point)
{
    const bool onHandle = segmentsCell_
        && (segmentsCell_->leftOne().frame().contains(point)
            || segmentsCell_->rightOne().frame().contains(point));
    if (onHandle || progressKnob.frame().contains(point))
        setCursor(Qt::OpenHandCursor);
    else
        unsetCursor();
}

void NXSegmentSlider::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    drawTrack(painter);
    if (enableSegments_ && segmentsCell_)
        drawSegment(painter);
    progressKnob.drawInView(painter, height());
}

void NXSegmentSlider::drawTrack(QPainter& painter) const
{
    const QRectF track = flipped(progressRect(), height());
    QLinearGradient gradient(track.topLeft(), track.bottomLeft());
    gradient.setColorAt(0, QColor(150, 150, 150));
    gradient.setColorAt(1, QColor(205, 205, 205));
    painter.setPen(QPen(QColor(110, 110, 110), 1));
    painter.setBrush(gradient);
    painter.drawRoundedRect(track.adjusted(0.5, 0.5, -0.5, -0.5), 4, 4);
}

void NXSegmentSlider::drawSegment(QPainter& painter) const
{
    const QRectF left = segmentsCell_->leftOne().frame();
    const QRectF track = progressRect();
    const QRectF segment(
        left.x() + left.width(), track.y(), segmentsCell_->segmentLength(), track.height());
    painter.fillRect(flipped(segment, height()), kSegmentColour);
    if (editable_)
        segmentsCell_->drawInView(painter, height());
}
