#pragma once

#include <QImage>

#include <algorithm>
#include <cmath>
#include <functional>

// The pixel layer under the transition filters: colours as premultiplied
// floats, a bilinear sampler that reads an image in bottom-left coordinates
// (the transitions' formulas are written that way), and row bands spread over
// the machine's cores.

// A colour as four floats in one vector register (the vector extension of
// GCC and Clang): the filters' sums and blends, made for every pixel of every
// frame, then take one instruction for all four channels.
struct Rgba {
    using Lanes = float __attribute__((vector_size(16)));
    // Red, green, blue and alpha, 0..255, the colours premultiplied by alpha.
    Lanes lanes { 0, 0, 0, 0 };

    constexpr Rgba() = default;
    constexpr Rgba(float red, float green, float blue, float alpha)
        : lanes { red, green, blue, alpha }
    { }

    Rgba operator+(const Rgba& other) const { return Rgba(lanes + other.lanes); }
    Rgba operator*(float factor) const { return Rgba(lanes * factor); }
    bool isZero() const { return lanes[0] == 0 && lanes[1] == 0 && lanes[2] == 0 && lanes[3] == 0; }
    Rgba opaque() const
    {
        Rgba colour = *this;
        colour.lanes[3] = 255;
        return colour;
    }

private:
    explicit Rgba(Lanes values)
        : lanes(values)
    { }
};

// Linear blend, weight 0 gives `from`, 1 gives `to`.
inline Rgba mix(const Rgba& from, const Rgba& to, float weight)
{
    return from * (1 - weight) + to * weight;
}

// Reads an image at working coordinates: the origin is the bottom-left
// corner, pixel centres lie at half units, values between centres are
// interpolated, and everything outside the image is transparent black. The
// sampler borrows the image: it must stay alive and in
// QImage::Format_ARGB32_Premultiplied (see TransitionPixels::prepared). It is
// read for every pixel of every frame, so it lives here, where the filters'
// loops can inline it.
class ImageSampler {
public:
    explicit ImageSampler(const QImage& image)
        : m_bits(image.constBits())
        , m_stride(image.bytesPerLine())
        , m_columns(image.width())
        , m_rows(image.height())
        , m_width(static_cast<float>(image.width()))
        , m_height(static_cast<float>(image.height()))
    { }

    float width() const { return m_width; }
    float height() const { return m_height; }

    Rgba at(float x, float y) const
    {
        const float column = x - 0.5f;
        const float row = m_height - y - 0.5f;
        // Written so that NaN coordinates fail too: they must never reach the
        // conversion to an index below.
        if (!(column > -1 && column < m_width && row > -1 && row < m_height))
            return {};
        const float left = std::floor(column);
        const float top = std::floor(row);
        const float across = column - left;
        const float down = row - top;
        const int leftIndex = static_cast<int>(left);
        const int topIndex = static_cast<int>(top);
        // Between two pixels of a row or of a column, as most transitions
        // sample, the other pair's weight is 0: the same colour from half the reads.
        if (down == 0)
            return across == 0
                ? texel(leftIndex, topIndex)
                : mix(texel(leftIndex, topIndex), texel(leftIndex + 1, topIndex), across);
        if (across == 0)
            return mix(texel(leftIndex, topIndex), texel(leftIndex, topIndex + 1), down);
        const Rgba upper = mix(texel(leftIndex, topIndex), texel(leftIndex + 1, topIndex), across);
        const Rgba lower
            = mix(texel(leftIndex, topIndex + 1), texel(leftIndex + 1, topIndex + 1), across);
        return mix(upper, lower, down);
    }

private:
    Rgba texel(int column, int rowFromTop) const
    {
        if (column < 0 || rowFromTop < 0 || column >= m_columns || rowFromTop >= m_rows)
            return {};
        const QRgb pixel = reinterpret_cast<const QRgb*>(m_bits + rowFromTop * m_stride)[column];
        return { static_cast<float>(qRed(pixel)), static_cast<float>(qGreen(pixel)),
            static_cast<float>(qBlue(pixel)), static_cast<float>(qAlpha(pixel)) };
    }

    const uchar* m_bits;
    qsizetype m_stride;
    int m_columns;
    int m_rows;
    float m_width;
    float m_height;
};

namespace TransitionPixels {

// The image in the format the sampler reads; a null image stays null.
QImage prepared(const QImage& image);

// Calls `work(firstRow, endRow)` for bands of [0, rows) on the machine's
// cores and returns when all are done. Bands start on even rows, so that work on pairs
// of rows (chroma of a 4:2:0 frame) never straddles two bands.
void forEachRowBand(int rows, const std::function<void(int firstRow, int endRow)>& work);

// Stores a colour, clamped to what a premultiplied pixel can hold, each
// channel rounded half away from zero.
inline QRgb toPixel(const Rgba& colour)
{
    using Lanes = Rgba::Lanes;
    using Whole = int __attribute__((vector_size(16)));
    const float alpha = colour.lanes[3] > 0 ? std::min(colour.lanes[3], 255.f) : 0.f;
    const Lanes most { alpha, alpha, alpha, 255 };
    // Written so that NaN becomes 0: it must never reach a conversion to int.
    const Lanes bounded = colour.lanes > 0 ? (most < colour.lanes ? most : colour.lanes) : Lanes {};
    // For values from 0 up, exactly what std::lround gives, at a fraction of
    // its cost: the fraction below the whole part is exact in a float. A true
    // comparison is -1 in its lane.
    const Whole whole = __builtin_convertvector(bounded, Whole);
    const Whole rounded = whole - (bounded - __builtin_convertvector(whole, Lanes) >= 0.5f);
    return qRgba(rounded[0], rounded[1], rounded[2], rounded[3]);
}

// One row of shadeEachPixel(). It is the inner loop of every transition, so
// everything it calls, the filter's formula and the sampler included, is
// inlined into it.
template<class Shade>
[[gnu::flatten]] void shadeRow(QRgb* line, int width, float y, const Shade& shade)
{
    for (int column = 0; column < width; ++column)
        line[column] = toPixel(shade(static_cast<float>(column) + 0.5f, y));
}

// Fills `image` (Format_ARGB32_Premultiplied) by asking `shade(x, y)` for the
// colour at each pixel centre, in bottom-left coordinates. Bands of rows are
// shaded on the machine's cores at once, so `shade` must only read shared state.
template<class Shade> void shadeEachPixel(QImage& image, const Shade& shade)
{
    const int height = image.height();
    const int width = image.width();
    // Detach once here: the bands must not each try to.
    uchar* const bits = image.bits();
    const qsizetype stride = image.bytesPerLine();
    forEachRowBand(height, [&](int firstRow, int endRow) {
        for (int row = firstRow; row < endRow; ++row)
            shadeRow(reinterpret_cast<QRgb*>(bits + row * stride), width,
                static_cast<float>(height - row) - 0.5f, shade);
    });
}

} // namespace TransitionPixels
