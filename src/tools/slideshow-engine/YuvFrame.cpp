#include "YuvFrame.h"

#include "slideshow/TransitionPixels.h"

namespace {

// Fixed point with 16 fraction bits; 0.5 rounds to nearest.
constexpr int kShift = 16;
constexpr int kHalf = 1 << (kShift - 1);

constexpr int fixedPoint(double value)
{
    const double scaled = value * (1 << kShift);
    return static_cast<int>(scaled < 0 ? scaled - 0.5 : scaled + 0.5);
}

// One matrix from 8-bit RGB to limited-range Y'CbCr, made from its red and
// blue weights. The green weight of each colour difference is what makes a
// grey exactly 128, whatever the rounding of the other two.
struct Coefficients {
    int lumaRed, lumaGreen, lumaBlue;
    int blueRed, blueGreen, blueBlue;
    int redRed, redGreen, redBlue;
};

constexpr Coefficients coefficientsOf(double red, double blue)
{
    const double green = 1 - red - blue;
    const double luma = 219.0 / 255;
    const double chroma = 224.0 / 255;
    const int blueRed = fixedPoint(-red / (2 * (1 - blue)) * chroma);
    const int blueBlue = fixedPoint(0.5 * chroma);
    const int redBlue = fixedPoint(-blue / (2 * (1 - red)) * chroma);
    const int redRed = fixedPoint(0.5 * chroma);
    return { fixedPoint(red * luma), fixedPoint(green * luma), fixedPoint(blue * luma), blueRed,
        -blueRed - blueBlue, blueBlue, redRed, -redRed - redBlue, redBlue };
}

constexpr Coefficients kBt601 = coefficientsOf(0.299, 0.114);
constexpr Coefficients kBt709 = coefficientsOf(0.2126, 0.0722);

struct Planes {
    uchar* luma;
    uchar* blueDifference;
    uchar* redDifference;
    int width;
};

uchar lumaOf(const Coefficients& matrix, QRgb pixel)
{
    return static_cast<uchar>(((matrix.lumaRed * qRed(pixel) + matrix.lumaGreen * qGreen(pixel)
                                   + matrix.lumaBlue * qBlue(pixel) + kHalf)
                                  >> kShift)
        + 16);
}

uchar differenceOf(int weightRed, int weightGreen, int weightBlue, int red, int green, int blue)
{
    // The sum lies within ±112.5 levels: shifted up first, it rounds the same on both sides.
    return static_cast<uchar>(
        ((weightRed * red + weightGreen * green + weightBlue * blue + (128 << kShift) + kHalf)
            >> kShift));
}

// Rows `row` and `row + 1` of the picture into the planes.
void convertRowPair(const QImage& image, const Coefficients& matrix, const Planes& planes, int row)
{
    const auto* upper = reinterpret_cast<const QRgb*>(image.constScanLine(row));
    const auto* lower = reinterpret_cast<const QRgb*>(image.constScanLine(row + 1));
    uchar* upperLuma = planes.luma + static_cast<qsizetype>(row) * planes.width;
    uchar* lowerLuma = upperLuma + planes.width;
    const qsizetype chromaAt = static_cast<qsizetype>(row / 2) * (planes.width / 2);
    for (int column = 0; column < planes.width; column += 2) {
        const QRgb block[4]
            = { upper[column], upper[column + 1], lower[column], lower[column + 1] };
        upperLuma[column] = lumaOf(matrix, block[0]);
        upperLuma[column + 1] = lumaOf(matrix, block[1]);
        lowerLuma[column] = lumaOf(matrix, block[2]);
        lowerLuma[column + 1] = lumaOf(matrix, block[3]);
        const int red = (qRed(block[0]) + qRed(block[1]) + qRed(block[2]) + qRed(block[3]) + 2) / 4;
        const int green
            = (qGreen(block[0]) + qGreen(block[1]) + qGreen(block[2]) + qGreen(block[3]) + 2) / 4;
        const int blue
            = (qBlue(block[0]) + qBlue(block[1]) + qBlue(block[2]) + qBlue(block[3]) + 2) / 4;
        planes.blueDifference[chromaAt + column / 2]
            = differenceOf(matrix.blueRed, matrix.blueGreen, matrix.blueBlue, red, green, blue);
        planes.redDifference[chromaAt + column / 2]
            = differenceOf(matrix.redRed, matrix.redGreen, matrix.redBlue, red, green, blue);
    }
}

} // namespace

namespace YuvFrame {

Matrix matrixFor(QSize frameSize)
{
    return frameSize.width() >= 1280 || frameSize.height() > 576 ? Matrix::Bt709 : Matrix::Bt601;
}

QByteArray fromImage(const QImage& image, Matrix matrix)
{
    const Coefficients& coefficients = matrix == Matrix::Bt709 ? kBt709 : kBt601;
    const int width = image.width();
    const int height = image.height();
    const qsizetype lumaBytes = static_cast<qsizetype>(width) * height;
    QByteArray frame(lumaBytes + lumaBytes / 2, Qt::Uninitialized);
    auto* bytes = reinterpret_cast<uchar*>(frame.data());
    const Planes planes { bytes, bytes + lumaBytes, bytes + lumaBytes + lumaBytes / 4, width };
    TransitionPixels::forEachRowBand(height, [&](int firstRow, int endRow) {
        for (int row = firstRow; row + 1 < endRow; row += 2)
            convertRowPair(image, coefficients, planes, row);
    });
    return frame;
}

} // namespace YuvFrame
