#pragma once

#include <QRectF>
#include <QSizeF>

// The number fields of a box picked in a selector (the crop rectangle, the
// watermark box), in video pixels. The box is kept in the selector's own units,
// with the origin at the bottom left of its frame, and one unit is `scale`
// video pixels across and down (the same both ways for the crop); the top is
// counted from the frame's top edge.
//
// The setters give the box with that one field changed, the value held in
// [least, most]; a `most` below `least` counts as `least`.
struct SelectionFields {
    QRectF area;
    QSizeF frame;
    QSizeF scale;

    double width() const { return area.width() * scale.width(); }
    double height() const { return area.height() * scale.height(); }
    double left() const { return area.x() * scale.width(); }
    double top() const { return (frame.height() - (area.y() + area.height())) * scale.height(); }
    double bottom() const { return area.y() * scale.height(); }

    double maxWidth() const { return (frame.width() - area.x()) * scale.width(); }
    double maxHeight() const;
    double maxLeft() const { return (frame.width() - area.width()) * scale.width(); }
    double maxTop() const { return (frame.height() - area.height()) * scale.height(); }

    QRectF withWidth(double pixels, double least, double most) const;
    // The top edge stays where it is.
    QRectF withHeight(double pixels, double least, double most) const;
    QRectF withLeft(double pixels, double most) const;
    QRectF withTop(double pixels, double most) const;
};
