#pragma once

#include "slideshow/NXTransitionFilter.h"

// Transitions 0 to 6 of the catalogue. They go by the names albums and the
// preview views have always used ("CIDissolveTransition", ...) and take the
// inputs those views set ("inputCenter", "inputExtent", "inputAngle",
// "inputShadingImage", "inputBacksideImage"); how each one looks is ours.

// Vertical bars of "inputWidth" pixels, each wiping down from the top, each a
// little later than its neighbour by "inputBarOffset".
class BarsSwipeTransition final : public NXTransitionFilterOf<BarsSwipeTransition> {
public:
    BarsSwipeTransition();

protected:
    void draw(const ImageSampler& source, const ImageSampler& target, float time,
        QImage& output) const override;
};

// A cross-fade of everything, transparency included.
class DissolveTransition final : public NXTransitionFilterOf<DissolveTransition> {
public:
    DissolveTransition();

protected:
    void draw(const ImageSampler& source, const ImageSampler& target, float time,
        QImage& output) const override;
};

// A white burst from "inputCenter" that covers "inputExtent" at half time and
// fades to the new photo.
class FlashTransition final : public NXTransitionFilterOf<FlashTransition> {
public:
    FlashTransition();

protected:
    void draw(const ImageSampler& source, const ImageSampler& target, float time,
        QImage& output) const override;
};

// A ring of "inputWidth" pixels running out from "inputCenter", bending the
// pictures by up to "inputScale" pixels and lit by the shading image; the new
// photo lies inside it.
class RippleTransition final : public NXTransitionFilterOf<RippleTransition> {
public:
    RippleTransition();

protected:
    void draw(const ImageSampler& source, const ImageSampler& target, float time,
        QImage& output) const override;
};

// A straight wipe along "inputAngle" with an edge "inputWidth" pixels soft.
class SwipeTransition final : public NXTransitionFilterOf<SwipeTransition> {
public:
    SwipeTransition();

protected:
    void draw(const ImageSampler& source, const ImageSampler& target, float time,
        QImage& output) const override;
};

// The new photo shows through blobs about "inputCenter" that grow until they
// cover the frame; "inputRadius" sizes them, "inputAngle" turns the pattern
// and "inputCompression" squeezes it across.
class ModTransition final : public NXTransitionFilterOf<ModTransition> {
public:
    ModTransition();

protected:
    void draw(const ImageSampler& source, const ImageSampler& target, float time,
        QImage& output) const override;
};

// The old photo folds back along a line that crosses "inputExtent" in the
// direction of "inputAngle"; its back shows the backside image and the new
// photo lies under it, shaded near the fold within "inputRadius".
class PageCurlTransition final : public NXTransitionFilterOf<PageCurlTransition> {
public:
    PageCurlTransition();

protected:
    void draw(const ImageSampler& source, const ImageSampler& target, float time,
        QImage& output) const override;
};
