#include "YuvFrame.h"

#include "slideshow/TransitionPixels.h"

namespace {

// BT.601 in 8-bit fixed point, rounded (coefficients times 256).
uchar lumaOf(int red, int green, int blue)
{
    return static_cast<uchar>(((66 * red + 129 * green + 25 * blue + 128) >> 8) + 16);
}

uchar blueDifferenceOf(int red, int green, int blue)
{
    return static_cast<uchar>(((-38 * red - 74 * green + 112 * blue + 128) >> 8) + 128);
}

uchar redDifferenceOf(int red, int green, int blue)
{
    return static_cast<uchar>(((112 * red - 94 * green - 18 * blue + 128) >> 8) + 128);
}

struct Planes {
    uchar* luma;
    uchar* blueDifference;
    uchar* redDifference;
    int width;
    int height;
};

// Rows `row` and `row + 1` of the picture into the planes.
void convertRowPair(const QImage& image, const Planes& planes, int row)
{
    const auto* upper = reinterpret_cast<const QRgb*>(image.constScanLine(row));
    const auto* lower = reinterpret_cast<const QRgb*>(image.constScanLine(row + 1));
    uchar* upperLuma = planes.luma + static_cast<qsizetype>(row) * planes.width;
    uchar* lowerLuma = upperLuma + planes.width;
    const qsizetype chromaAt = static_cast<qsizetype>(row / 2) * (planes.width / 2);
    for (int column = 0; column < planes.width; column += 2) {
        const QRgb block[4]
            = { upper[column], upper[column + 1], lower[column], lower[column + 1] };
        upperLuma[column] = lumaOf(qRed(block[0]), qGreen(block[0]), qBlue(block[0]));
        upperLuma[column + 1] = lumaOf(qRed(block[1]), qGreen(block[1]), qBlue(block[1]));
        lowerLuma[column] = lumaOf(qRed(block[2]), qGreen(block[2]), qBlue(block[2]));
        lowerLuma[column + 1] = lumaOf(qRed(block[3]), qGreen(block[3]), qBlue(block[3]));
        const int red = (qRed(block[0]) + qRed(block[1]) + qRed(block[2]) + qRed(block[3]) + 2) / 4;
        const int green
            = (qGreen(block[0]) + qGreen(block[1]) + qGreen(block[2]) + qGreen(block[3]) + 2) / 4;
        const int blue
            = (qBlue(block[0]) + qBlue(block[1]) + qBlue(block[2]) + qBlue(block[3]) + 2) / 4;
        planes.blueDifference[chromaAt + column / 2] = blueDifferenceOf(red, green, blue);
        planes.redDifference[chromaAt + column / 2] = redDifferenceOf(red, green, blue);
    }
}

} // namespace

namespace YuvFrame {

QByteArray fromImage(const QImage& image)
{
    const int width = image.width();
    const int height = image.height();
    const qsizetype lumaBytes = static_cast<qsizetype>(width) * height;
    QByteArray frame(lumaBytes + lumaBytes / 2, Qt::Uninitialized);
    auto* bytes = reinterpret_cast<uchar*>(frame.data());
    const Planes planes { bytes, bytes + lumaBytes, bytes + lumaBytes + lumaBytes / 4, width,
        height };
    TransitionPixels::forEachRowBand(height, [&](int firstRow, int endRow) {
        for (int row = firstRow; row + 1 < endRow; row += 2)
            convertRowPair(image, planes, row);
    });
    return frame;
}

} // namespace YuvFrame
