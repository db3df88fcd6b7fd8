#include "player/BlackRegion.h"

#include <map>

namespace {

constexpr int kSampleLines = 25;
// A rise of the byte sum above the running mean by more than this ends the border.
constexpr float kEdgeThreshold = 10.0f;
// More sample lines than this must agree on an edge.
constexpr int kQuorum = 5;
constexpr int kNoEdge = -1;
// A border pixel has each of red, green and blue at or below this: a dark
// but saturated colour (a deep blue) is picture, not border.
constexpr int kBlackLevel = 40;

bool readsBytesDirectly(QImage::Format format)
{
    switch (format) {
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
    case QImage::Format_ARGB32_Premultiplied:
    case QImage::Format_RGBX8888:
    case QImage::Format_RGBA8888:
    case QImage::Format_RGBA8888_Premultiplied:
    case QImage::Format_RGB888:
    case QImage::Format_BGR888:
    case QImage::Format_Grayscale8:
        return true;
    default:
        return false;
    }
}

// The picture in a format whose bytes are colour values (a palette index or a
// packed 16-bit pixel is not a brightness); most pictures are already so.
QImage byteBitmap(const QImage& picture)
{
    return readsBytesDirectly(picture.format()) ? picture
                                                : picture.convertToFormat(QImage::Format_RGB32);
}

// A pixel's brightness: the sum of its bytes.
int brightness(const QImage& bitmap, int x, int y)
{
    const int bytesPerPixel = bitmap.depth() / 8;
    const uchar* pixel = bitmap.constScanLine(y) + x * bytesPerPixel;
    int sum = 0;
    for (int byte = 0; byte < bytesPerPixel; ++byte)
        sum += pixel[byte];
    return sum;
}

// Walks `length` pixels, from position 0 upward or from the last one downward,
// and answers the last position of the border, or kNoEdge when the
// brightness never rises clearly. Darker pixels never end the border.
template<typename Brightness> int walkedEdge(int length, bool fromStart, const Brightness& at)
{
    const int step = fromStart ? 1 : -1;
    int position = fromStart ? 0 : length - 1;
    float mean = static_cast<float>(at(position));
    float count = 1.0f;
    int edge = 0;
    for (int walked = 1; walked < length; ++walked) {
        position += step;
        const auto value = static_cast<float>(at(position));
        if (value - mean > kEdgeThreshold)
            return position - step;
        mean = (count * mean + value) / (count + 1.0f);
        count += 1.0f;
        edge = kNoEdge;
    }
    return edge;
}

// The edge most sample lines agree on, or `fallback` without a quorum.
int votedEdge(const std::map<int, int>& votes, int fallback)
{
    int winner = fallback;
    int largest = 0;
    for (const auto& [edge, count] : votes)
        if (count > largest) {
            winner = edge;
            largest = count;
        }
    return largest > kQuorum ? winner : fallback;
}

void addVote(std::map<int, int>& votes, int edge)
{
    if (edge >= 0)
        ++votes[edge];
}

bool isBlack(const QImage& bitmap, int x, int y)
{
    const QRgb pixel = bitmap.pixel(x, y);
    return qRed(pixel) <= kBlackLevel && qGreen(pixel) <= kBlackLevel
        && qBlue(pixel) <= kBlackLevel;
}

// Whether every sample line is black from the picture's side up to `edge`:
// a real bar spans the whole side, while a dark patch (a test pattern's
// black field, a logo) leaves some lines crossing picture there.
template<typename Black>
bool bandIsBlack(int length, int edge, bool fromStart, int spacing, const Black& black)
{
    const int first = fromStart ? 0 : edge;
    const int last = fromStart ? edge : length - 1;
    for (int line = 0; line < kSampleLines; ++line)
        for (int position = first; position <= last; ++position)
            if (!black(position, line * spacing))
                return false;
    return true;
}

bool withinRequirements(const QImage& bitmap, int sampledSide)
{
    return !bitmap.isNull() && bitmap.depth() <= 32 && sampledSide > kSampleLines;
}

} // namespace

int dividingLengthHorizontal(const QImage& picture, bool fromStart)
{
    const QImage bitmap = byteBitmap(picture);
    const int fallback = fromStart ? 0 : bitmap.width();
    if (!withinRequirements(bitmap, bitmap.height()))
        return fallback;
    const int spacing = bitmap.height() / kSampleLines;
    std::map<int, int> votes;
    for (int line = 0; line < kSampleLines; ++line) {
        const int y = line * spacing;
        addVote(votes,
            walkedEdge(bitmap.width(), fromStart, [&](int x) { return brightness(bitmap, x, y); }));
    }
    const int edge = votedEdge(votes, fallback);
    const bool black = edge == fallback
        || bandIsBlack(bitmap.width(), edge, fromStart, spacing,
            [&](int x, int y) { return isBlack(bitmap, x, y); });
    return black ? edge : fallback;
}

int dividingLengthVertical(const QImage& picture, bool fromStart)
{
    const QImage bitmap = byteBitmap(picture);
    const int fallback = fromStart ? 0 : bitmap.height();
    if (!withinRequirements(bitmap, bitmap.width()))
        return fallback;
    const int spacing = bitmap.width() / kSampleLines;
    std::map<int, int> votes;
    for (int line = 0; line < kSampleLines; ++line) {
        const int x = line * spacing;
        addVote(votes, walkedEdge(bitmap.height(), fromStart, [&](int y) {
            return brightness(bitmap, x, y);
        }));
    }
    const int edge = votedEdge(votes, fallback);
    const bool black = edge == fallback
        || bandIsBlack(bitmap.height(), edge, fromStart, spacing,
            [&](int y, int x) { return isBlack(bitmap, x, y); });
    return black ? edge : fallback;
}

QRect extentByDividingBlackRegion(const QImage& picture)
{
    if (picture.isNull())
        return {};
    const QRect whole(0, 0, picture.width(), picture.height());
    if (picture.width() <= kSampleLines || picture.height() <= kSampleLines)
        return whole;
    const QImage bitmap = byteBitmap(picture);
    const int left = dividingLengthHorizontal(bitmap, true);
    const int right = dividingLengthHorizontal(bitmap, false);
    const int top = dividingLengthVertical(bitmap, true);
    const int bottom = dividingLengthVertical(bitmap, false);
    // The left and top edges are the last column and row of their bars: the
    // picture begins one further in, or else a row of the bar stays in the crop.
    const int firstColumn = left == 0 ? 0 : left + 1;
    const int firstRow = top == 0 ? 0 : top + 1;
    // Edges that cross (bright stripes at both sides of a dark picture) would
    // make a crop of negative size.
    if (right <= firstColumn || bottom <= firstRow)
        return whole;
    // The bottom edge counts rows from the top; the answer's origin is at the bottom.
    return { firstColumn, picture.height() - bottom, right - firstColumn, bottom - firstRow };
}
