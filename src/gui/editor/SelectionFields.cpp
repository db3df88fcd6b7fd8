#include "editor/SelectionFields.h"

#include <algorithm>

namespace {

double held(double pixels, double least, double most)
{
    return std::clamp(pixels, least, std::max(least, most));
}

} // namespace

double SelectionFields::maxHeight() const
{
    const double gap = frame.height() - (area.y() + area.height());
    return (frame.height() - (gap > 0 ? gap : -0.1)) * scale.height();
}

QRectF SelectionFields::withWidth(double pixels, double least, double most) const
{
    QRectF changed = area;
    changed.setWidth(held(pixels, least, most) / scale.width());
    return changed;
}

QRectF SelectionFields::withHeight(double pixels, double least, double most) const
{
    const double newHeight = held(pixels, least, most) / scale.height();
    return { area.x(), area.y() + area.height() - newHeight, area.width(), newHeight };
}

QRectF SelectionFields::withLeft(double pixels, double most) const
{
    QRectF changed = area;
    changed.moveLeft(held(pixels, 0.0, most) / scale.width());
    return changed;
}

QRectF SelectionFields::withTop(double pixels, double most) const
{
    QRectF changed = area;
    changed.moveTop(frame.height() - held(pixels, 0.0, most) / scale.height() - area.height());
    return changed;
}
