// The slideshow engine run as the program runs it: a job file in, progress and
// result lines out, a movie checked with ffprobe and read back pixel by pixel.
#include "fixtures/MediaFacts.h"
#include "fixtures/ProfiledPhotos.h"
#include "platform/AppPaths.h"
#include "services/DNSetting.h"
#include "slideshow/NXImageEngine.h"
#include "support/AdoptedOrphans.h"
#include "support/ChildProcesses.h"
#include "support/RunFfmpeg.h"
#include "support/StallLimit.h"
#include "support/TestFiles.h"

#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImageWriter>
#include <QMap>
#include <QPainter>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <future>

#include <sys/stat.h>
#include <sys/wait.h>

namespace {

struct EngineRun {
    int exitCode = -1;
    QString output;
    QString errors;
};

QString enginePath()
{
    return QDir(AppPaths::toolsFolder()).filePath("quillon-slideshow-engine");
}

QString xmlString(const QString& text)
{
    return "<string>" + text.toHtmlEscaped() + "</string>";
}

QString xmlArray(const QStringList& items)
{
    return "<array>" + items.join("") + "</array>";
}

QString xmlStrings(const QStringList& texts)
{
    QStringList items;
    for (const QString& text : texts)
        items << xmlString(text);
    return xmlArray(items);
}

// A JPEG of `image` that asks to be shown turned by EXIF orientation 6 (a
// quarter turn clockwise): an APP1 segment right after the start marker.
QByteArray jpegTurnedClockwise(const QImage& image)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QImageWriter(&buffer, "jpeg").write(image);
    const QByteArray exif = QByteArray("Exif\0\0", 6)
        + QByteArray("MM\0\x2A\0\0\0\x08", 8) // big-endian TIFF header, first directory at 8
        + QByteArray("\0\x01", 2) // one entry
        + QByteArray("\x01\x12\0\x03\0\0\0\x01\0\x06\0\0", 12) // Orientation, SHORT, 1, 6
        + QByteArray("\0\0\0\0", 4); // no next directory
    const int length = int(exif.size()) + 2;
    const QByteArray segment
        = QByteArray("\xFF\xE1", 2) + char(length >> 8) + char(length & 0xFF) + exif;
    QByteArray jpeg = buffer.data();
    return jpeg.insert(2, segment);
}

struct Unmount {
    QString path;
    ~Unmount() { QProcess::execute("umount", { path }); }
};

class SlideshowEngine : public ::testing::Test {
protected:
    // A job with one flat photo, to change entry by entry.
    QMap<QString, QString> baseJob()
    {
        return { { "targetPath", xmlString(out.filePath("movie.mov")) },
            { "showDuration", "<real>1</real>" }, { "effectList", "<array/>" },
            { "imageSquenes", xmlStrings({ flatPhoto("grey.png", 128) }) },
            { "audioList", "<array/>" }, { "videoFPS", "<real>24</real>" },
            { "videoSize", xmlString("{160, 120}") } };
    }

    QString writeJob(const QMap<QString, QString>& entries)
    {
        QString xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>";
        for (auto entry = entries.begin(); entry != entries.end(); ++entry)
            xml += "<key>" + entry.key() + "</key>" + entry.value();
        xml += "</dict></plist>\n";
        const QString path = folder.filePath(QStringLiteral("job%1.plist").arg(++jobCount));
        writeFile(path, xml.toUtf8());
        return path;
    }

    void writeFile(const QString& path, const QByteArray& bytes)
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    QString flatPhoto(const QString& name, int grey, QSize size = { 160, 120 })
    {
        QImage image(size, QImage::Format_RGB32);
        image.fill(qRgb(grey, grey, grey));
        const QString path = folder.filePath(name);
        EXPECT_TRUE(image.save(path));
        return path;
    }

    EngineRun run(const QString& jobPath)
    {
        QProcess engine;
        engine.start(enginePath(), { jobPath });
        EXPECT_TRUE(engine.waitForFinished(120'000)) << "the engine did not end";
        return { engine.exitCode(), QString::fromUtf8(engine.readAllStandardOutput()),
            QString::fromUtf8(engine.readAllStandardError()) };
    }

    // rgb24 pixels of frame `number` of a movie.
    QImage frame(const QString& movie, int number, QSize size)
    {
        QByteArray bytes;
        runFfmpeg({ "-i", "file:" + movie, "-vf", QStringLiteral("select=eq(n\\,%1)").arg(number),
                      "-frames:v", "1", "-f", "rawvideo", "-pix_fmt", "rgb24", "pipe:1" },
            &bytes);
        if (bytes.size() != size.width() * size.height() * 3)
            return {};
        return QImage(reinterpret_cast<const uchar*>(bytes.constData()), size.width(),
            size.height(), size.width() * 3, QImage::Format_RGB888)
            .copy();
    }

    QString makeFifo()
    {
        const QString path = folder.filePath("fifo");
        EXPECT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        return path;
    }

    QStringList leftInOut() const
    {
        return QDir(out.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }

    void SetUp() override
    {
        ASSERT_TRUE(QFile::exists(enginePath())) << enginePath().toStdString();
        ASSERT_TRUE(QDir().mkpath(out.path()));
    }

    QTemporaryDir folder;
    QDir out { folder.filePath("out") };
    int jobCount = 0;
};

TEST_F(SlideshowEngine, FourPhotosAndTwoSongsMakeAMovieOfTheAskedShape)
{
    QImage halves(300, 200, QImage::Format_RGB32);
    halves.fill(qRgb(0, 0, 255));
    for (int y = 0; y < 200; ++y)
        for (int x = 0; x < 150; ++x)
            halves.setPixel(x, y, qRgb(255, 0, 0));
    const QString turned = folder.filePath("turned: [1] été.jpg");
    writeFile(turned, jpegTurnedClockwise(halves));
    QImage bitmap(800, 600, QImage::Format_RGB32);
    bitmap.fill(Qt::darkGreen);
    ASSERT_TRUE(bitmap.save(folder.filePath("small.bmp")));
    const QString mp3 = folder.filePath("one.mp3");
    const QString m4a = folder.filePath("two: ü.m4a");
    ASSERT_TRUE(runFfmpeg({ "-f", "lavfi", "-i", "sine=frequency=440:duration=3", mp3 }));
    ASSERT_TRUE(runFfmpeg({ "-f", "lavfi", "-i", "sine=frequency=660:duration=3:sample_rate=48000",
        "-c:a", "aac", "file:" + m4a }));
    QMap<QString, QString> job = baseJob();
    const QString target = out.filePath("Slides: [x] ñ.mov");
    job["targetPath"] = xmlString(target);
    job["showDuration"] = "<real>2</real>";
    job["effectList"] = "<array><integer>19</integer></array>";
    job["imageSquenes"] = xmlStrings({ turned, flatPhoto("wide.jpg", 90, { 4000, 3000 }),
        flatPhoto("tall.png", 170, { 3000, 4000 }), folder.filePath("small.bmp") });
    job["audioList"] = xmlStrings({ mp3, m4a });
    job["videoSize"] = xmlString("{852, 480}");

    const EngineRun result = run(writeJob(job));
    ASSERT_EQ(result.exitCode, 0) << result.errors.toStdString();
    // Every photo is read before the first frame, and says so.
    EXPECT_TRUE(result.output.startsWith("reading:" + turned + "\n"));
    EXPECT_EQ(result.output.count("reading:"), 4);
    EXPECT_TRUE(result.output.contains("\nprogress:288:0:" + turned + "\n"));
    EXPECT_TRUE(result.output.endsWith("result:0:" + target + "\n"));
    EXPECT_EQ(leftInOut(), QStringList { "Slides: [x] ñ.mov" });

    const MediaFacts facts = MediaFacts::probe("file:" + target);
    ASSERT_TRUE(facts.ok) << facts.error.toStdString();
    const StreamFacts video = facts.stream("video");
    EXPECT_EQ(video.width, 852);
    EXPECT_EQ(video.height, 480);
    EXPECT_EQ(video.frameRate, "24/1");
    EXPECT_NEAR(video.duration, 12, 1.0 / 24);
    EXPECT_EQ(facts.stream("audio").codecName, "aac");
    EXPECT_NEAR(facts.stream("audio").duration, video.duration, 1.0 / 24);

    // Upright, the photo is red above blue, 320 x 480 in the middle.
    const QImage first = frame(target, 12, { 852, 480 });
    ASSERT_FALSE(first.isNull());
    EXPECT_GT(qRed(first.pixel(500, 100)), 200);
    EXPECT_LT(qBlue(first.pixel(500, 100)), 60);
    EXPECT_GT(qBlue(first.pixel(500, 380)), 200);
    EXPECT_LT(qRed(first.pixel(500, 380)), 60);
}

TEST_F(SlideshowEngine, TransitionsMeetInTheMiddle)
{
    const struct {
        const char* effect;
        int frame; // of the transition, which runs from frame 24 to 47
        int left;
        int right;
    } cases[] = {
        { "11", 35, 130, 130 }, // fade: the mean of the two greys
        { "7", 36, 200, 60 }, // push: the new photo has come in from the left
    };
    for (const auto& row : cases) {
        QMap<QString, QString> job = baseJob();
        const QString target = out.filePath(QStringLiteral("effect%1.mov").arg(row.effect));
        job["targetPath"] = xmlString(target);
        job["effectList"] = QStringLiteral("<array><integer>%1</integer></array>").arg(row.effect);
        job["imageSquenes"]
            = xmlStrings({ flatPhoto("dark.png", 60), flatPhoto("light.png", 200) });
        const EngineRun result = run(writeJob(job));
        ASSERT_EQ(result.exitCode, 0) << result.errors.toStdString();
        const QImage middle = frame(target, row.frame, { 160, 120 });
        ASSERT_FALSE(middle.isNull());
        EXPECT_NEAR(qGreen(middle.pixel(20, 60)), row.left, 10) << row.effect;
        EXPECT_NEAR(qGreen(middle.pixel(140, 60)), row.right, 10) << row.effect;
    }
}

TEST_F(SlideshowEngine, BadJobsFailWithAReasonAndLeaveNoFile)
{
    writeFile(out.filePath("taken.mov"), "mine");
    writeFile(folder.filePath("empty.jpg"), "");
    writeFile(folder.filePath("garbage.png"), "not a picture at all");
    writeFile(folder.filePath("text.plist"), "frames please");
    writeFile(folder.filePath("deep.plist"),
        "<plist><dict><key>imageSquenes</key>" + QByteArray("<array>").repeated(200000));
    // A binary list of {"targetPath": "/\u00e9\0.mov"}, in UTF-16 as non-ASCII text is kept.
    writeFile(folder.filePath("zero.plist"),
        QByteArray::fromHex("62706c6973743030d101025a7461726765745061746867002f00e90000002e006d"
                            "006f0076080b1600000000000001010000000000000003000000000000000000"
                            "00000000000025"));
    const QString fifo = makeFifo();
    const auto changed = [this](const QString& key, const QString& value) {
        QMap<QString, QString> job = baseJob();
        job[key] = value;
        return writeJob(job);
    };
    const struct {
        const char* what;
        QString jobPath;
        int code;
        QString reason;
    } cases[] = {
        { "missing job file", folder.filePath("nothing.plist"), 1, "cannot open the job file" },
        { "not a property list", folder.filePath("text.plist"), 1, "is not a property list" },
        { "nested 200,000 deep", folder.filePath("deep.plist"), 1, "nests deeper than 256 levels" },
        { "device as job", "/dev/zero", 1, "\"/dev/zero\": not a regular file" },
        { "FIFO as job", fifo, 1, "fifo\": not a regular file" },
        { "relative target", changed("targetPath", xmlString("movie.mov")), 1,
            "\"movie.mov\" is not an absolute path" },
        { "zero byte in a path", folder.filePath("zero.plist"), 1,
            "\"targetPath\" holds a zero byte" },
        { "wrong type", changed("videoFPS", xmlString("24")), 1, "\"videoFPS\" is not a number" },
        { "wrong size", changed("videoSize", xmlString("160x120")), 1, "\"videoSize\"" },
        { "empty photo list", changed("imageSquenes", "<array/>"), 2, "lists no photos" },
        { "no readable photo",
            changed("imageSquenes",
                xmlStrings({ folder.filePath("empty.jpg"), folder.filePath("garbage.png") })),
            2, "none of the 2 photos can be read" },
        { "device and FIFO as photos", changed("imageSquenes", xmlStrings({ "/dev/zero", fifo })),
            2, "cannot read the photo \"/dev/zero\" (not a regular file)" },
        { "existing target", changed("targetPath", xmlString(out.filePath("taken.mov"))), 3,
            "exists already" },
    };
    for (const auto& row : cases) {
        const EngineRun result = run(row.jobPath);
        EXPECT_EQ(result.exitCode, row.code) << row.what;
        EXPECT_TRUE(result.output.contains(QStringLiteral("result:%1:").arg(row.code))) << row.what;
        EXPECT_TRUE(result.errors.contains(row.reason))
            << row.what << ": " << result.errors.toStdString();
        EXPECT_EQ(leftInOut(), QStringList { "taken.mov" }) << row.what;
    }
    QFile taken(out.filePath("taken.mov"));
    ASSERT_TRUE(taken.open(QIODevice::ReadOnly));
    EXPECT_EQ(taken.readAll(), "mine");
}

TEST_F(SlideshowEngine, FfmpegDecodesThePhotosColoursAtHdAndSdSizes)
{
    // Saturated colours show a wrong matrix most (green comes back as 216).
    const QRgb colours[]
        = { qRgb(0, 255, 0), qRgb(255, 0, 0), qRgb(0, 0, 255), qRgb(230, 170, 120) };
    // Range, matrix, transfer and primaries, as players read them.
    const struct {
        QSize size;
        const char* tags;
    } cases[] = { { { 1280, 720 }, "tv,bt709,bt709,bt709" },
        { { 640, 480 }, "tv,smpte170m,bt709,bt709" } };
    for (const auto& [size, tags] : cases) {
        const int band = size.width() / 4;
        QImage bands(size, QImage::Format_RGB32);
        QPainter painter(&bands);
        for (int index = 0; index < 4; ++index)
            painter.fillRect(index * band, 0, band, size.height(), QColor(colours[index]));
        painter.end();
        const QString photo = folder.filePath(QStringLiteral("bands%1.png").arg(size.width()));
        ASSERT_TRUE(bands.save(photo));
        QMap<QString, QString> job = baseJob();
        const QString target = out.filePath(QStringLiteral("bands%1.mov").arg(size.width()));
        job["targetPath"] = xmlString(target);
        job["imageSquenes"] = xmlStrings({ photo });
        job["videoSize"]
            = xmlString(QStringLiteral("{%1, %2}").arg(size.width()).arg(size.height()));
        const EngineRun result = run(writeJob(job));
        ASSERT_EQ(result.exitCode, 0) << result.errors.toStdString();
        QProcess probe;
        probe.start("ffprobe",
            { "-v", "error", "-select_streams", "v:0", "-show_entries",
                "stream=color_range,color_space,color_transfer,color_primaries", "-of", "csv=p=0",
                "file:" + target });
        ASSERT_TRUE(probe.waitForFinished(30'000));
        EXPECT_EQ(probe.readAllStandardOutput().trimmed().toStdString(), tags);
        const QImage decoded = frame(target, 12, size);
        ASSERT_FALSE(decoded.isNull());
        for (int index = 0; index < 4; ++index) {
            const QColor seen = decoded.pixelColor(index * band + band / 2, size.height() / 2);
            const QColor made(colours[index]);
            for (const auto channel : { &QColor::red, &QColor::green, &QColor::blue })
                EXPECT_NEAR((seen.*channel)(), (made.*channel)(), 4)
                    << size.width() << "x" << size.height() << ", band " << index;
        }
    }
}

// A print photo is shown in the colours its CMYK profile gives its inks; a
// photo whose profile cannot be used is shown as stored, and named.
TEST_F(SlideshowEngine, PhotosAreShownThroughTheProfilesTheyCarry)
{
    const QByteArray profile = ProfiledPhotos::cmykProfile();
    const QList<std::array<int, 4>> inks { { 0, 255, 255, 0 }, { 230, 140, 20, 30 },
        { 0, 0, 0, 128 } };
    const QString print = folder.filePath("print.jpg");
    writeFile(print, ProfiledPhotos::cmykJpeg(inks, profile, true));
    QBuffer plain;
    plain.open(QIODevice::WriteOnly);
    QImageWriter(&plain, "jpeg").write(QImage(96, 32, QImage::Format_RGB32));
    const QString unusable = folder.filePath("unusable profile.jpg");
    writeFile(unusable, ProfiledPhotos::withJpegProfile(plain.data(), "no profile at all"));
    QMap<QString, QString> job = baseJob();
    job["imageSquenes"] = xmlStrings({ print, unusable });
    const EngineRun result = run(writeJob(job));
    ASSERT_EQ(result.exitCode, 0) << result.errors.toStdString();
    EXPECT_TRUE(result.errors.contains(
        QStringLiteral("The colour profile of the photo %1 cannot be applied").arg(unusable)))
        << result.errors.toStdString();
    EXPECT_FALSE(result.errors.contains(print)) << result.errors.toStdString();
    const QImage decoded = frame(out.filePath("movie.mov"), 12, { 160, 120 });
    ASSERT_FALSE(decoded.isNull());
    for (int band = 0; band < 3; ++band) {
        const QColor seen = decoded.pixelColor(160 * (2 * band + 1) / 6, 60);
        const auto& ink = inks[band];
        const QColor truth = ProfiledPhotos::inSrgb(
            profile, ProfiledPhotos::Samples::Cmyk, { ink[0], ink[1], ink[2], ink[3] });
        for (const auto channel : { &QColor::red, &QColor::green, &QColor::blue })
            EXPECT_NEAR((seen.*channel)(), (truth.*channel)(), 6)
                << "band " << band << " is " << seen.name().toStdString() << ", the profile says "
                << truth.name().toStdString();
    }
}

TEST_F(SlideshowEngine, UnusableMusicIsLeftOutAndTheSlideshowRenders)
{
    writeFile(folder.filePath("garbage.mp3"), "not music at all");
    writeFile(folder.filePath("empty.m4a"), "");
    // Anything named like a song: it opens as an MP3 whose sound has no rate.
    QByteArray noise(300 * 1024, '\0');
    QRandomGenerator(62).fillRange(reinterpret_cast<quint32*>(noise.data()), noise.size() / 4);
    writeFile(folder.filePath("track 03.mp3"), noise);
    const QString video = folder.filePath("video only.mp4");
    const QString tone = folder.filePath("tone.mp3");
    ASSERT_TRUE(runFfmpeg({ "-f", "lavfi", "-i", "testsrc2=size=160x120:duration=1", video }));
    ASSERT_TRUE(runFfmpeg({ "-f", "lavfi", "-i", "sine=duration=3", tone }));
    const QStringList unusable { folder.filePath("garbage.mp3"), folder.filePath("empty.m4a"),
        folder.filePath("track 03.mp3"), video, makeFifo(), "/dev/zero" };
    QMap<QString, QString> job = baseJob();
    job["audioList"] = xmlStrings(QStringList(unusable) << tone);
    const EngineRun result = run(writeJob(job));
    ASSERT_EQ(result.exitCode, 0) << result.errors.toStdString();
    for (const QString& path : unusable)
        EXPECT_TRUE(result.errors.contains("cannot use the music \"" + path + "\""))
            << path.toStdString();
    EXPECT_FALSE(result.errors.contains(tone));
    EXPECT_EQ(
        MediaFacts::probe("file:" + out.filePath("movie.mov")).stream("audio").codecName, "aac");
}

TEST_F(SlideshowEngine, TermSignalEndsTheRenderAndLeavesNothing)
{
    // Orphans would otherwise be handed to init, out of our sight.
    const AdoptedOrphans orphans;
    ASSERT_TRUE(orphans.adopting());
    QMap<QString, QString> job = baseJob();
    job["showDuration"] = "<real>600</real>";
    const QString jobPath = writeJob(job);
    QProcess engine;
    engine.start(enginePath(), { jobPath });
    QByteArray line;
    while (!line.startsWith("progress:")) {
        while (!engine.canReadLine())
            ASSERT_TRUE(engine.waitForReadyRead(30'000)) << "no progress line";
        line = engine.readLine();
    }
    QElapsedTimer clock;
    clock.start();
    ::kill(static_cast<pid_t>(engine.processId()), SIGTERM);
    ASSERT_TRUE(engine.waitForFinished(10'000));
    // A stop is to end the render within a second; the margin is for a loaded machine.
    EXPECT_LT(clock.elapsed(), 3000);
    EXPECT_EQ(engine.exitCode(), 5);
    EXPECT_TRUE(engine.readAllStandardOutput().contains("result:5:"));
    EXPECT_TRUE(engine.readAllStandardError().contains("stopped"));
    EXPECT_TRUE(leftInOut().isEmpty());
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1) << "a child of the engine was left behind";
    EXPECT_EQ(errno, ECHILD);
}

// Another writer takes the target while the movie is made: the movie takes
// the next free name, says so, and the other file stays as it was.
TEST_F(SlideshowEngine, ATargetTakenDuringTheRenderGivesTheNextFreeName)
{
    // Long enough that the other file is there well before the movie is done.
    QMap<QString, QString> job = baseJob();
    job["showDuration"] = "<real>10</real>";
    QProcess engine;
    engine.start(enginePath(), { writeJob(job) });
    while (!engine.canReadLine())
        ASSERT_TRUE(engine.waitForReadyRead(30'000)) << "no progress line";
    writeFile(out.filePath("movie.mov"), "theirs");
    ASSERT_TRUE(engine.waitForFinished(120'000));
    EXPECT_EQ(engine.exitCode(), 0) << engine.readAllStandardError().toStdString();
    EXPECT_TRUE(engine.readAllStandardOutput().endsWith(
        "result:0:" + out.filePath("movie (1).mov").toUtf8() + "\n"));
    EXPECT_EQ(readTestFile(out.filePath("movie.mov")), "theirs");
    EXPECT_NEAR(MediaFacts::probe("file:" + out.filePath("movie (1).mov")).duration, 11, 0.2);
    EXPECT_EQ(leftInOut().size(), 2);
}

// The album step's render, stopped after another writer took its target:
// only what the engine made is removed, and it made nothing at the target.
TEST_F(SlideshowEngine, AStoppedAlbumRenderLeavesTheFileAnotherWriterPutAtItsTarget)
{
    DNSetting::shareSetting().appSetting().setVideoOutputDirectory(out.path());
    NXImageEngine engine;
    engine.setShowDuration(600);
    engine.setDataSource({ flatPhoto("grey.png", 128) });
    engine.setVideoFrameResolution({ 160, 120 });
    engine.setFrameRate(24);
    const QString target = engine.storage().value("targetPath").toString();
    auto render = std::async(std::launch::async, [&engine] { engine.beginEncoding(); });
    ASSERT_TRUE(QTest::qWaitFor([&engine] { return engine.totalFrames() > 0; }, 30'000));
    writeFile(target, "theirs");
    engine.stopEncoding();
    render.get();
    EXPECT_TRUE(engine.finiallyVideoPath().isEmpty());
    EXPECT_EQ(readTestFile(target), "theirs");
    EXPECT_EQ(leftInOut(), QStringList { QFileInfo(target).fileName() });
}

TEST_F(SlideshowEngine, AFullDiskFailsTheRenderAndLeavesNothing)
{
    QProcess mount;
    mount.start("mount", { "-t", "tmpfs", "-o", "size=1m", "tmpfs", out.path() });
    if (!mount.waitForFinished(10'000) || mount.exitCode() != 0)
        GTEST_SKIP() << "cannot mount a small tmpfs here: "
                     << mount.readAllStandardError().toStdString();
    const Unmount unmount { out.path() };
    // Noise fading into noise, which no encoder gets below the megabyte that
    // flat photos would fit in.
    QStringList photos;
    for (const QString name : { "noise1.png", "noise2.png" }) {
        QImage noise(640, 480, QImage::Format_RGB32);
        for (int y = 0; y < noise.height(); ++y)
            for (int x = 0; x < noise.width(); ++x)
                noise.setPixel(x, y, QRandomGenerator::global()->generate() | 0xFF000000);
        photos << folder.filePath(name);
        ASSERT_TRUE(noise.save(photos.last()));
    }
    QMap<QString, QString> job = baseJob();
    job["imageSquenes"] = xmlStrings(photos);
    job["effectList"] = "<array><integer>11</integer></array>";
    job["videoSize"] = xmlString("{640, 480}");
    const EngineRun result = run(writeJob(job));
    EXPECT_EQ(result.exitCode, 4);
    // In the words every engine's full disk is told in.
    EXPECT_TRUE(result.errors.contains("the disk is full: ffmpeg could not write all of its output "
                                       "into \""
        + out.path() + "\", which has "))
        << result.errors.toStdString();
    EXPECT_TRUE(result.errors.contains("No space left on device")) << result.errors.toStdString();
    EXPECT_TRUE(leftInOut().isEmpty());
}

} // namespace

namespace {

// The album render of one photo of `size` into the folder `out`.
void prepareRender(NXImageEngine& engine, const QString& photo, QSizeF size, const QDir& out)
{
    engine.setShowDuration(1);
    engine.setDataSource({ photo });
    engine.setVideoFrameResolution(size);
    engine.setFrameRate(24);
    engine.setTargetPath(out.filePath("movie.mov"));
}

// A program named ffmpeg that stops itself as it starts, first on the PATH
// while this lives.
class StandInFfmpeg {
public:
    explicit StandInFfmpeg(const QByteArray& script)
        : m_path(qgetenv("PATH"))
    {
        EXPECT_TRUE(writeTestScript(m_folder.filePath("ffmpeg"), script));
        qputenv("PATH", QFile::encodeName(m_folder.path()) + ':' + m_path);
    }
    ~StandInFfmpeg() { qputenv("PATH", m_path); }
    StandInFfmpeg(const StandInFfmpeg&) = delete;
    StandInFfmpeg& operator=(const StandInFfmpeg&) = delete;

private:
    QTemporaryDir m_folder;
    const QByteArray m_path;
};

// Our child that runs the slideshow engine, or 0.
pid_t runningEngine()
{
    for (const QString& pid : childProcesses())
        if (readTestFile("/proc/" + pid + "/cmdline").contains("quillon-slideshow-engine"))
            return pid.toInt();
    return 0;
}

} // namespace

// The reason names what ended the render: an ffmpeg killed under the engine;
// an ffmpeg that stopped under the engine (with a frame it does not read, or
// after the last one), and not the engine that waits on it; an engine killed
// by a signal, and by which.
TEST_F(SlideshowEngine, TheReasonNamesWhatEndedTheRender)
{
    const QString photo = flatPhoto("grey.png", 128, { 1280, 720 });
    // A limit this machine keeps now: twice a whole render of the job here.
    QElapsedTimer timer;
    timer.start();
    {
        NXImageEngine measured;
        prepareRender(measured, photo, { 1280, 720 }, out);
        measured.beginEncoding();
        ASSERT_FALSE(measured.finiallyVideoPath().isEmpty())
            << measured.failureReason().toStdString();
        ASSERT_TRUE(QFile::remove(measured.finiallyVideoPath()));
    }
    const auto limit
        = std::max(std::chrono::milliseconds(2 * timer.elapsed()), std::chrono::milliseconds(1000));
    const ScopedStallLimit stallLimit(limit);
    {
        // Killed by a signal, it is named as every engine is, and the engine
        // that ran it is not.
        const StandInFfmpeg killed("#!/bin/sh\nkill -KILL $$\n");
        NXImageEngine engine;
        prepareRender(engine, photo, { 160, 120 }, out);
        engine.beginEncoding();
        EXPECT_EQ(engine.failureReason().toStdString(), "ffmpeg was ended by signal 9 (Killed)");
        EXPECT_TRUE(leftInOut().isEmpty());
    }
    const StandInFfmpeg ffmpeg("#!/bin/sh\nkill -STOP $$\n");
    for (const QSizeF size : { QSizeF(160, 120), QSizeF(1280, 720) }) {
        SCOPED_TRACE(size.width());
        NXImageEngine engine;
        prepareRender(engine, photo, size, out);
        engine.beginEncoding();
        EXPECT_EQ(engine.failureReason().toStdString(),
            ("ffmpeg in the slideshow engine " + stallReason(limit)).toStdString());
        EXPECT_TRUE(leftInOut().isEmpty());
    }

    NXImageEngine engine;
    prepareRender(engine, photo, { 160, 120 }, out);
    auto render = std::async(std::launch::async, [&engine] { engine.beginEncoding(); });
    // Killed once it shows its first photo, well within the limit.
    const bool shown = QTest::qWaitFor(
        [&engine] { return engine.currentImagePath().isValid() && runningEngine() > 0; },
        int(limit.count()));
    EXPECT_TRUE(shown);
    if (shown)
        ::kill(runningEngine(), SIGKILL);
    render.get();
    if (shown) {
        EXPECT_EQ(engine.failureReason().toStdString(),
            "the slideshow engine was ended by signal 9 (Killed)");
    }
    EXPECT_TRUE(leftInOut().isEmpty());
}

// A long hold is encoded by ffmpeg from one frame, with no frame drawn and
// nothing read meanwhile: the engine says how far the movie has grown while
// it waits, so that the program sees it move.
TEST_F(SlideshowEngine, TheMovieGrowingWhileFfmpegEncodesAHoldIsReported)
{
    QMap<QString, QString> job = baseJob();
    job["showDuration"] = "<real>60</real>";
    job["videoSize"] = xmlString("{640, 480}");
    QImage noise(640, 480, QImage::Format_RGB32);
    for (int y = 0; y < noise.height(); ++y)
        for (int x = 0; x < noise.width(); ++x)
            noise.setPixel(x, y, QRandomGenerator::global()->generate() | 0xFF000000);
    ASSERT_TRUE(noise.save(folder.filePath("noise.png")));
    job["imageSquenes"] = xmlStrings({ folder.filePath("noise.png") });
    const EngineRun result = run(writeJob(job));
    ASSERT_EQ(result.exitCode, 0) << result.errors.toStdString();
    qint64 last = 0;
    int reports = 0;
    for (const QString& line : result.output.split('\n'))
        if (line.startsWith("written:")) {
            const qint64 size = line.mid(8).toLongLong();
            EXPECT_GT(size, last);
            last = size;
            ++reports;
        }
    EXPECT_GT(reports, 0) << result.output.toStdString();
    EXPECT_LE(last, QFileInfo(out.filePath("movie.mov")).size());
}
