// Photo records read from real files (metadata set with the exiv2 tool), and
// albums walked from real folders.
#include "slideshow/DNGraphicsNode.h"

#include "fixtures/TestMedia.h"
#include "model/DNFileNode.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <zlib.h>

#include <algorithm>
#include <future>
#include <tuple>

#include <sys/stat.h>

namespace {

bool runTool(const QString& program, const QStringList& arguments)
{
    QProcess tool;
    tool.start(program, arguments);
    if (!tool.waitForFinished(60'000) || tool.exitCode() != 0) {
        ADD_FAILURE() << program.toStdString() << ": " << tool.readAllStandardError().toStdString();
        return false;
    }
    return true;
}

class PhotoAlbum : public ::testing::Test {
protected:
    QString photo(
        const QString& relativePath, QSize size = { 40, 30 }, const QStringList& metadata = {})
    {
        const QString path = folder.filePath(relativePath);
        EXPECT_TRUE(QDir().mkpath(QFileInfo(path).path()));
        QImage image(size, QImage::Format_Mono);
        image.fill(1);
        const char* format = QFileInfo(path).suffix().toLower() == "jpg" ? "jpeg" : nullptr;
        EXPECT_TRUE(image.save(path, format)) << path.toStdString();
        QStringList arguments;
        for (const QString& entry : metadata)
            arguments << "-M"
                      << "set " + entry;
        if (!metadata.isEmpty())
            runTool("exiv2", arguments << path);
        return path;
    }

    QStringList positioned(const QString& longitude, const QString& reference)
    {
        return { "Exif.GPSInfo.GPSLongitudeRef " + reference,
            "Exif.GPSInfo.GPSLongitude " + longitude, "Exif.GPSInfo.GPSLatitudeRef N",
            "Exif.GPSInfo.GPSLatitude 45/1 0/1 0/1" };
    }

    QTemporaryDir folder;
};

TEST_F(PhotoAlbum, PhotoRecordsCarryWhatTheFileSays)
{
    const QString plain = photo("plain.jpg");
    const QString tagged = photo("tagged.jpg", { 64, 48 },
        positioned("10/1 30/1 36/1", "W") << "Exif.Photo.DateTimeOriginal 2020:01:02 03:04:05");
    const DNImageNode none = DNImageNode::imageNodeWithContentOfPath(plain);
    EXPECT_FALSE(none.createDate);
    EXPECT_FALSE(none.gps);
    EXPECT_EQ(none.resolution, QSizeF(40, 30));

    const DNImageNode record = DNImageNode::imageNodeWithContentOfPath(tagged);
    EXPECT_EQ(record.type, DNImageNode::Photo);
    EXPECT_EQ(record.resolution, QSizeF(64, 48));
    EXPECT_EQ(record.size, QFileInfo(tagged).size());
    ASSERT_TRUE(record.createDate);
    EXPECT_EQ(*record.createDate, QDateTime(QDate(2020, 1, 2), QTime(3, 4, 5)));
    ASSERT_TRUE(record.gps);
    EXPECT_EQ(record.gps->longitude().name, 'W');
    EXPECT_NEAR(record.gps->longitude().degree, 10.51, 1e-5);
    EXPECT_EQ(record.gps->latitude().name, 'N');

    QFile garbage(folder.filePath("garbage.jpg"));
    ASSERT_TRUE(garbage.open(QIODevice::WriteOnly));
    garbage.write("no picture");
    garbage.close();
    const DNImageNode broken = DNImageNode::imageNodeWithContentOfPath(garbage.fileName());
    EXPECT_EQ(broken.size, 0);
    EXPECT_TRUE(broken.resolution.isEmpty());
}

TEST(DNGPS, ComparesByLetterThenDegreesWithinATenThousandth)
{
    const auto at = [](const char* east, float longitude, const char* north, float latitude) {
        return DNGPS::gpsInfoWithlongtitude(east, longitude, north, latitude);
    };
    const struct {
        DNGPS own;
        std::optional<DNGPS> other;
        int expected;
    } cases[] = {
        { at("E", 10, "N", 5), std::nullopt, 1 },
        { at("E", 10, "N", 5), at("W", 1, "N", 5), -1 },
        { at("E", 10, "N", 5), at("E", 10, "S", 5), -1 },
        { at("E", 10, "N", 5), at("E", 10.00005f, "N", 4.99995f), 0 },
        { at("E", 10, "N", 5), at("E", 9.9, "N", 50), 1 },
    };
    for (const auto& row : cases)
        EXPECT_EQ(row.own.compare(row.other), row.expected);
}

TEST_F(PhotoAlbum, MusicLengthIsTruncatedToWholeSeconds)
{
    const QString music = folder.filePath("long.mp3");
    ASSERT_TRUE(runTool("ffmpeg",
        { "-v", "error", "-f", "lavfi", "-i", "sine=duration=184.9", "-c:a", "libmp3lame",
            music }));
    EXPECT_EQ(DNGraphicsAudio::graphicsAudio(music).audioDuration, 184);
    EXPECT_EQ(DNGraphicsAudio::graphicsAudio(folder.filePath("missing.mp3")).audioDuration, 0);
}

// A FIFO would keep its reader waiting for a writer that never comes.
TEST_F(PhotoAlbum, MusicThatIsNoFileIsRefusedUnread)
{
    const QString fifo = folder.filePath("radio.mp3");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    auto reading
        = std::async(std::launch::async, [&] { return DNGraphicsAudio::graphicsAudio(fifo); });
    if (reading.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
        // Its writer lets the reader go.
        QFile(fifo).open(QIODevice::WriteOnly);
        FAIL() << "the FIFO was opened";
    }
    EXPECT_EQ(reading.get().audioDuration, 0);
    EXPECT_EQ(DNGraphicsAudio::refusalOf(folder.filePath("missing.mp3")), "it is not there");
}

TEST_F(PhotoAlbum, FoldersBecomeOneRecordEachWithEveryPhotoBelowThem)
{
    photo("first/a.JPG");
    photo("first/.hidden/deeper/b.png");
    for (const auto& [name, bytes] :
        { std::pair { "c.gif", "GIF89a" }, { "empty.jpg", "" }, { "garbage.jpg", "no picture" } }) {
        QFile file(folder.filePath("first/") + name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    photo("first/edge.png", { 8191, 8191 });
    photo("first/huge.png", { 9000, 6000 });
    photo("second/d.bmp");
    QString error;
    const auto album = DNGraphicsNode::graphicsNodeWithDirs(
        { folder.filePath("first"), folder.filePath("second") }, nullptr, error);
    ASSERT_NE(album, nullptr) << error.toStdString();
    ASSERT_EQ(album->imageNodes().size(), 2U);
    EXPECT_EQ(album->imageNodes()[0].path, folder.filePath("first"));
    QStringList names;
    for (const DNImageNode& record : album->imageNodes()[0].imageNodes)
        names << QFileInfo(record.path).fileName();
    names.sort();
    EXPECT_EQ(names, QStringList({ "a.JPG", "b.png", "edge.png" }));
    // Only what will be drawn is counted, so the movie lasts what the list says.
    EXPECT_EQ(album->countOfPhotos(), 4);
    EXPECT_EQ(album->videoDuration(), 12.0);
    QStringList leftOut;
    for (const DNLeftOutPhoto& photo : album->leftOutPhotos())
        leftOut << QFileInfo(photo.path).fileName() + ": " + photo.why;
    leftOut.sort();
    EXPECT_EQ(leftOut,
        QStringList({ "c.gif: GIF pictures are not taken", "empty.jpg: an empty file",
            "garbage.jpg: not a picture that can be read",
            "huge.png: 9000 x 6000 pixels, more than the 8191 on a side an album takes" }));
    EXPECT_EQ(album->path(), folder.filePath("second"));
    EXPECT_EQ(album->nodeInfo().displayName, "first");
    EXPECT_EQ(album->setting()->transitions()->size(), 18);
}

// One PNG chunk: length, type and data, and the checksum of type and data.
QByteArray pngChunk(const QByteArray& typeAndData)
{
    const auto bigEndian = [](quint32 value) {
        QByteArray bytes;
        for (int shift = 24; shift >= 0; shift -= 8)
            bytes += char((value >> shift) & 0xFF);
        return bytes;
    };
    const uLong checksum = crc32(0, reinterpret_cast<const Bytef*>(typeAndData.constData()),
        static_cast<uInt>(typeAndData.size()));
    return bigEndian(quint32(typeAndData.size() - 4)) + typeAndData + bigEndian(quint32(checksum));
}

// A PNG of 20000 x 20000 pixels by its header, with no pixels stored: read
// beyond the header it fails, which would leave a record of zero size that
// the limit lets in.
void writeHugePngHeader(const QString& path)
{
    QByteArray header("IHDR", 4);
    header += QByteArray("\x00\x00\x4e\x20\x00\x00\x4e\x20", 8); // 20000 x 20000
    header += QByteArray("\x01\x00\x00\x00\x00", 5); // 1-bit grey, no interlace
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray("\x89PNG\r\n\x1a\n", 8) + pngChunk(header) + pngChunk("IDAT")
        + pngChunk("IEND"));
}

// The refusal says what was there instead: kinds not taken, photos too
// large, files that are no picture.
TEST_F(PhotoAlbum, AFolderWithoutUsablePhotosMakesNoAlbum)
{
    photo("big/huge.png", { 9000, 6000 });
    writeHugePngHeader(folder.filePath("big/enormous.png"));
    photo("stopped/small.png");
    for (const char* name : { "kinds", "none", "blank" })
        ASSERT_TRUE(QDir().mkpath(folder.filePath(name)));
    for (const char* name :
        { "kinds/a.webp", "kinds/b.HEIC", "kinds/c.gif", "kinds/e.gif", "none/notes.txt" })
        ASSERT_TRUE(writeTestFile(folder.filePath(name), "GIF89a"));
    ASSERT_TRUE(writeTestFile(folder.filePath("blank/empty.jpg"), {}));
    const std::atomic_bool stop { true };
    const struct {
        const char* folder;
        const std::atomic_bool* stop;
        const char* why;
    } cases[] = {
        { "big", nullptr,
            " The 2 photos there are too large: an album takes photos of at most 8191 pixels a "
            "side and 1 GiB." },
        { "stopped", &stop, "" },
        { "kinds", nullptr,
            " GIF, HEIC and WEBP files are not taken: an album takes JPEG, PNG, BMP and TIFF "
            "photos." },
        { "blank", nullptr, " 1 file named as a photo is no picture that can be read." },
        { "none", nullptr, "" },
    };
    for (const auto& row : cases) {
        QString error;
        EXPECT_EQ(
            DNGraphicsNode::graphicsNodeWithDirs({ folder.filePath(row.folder) }, row.stop, error),
            nullptr)
            << row.folder;
        EXPECT_EQ(error,
            QStringLiteral("There is no photo found at (\n    \"%1\"\n).%2")
                .arg(folder.filePath(row.folder), row.why));
    }
}

TEST_F(PhotoAlbum, PhotosAreInPositionOrderWithoutPositionFirst)
{
    photo("trip/far.jpg", { 40, 30 }, positioned("20/1 0/1 0/1", "E"));
    photo("trip/near.jpg", { 40, 30 }, positioned("5/1 0/1 0/1", "E"));
    photo("trip/nowhere.jpg");
    for (int index = 0; index < 40; ++index)
        QFile::copy(folder.filePath("trip/near.jpg"),
            folder.filePath(QStringLiteral("trip/same%1.jpg").arg(index)));
    QString error;
    const auto album
        = DNGraphicsNode::graphicsNodeWithDirs({ folder.filePath("trip") }, nullptr, error);
    ASSERT_NE(album, nullptr) << error.toStdString();
    const std::vector<DNImageNode>& photos = album->imageNodes()[0].imageNodes;
    ASSERT_EQ(photos.size(), 43U);
    EXPECT_EQ(QFileInfo(photos.front().path).fileName(), "nowhere.jpg");
    EXPECT_EQ(QFileInfo(photos.back().path).fileName(), "far.jpg");
}

// A burst of 500 shots whose positions differ by less than the tolerance of
// DNGPS::compare, in a chain that makes its equality intransitive: a sort
// relying on it may read outside the list (run under AddressSanitizer). The
// photos, in date order before, stay in it within each 0.0001-degree step.
TEST(DNGraphicsNode, HundredsOfPhotosAtOnePositionSortWithoutFault)
{
    constexpr int kPhotos = 500;
    DNGraphicsNode album;
    DNImageNode folder;
    folder.type = DNImageNode::Folder;
    for (int index = 0; index < kPhotos; ++index) {
        DNImageNode photo;
        photo.size = index; // the date order
        if (index % 50 != 7)
            photo.gps = DNGPS::gpsInfoWithlongtitude(
                "E", 10.0f + 0.00003f * float(index % 5), "N", 45.0f);
        folder.imageNodes.push_back(photo);
    }
    album.imageNodes().push_back(folder);
    album.sortPhotoNode(DNGraphicsSetting::kSortByPosition, DNGraphicsSetting::kAscending);
    const std::vector<DNImageNode>& photos = album.imageNodes()[0].imageNodes;
    ASSERT_EQ(photos.size(), std::size_t(kPhotos));
    const auto place = [](const DNImageNode& photo) {
        return std::tuple(photo.gps.has_value(),
            photo.gps ? photo.gps->sortKey() : DNGPS::SortKey {}, photo.size);
    };
    EXPECT_TRUE(std::is_sorted(photos.begin(), photos.end(),
        [&](const DNImageNode& a, const DNImageNode& b) { return place(a) < place(b); }));
}

// Names in the order a person counts them, whichever folder each photo lies
// in; names that count as equal (leading zeros) keep the order they came in,
// either way round, also in a burst too long to be sorted by insertion.
TEST(DNGraphicsNode, PhotosSortByNameCountingNumbersAsNumbers)
{
    QStringList burst;
    for (int card = 0; card < 40; ++card)
        burst << QStringLiteral("/card%1/DSC_%2.jpg").arg(card).arg(QString(card % 3, '0') + "7");
    const struct {
        QStringList paths;
        int order;
        QStringList expected;
    } cases[] = {
        { { "/t/IMG_10.jpg", "/t/IMG_007.jpg", "/t/IMG_100.jpg", "/t/IMG_7.jpg", "/t/IMG_1.jpg" },
            DNGraphicsSetting::kAscending,
            { "/t/IMG_1.jpg", "/t/IMG_007.jpg", "/t/IMG_7.jpg", "/t/IMG_10.jpg",
                "/t/IMG_100.jpg" } },
        { { "/t/IMG_2.jpg", "/t/IMG_02.jpg", "/t/IMG_10.jpg", "/t/IMG_1.jpg" },
            DNGraphicsSetting::kDescending,
            { "/t/IMG_10.jpg", "/t/IMG_2.jpg", "/t/IMG_02.jpg", "/t/IMG_1.jpg" } },
        { { "/z/b.jpg", "/a/c 2.jpg", "/m/B.jpg", "/b/c 10.jpg", "/y/a.jpg" },
            DNGraphicsSetting::kAscending,
            { "/m/B.jpg", "/y/a.jpg", "/z/b.jpg", "/a/c 2.jpg", "/b/c 10.jpg" } },
        { QStringList { "/x/DSC_8.jpg" } + burst + QStringList { "/y/DSC_6.jpg" },
            DNGraphicsSetting::kAscending,
            QStringList { "/y/DSC_6.jpg" } + burst + QStringList { "/x/DSC_8.jpg" } },
    };
    const auto record = [](const QString& path, qint32 type) {
        DNImageNode node;
        node.path = path;
        node.type = type;
        return node;
    };
    for (const auto& row : cases) {
        DNGraphicsNode album;
        album.imageNodes().push_back(record("/album", DNImageNode::Folder));
        for (const QString& path : row.paths)
            album.imageNodes()[0].imageNodes.push_back(record(path, DNImageNode::Photo));
        album.sortPhotoNode(DNGraphicsSetting::kSortByName, row.order);
        QStringList paths;
        for (const DNImageNode& photo : album.imageNodes()[0].imageNodes)
            paths << photo.path;
        EXPECT_EQ(paths, row.expected) << row.paths.join(' ').toStdString();
    }
}

TEST(DNGraphicsNode, DurationsFollowPhotosAndMusic)
{
    const struct {
        int photos;
        int musicSeconds;
        double best;
    } cases[] = { { 10, 95, 10 }, { 10, 3, 1 }, { 10, 0, 1 }, { 0, 50, 50 } };
    for (const auto& row : cases) {
        DNGraphicsNode album;
        if (row.photos > 0) {
            DNImageNode record;
            record.type = DNImageNode::Folder;
            record.imageNodes.resize(static_cast<std::size_t>(row.photos));
            album.imageNodes().push_back(record);
        }
        if (row.musicSeconds > 0)
            album.audioTracks().push_back({ "music.mp3", row.musicSeconds });
        EXPECT_EQ(album.bestDisplayDuration(), row.best) << row.photos << " " << row.musicSeconds;
        EXPECT_EQ(album.videoDuration(), 3.0 * row.photos);
    }
    DNGraphicsSetting setting;
    setting.setInterval(4);
    const auto copy = setting.copy();
    EXPECT_EQ(copy->interval(), 4);
    EXPECT_EQ(copy->transitions(), setting.transitions()) << "the same list, not a copy";
}

TEST(DNGraphicsNode, TheRenderedMovieStandsInForTheAlbum)
{
    const struct {
        const char* movie;
        qint32 audioIndex;
    } cases[] = { { TestMedia::kVideoWithAudio, 0 }, { TestMedia::kRate50, -1 } };
    for (const auto& row : cases) {
        DNGraphicsNode album;
        album.initializeConfigOnDidLoadDVDInfo("/photos/Holiday");
        ASSERT_TRUE(album.convertGraphicsNodeToFileNode(TestMedia::path(row.movie))) << row.movie;
        ASSERT_EQ(album.fileNodeForConversion(), album.fileNode());
        EXPECT_EQ(album.fileNode()->nodeInfo().displayName, "Holiday");
        EXPECT_EQ(album.fileNode()->setting().audioIndex(), row.audioIndex) << row.movie;
    }
    DNGraphicsNode album;
    EXPECT_FALSE(album.convertGraphicsNodeToFileNode("/no/such/movie.mov"));
    EXPECT_EQ(album.fileNode(), nullptr);
}

} // namespace
