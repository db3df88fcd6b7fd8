#pragma once

#include <QRectF>
#include <QSizeF>

// The number fields of a box picked in a selector (the crop rectangle, the
// watermark box), in video pixels. The box is kept in the selector's own units,
// with the origin at the bottom left of its frame, and one unit is `scale`
// video pixels; the top is counted from the frame's top edge.
//
// The setters give the box with that one field changed, the value held in
// [least, most]; a `most` below `least` counts as `least`.
class SelectionFields {
public:
    SelectionFields(const QRectF& area, const QSizeF& frame, double scale);

    double width() const;
    double height() const;
    double left() const;
    double top() const;
    double bottom() const;

    double maxWidth() const;
    double maxHeight() const;
    double maxLeft() const;
    double maxTop() const;

    QRectF withWidth(double pixels, double least, double most) const;
    // The top edge stays where it is.
    QRectF withHeight(double pixels, double least, double most) const;
    QRectF withLeft(double pixels, double most) const;
    QRectF withTop(double pixels, double most) const;

private:
    const QRectF m_area;
    const QSizeF m_frame;
    const double m_scale;
};
