#include "slideshow/TransitionPixels.h"

#include <QThread>

#include <algorithm>
#include <thread>
#include <vector>

namespace {

// Below this many rows a frame is not worth splitting.
constexpr int kRowsPerBandAtLeast = 32;

int bandCount(int rows)
{
    return std::clamp(rows / kRowsPerBandAtLeast, 1, std::max(1, QThread::idealThreadCount()));
}

} // namespace

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

} // namespace TransitionPixels
