#pragma once

#include "slideshow/NXTransitionFilter.h"

#include <QImage>
#include <QRectF>
#include <QString>

#include <map>
#include <memory>

// The transition numbers an album stores, the slideshow job carries and the
// editor animates: 0 to 17 are transitions, 18 is none, 19 a random one.
enum NXTransitionType : qint64 {
    NXTransitionBarsSwipe = 0,
    NXTransitionDissolve = 1,
    NXTransitionFlash = 2,
    NXTransitionRipple = 3,
    NXTransitionSwipe = 4,
    NXTransitionMod = 5,
    NXTransitionPageCurl = 6,
    NXTransitionPush = 7,
    NXTransitionMove = 8,
    NXTransitionTwirl = 9,
    NXTransitionImplosion = 10,
    NXTransitionFade = 11,
    NXTransitionTileOut = 12,
    NXTransitionTileIn = 13,
    NXTransitionRotation = 14, // 14 to 17: the rotation's modes 0 to 3
    NXTransitionNone = 18,
    NXTransitionRandom = 19,
};

// The shared catalogue that turns a transition number into a filter. Each
// name has one shared filter, which keeps the values last set on it: whoever
// shows it prepares it first (prepareFilterForShowing). The catalogue and its
// filters belong to the main thread; code on other threads takes copies
// (independentFilterWithType).
class NXEffectManager {
public:
    static NXEffectManager& instance();

    // The shared filter of a number (19: of a random one of 0 to 17), or null.
    NXTransitionFilter* filterWithNXType(qint64 type);
    // The shared filter of a catalogue name, or null.
    NXTransitionFilter* filterWithCIName(const QString& name);
    NXTransitionFilter* filterWithRandom();

    // A copy of the shared filter of a number that the caller owns; numbers 15
    // to 17 get the rotation mode of their own (14 keeps the shared one's).
    static std::unique_ptr<NXTransitionFilter> independentFilterWithType(qint64 type);
    // A new filter of a registered or catalogue name, or null.
    static std::unique_ptr<NXTransitionFilter> filterWithName(const QString& name);
    // The catalogue name of a number, empty for none and for unknown numbers.
    static QString catalogueName(qint64 type);

    // "NXI2VShading.tiff" of the resources, read anew at every call.
    static QImage shadingImage();
    // Sets what a filter needs before it is shown over `area` (bottom-left
    // coordinates) as transition `type`.
    static void prepareFilterForShowing(
        NXTransitionFilter& filter, qint64 type, const QRectF& area, const QImage& shading);

    NXEffectManager(const NXEffectManager&) = delete;
    NXEffectManager& operator=(const NXEffectManager&) = delete;

private:
    NXEffectManager();
    ~NXEffectManager() = default;

    std::map<QString, std::unique_ptr<NXTransitionFilter>> m_filters;
};
