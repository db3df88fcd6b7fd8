#include "player/EditPictureFilters.h"

#include <algorithm>
#include <cmath>

namespace {

// Luma weights the colour controls desaturate with (Rec. 709).
constexpr float kRedWeight = 0.2125f;
constexpr float kGreenWeight = 0.7154f;
constexpr float kBlueWeight = 0.0721f;

float clampUnit(float value)
{
    return std::clamp(value, 0.0f, 1.0f);
}

int toByte(float unit)
{
    return static_cast<int>(clampUnit(unit) * 255.0f + 0.5f);
}

} // namespace

EditColorFilters::EditColorFilters(const NXVarsAdjust& values)
{
    // Colour controls: mix toward the luma grey by the saturation, add the
    // brightness, then stretch around the middle grey by the contrast. All of
    // it is linear, so it folds into one matrix and one offset.
    const auto saturation = static_cast<float>(values.vSaturation);
    const auto contrast = static_cast<float>(values.vContrast);
    const std::array<float, 3> weights { kRedWeight, kGreenWeight, kBlueWeight };
    for (int row = 0; row < 3; ++row)
        for (int column = 0; column < 3; ++column) {
            const float mix = (1.0f - saturation) * weights[static_cast<std::size_t>(column)]
                + (row == column ? saturation : 0.0f);
            m_colorControls[static_cast<std::size_t>(row * 3 + column)] = contrast * mix;
        }
    m_colorOffset = contrast * (static_cast<float>(values.vBrightness) - 0.5f) + 0.5f;

    for (int step = 0; step <= kGammaSteps; ++step)
        m_gamma[static_cast<std::size_t>(step)]
            = static_cast<float>(std::pow(static_cast<double>(step) / kGammaSteps, values.vGamma));

    // Hue: a rotation of the colour cube about its grey diagonal.
    const auto cosine = static_cast<float>(std::cos(values.vHueAngle));
    const auto sine = static_cast<float>(std::sin(values.vHueAngle));
    const float shared = (1.0f - cosine) / 3.0f;
    const float turn = sine / std::sqrt(3.0f);
    m_hue = { cosine + shared, shared - turn, shared + turn, shared + turn, cosine + shared,
        shared - turn, shared - turn, shared + turn, cosine + shared };
}

QImage EditColorFilters::apply(const QImage& picture) const
{
    QImage result = picture.convertToFormat(QImage::Format_RGB32);
    const auto gamma = [this](float unit) {
        return m_gamma[static_cast<std::size_t>(clampUnit(unit) * kGammaSteps + 0.5f)];
    };
    const Matrix& c = m_colorControls;
    const Matrix& h = m_hue;
    for (int y = 0; y < result.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(result.scanLine(y));
        for (int x = 0; x < result.width(); ++x) {
            const float red = static_cast<float>(qRed(line[x])) / 255.0f;
            const float green = static_cast<float>(qGreen(line[x])) / 255.0f;
            const float blue = static_cast<float>(qBlue(line[x])) / 255.0f;
            const float r = gamma(c[0] * red + c[1] * green + c[2] * blue + m_colorOffset);
            const float g = gamma(c[3] * red + c[4] * green + c[5] * blue + m_colorOffset);
            const float b = gamma(c[6] * red + c[7] * green + c[8] * blue + m_colorOffset);
            line[x] = qRgb(toByte(h[0] * r + h[1] * g + h[2] * b),
                toByte(h[3] * r + h[4] * g + h[5] * b), toByte(h[6] * r + h[7] * g + h[8] * b));
        }
    }
    return result;
}

QImage croppedPicture(const QImage& picture, const QRectF& bottomLeftRect)
{
    const QRectF topLeft(bottomLeftRect.x(),
        picture.height() - bottomLeftRect.y() - bottomLeftRect.height(), bottomLeftRect.width(),
        bottomLeftRect.height());
    return picture.copy(topLeft.toAlignedRect().intersected(picture.rect()));
}

QTransform editGeometryTransform(int clockwiseDegrees, bool mirror)
{
    // QImage rows run downward, so a positive angle turns the picture
    // clockwise. The mirror acts on the turned picture, left to right; for a
    // quarter turn that is the same as flipping the source upside down first.
    QTransform transform;
    transform.rotate(clockwiseDegrees);
    if (mirror)
        transform *= QTransform::fromScale(-1, 1);
    return transform;
}

QImage transformedPicture(const QImage& picture, const QTransform& transform)
{
    // A mirrored transform goes through QImage's own mirror after the turn:
    // quarter turns and mirrors then stay plain pixel moves, without the
    // resampling a general transform costs.
    const bool mirror = transform.determinant() < 0;
    const QTransform turn = mirror ? transform * QTransform::fromScale(-1, 1) : transform;
    const QImage turned
        = turn.isIdentity() ? picture : picture.transformed(turn, Qt::SmoothTransformation);
    return mirror ? turned.mirrored(true, false) : turned;
}

QRectF fittedPictureRect(const QSizeF& extent, const QSizeF& bounds)
{
    if (bounds.isEmpty())
        return {};
    const auto ratio = [](double side, double room) {
        const double value = side / room;
        return value == 0.0 ? 1.0 : value;
    };
    const double widthRatio = ratio(extent.width(), bounds.width());
    const double heightRatio = ratio(extent.height(), bounds.height());
    if (widthRatio > heightRatio) {
        const double height = extent.height() / widthRatio;
        return { 0.0, (bounds.height() - height) * 0.5, bounds.width(), height };
    }
    const double width = extent.width() / heightRatio;
    return { (bounds.width() - width) * 0.5, 0.0, width, bounds.height() };
}
