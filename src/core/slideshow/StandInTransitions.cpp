#include "slideshow/StandInTransitions.h"

#include <QLineF>
#include <QPointF>
#include <QRectF>

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <optional>

namespace {

const QString kAngle = QStringLiteral("inputAngle");
const QString kWidth = QStringLiteral("inputWidth");
const QString kBarOffset = QStringLiteral("inputBarOffset");
const QString kCenter = QStringLiteral("inputCenter");
const QString kExtent = QStringLiteral("inputExtent");
const QString kShadingImage = QStringLiteral("inputShadingImage");
const QString kBacksideImage = QStringLiteral("inputBacksideImage");
const QString kScale = QStringLiteral("inputScale");
const QString kRadius = QStringLiteral("inputRadius");
const QString kCompression = QStringLiteral("inputCompression");

constexpr float kPi = std::numbers::pi_v<float>;
const Rgba kWhite { 255, 255, 255, 255 };

float unit(float value)
{
    return std::clamp(value, 0.f, 1.f);
}

float smooth(float value)
{
    const float x = unit(value);
    return x * x * (3 - 2 * x);
}

// A shading picture read along its middle row: `along` 0 is its left edge,
// 1 its right edge. Without a picture the shade is a plain light grey.
class ShadeStrip {
public:
    explicit ShadeStrip(const QImage& image)
        : m_image(TransitionPixels::prepared(image))
    {
        if (!m_image.isNull())
            m_sampler.emplace(m_image);
    }
    // The sampler refers to this very strip's picture.
    ShadeStrip(const ShadeStrip&) = delete;
    ShadeStrip& operator=(const ShadeStrip&) = delete;

    Rgba at(float along) const
    {
        if (!m_sampler)
            return { 200, 200, 200, 255 };
        return m_sampler->at(
            unit(along) * (m_sampler->width() - 1) + 0.5f, m_sampler->height() / 2);
    }

private:
    QImage m_image;
    std::optional<ImageSampler> m_sampler;
};

// The range of projections of a rectangle's corners on a direction.
struct Span {
    float low;
    float high;
};

Span projected(const QRectF& area, float directionX, float directionY)
{
    const std::array<QPointF, 4> corners { area.topLeft(), area.topRight(), area.bottomLeft(),
        area.bottomRight() };
    Span span { INFINITY, -INFINITY };
    for (const QPointF& corner : corners) {
        const float along = static_cast<float>(corner.x()) * directionX
            + static_cast<float>(corner.y()) * directionY;
        span = { std::min(span.low, along), std::max(span.high, along) };
    }
    return span;
}

QRectF frameOf(const QImage& output)
{
    return QRectF(0, 0, output.width(), output.height());
}

} // namespace

BarsSwipeTransition::BarsSwipeTransition()
    : NXTransitionFilterOf(
        "CIBarsSwipeTransition", "Bars Swipe", { { kWidth, 30.0 }, { kBarOffset, 10.0 } })
{ }

void BarsSwipeTransition::draw(
    const ImageSampler& source, const ImageSampler& target, float time, QImage& output) const
{
    const float barWidth = std::max(number(kWidth), 1.f);
    const float barOffset = number(kBarOffset);
    const float height = static_cast<float>(output.height());
    // Half the time goes to the stagger, so that the last bar still has half
    // of it to wipe.
    constexpr float kStagger = 0.5f;
    TransitionPixels::shadeEachPixel(output, [&](float x, float y) {
        const float bar = std::floor(x / barWidth);
        const float delay = std::fmod(std::fabs(bar * barOffset), barWidth) / barWidth * kStagger;
        const float wiped = unit((time - delay) / (1 - kStagger));
        return y > height * (1 - wiped) ? target.at(x, y) : source.at(x, y);
    });
}

DissolveTransition::DissolveTransition()
    : NXTransitionFilterOf("CIDissolveTransition", "Dissolve", {})
{ }

void DissolveTransition::draw(
    const ImageSampler& source, const ImageSampler& target, float time, QImage& output) const
{
    TransitionPixels::shadeEachPixel(
        output, [&](float x, float y) { return mix(source.at(x, y), target.at(x, y), time); });
}

FlashTransition::FlashTransition()
    : NXTransitionFilterOf("CIFlashTransition", "Flash",
        { { kCenter, QPointF(150, 150) }, { kExtent, QRectF(0, 0, 300, 300) } })
{ }

void FlashTransition::draw(
    const ImageSampler& source, const ImageSampler& target, float time, QImage& output) const
{
    const QPointF centre = point(kCenter);
    const QRectF extent = rectangle(kExtent);
    const float reach
        = std::max(static_cast<float>(std::hypot(extent.width(), extent.height()) / 2), 1.f);
    const float brightness = 1 - std::fabs(2 * time - 1);
    TransitionPixels::shadeEachPixel(output, [&](float x, float y) {
        const float distance = static_cast<float>(std::hypot(x - centre.x(), y - centre.y()));
        // Brightest at the centre; white everywhere within reach at the peak,
        // which hides the change of photo.
        const float whiteness = unit(brightness * (1.5f - 0.5f * distance / reach));
        const Rgba base = time < 0.5f ? source.at(x, y) : target.at(x, y);
        return mix(base, kWhite, whiteness).opaque();
    });
}

RippleTransition::RippleTransition()
    : NXTransitionFilterOf("CIRippleTransition", "Ripple",
        { { kCenter, QPointF(150, 150) }, { kExtent, QRectF(0, 0, 300, 300) },
            { kShadingImage, QImage() }, { kWidth, 100.0 }, { kScale, 50.0 } })
{ }

void RippleTransition::draw(
    const ImageSampler& source, const ImageSampler& target, float time, QImage& output) const
{
    const QPointF centre = point(kCenter);
    const float ringWidth = std::max(number(kWidth), 1.f);
    const float bend = number(kScale);
    const ShadeStrip shading(picture(kShadingImage));
    const QRectF frame = frameOf(output);
    float farthest = 0;
    for (const QPointF& corner :
        { frame.topLeft(), frame.topRight(), frame.bottomLeft(), frame.bottomRight() })
        farthest = std::max(farthest, static_cast<float>(QLineF(centre, corner).length()));
    // At the end the ring has left the frame entirely.
    const float front = time * (farthest + ringWidth);
    TransitionPixels::shadeEachPixel(output, [&](float x, float y) {
        const float dx = x - static_cast<float>(centre.x());
        const float dy = y - static_cast<float>(centre.y());
        const float distance = std::sqrt(dx * dx + dy * dy);
        const float passed = (front - distance) / ringWidth;
        if (passed >= 1)
            return target.at(x, y);
        if (passed <= 0 || distance == 0)
            return source.at(x, y);
        const float wave = std::sin(kPi * passed);
        const float push = bend * wave / distance;
        const float sampleX = x + dx * push;
        const float sampleY = y + dy * push;
        const Rgba bent = mix(source.at(sampleX, sampleY), target.at(sampleX, sampleY), passed);
        return (bent + shading.at(passed) * (0.35f * wave)).opaque();
    });
}

SwipeTransition::SwipeTransition()
    : NXTransitionFilterOf("CISwipeTransition", "Swipe", { { kAngle, 0.0 }, { kWidth, 300.0 } })
{ }

void SwipeTransition::draw(
    const ImageSampler& source, const ImageSampler& target, float time, QImage& output) const
{
    const float angle = number(kAngle);
    const float directionX = std::cos(angle);
    const float directionY = std::sin(angle);
    const float softness = std::max(number(kWidth), 1.f);
    const Span span = projected(frameOf(output), directionX, directionY);
    // The soft edge starts wholly before the frame and ends wholly past it.
    const float edge = span.low - softness / 2 + time * (span.high - span.low + softness);
    TransitionPixels::shadeEachPixel(output, [&](float x, float y) {
        const float along = x * directionX + y * directionY;
        const float covered = smooth((edge + softness / 2 - along) / softness);
        return mix(source.at(x, y), target.at(x, y), covered);
    });
}

ModTransition::ModTransition()
    : NXTransitionFilterOf("CIModTransition", "Mod",
        { { kCenter, QPointF(150, 150) }, { kAngle, 2.0 }, { kRadius, 150.0 },
            { kCompression, 300.0 } })
{ }

void ModTransition::draw(
    const ImageSampler& source, const ImageSampler& target, float time, QImage& output) const
{
    const QPointF centre = point(kCenter);
    const float angle = number(kAngle);
    const float cosine = std::cos(angle);
    const float sine = std::sin(angle);
    const float radius = std::max(number(kRadius), 1.f);
    // Compression 300 is round blobs; more squeezes them across.
    const float across = radius * 300 / std::max(number(kCompression), 1.f);
    constexpr float kSoftness = 0.05f;
    const float level = -kSoftness + time * (1 + 2 * kSoftness);
    TransitionPixels::shadeEachPixel(output, [&](float x, float y) {
        const float dx = x - static_cast<float>(centre.x());
        const float dy = y - static_cast<float>(centre.y());
        const float along = dx * cosine + dy * sine;
        const float side = -dx * sine + dy * cosine;
        const float field
            = 0.5f + 0.25f * (std::sin(kPi * along / radius) + std::sin(kPi * side / across));
        const float covered = unit((level - field) / kSoftness + 0.5f);
        return mix(source.at(x, y), target.at(x, y), covered);
    });
}

PageCurlTransition::PageCurlTransition()
    : NXTransitionFilterOf("CIPageCurlTransition", "Page Curl",
        { { kAngle, 0.0 }, { kRadius, 100.0 }, { kExtent, QRectF(0, 0, 300, 300) },
            { kShadingImage, QImage() }, { kBacksideImage, QImage() } })
{ }

void PageCurlTransition::draw(
    const ImageSampler& source, const ImageSampler& target, float time, QImage& output) const
{
    const float angle = number(kAngle);
    const float directionX = std::cos(angle);
    const float directionY = std::sin(angle);
    const float radius = std::max(number(kRadius), 1.f);
    const QRectF page = rectangle(kExtent).isEmpty() ? frameOf(output) : rectangle(kExtent);
    const Span span = projected(page, directionX, directionY);
    const float fold = span.high - time * (span.high - span.low);
    const ShadeStrip backside(picture(kBacksideImage));
    const ShadeStrip shading(picture(kShadingImage));
    TransitionPixels::shadeEachPixel(output, [&](float x, float y) {
        const float beyondFold = x * directionX + y * directionY - fold;
        if (beyondFold >= 0) {
            // The uncovered photo, in the shadow of the fold near it.
            const float shadow = 0.4f * unit(1 - beyondFold / radius) * (1 - time);
            return (target.at(x, y) * (1 - shadow)).opaque();
        }
        // The part of the old photo folded over lands mirrored across the fold.
        const float mirroredX = x - 2 * beyondFold * directionX;
        const float mirroredY = y - 2 * beyondFold * directionY;
        if (!page.contains(QPointF(mirroredX, mirroredY)))
            return source.at(x, y);
        const float across = -beyondFold / radius;
        const Rgba back = mix(source.at(mirroredX, mirroredY), backside.at(across), 0.6f);
        return mix(back, shading.at(across), 0.25f).opaque();
    });
}
