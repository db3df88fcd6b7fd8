#pragma once

#include <QSize>
#include <QString>
#include <QVariantList>

// The maximum video sizes of the camera recorder and their titles; an empty
// size (0 x 0) sets no limit.
class NXResolutionTransformer {
public:
    // A size's title, "Default" for a size not offered.
    static QString transformedValue(const QSize& size);
    // A title's size, 0 x 0 for a title not offered.
    static QSize reverseTransformedValue(const QString& title);
};

// The whole list of the other kind: sizes give every title, titles give every
// size, in the offered order. Anything else (an empty list included) gives an
// empty list.
class NXRArrayTransformer {
public:
    static QVariantList transformedValue(const QVariantList& values);
};
