#pragma once

#include "slideshow/NXTransitionFilter.h"

// The program's own transitions. Each draws one frame from the two photos and
// the time; the formulas work in bottom-left coordinates, with w and h the
// size of the photo being left unless a filter says otherwise.

// Both photos move sideways together; "inputL2R" above 0: left to right.
class NXPushFilter final : public NXTransitionFilterOf<NXPushFilter> {
public:
    NXPushFilter();

protected:
    void draw(const ImageSampler& source, const ImageSampler& target, float time,
        QImage& output) const override;
};

// The new photo slides in over the old one, from the left when "inputL2R" is
// above 0; otherwise the old one slides out to the right over the new one.
class NXMoveFilter final : public NXTransitionFilterOf<NXMoveFilter> {
public:
    NXMoveFilter();

protected:
    void draw(const ImageSampler& source, const ImageSampler& target, float time,
        QImage& output) const override;
};

// A cross-fade seen through a whirl about the centre that winds up and then
// unwinds.
class NXTwirlFilter final : public NXTransitionFilterOf<NXTwirlFilter> {
public:
    NXTwirlFilter();

protected:
    void draw(const ImageSampler& source, const ImageSampler& target, float time,
        QImage& output) const override;
};

// The old photo is drawn into its centre, uncovering the new one.
class NXImplosionFilter final : public NXTransitionFilterOf<NXImplosionFilter> {
public:
    NXImplosionFilter();

protected:
    void draw(const ImageSampler& source, const ImageSampler& target, float time,
        QImage& output) const override;
};

// A plain cross-fade, fully opaque.
class NXFadeFilter final : public NXTransitionFilterOf<NXFadeFilter> {
public:
    NXFadeFilter();

protected:
    void draw(const ImageSampler& source, const ImageSampler& target, float time,
        QImage& output) const override;
};

// The new photo enters in interleaved bands of "inputWidth" pixels, alternate
// bands from opposite sides; "inputDirect" with x = 0 makes the bands columns,
// otherwise rows.
class NXTileInFilter final : public NXTransitionFilterOf<NXTileInFilter> {
public:
    NXTileInFilter();

protected:
    void draw(const ImageSampler& source, const ImageSampler& target, float time,
        QImage& output) const override;
};

// The old photo leaves in interleaved bands, uncovering the new one.
class NXTileOutFilter final : public NXTransitionFilterOf<NXTileOutFilter> {
public:
    NXTileOutFilter();

protected:
    void draw(const ImageSampler& source, const ImageSampler& target, float time,
        QImage& output) const override;
};

// A photo swings about "inputAnchor" (fractions of the size, default the
// middle of the bottom edge): "inputMode" 0 and 1 swing the new photo in from
// either side, 2 and 3 swing the old one out.
class NXRotationFilter final : public NXTransitionFilterOf<NXRotationFilter> {
public:
    NXRotationFilter();

protected:
    void draw(const ImageSampler& source, const ImageSampler& target, float time,
        QImage& output) const override;
};
