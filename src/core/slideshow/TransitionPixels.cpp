#include "slideshow/TransitionPixels.h"

#include <QThread>

#include <algorithm>
#include <cmath>
#include <thread>
#include <vector>

namespace {

// A frame is a few milliseconds of work per band: more threads than this only
// crowd the encoder that runs beside us.
constexpr int kMostThreads = 4;
// Below this many rows a frame is not worth splitting.
constexpr int kRowsPerBandAtLeast = 32;

int bandCount(int rows)
{
    const int threads = std::clamp(QThread::idealThreadCount(), 1, kMostThreads);
    return std::clamp(rows / kRowsPerBandAtLeast, 1, threads);
}

} // namespace

ImageSampler::ImageSampler(const QImage& image)
    : m_image(image)
    , m_width(static_cast<float>(image.width()))
    , m_height(static_cast<float>(image.height()))
{ }

Rgba ImageSampler::texel(int column, int rowFromTop) const
{
    if (column < 0 || rowFromTop < 0 || column >= m_image.width() || rowFromTop >= m_image.height())
        return {};
    const QRgb pixel = reinterpret_cast<const QRgb*>(m_image.constScanLine(rowFromTop))[column];
    return { static_cast<float>(qRed(pixel)), static_cast<float>(qGreen(pixel)),
        static_cast<float>(qBlue(pixel)), static_cast<float>(qAlpha(pixel)) };
}

Rgba ImageSampler::at(float x, float y) const
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
    if (across == 0 && down == 0)
        return texel(leftIndex, topIndex);
    const Rgba upper = mix(texel(leftIndex, topIndex), texel(leftIndex + 1, topIndex), across);
    const Rgba lower
        = mix(texel(leftIndex, topIndex + 1), texel(leftIndex + 1, topIndex + 1), across);
    return mix(upper, lower, down);
}

namespace TransitionPixels {

QImage prepared(const QImage& image)
{
    if (image.isNull() || image.format() == QImage::Format_ARGB32_Premultiplied)
        return image;
    return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

void forEachRowBand(int rows, const std::function<void(int firstRow, int endRow)>& work)
{
    const int bands = bandCount(rows);
    if (bands <= 1) {
        work(0, rows);
        return;
    }
    const int pairs = (rows + 1) / 2;
    std::vector<std::jthread> helpers;
    for (int band = 1; band < bands; ++band) {
        const int first = std::min(rows, pairs * band / bands * 2);
        const int end = std::min(rows, pairs * (band + 1) / bands * 2);
        helpers.emplace_back([&work, first, end] { work(first, end); });
    }
    work(0, std::min(rows, pairs / bands * 2));
}

QRgb toPixel(const Rgba& colour)
{
    const float alpha = std::clamp(colour.alpha, 0.f, 255.f);
    const auto channel = [alpha](float value) {
        return static_cast<int>(std::lround(std::clamp(value, 0.f, alpha)));
    };
    return qRgba(channel(colour.red), channel(colour.green), channel(colour.blue),
        static_cast<int>(std::lround(alpha)));
}

} // namespace TransitionPixels
