#include "slideshow/NXKernelFilters.h"

#include <QPointF>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

const QString kLeftToRight = QStringLiteral("inputL2R");
const QString kWidth = QStringLiteral("inputWidth");
const QString kDirect = QStringLiteral("inputDirect");
const QString kMode = QStringLiteral("inputMode");
const QString kAnchor = QStringLiteral("inputAnchor");

// x modulo a period, always in [0, period).
float wrapped(float value, float period)
{
    return value - std::floor(value / period) * period;
}

// The tile filters' inputs: bands 20 pixels wide, in rows.
QVariantMap tileInputs()
{
    return { { kWidth, 20.0 }, { kDirect, QPointF(1, 0) } };
}

// How the tile filters cut the frame into bands: which band a pixel is in
// decides the side its band moves to or from (+1 or -1); its band moves along
// the frame's width (rows) or height (columns), `length`.
struct TileBands {
    bool rows;
    float bandWidth;
    float length;

    float sideOf(float x, float y) const
    {
        const float across = rows ? y : x;
        return wrapped(across, 2 * bandWidth) >= bandWidth ? 1.f : -1.f;
    }

    float along(float x, float y) const { return rows ? x : y; }

    // The colour `distance` further along the pixel's band.
    Rgba shifted(const ImageSampler& picture, float x, float y, float distance) const
    {
        return rows ? picture.at(x + distance, y) : picture.at(x, y + distance);
    }
};

TileBands tileBands(float width, QPointF direct, const ImageSampler& frame)
{
    const bool rows = direct.x() != 0;
    // A width of 0 or less would make every band test divide by zero.
    return { rows, std::max(width, 1.f), rows ? frame.width() : frame.height() };
}

} // namespace

NXPushFilter::NXPushFilter()
    : NXTransitionFilterOf("NXPushTransform", "Push Transform", { { kLeftToRight, 1.0 } })
{ }

void NXPushFilter::draw(
    const ImageSampler& source, const ImageSampler& target, float time, QImage& output) const
{
    const float w = source.width();
    const float k = number(kLeftToRight) > 0 ? -1.f : 1.f;
    TransitionPixels::shadeEachPixel(output, [&](float x, float y) {
        return source.at(x + w * time * k, y) + target.at(x - (w - w * time) * k, y);
    });
}

NXMoveFilter::NXMoveFilter()
    : NXTransitionFilterOf("NXMoveTransform", "Move Transform", { { kLeftToRight, 1.0 } })
{ }

void NXMoveFilter::draw(
    const ImageSampler& source, const ImageSampler& target, float time, QImage& output) const
{
    const float w = source.width();
    const bool leftToRight = number(kLeftToRight) > 0;
    const float k = leftToRight ? -1.f : 1.f;
    const float kFrom = leftToRight ? 0.f : -1.f;
    const float kTo = leftToRight ? 1.f : 0.f;
    TransitionPixels::shadeEachPixel(output, [&](float x, float y) {
        if (w * time > x)
            return target.at(x + (w - w * time) * kTo, y);
        return source.at(x + w * time * k * kFrom, y);
    });
}

NXTwirlFilter::NXTwirlFilter()
    : NXTransitionFilterOf("NXTwirlTransform", "Twirl Transform", {})
{ }

void NXTwirlFilter::draw(
    const ImageSampler& source, const ImageSampler& target, float time, QImage& output) const
{
    const float centreX = target.width() / 2;
    const float centreY = target.height() / 2;
    // A picture 20 pixels high or less has no whirl: its radius would be 0 or
    // less, and dividing by it gives no coordinate at all.
    const float radius = target.height() - 20;
    const float strength = time >= 0.5f ? 7 * (1 - time) : 7 * time;
    TransitionPixels::shadeEachPixel(output, [&](float x, float y) {
        const float dx = x - centreX;
        const float dy = y - centreY;
        const float distance = std::sqrt(dx * dx + dy * dy);
        float sampleX = x;
        float sampleY = y;
        if (radius > 0 && distance < radius) {
            const float reach = (radius - distance) / radius;
            const float angle = reach * reach * strength * strength;
            const float cosine = std::cos(angle);
            const float sine = std::sin(angle);
            sampleX = dx * cosine - dy * sine + centreX;
            sampleY = dx * sine + dy * cosine + centreY;
        }
        return mix(source.at(sampleX, sampleY), target.at(sampleX, sampleY), time).opaque();
    });
}

NXImplosionFilter::NXImplosionFilter()
    : NXTransitionFilterOf("NXImplosionTransform", "Implosion Transform", {})
{ }

void NXImplosionFilter::draw(
    const ImageSampler& source, const ImageSampler& target, float time, QImage& output) const
{
    const float centreX = source.width() / 2;
    const float centreY = source.height() / 2;
    TransitionPixels::shadeEachPixel(output, [&](float x, float y) {
        if (time > 0.99f)
            return target.at(x, y);
        const float towardX = centreX - x;
        const float towardY = centreY - y;
        const float length = std::sqrt(towardX * towardX + towardY * towardY);
        // At the centre itself there is no direction to move along (and the
        // logarithm of 0): that pixel stays where it is.
        const float pull = length > 0 ? -200 * time * std::log(length) / length : 0.f;
        const Rgba moved = source.at(x + pull * towardX, y + pull * towardY);
        return moved.isZero() ? target.at(x, y) : moved;
    });
}

NXFadeFilter::NXFadeFilter()
    : NXTransitionFilterOf("NXFadeTransform", "Fade Transform", {})
{ }

void NXFadeFilter::draw(
    const ImageSampler& source, const ImageSampler& target, float time, QImage& output) const
{
    TransitionPixels::shadeEachPixel(output,
        [&](float x, float y) { return mix(source.at(x, y), target.at(x, y), time).opaque(); });
}

NXTileInFilter::NXTileInFilter()
    : NXTransitionFilterOf("NXTileInTransform", "Tile In Transform", tileInputs())
{ }

void NXTileInFilter::draw(
    const ImageSampler& source, const ImageSampler& target, float time, QImage& output) const
{
    const TileBands bands = tileBands(number(kWidth), point(kDirect), source);
    TransitionPixels::shadeEachPixel(output, [&](float x, float y) {
        const float side = bands.sideOf(x, y);
        const float shown = side > 0 ? time : 1 - time;
        const bool in = bands.along(x, y) * side < side * bands.length * shown;
        return in ? bands.shifted(target, x, y, side * (1 - time) * bands.length) : source.at(x, y);
    });
}

NXTileOutFilter::NXTileOutFilter()
    : NXTransitionFilterOf("NXTileOutTransform", "Tile Out Transform", tileInputs())
{ }

void NXTileOutFilter::draw(
    const ImageSampler& source, const ImageSampler& target, float time, QImage& output) const
{
    const TileBands bands = tileBands(number(kWidth), point(kDirect), source);
    TransitionPixels::shadeEachPixel(output, [&](float x, float y) {
        const float side = bands.sideOf(x, y);
        const float kept = side > 0 ? 1 - time : time;
        const bool beyond = bands.along(x, y) * side >= side * bands.length * kept;
        return beyond ? target.at(x, y) : bands.shifted(source, x, y, side * bands.length * time);
    });
}

NXRotationFilter::NXRotationFilter()
    : NXTransitionFilterOf(
        "NXRotationTransform", "Rotation Transform", { { kMode, 0 }, { kAnchor, QPointF(0.5, 0) } })
{ }

void NXRotationFilter::draw(
    const ImageSampler& source, const ImageSampler& target, float time, QImage& output) const
{
    const int mode = value(kMode).toInt();
    const float progress = mode == 0 ? 1 - time : mode == 3 ? time : mode == 1 ? time - 1 : -time;
    const bool swingsOldPhotoOut = mode == 2 || mode == 3;
    const float w = source.width();
    const float h = source.height();
    const QPointF anchor = point(kAnchor);
    const float centreX = w * static_cast<float>(anchor.x());
    const float centreY = h * static_cast<float>(anchor.y());
    const float angle = std::numbers::pi_v<float> * progress;
    const float cosine = std::cos(angle);
    const float sine = std::sin(angle);
    TransitionPixels::shadeEachPixel(output, [&](float x, float y) {
        const float qx = (x - centreX) * cosine + (y - centreY) * sine + centreX;
        const float qy = -(x - centreX) * sine + (y - centreY) * cosine + centreY;
        const bool inside = qx >= 0 && qx <= w && qy >= 0 && qy <= h;
        if (swingsOldPhotoOut)
            return inside ? source.at(qx, qy) : target.at(x, y);
        return inside ? target.at(qx, qy) : source.at(x, y);
    });
}
