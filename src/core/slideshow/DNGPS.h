#pragma once

#include <QString>

#include <optional>

// Where a photo was taken, as its metadata gives it: a reference letter
// ('E'/'W', 'N'/'S') and the degrees of each axis.
class DNGPS {
public:
    struct Coordinate {
        char name = 0; // the reference letter, 0 when the metadata has none
        float degree = 0;
    };

    DNGPS() = default;
    // Each letter is the first byte of the reference's UTF-8 form.
    static DNGPS gpsInfoWithlongtitude(const QString& longitudeReference, float longitudeDegree,
        const QString& latitudeReference, float latitudeDegree);

    Coordinate longitude() const { return m_longitude; }
    Coordinate latitude() const { return m_latitude; }

    // -1, 0 or 1: letters by their codes, then degrees that differ by less
    // than 0.0001 count as equal; longitude first. Any position comes after
    // none. Not a strict order (equality is not transitive): sort with
    // sortKey().
    int compare(const std::optional<DNGPS>& other) const;

    // The position rounded to 0.0001-degree steps, for sorting: the same
    // order as compare() wherever compare() is consistent.
    struct SortKey {
        char longitudeName;
        qint64 longitudeSteps;
        char latitudeName;
        qint64 latitudeSteps;
        auto operator<=>(const SortKey&) const = default;
    };
    SortKey sortKey() const;

private:
    Coordinate m_longitude;
    Coordinate m_latitude;
};
