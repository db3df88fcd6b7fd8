#include "slideshow/DNGPS.h"

#include <cmath>

namespace {

constexpr float kSameDegrees = 0.0001f;

char firstByte(const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    return bytes.isEmpty() ? 0 : bytes.front();
}

int compareCoordinates(DNGPS::Coordinate own, DNGPS::Coordinate other)
{
    if (own.name != other.name)
        return own.name < other.name ? -1 : 1;
    const float difference = own.degree - other.degree;
    if (std::fabs(difference) < kSameDegrees)
        return 0;
    return difference < 0 ? -1 : 1;
}

qint64 steps(float degree)
{
    return std::llround(static_cast<double>(degree) / kSameDegrees);
}

} // namespace

DNGPS DNGPS::gpsInfoWithlongtitude(const QString& longitudeReference, float longitudeDegree,
    const QString& latitudeReference, float latitudeDegree)
{
    DNGPS gps;
    gps.m_longitude = { firstByte(longitudeReference), longitudeDegree };
    gps.m_latitude = { firstByte(latitudeReference), latitudeDegree };
    return gps;
}

int DNGPS::compare(const std::optional<DNGPS>& other) const
{
    if (!other)
        return 1;
    if (const int longitude = compareCoordinates(m_longitude, other->m_longitude); longitude != 0)
        return longitude;
    return compareCoordinates(m_latitude, other->m_latitude);
}

DNGPS::SortKey DNGPS::sortKey() const
{
    return { m_longitude.name, steps(m_longitude.degree), m_latitude.name,
        steps(m_latitude.degree) };
}
