// What reaches an image from the link's packed pictures: every pixel, the
// last column and row included, at the picture's size or scaled down.
#include "player/PackedPictureConverter.h"

#include <gtest/gtest.h>

#include <QColor>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <memory>

#include <sys/mman.h>
#include <unistd.h>

namespace {

namespace Proto = MPlayerOSXVOProto;

struct Yuv {
    unsigned char y, u, v;
    QRgb rgb;
};

// Studio-range 601 values and the colours they stand for.
constexpr Yuv kWhite { 235, 128, 128, 0xffffffff };
constexpr Yuv kRed { 81, 90, 240, 0xffff0000 };
constexpr Yuv kGreen { 145, 54, 34, 0xff00ff00 };
constexpr Yuv kBlue { 41, 240, 110, 0xff0000ff };

// Whether a pixel lies in the right or bottom half: a half-way pixel of an
// odd side counts in the second.
bool inSecondHalf(int position, int side)
{
    return 2 * position >= side;
}

const Yuv& quadrantColour(int x, int y, QSize size)
{
    const bool right = inSecondHalf(x, size.width());
    if (inSecondHalf(y, size.height()))
        return right ? kBlue : kGreen;
    return right ? kRed : kWhite;
}

// A picture in four quadrants, white, red / green, blue, in the byte order
// asked, ending where a shared picture's mapping ends: at the readable bytes
// the converter wants, then a page past which reading fails. Its width is a
// multiple of 4, so that no pair of pixels straddles the middle.
class SharedPicture {
public:
    explicit SharedPicture(std::size_t bytes)
        : m_page(static_cast<std::size_t>(::sysconf(_SC_PAGESIZE)))
        , m_length((bytes + kSpare + m_page - 1) / m_page * m_page + m_page)
        , m_mapping(static_cast<unsigned char*>(::mmap(
              nullptr, m_length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0)))
        , m_picture(m_mapping + m_length - m_page - kSpare - bytes)
    {
        ::mprotect(m_mapping + m_length - m_page, m_page, PROT_NONE);
    }
    ~SharedPicture() { ::munmap(m_mapping, m_length); }
    SharedPicture(const SharedPicture&) = delete;
    SharedPicture& operator=(const SharedPicture&) = delete;

    unsigned char* data() const { return m_picture; }

private:
    static constexpr std::size_t kSpare = PackedPictureConverter::kReadablePastPicture;
    std::size_t m_page;
    std::size_t m_length;
    unsigned char* m_mapping;
    unsigned char* m_picture;
};

std::unique_ptr<SharedPicture> quadrants(QSize size, Proto::PixelFormat format)
{
    auto picture = std::make_unique<SharedPicture>(
        static_cast<std::size_t>(size.width() * size.height() * 2));
    const bool lumaFirst = format == Proto::kFormatYuvs;
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); x += 2) {
            const Yuv& colour = quadrantColour(x, y, size);
            unsigned char* pair = picture->data() + (y * size.width() + x) * 2;
            const std::array<unsigned char, 4> yuyv { colour.y, colour.u, colour.y, colour.v };
            const std::array<unsigned char, 4> uyvy { colour.u, colour.y, colour.v, colour.y };
            std::copy_n((lumaFirst ? yuyv : uyvy).begin(), 4, pair);
        }
    return picture;
}

bool near(QRgb painted, QRgb expected)
{
    constexpr int kTolerance = 6;
    return std::abs(qRed(painted) - qRed(expected)) <= kTolerance
        && std::abs(qGreen(painted) - qGreen(expected)) <= kTolerance
        && std::abs(qBlue(painted) - qBlue(expected)) <= kTolerance;
}

} // namespace

TEST(PackedPictureConverter, EveryPixelKeepsItsColourAtTheImagesSize)
{
    struct Row {
        const char* name;
        QSize picture;
        QSize image;
        Proto::PixelFormat format;
    };
    const Row rows[] = {
        { "own size", { 64, 32 }, { 64, 32 }, Proto::kFormatYuvs },
        { "own size, other byte order", { 64, 32 }, { 64, 32 }, Proto::kFormat2vuy },
        { "own size, no whole blocks", { 100, 34 }, { 100, 34 }, Proto::kFormatYuvs },
        { "own size, odd height", { 64, 33 }, { 64, 33 }, Proto::kFormatYuvs },
        { "half", { 1280, 720 }, { 640, 360 }, Proto::kFormatYuvs },
        { "odd sides", { 1280, 720 }, { 853, 481 }, Proto::kFormat2vuy },
        { "small", { 64, 32 }, { 16, 8 }, Proto::kFormatYuvs },
        // A view squeezed to a line, and a picture narrower than a vector:
        // all their pixels lie near a middle, so only their size is checked
        // and that nothing past the picture's readable end is read.
        { "one row", { 1280, 720 }, { 64, 1 }, Proto::kFormatYuvs },
        { "one column", { 320, 240 }, { 1, 240 }, Proto::kFormat2vuy },
        { "tiny", { 4, 3 }, { 3, 3 }, Proto::kFormatYuvs },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        PackedPictureConverter converter(row.picture, row.format);
        ASSERT_TRUE(converter.setImageSize(row.image));
        const QImage image = converter.convert(quadrants(row.picture, row.format)->data());
        ASSERT_EQ(image.size(), row.image);
        // Once scaled, pixels near the middle may mix two quadrants' colours
        // (the colour difference more, being half as wide).
        const double margin = row.picture == row.image ? 0 : 3;
        const auto nearMiddle = [&](int position, int side) {
            return std::abs(position + 0.5 - side / 2.0) < margin;
        };
        int wrong = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                if (nearMiddle(x, image.width()) || nearMiddle(y, image.height()))
                    continue;
                const Yuv& colour = quadrantColour(x, y, image.size());
                if (!near(image.pixel(x, y), colour.rgb) && wrong++ == 0)
                    ADD_FAILURE() << "first wrong pixel " << x << "," << y << ": "
                                  << QColor(image.pixel(x, y)).name().toStdString();
            }
        EXPECT_EQ(wrong, 0);
    }
}

TEST(PackedPictureConverter, MakesNoImageWithoutASize)
{
    PackedPictureConverter converter({ 64, 32 }, Proto::kFormatYuvs);
    const auto picture = quadrants({ 64, 32 }, Proto::kFormatYuvs);
    EXPECT_TRUE(converter.convert(picture->data()).isNull());
    EXPECT_FALSE(converter.setImageSize({ 0, 32 }));
    EXPECT_TRUE(converter.convert(picture->data()).isNull());
}
