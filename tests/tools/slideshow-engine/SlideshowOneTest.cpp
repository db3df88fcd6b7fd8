// The album step end to end: photo folders through slideshow-one into a
// movie and a converted file, and albums that cannot become a movie.
#include "engine/DNVideoConverter.h"
#include "fixtures/MediaFacts.h"
#include "fixtures/ProfiledPhotos.h"
#include "platform/AppPaths.h"
#include "platform/DNLogger.h"
#include "platform/OwnerMark.h"
#include "profiles/DNProfile.h"
#include "services/DNSetting.h"
#include "services/OutputPublishing.h"
#include "slideshow/AlbumConversion.h"
#include "slideshow/DNGraphicsNode.h"
#include "slideshow/ThumbnailOfImage.h"
#include "support/OwnerMarks.h"
#include "support/RunFfmpeg.h"
#include "support/TestFiles.h"

#include <QColorSpace>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImageReader>
#include <QLocale>
#include <QPainter>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <csignal>
#include <utility>

namespace {

constexpr double kFrame = 1.0 / 24;

struct ToolRun {
    int exitCode = -1;
    QStringList lines;
    QString errors;
    QString value(const QString& key) const
    {
        for (const QString& line : lines)
            if (line.startsWith(key + ": "))
                return line.mid(key.size() + 2);
        return {};
    }
};

ToolRun slideshowOne(const QStringList& arguments)
{
    QProcess tool;
    tool.start(QUILLON_SLIDESHOW_ONE, arguments);
    EXPECT_TRUE(tool.waitForFinished(180'000)) << "slideshow-one did not end";
    return { tool.exitCode(),
        QString::fromUtf8(tool.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts),
        QString::fromUtf8(tool.readAllStandardError()) };
}

bool makeSound(const QString& path, const QStringList& codec)
{
    return QProcess::execute("ffmpeg",
               QStringList { "-v", "error", "-y", "-f", "lavfi", "-i", "sine=duration=3" } + codec
                   + QStringList { "file:" + path })
        == 0;
}

// The movie's name as the program gives it for a moment.
QString movieNameAt(const QDateTime& time)
{
    const int hour = time.time().hour();
    return QStringLiteral("Quillon %1 at %2 %3.%4.mov")
        .arg(QLocale::c().toString(time, "yyyy-MM-dd"), hour < 12 ? "AM" : "PM")
        .arg(hour % 12, 2, 10, QLatin1Char('0'))
        .arg(QLocale::c().toString(time, "mm.ss"));
}

QStringList entriesOf(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

class SlideshowOne : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QDir().mkpath(photos.filePath("deeper")));
        const struct {
            const char* name;
            QSize size;
            Qt::GlobalColor colour;
        } pictures[] = { { "wide.jpg", { 640, 360 }, Qt::darkRed },
            { "tall.png", { 300, 400 }, Qt::darkGreen },
            { "deeper/panorama.jpg", { 1200, 300 }, Qt::darkBlue },
            { "square: one.bmp", { 200, 200 }, Qt::gray }, { "small.tif", { 48, 64 }, Qt::cyan } };
        for (const auto& picture : pictures) {
            QImage image(picture.size, QImage::Format_RGB32);
            image.fill(picture.colour);
            ASSERT_TRUE(image.save(photos.filePath(picture.name)));
        }
        // Named as a photo, drawn as none: neither counted nor in the movie.
        ASSERT_TRUE(writeTestFile(photos.filePath("empty.jpg"), {}));
        ASSERT_TRUE(makeSound(music.filePath("one.mp3"), {}));
        ASSERT_TRUE(makeSound(music.filePath("two: ü.m4a"), { "-c:a", "aac" }));
    }

    QStringList arguments(const QString& outputFolder) const
    {
        return { "--interval", "0", "--transitions", "1,7,9", "--music", music.filePath("one.mp3"),
            "--music", music.filePath("two: ü.m4a"), "--size", "852x480", "--fps", "24", "--output",
            outputFolder, photos.path() };
    }

    QTemporaryDir photos;
    QTemporaryDir music;
    QTemporaryDir output;
};

TEST_F(SlideshowOne, FolderBecomesAMovieOfTheAskedShape)
{
    const ToolRun run = slideshowOne(arguments(output.path()));
    ASSERT_EQ(run.exitCode, 0) << run.errors.toStdString();
    EXPECT_EQ(run.value("photos"), "5");
    EXPECT_EQ(run.value("length"), "00:00:05");
    EXPECT_TRUE(run.value("progress").startsWith("120 ")) << run.value("progress").toStdString();
    EXPECT_TRUE(run.value("progress").contains(" " + photos.path() + "/"));
    const QString movie = run.value("movie");
    EXPECT_TRUE(QFileInfo(movie).fileName().startsWith("Quillon "));
    const MediaFacts facts = MediaFacts::probe("file:" + movie);
    ASSERT_TRUE(facts.ok) << facts.error.toStdString();
    const StreamFacts video = facts.stream("video");
    EXPECT_EQ(video.width, 852);
    EXPECT_EQ(video.height, 480);
    EXPECT_EQ(video.frameRate, "24/1");
    EXPECT_NEAR(video.duration, 5.0, kFrame);
    EXPECT_EQ(facts.stream("audio").codecName, "aac");
}

TEST_F(SlideshowOne, ProfileConvertsTheMovieAndRemovesIt)
{
    // Files of the names the movie may be given in the next seconds: ours
    // must take another name and leave them as they are.
    const QDateTime now = QDateTime::currentDateTime();
    QStringList theirs;
    for (int second = 0; second < 5; ++second) {
        theirs << movieNameAt(now.addSecs(second));
        QFile file(QDir(output.path()).filePath(theirs.last()));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("mine");
    }
    const ToolRun run
        = slideshowOne(arguments(output.path()) + QStringList { "--profile", "MKV Video (H.264)" });
    ASSERT_EQ(run.exitCode, 0) << run.errors.toStdString();
    EXPECT_FALSE(theirs.contains(QFileInfo(run.value("movie")).fileName()));
    const QString converted = run.value("output");
    const MediaFacts facts = MediaFacts::probe(converted);
    ASSERT_TRUE(facts.ok) << facts.error.toStdString();
    EXPECT_TRUE(facts.formatName.contains("matroska"));
    EXPECT_NEAR(facts.duration, 5.0, 0.1);
    QStringList expected = QStringList(theirs) << QFileInfo(converted).fileName();
    QStringList left = entriesOf(output.path());
    expected.sort();
    left.sort();
    EXPECT_EQ(left.join(" | ").toStdString(), expected.join(" | ").toStdString());
    for (const QString& name : theirs) {
        QFile file(QDir(output.path()).filePath(name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(file.readAll(), "mine");
    }
}

TEST_F(SlideshowOne, KilledRenderLeavesNoPartialMovie)
{
    const auto partials = [this] {
        return QDir(output.path())
            .entryList({ ".*.partial*" }, QDir::Files | QDir::Hidden)
            .join(" | ")
            .toStdString();
    };
    QProcess killed;
    QStringList longShow = arguments(output.path());
    longShow[1] = "600";
    killed.start(QUILLON_SLIDESHOW_ONE, longShow);
    while (!killed.readLine().startsWith("progress: "))
        ASSERT_TRUE(killed.canReadLine() || killed.waitForReadyRead(60'000)) << "no progress";
    ASSERT_FALSE(partials().empty());
    ::kill(static_cast<pid_t>(killed.processId()), SIGKILL);
    ASSERT_TRUE(killed.waitForFinished(10'000));
    // The engine, told by its death signal, removes its own.
    QElapsedTimer clock;
    clock.start();
    while (!partials().empty() && clock.elapsed() < 10'000)
        QThread::msleep(50);
    EXPECT_EQ(partials(), "");

    // One left by an engine killed outright goes at the next render; one whose
    // engine still runs stays, and so does one that only looks like ours.
    const QStringList left { ".Quillon a.3999999.0a1b2c3d.partial.mov",
        ".Quillon b.3999999.0a1b2c3d.partial.mov", ".Quillon c.3999999.0a1b2c3d.partial.mov" };
    const QByteArray marks[] = { markOfAnEndedProcess(), OwnerMark::ownMark(), {} };
    for (int at = 0; at < left.size(); ++at) {
        const QString path = QDir(output.path()).filePath(left[at]);
        ASSERT_TRUE(writeTestFile(path, {}));
        if (!marks[at].isEmpty() && !putOwnerMark(path, marks[at]))
            GTEST_SKIP() << "this file system keeps no attributes of users";
    }
    const ToolRun next = slideshowOne(arguments(output.path()));
    ASSERT_EQ(next.exitCode, 0) << next.errors.toStdString();
    EXPECT_EQ(partials(), (left[1] + " | " + left[2]).toStdString());
}

// The program killed once the movie is made, before its conversion ends: the
// movie is one of the partial outputs that later runs into the folder remove.
TEST_F(SlideshowOne, AConversionKilledAfterTheRenderLeavesNoMovieForGood)
{
    QProcess killed;
    killed.start(QUILLON_SLIDESHOW_ONE,
        arguments(output.path()) + QStringList { "--profile", "MKV Video (H.264)" });
    QString movie;
    while (movie.isEmpty()) {
        ASSERT_TRUE(killed.canReadLine() || killed.waitForReadyRead(60'000)) << "no movie";
        const QString line = QString::fromUtf8(killed.readLine()).trimmed();
        if (line.startsWith("movie: "))
            movie = line.mid(7);
    }
    ::kill(static_cast<pid_t>(killed.processId()), SIGKILL);
    ASSERT_TRUE(killed.waitForFinished(10'000));
    ASSERT_TRUE(QFileInfo::exists(movie));

    EXPECT_TRUE(removeAbandonedPartials(output.path()).contains(movie)) << qPrintable(movie);
    EXPECT_EQ(entriesOf(output.path()), QStringList());
}

// Bits written most significant first, a data byte 0xFF followed by a zero.
struct JpegBits {
    QByteArray bytes;
    int pending = 0;
    int count = 0;
    void put(int bits, int length)
    {
        for (int bit = length - 1; bit >= 0; --bit) {
            pending = (pending << 1) | ((bits >> bit) & 1);
            if (++count < 8)
                continue;
            bytes += char(pending);
            if (pending == 0xFF)
                bytes += '\0';
            pending = count = 0;
        }
    }
};

QByteArray jpegSegment(char marker, const QByteArray& body)
{
    const qsizetype length = body.size() + 2;
    return QByteArray("\xFF", 1) + marker + char(length >> 8) + char(length & 0xFF) + body;
}

// A CMYK JPEG as print work gives them, which neither Qt nor ffmpeg writes:
// 16 pixels high, one flat band 16 pixels wide per entry of `inks` (the four
// inverted values an Adobe CMYK file stores). Every 8 x 8 block is flat, so
// only its mean is coded: the standard table for the mean's change, and
// one code (0) that ends each block.
QByteArray cmykJpeg(const QList<std::array<int, 4>>& inks)
{
    const QByteArray lengths("\0\1\5\1\1\1\1\1\1\0\0\0\0\0\0\0", 16);
    std::vector<std::pair<int, int>> codes; // bits and length of each size of change
    for (int length = 1, next = 0; length <= 16; ++length, next <<= 1)
        for (int count = 0; count < lengths[length - 1]; ++count)
            codes.emplace_back(next++, length);
    const int width = 16 * int(inks.size());
    QByteArray frame = QByteArray("\x08\0\x10", 3) + char(width >> 8) + char(width & 0xFF) + '\4';
    QByteArray scan("\4", 1);
    for (char component = 1; component <= 4; ++component) {
        frame += component + QByteArray("\x11\0", 2);
        scan += component + QByteArray("\0", 1);
    }
    JpegBits data;
    std::array<int, 4> previous {};
    for (int block = 0; block < 2 * width / 8; ++block)
        for (std::size_t component = 0; component < 4; ++component) {
            const int mean = 8 * (inks[block % (width / 8) / 2][component] - 128);
            const int change = mean - std::exchange(previous[component], mean);
            const int size = std::bit_width(unsigned(std::abs(change)));
            data.put(codes[std::size_t(size)].first, codes[std::size_t(size)].second);
            data.put(change < 0 ? change + (1 << size) - 1 : change, size);
            data.put(0, 1);
        }
    while (data.count != 0)
        data.put(1, 1);
    const QByteArray tables = '\0' + lengths + QByteArray("\0\1\2\3\4\5\6\7\x08\x09\x0A\x0B", 12)
        + "\x10\1" + QByteArray(16, '\0');
    return QByteArray("\xFF\xD8", 2) + jpegSegment('\xEE', QByteArray("Adobe\0\x64\0\0\0\0\0", 12))
        + jpegSegment('\xDB', '\0' + QByteArray(64, '\1')) + jpegSegment('\xC0', frame)
        + jpegSegment('\xC4', tables) + jpegSegment('\xDA', scan + QByteArray("\0\x3F\0", 3))
        + data.bytes + QByteArray("\xFF\xD9", 2);
}

// Three bands of the sRGB colours, 96 x 48; in `space`, when it is valid,
// converted into it and carrying its profile.
QImage bands(const QList<QColor>& colours, const QColorSpace& space)
{
    QImage image(96, 48, QImage::Format_RGB32);
    QPainter painter(&image);
    for (int band = 0; band < 3; ++band)
        painter.fillRect(band * 32, 0, 32, 48, colours[band]);
    painter.end();
    if (space.isValid()) {
        image.setColorSpace(QColorSpace::SRgb);
        image.convertToColorSpace(space);
    }
    return image;
}

bool near(QColor seen, QColor truth)
{
    return std::abs(seen.red() - truth.red()) <= 8 && std::abs(seen.green() - truth.green()) <= 8
        && std::abs(seen.blue() - truth.blue()) <= 8;
}

// Wide-gamut photos come out in the colours they stand for, in the movie and
// in the application's pictures; an sRGB and a CMYK photo as they always did.
TEST(SlideshowOneColours, PhotosShowInTheColoursTheirProfilesMean)
{
    const QList<QColor> truth { QColor(0, 200, 0), QColor(0, 180, 200), QColor(200, 30, 30) };
    // The inverted CMYK values, and the colours they are read as.
    const QList<std::array<int, 4>> inks { { 40, 230, 230, 255 }, { 230, 100, 40, 255 },
        { 255, 255, 255, 128 } };
    const QList<QColor> cmykTruth { QColor(40, 230, 230), QColor(230, 100, 40),
        QColor(128, 128, 128) };
    QTemporaryDir photos;
    QTemporaryDir output;
    const struct {
        const char* name;
        QColorSpace space;
    } profiled[] = { { "1 adobe.jpg", QColorSpace(QColorSpace::AdobeRgb) },
        { "2 p3.jpg", QColorSpace(QColorSpace::DisplayP3) }, { "3 srgb.jpg", QColorSpace() } };
    for (const auto& photo : profiled) {
        ASSERT_TRUE(bands(truth, photo.space).save(photos.filePath(photo.name), "jpeg", 95));
        EXPECT_EQ(QImageReader(photos.filePath(photo.name)).read().colorSpace(), photo.space)
            << photo.name << ": the profile is not in the file";
    }
    ASSERT_TRUE(writeTestFile(photos.filePath("4 cmyk.jpg"), cmykJpeg(inks)));
    const ToolRun run = slideshowOne({ "--interval", "0", "--transitions", "18", "--size",
        "160x120", "--fps", "10", "--output", output.path(), photos.path() });
    ASSERT_EQ(run.exitCode, 0) << run.errors.toStdString();
    ASSERT_EQ(run.value("photos"), "4");
    QByteArray frames;
    ASSERT_TRUE(runFfmpeg(
        { "-i", "file:" + run.value("movie"), "-f", "rawvideo", "-pix_fmt", "rgb24", "pipe:1" },
        &frames));
    constexpr qsizetype kFrameBytes = 160 * 120 * 3;
    ASSERT_EQ(frames.size(), 40 * kFrameBytes);
    for (int photo = 0; photo < 4; ++photo) {
        const QList<QColor>& expected = photo == 3 ? cmykTruth : truth;
        // Frame 5 of the photo's second; each photo is as wide as the frame.
        const QImage movie(
            reinterpret_cast<const uchar*>(frames.constData()) + (10 * photo + 5) * kFrameBytes,
            160, 120, 160 * 3, QImage::Format_RGB888);
        const QString path = photos.filePath(photo == 3 ? "4 cmyk.jpg" : profiled[photo].name);
        const QImage picture = ThumbnailOfImage(path, 96, 48);
        for (int band = 0; band < 3; ++band) {
            const QColor inMovie = movie.pixelColor(160 * (2 * band + 1) / 6, 60);
            const QColor inPicture = picture.pixelColor(32 * band + 16, 24);
            EXPECT_TRUE(near(inMovie, expected[band]))
                << path.toStdString() << " band " << band << " is " << inMovie.name().toStdString()
                << " in the movie";
            EXPECT_TRUE(near(inPicture, expected[band]))
                << path.toStdString() << " band " << band << " is "
                << inPicture.name().toStdString() << " in the picture";
        }
    }
}

// A CMYK TIFF of 16-bit inks is shown in the colours its profile gives
// them, alone in an album too; one whose inks are not read is left out as the
// album is made, so that the list counts the photos, and the seconds, the
// movie shows.
TEST(SlideshowOneColours, CmykTiffsAreShownOrLeftOutBeforeTheyAreCounted)
{
    const QByteArray profile = ProfiledPhotos::cmykProfile();
    const QList<std::array<int, 4>> inks { { 0, 255, 255, 0 }, { 230, 140, 20, 30 },
        { 0, 0, 0, 128 } };
    QTemporaryDir photos;
    QTemporaryDir output;
    ASSERT_TRUE(
        writeTestFile(photos.filePath("1 print.tif"), ProfiledPhotos::cmykTiff(inks, profile, 16)));
    // Inks of 32 bits, which the image reader's look at the header passes.
    ASSERT_TRUE(writeTestFile(photos.filePath("2 deep.tif"),
        ProfiledPhotos::tiff(QByteArray(8 * 8 * 16, '\x40'), QSize(8, 8), 4, 32, 5, {})));
    const ToolRun run = slideshowOne({ "--interval", "1", "--transitions", "18", "--size", "192x64",
        "--fps", "10", "--output", output.path(), photos.path() });
    ASSERT_EQ(run.exitCode, 0) << run.errors.toStdString();
    EXPECT_EQ(run.value("photos"), "1");
    EXPECT_EQ(run.value("length"), "00:00:02");
    const MediaFacts facts = MediaFacts::probe("file:" + run.value("movie"));
    EXPECT_NEAR(facts.stream("video").duration, 2.0, 0.1);
    QByteArray frame;
    ASSERT_TRUE(runFfmpeg({ "-i", "file:" + run.value("movie"), "-frames:v", "1", "-f", "rawvideo",
                              "-pix_fmt", "rgb24", "pipe:1" },
        &frame));
    ASSERT_EQ(frame.size(), 192 * 64 * 3);
    const QImage movie(
        reinterpret_cast<const uchar*>(frame.constData()), 192, 64, 192 * 3, QImage::Format_RGB888);
    for (int band = 0; band < 3; ++band) {
        const auto& ink = inks[band];
        const QColor truth = ProfiledPhotos::inSrgb(
            profile, ProfiledPhotos::Samples::Cmyk, { ink[0], ink[1], ink[2], ink[3] });
        const QColor shown = movie.pixelColor(64 * band + 32, 32);
        EXPECT_TRUE(near(shown, truth)) << "band " << band << " is " << shown.name().toStdString()
                                        << ", the profile says " << truth.name().toStdString();
    }
}

// An album for a television frame (720 pixels across, shown at 4:3) shows
// each photo at its own shape, as large as the frame lets it.
TEST(AlbumConversion, PhotosFillTheTelevisionFrameAsFarAsTheirShapeLets)
{
    QTemporaryDir photos;
    const QSize shapes[] = { { 400, 300 }, { 300, 400 } };
    for (int at = 0; at < 2; ++at) {
        QImage photo(shapes[at], QImage::Format_RGB32);
        photo.fill(QColor(208, 128, 64));
        ASSERT_TRUE(photo.save(photos.filePath(QStringLiteral("%1.png").arg(at + 1))));
    }
    const struct {
        const char* profile;
        int height;
    } cases[] = { { "NTSC DVD Video", 480 }, { "PAL DVD Video", 576 } };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.profile);
        QTemporaryDir output;
        const ToolRun run = slideshowOne({ "--interval", "0", "--transitions", "18", "--profile",
            c.profile, "--output", output.path(), photos.path() });
        ASSERT_EQ(run.exitCode, 0) << run.errors.toStdString();
        const QString movie = run.value("output");
        const double pixel = MediaFacts::probe(movie).stream("video").pixelAspect();
        // Each photo is on screen for a second: 4:3 fills the frame, 3:4 its height.
        const QRect wide = decodePicture(movie, 0.4, 0.2).area;
        EXPECT_EQ(wide.width(), 720);
        EXPECT_EQ(wide.height(), c.height);
        EXPECT_NEAR(wide.width() * pixel / wide.height(), 4.0 / 3.0, 0.01);
        const QRect tall = decodePicture(movie, 1.4, 0.2).area;
        EXPECT_EQ(tall.height(), c.height);
        EXPECT_NEAR(tall.width() * pixel / tall.height(), 3.0 / 4.0, 0.01);
    }
}

// An album made at an HD size into a DVD is written at the DVD's frame, in
// the matrix DVD players read, whatever size the slideshow was drawn at.
TEST(AlbumConversion, AnHdAlbumIntoADvdShowsItsColoursOnADvdPlayer)
{
    const QList<QColor> colours { QColor(200, 40, 40), QColor(40, 170, 60), QColor(40, 80, 200) };
    QTemporaryDir photos;
    QTemporaryDir output;
    ASSERT_TRUE(bands(colours, QColorSpace()).save(photos.filePath("bands.png")));
    const ToolRun run = slideshowOne({ "--interval", "1", "--transitions", "18", "--size",
        "1280x720", "--profile", "PAL DVD Video", "--output", output.path(), photos.path() });
    ASSERT_EQ(run.exitCode, 0) << run.errors.toStdString();
    const StreamFacts video = MediaFacts::probe(run.value("output")).stream("video");
    EXPECT_EQ(QSize(video.width, video.height), QSize(720, 576));
    EXPECT_EQ(video.colorSpace, "smpte170m");
    QByteArray frame;
    ASSERT_TRUE(runFfmpeg({ "-i", run.value("output"), "-frames:v", "1", "-vf",
                              "scale=in_color_matrix=bt601,format=rgb24", "-f", "rawvideo",
                              "pipe:1" },
        &frame));
    ASSERT_EQ(frame.size(), 720 * 576 * 3);
    const QImage shown(
        reinterpret_cast<const uchar*>(frame.constData()), 720, 576, 720 * 3, QImage::Format_RGB888);
    for (int band = 0; band < 3; ++band) {
        const QColor seen = shown.pixelColor(720 * (2 * band + 1) / 6, 288);
        EXPECT_TRUE(near(seen, colours[band]))
            << "band " << band << " is " << seen.name().toStdString() << " on a DVD player, not "
            << colours[band].name().toStdString();
    }
}

struct Unmount {
    QString path;
    ~Unmount() { QProcess::execute("umount", { path }); }
};

QImage noise(QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            image.setPixel(x, y, QRandomGenerator::global()->generate() | 0xFF000000);
    return image;
}

TEST(AlbumConversion, AlbumThatCannotBecomeAMovieFailsAndLeavesNothing)
{
    QTemporaryDir photos;
    ASSERT_TRUE(noise({ 320, 240 }).save(photos.filePath("one.png")));
    ASSERT_TRUE(noise({ 320, 240 }).save(photos.filePath("two.png")));
    const struct {
        const char* what;
        bool deletePhotos;
        const char* tmpfsSize; // output folder on a tmpfs this small, or none
        QString reason;
    } cases[] = {
        { "photos deleted after loading", true, nullptr, "none of the 2 photos can be read" },
        { "output folder too small", false, "32k", "No space left on device" },
    };
    for (const auto& row : cases) {
        QTemporaryDir output;
        std::optional<Unmount> unmount;
        if (row.tmpfsSize) {
            QProcess mount;
            mount.start("mount",
                { "-t", "tmpfs", "-o", QStringLiteral("size=%1").arg(row.tmpfsSize), "tmpfs",
                    output.path() });
            if (!mount.waitForFinished(10'000) || mount.exitCode() != 0) {
                std::cout << "[ SKIPPED ] " << row.what << ": cannot mount a tmpfs here: "
                          << mount.readAllStandardError().toStdString() << "\n";
                continue;
            }
            unmount.emplace(output.path());
        }
        QString error;
        const auto album = DNGraphicsNode::graphicsNodeWithDirs({ photos.path() }, nullptr, error);
        ASSERT_TRUE(album) << error.toStdString();
        auto profile = std::make_shared<DNProfile>();
        profile->videoResolution().setCurrentValue("320x240");
        album->setProfile(profile);
        album->setting()->setInterval(1);
        QTemporaryDir moved;
        if (row.deletePhotos)
            for (const QString& name : entriesOf(photos.path()))
                QFile::rename(photos.filePath(name), moved.filePath(name));
        DNSetting::shareSetting().appSetting().setVideoOutputDirectory(output.path());

        AlbumConversion step({});
        EXPECT_EQ(step.encodeGraphics2QuickTimeMovie(album, true), kDNVideoConverterFailed)
            << row.what;
        QFile log(DNLogger::shareRoughLog().path());
        ASSERT_TRUE(log.open(QIODevice::ReadOnly));
        const QString logged = QString::fromUtf8(log.readAll());
        const qsizetype failure = logged.lastIndexOf("was not rendered: ");
        EXPECT_TRUE(failure >= 0 && logged.indexOf(row.reason, failure) > failure)
            << row.what << "\n"
            << logged.toStdString();
        EXPECT_TRUE(entriesOf(output.path()).isEmpty()) << row.what;
        EXPECT_TRUE(QDir(AppPaths::temporaryFolder()).entryList({ "NXImageEngineJob*" }).isEmpty())
            << row.what << ": the job file is left";
        if (row.deletePhotos)
            for (const QString& name : entriesOf(moved.path()))
                QFile::rename(moved.filePath(name), photos.filePath(name));
    }
}

} // namespace
