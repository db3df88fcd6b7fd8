#pragma once

// The editor preview's picture work on QImage: colour adjustment, crop,
// rotation with mirror, and the fit into a view. Rectangles handed in follow
// the editor's convention (origin at the bottom left of the picture); they are
// turned into QImage's top-left rows only here, where pixels are touched.

#include <QImage>
#include <QRectF>
#include <QSizeF>
#include <QTransform>

#include <array>

// The effect settings of one edit movie view.
struct NXVarsAdjust {
    double vBrightness = 0.0;
    double vContrast = 1.0;
    double vGamma = 0.75;
    double vHueAngle = 0.0; // radians
    double vSaturation = 0.0;
    QRectF vCropRect {}; // picture pixels, origin at the bottom left
    int needCrop = 0; // 100 once a crop rectangle was set
    int vRorateDegree = 0; // counter-clockwise, 0 to 359 (360 after a set rotation of 0)
    int vFlip = 0;
    int internalEffectIndex = 0;
};

// Colour controls (saturation, brightness, contrast), gamma power and hue
// rotation, applied in that order in one pass over the picture.
class EditColorFilters {
public:
    explicit EditColorFilters(const NXVarsAdjust& values);

    // The picture through the three filters, as Format_RGB32.
    QImage apply(const QImage& picture) const;

private:
    using Matrix = std::array<float, 9>;
    static constexpr int kGammaSteps = 1024;

    Matrix m_colorControls {};
    float m_colorOffset = 0.0f;
    std::array<float, kGammaSteps + 1> m_gamma {};
    Matrix m_hue {};
};

// `picture` cut to `bottomLeftRect` (picture pixels, origin at the bottom
// left); what lies outside the picture is not part of the answer.
QImage croppedPicture(const QImage& picture, const QRectF& bottomLeftRect);

// The preview's geometry: the picture turned clockwise by `clockwiseDegrees`
// and then mirrored left to right when `mirror` is set, as the converted
// output is.
QTransform editGeometryTransform(int clockwiseDegrees, bool mirror);

// `picture` through `transform`, moved back to the origin.
QImage transformedPicture(const QImage& picture, const QTransform& transform);

// Where a picture of `extent` is drawn in a view of `bounds`: fitted inside,
// centred on the free axis.
QRectF fittedPictureRect(const QSizeF& extent, const QSizeF& bounds);
