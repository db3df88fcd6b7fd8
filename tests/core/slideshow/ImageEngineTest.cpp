// The slideshow job and what the engine's output lines mean, without the engine.
#include "platform/ProcessRunner.h"
#include "profiles/DNProfile.h"
#include "services/DNSetting.h"
#include "slideshow/AlbumConversion.h"
#include "slideshow/NXImageEngine.h"
#include "support/OwnerMarks.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

TEST(NXImageEngine, OutputLinesGiveProgressAndTheMovie)
{
    const struct {
        const char* what;
        QStringList reads; // one handleOutput() call each
        quint64 total;
        quint64 current;
        QVariant image;
        QString movie;
    } cases[] = {
        { "progress and result in one read",
            { "progress:120:7:/a/b: c.jpg\nresult:0:/out/Quillon: x.mov\n" }, 120, 7, "/a/b: c.jpg",
            "/out/Quillon: x.mov" },
        { "photo path with colons", { "progress:120:7:/a/b: c.jpg\n" }, 120, 7, "/a/b: c.jpg", "" },
        { "failure code", { "progress:9:1:/p.jpg\n", "result:3:/out/m.mov\n" }, 9, 1, "/p.jpg",
            "" },
        { "three fields change nothing", { "progress:120:7\n" }, 0, 0, QVariant(), "" },
        { "numbers that are none", { "progress:x:7:/p.jpg\n" }, 0, 0, QVariant(), "" },
        { "a later failure takes the movie back",
            { "result:0:/out/m.mov\n", "result:4:/out/m.mov\n" }, 0, 0, QVariant(), "" },
        { "result without a path", { "result:0\n" }, 0, 0, QVariant(), "" },
        { "other lines", { "frame=12 fps=3\n" }, 0, 0, QVariant(), "" },
    };
    for (const auto& row : cases) {
        NXImageEngine engine;
        for (const QString& read : row.reads)
            engine.handleOutput(read);
        EXPECT_EQ(engine.totalFrames(), row.total) << row.what;
        EXPECT_EQ(engine.currentFrame(), row.current) << row.what;
        EXPECT_EQ(engine.currentImagePath(), row.image) << row.what;
        EXPECT_EQ(engine.currentImagePath().isNull(), row.image.isNull()) << row.what;
        EXPECT_EQ(engine.finiallyVideoPath(), row.movie) << row.what;
    }
}

TEST(NXImageEngine, JobNamesAMovieInTheOutputFolderThatIsNotThere)
{
    QTemporaryDir output;
    DNSetting::shareSetting().appSetting().setVideoOutputDirectory(output.path());
    NXImageEngine first;
    first.setShowDuration(2.5);
    first.setVideoFrameResolution({ 852, 480 });
    const QVariantMap job = first.storage();
    const QString target = job.value("targetPath").toString();
    const QRegularExpression name(
        R"(^Quillon \d{4}-\d\d-\d\d at (AM|PM) (0\d|1[01])\.[0-5]\d\.[0-5]\d\.mov$)");
    EXPECT_TRUE(name.match(QFileInfo(target).fileName()).hasMatch()) << target.toStdString();
    EXPECT_EQ(QFileInfo(target).absolutePath(), QDir(output.path()).absolutePath());
    EXPECT_EQ(job.value("showDuration").toDouble(), 2.5);
    EXPECT_EQ(job.value("videoSize").toString(), "{852, 480}");
    EXPECT_TRUE(QFileInfo(job.value("shadingImage").toString()).isFile());
    EXPECT_TRUE(QFileInfo(job.value("blankImage").toString()).isFile());

    QFile(target).open(QIODevice::WriteOnly); // someone's file of that name
    NXImageEngine second;
    const QString next = second.storage().value("targetPath").toString();
    EXPECT_NE(next, target);
    EXPECT_FALSE(QFileInfo::exists(next));
}

// A stand-in slideshow engine of `script` in the tools folder, and a stall
// limit of half a second, for as long as this lives. "@OUTPUT@" in the
// script is the output folder.
class StandInEngine {
public:
    explicit StandInEngine(const QByteArray& script)
        : m_previousTools(qgetenv("QUILLON_TOOLS"))
    {
        DNSetting::shareSetting().appSetting().setVideoOutputDirectory(m_output.path());
        EXPECT_TRUE(writeTestScript(m_tools.filePath("quillon-slideshow-engine"),
            QByteArray(script).replace("@OUTPUT@", QFile::encodeName(m_output.path()))));
        qputenv("QUILLON_TOOLS", QFile::encodeName(m_tools.path()));
        setEngineStallLimit(std::chrono::milliseconds(500));
    }
    ~StandInEngine()
    {
        qputenv("QUILLON_TOOLS", m_previousTools);
        setEngineStallLimit(std::chrono::minutes(2));
    }
    StandInEngine(const StandInEngine&) = delete;
    StandInEngine& operator=(const StandInEngine&) = delete;

    QString outputPath(const QString& name) const { return m_output.filePath(name); }
    QStringList outputFiles() const
    {
        return QDir(m_output.path()).entryList(QDir::Files | QDir::Hidden);
    }

private:
    QTemporaryDir m_tools;
    QTemporaryDir m_output;
    const QByteArray m_previousTools;
};

// A stand-in engine that starts its partial movie, reports one frame and then
// neither moves on nor writes is ended at the stall limit; the render fails
// with that reason and leaves no movie, not even the partial the engine could
// not remove.
TEST(NXImageEngine, AnEngineThatStopsMovingIsEndedAtTheStallLimit)
{
    const StandInEngine standIn("#!/bin/sh\n"
                                "printf x > \"@OUTPUT@/.Quillon x.mov.1.0a1b2c3d.partial.mov\"\n"
                                "echo progress:10:1:/p.jpg\nexec sleep 30\n");
    // The partial as the engine claims it, marked as a process of ours that
    // is gone once the engine is ended.
    const QString partial = standIn.outputPath(".Quillon x.mov.1.0a1b2c3d.partial.mov");
    ASSERT_TRUE(writeTestFile(partial, {}));
    if (!putOwnerMark(partial, markOfAnEndedProcess()))
        GTEST_SKIP() << "this file system keeps no attributes of users";

    NXImageEngine render;
    QElapsedTimer timer;
    timer.start();
    render.beginEncoding();
    EXPECT_LT(timer.elapsed(), 10'000);
    EXPECT_EQ(render.currentFrame(), 1u);
    EXPECT_EQ(render.finiallyVideoPath(), QString());
    EXPECT_EQ(render.failureReason(), "the slideshow engine made no progress for 0.5 s");
    EXPECT_EQ(standIn.outputFiles(), QStringList());
}

// Reading a large album's photos before the first frame takes longer than
// the limit; an engine that reads on is moving.
TEST(NXImageEngine, AnEngineReadingManyPhotosIsNotEnded)
{
    const StandInEngine standIn("#!/bin/sh\nfor i in 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15; do\n"
                                "  echo \"reading:/album/IMG_$i.jpg\"; sleep 0.1\ndone\n"
                                "echo progress:10:10:/album/IMG_15.jpg\n");

    NXImageEngine render;
    render.beginEncoding();
    EXPECT_EQ(render.currentFrame(), 10u);
    EXPECT_NE(render.failureReason(), "the slideshow engine made no progress for 0.5 s");
}

TEST(AlbumConversion, RenderSizeAndRateComeFromTheProfile)
{
    const struct {
        QString resolution; // null: the profile has no such value
        QString rate;
        QSizeF size;
        int fps;
    } cases[] = {
        { "640x480", "25", { 640, 480 }, 25 },
        { "keep origin", "keep origin", { 1280, 720 }, 30 },
        { QString(), QString(), { 1280, 720 }, 30 },
        { "852X480", "29.97", { 852, 480 }, 29 },
        { "1920x1080", "0", { 1920, 1080 }, 30 },
    };
    for (const auto& row : cases) {
        DNProfile profile;
        profile.videoResolution().setCurrentValue(row.resolution);
        profile.videoFrameRate().setCurrentValue(row.rate);
        EXPECT_EQ(AlbumConversion::frameSizeOf(&profile), row.size) << row.resolution.toStdString();
        EXPECT_EQ(AlbumConversion::frameRateOf(&profile), row.fps) << row.rate.toStdString();
    }
    EXPECT_EQ(AlbumConversion::frameSizeOf(nullptr), QSizeF(1280, 720));
    EXPECT_EQ(AlbumConversion::frameRateOf(nullptr), 30);
}

} // namespace
