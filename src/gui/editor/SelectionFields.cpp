#include "editor/SelectionFields.h"

#include <algorithm>

namespace {

double held(double pixels, double least, double most)
{
    return std::clamp(pixels, least, std::max(least, most));
}

} // namespace

SelectionFields::SelectionFields(const QRectF& area, const QSizeF& frame, double scale)
    : m_area(area)
    , m_frame(frame)
    , m_scale(scale)
{ }

double SelectionFields::width() const
{
    return m_area.width() * m_scale;
}

double SelectionFields::height() const
{
    return m_area.height() * m_scale;
}

double SelectionFields::left() const
{
    return m_area.x() * m_scale;
}

double SelectionFields::top() const
{
    return (m_frame.height() - (m_area.y() + m_area.height())) * m_scale;
}

double SelectionFields::bottom() const
{
    return m_area.y() * m_scale;
}

double SelectionFields::maxWidth() const
{
    return (m_frame.width() - m_area.x()) * m_scale;
}

double SelectionFields::maxHeight() const
{
    const double gap = m_frame.height() - (m_area.y() + m_area.height());
    return (m_frame.height() - (gap > 0 ? gap : -0.1)) * m_scale;
}

double SelectionFields::maxLeft() const
{
    return (m_frame.width() - m_area.width()) * m_scale;
}

double SelectionFields::maxTop() const
{
    return (m_frame.height() - m_area.height()) * m_scale;
}

QRectF SelectionFields::withWidth(double pixels, double least, double most) const
{
    QRectF area = m_area;
    area.setWidth(held(pixels, least, most) / m_scale);
    return area;
}

QRectF SelectionFields::withHeight(double pixels, double least, double most) const
{
    const double height = held(pixels, least, most) / m_scale;
    return { m_area.x(), m_area.y() + m_area.height() - height, m_area.width(), height };
}

QRectF SelectionFields::withLeft(double pixels, double most) const
{
    QRectF area = m_area;
    area.moveLeft(held(pixels, 0.0, most) / m_scale);
    return area;
}

QRectF SelectionFields::withTop(double pixels, double most) const
{
    QRectF area = m_area;
    area.moveTop(m_frame.height() - held(pixels, 0.0, most) / m_scale - area.height());
    return area;
}
