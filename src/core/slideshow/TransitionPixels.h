#pragma once

#include <QImage>

#include <functional>

// The pixel layer under the transition filters: colours as premultiplied
// floats, a bilinear sampler that reads an image in bottom-left coordinates
// (the transitions' formulas are written that way), and row bands spread over
// a few threads.

struct Rgba {
    float red = 0;
    float green = 0;
    float blue = 0;
    float alpha = 0; // 0..255, colours premultiplied by it

    Rgba operator+(const Rgba& other) const
    {
        return { red + other.red, green + other.green, blue + other.blue, alpha + other.alpha };
    }
    Rgba operator*(float factor) const
    {
        return { red * factor, green * factor, blue * factor, alpha * factor };
    }
    bool isZero() const { return red == 0 && green == 0 && blue == 0 && alpha == 0; }
    Rgba opaque() const { return { red, green, blue, 255 }; }
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
// QImage::Format_ARGB32_Premultiplied (see TransitionPixels::prepared).
class ImageSampler {
public:
    explicit ImageSampler(const QImage& image);

    float width() const { return m_width; }
    float height() const { return m_height; }
    Rgba at(float x, float y) const;

private:
    Rgba texel(int column, int rowFromTop) const;

    const QImage& m_image;
    float m_width;
    float m_height;
};

namespace TransitionPixels {

// The image in the format the sampler reads; a null image stays null.
QImage prepared(const QImage& image);

// Calls `work(firstRow, endRow)` for bands of [0, rows) on a few threads and
// returns when all are done. Bands start on even rows, so that work on pairs
// of rows (chroma of a 4:2:0 frame) never straddles two bands.
void forEachRowBand(int rows, const std::function<void(int firstRow, int endRow)>& work);

// Stores a colour, clamped to what a premultiplied pixel can hold.
QRgb toPixel(const Rgba& colour);

// Fills `image` (Format_ARGB32_Premultiplied) by asking `shade(x, y)` for the
// colour at each pixel centre, in bottom-left coordinates. Bands of rows are
// shaded on a few threads at once, so `shade` must only read shared state.
template<class Shade> void shadeEachPixel(QImage& image, const Shade& shade)
{
    const int height = image.height();
    const int width = image.width();
    // Detach once here: the bands must not each try to.
    uchar* const bits = image.bits();
    const qsizetype stride = image.bytesPerLine();
    forEachRowBand(height, [&](int firstRow, int endRow) {
        for (int row = firstRow; row < endRow; ++row) {
            QRgb* line = reinterpret_cast<QRgb*>(bits + row * stride);
            const float y = static_cast<float>(height - row) - 0.5f;
            for (int column = 0; column < width; ++column)
                line[column] = toPixel(shade(static_cast<float>(column) + 0.5f, y));
        }
    });
}

} // namespace TransitionPixels
