// The album step end to end: photo folders through slideshow-one into a
// movie and a converted file, and albums that cannot become a movie.
#include "engine/DNVideoConverter.h"
#include "fixtures/MediaFacts.h"
#include "platform/AppPaths.h"
#include "platform/DNLogger.h"
#include "platform/OwnerMark.h"
#include "profiles/DNProfile.h"
#include "services/DNSetting.h"
#include "services/OutputPublishing.h"
#include "slideshow/AlbumConversion.h"
#include "slideshow/DNGraphicsNode.h"
#include "support/OwnerMarks.h"
#include "support/TestFiles.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocale>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>

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
