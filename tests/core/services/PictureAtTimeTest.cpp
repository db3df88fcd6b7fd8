// The editor takes the source picture at the preview's time: the picture
// shown then, whatever the container, the stretch between its key frames and
// where a seek in it lands; a picture that cannot be reached is refused, not
// replaced by another. Each test picture carries its own number in blocks.
#include "services/ThumbnailCapture.h"
#include "support/RunFfmpeg.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <optional>
#include <vector>

namespace {

constexpr int kRate = 25;
constexpr int kBits = 12;
constexpr int kBlock = 16;

// Picture N holds N in binary at its top left, bit i in the block i across
// the top row and its opposite below, so that a damaged picture does not read
// as a number. A larger picture has the blocks over a moving pattern.
QString numberedPictures(int rate, const QSize& size)
{
    const QString code = QStringLiteral("color=c=black:s=%1x%2:r=%3,format=yuv420p,"
                                        "geq=lum=16+219*abs(gte(Y\\,%4)"
                                        "-mod(floor(N/pow(2\\,floor(X/%4)))\\,2)):cb=128:cr=128")
                             .arg(kBits * kBlock)
                             .arg(2 * kBlock)
                             .arg(rate)
                             .arg(kBlock);
    if (size.isEmpty())
        return code;
    return QStringLiteral("testsrc=s=%1x%2:r=%3[pattern];%4[code];"
                          "[pattern][code]overlay=format=yuv420[out0]")
        .arg(size.width())
        .arg(size.height())
        .arg(rate)
        .arg(code);
}

// The number a picture carries; none when it carries none.
std::optional<int> pictureNumber(const QImage& picture)
{
    if (picture.width() < kBits * kBlock || picture.height() < 2 * kBlock)
        return std::nullopt;
    int number = 0;
    for (int bit = 0; bit < kBits; ++bit) {
        const int x = bit * kBlock + kBlock / 2;
        const bool top = qGray(picture.pixel(x, kBlock / 2)) > 128;
        const bool bottom = qGray(picture.pixel(x, kBlock + kBlock / 2)) > 128;
        if (top == bottom)
            return std::nullopt;
        number |= int(top) << bit;
    }
    return number;
}

struct TimeCase {
    const char* name;
    int seconds;
    QStringList encoding;
    std::vector<double> asked; // seconds from the first picture
    const char* sound = nullptr; // its encoder
    int rate = kRate;
    QSize size = {}; // empty: the blocks alone
};

const TimeCase kCases[] = {
    // A seek lands on the key frame after the time asked.
    { "key_frame_every_100.ts", 12,
        { "-c:v", "libx264", "-g", "100", "-keyint_min", "100", "-x264-params",
            "scenecut=0:bframes=2", "-pix_fmt", "yuv420p", "-f", "mpegts" },
        { 0, 0.02, 1.3, 3.99, 4, 5, 5.5, 8.5, 11.9, 12, 15 } },
    // A broadcast recording's clock starts anywhere: times count from the
    // first picture.
    { "late_clock.ts", 4,
        { "-c:v", "libx264", "-g", "50", "-pix_fmt", "yuv420p", "-output_ts_offset", "1000", "-f",
            "mpegts" },
        { 0, 1.3, 2.5, 3.99, 5 }, "aac" },
    // Open GOPs, whose leading pictures are not decoded after a seek; in a
    // program stream at a DVD's size, where a seek lands on the next GOP.
    { "open_gop.mpg", 6, { "-c:v", "mpeg2video", "-g", "15", "-bf", "2", "-q:v", "2" },
        { 0, 0.5, 1.3, 2.5, 3.61, 5.9, 7 }, "mp2", kRate, { 720, 576 } },
    { "open_gop.ts", 6,
        { "-c:v", "mpeg2video", "-g", "15", "-bf", "2", "-q:v", "2", "-f", "mpegts" },
        { 0, 0.5, 1.3, 2.5, 3.61, 5.9, 7 }, "mp2" },
    // Long stretches between key frames: ten seconds, and one key frame in
    // forty seconds with the sound's packets between the pictures.
    { "key_frame_every_10s.ts", 60,
        { "-c:v", "libx264", "-g", "250", "-keyint_min", "250", "-x264-params", "scenecut=0",
            "-pix_fmt", "yuv420p", "-f", "mpegts" },
        { 0.5, 9.99, 30, 31.3, 39.9, 45.3, 59.9, 60, 65 } },
    { "one_key_frame.mp4", 40,
        { "-c:v", "libx264", "-x264-params", "keyint=infinite:scenecut=0", "-pix_fmt", "yuv420p" },
        { 1.3, 24, 30, 39.9, 40, 45 }, "aac" },
    // The sound's priming puts the first picture 25 ms after the file's start,
    // before which the index has no key frame to seek to.
    { "sound_first.flv", 4, { "-c:v", "flv", "-q:v", "2" }, { 0, 0.01, 0.02, 1.3, 3.99, 5 },
        "libmp3lame" },
    { "pictures_50.mkv", 4,
        { "-c:v", "libx264", "-g", "30", "-x264-params", "bframes=3:b-adapt=0", "-pix_fmt",
            "yuv420p" },
        { 0, 1.31, 2.5, 3.99, 4.5 }, "libopus", 50 },
};

bool makeClip(const QString& path, const TimeCase& c)
{
    QStringList arguments { "-f", "lavfi", "-i", numberedPictures(c.rate, c.size) };
    if (c.sound)
        arguments += { "-f", "lavfi", "-i", "sine=sample_rate=48000", "-c:a", c.sound };
    return runFfmpeg(arguments + QStringList { "-t", QString::number(c.seconds) } + c.encoding
        + QStringList { path });
}

// The number of the picture shown `seconds` after the first: the last one
// at or before that time.
int shownAt(double seconds, const TimeCase& c)
{
    const int pictures = c.seconds * c.rate;
    return std::min(pictures - 1, int(std::floor(seconds * c.rate + 1e-6)));
}

} // namespace

TEST(PictureAtTime, ThePictureShownAtTheTimeAskedInEachContainer)
{
    QTemporaryDir dir;
    for (const TimeCase& c : kCases) {
        SCOPED_TRACE(c.name);
        const QString path = dir.filePath(c.name);
        ASSERT_TRUE(makeClip(path, c));
        for (const double seconds : c.asked) {
            SCOPED_TRACE(seconds);
            QString why;
            // Without the window's limit: a busy machine may be slow to read.
            const QImage picture
                = captureSourcePicture(path, seconds, &why, std::chrono::minutes(1));
            EXPECT_TRUE(why.isEmpty()) << why.toStdString();
            EXPECT_EQ(pictureNumber(picture), shownAt(seconds, c));
        }
    }
}

// A key frame only at the start of 2600 pictures: the later ones lie beyond
// what is read after a seek, and are refused with the reason; an earlier one
// is still given.
TEST(PictureAtTime, APictureBeyondTheReadingLimitIsRefusedSayingWhy)
{
    QTemporaryDir dir;
    const TimeCase c { "one_key_frame_100.mp4", 26,
        { "-c:v", "libx264", "-preset", "ultrafast", "-x264-params", "keyint=infinite:scenecut=0",
            "-pix_fmt", "yuv420p" },
        {}, nullptr, 100 };
    const QString path = dir.filePath(c.name);
    ASSERT_TRUE(makeClip(path, c));
    QString why;
    EXPECT_TRUE(captureSourcePicture(path, 25.5, &why, std::chrono::minutes(1)).isNull());
    EXPECT_TRUE(why.contains("after a key frame")) << why.toStdString();
    why.clear();
    const QImage early = captureSourcePicture(path, 10.005, &why, std::chrono::minutes(1));
    EXPECT_TRUE(why.isEmpty()) << why.toStdString();
    EXPECT_EQ(pictureNumber(early), shownAt(10.005, c));
}
