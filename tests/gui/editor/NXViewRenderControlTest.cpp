// The editor's preview player: the fit of arriving pictures, its commands and
// command line against a recording stand-in tool, and the real tool looping a
// clip into both views.
#include "editor/NXViewRenderControl.h"

#include "editor/NXEditMovieView.h"
#include "gui/player/PreviewTestSupport.h"
#include "model/DNFileNode.h"
#include "platform/AppPaths.h"
#include "player/PlayerProcesses.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

namespace {

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Answers like mplayer does what the tests need, and records the rest.
const char* const kFakeTool = R"(#!/bin/sh
dir=$(dirname "$0")
printf '%s\n' "$@" > "$dir/arguments"
pwd > "$dir/cwd"
printf 'ID_LENGTH=500\nA:  60.0 V:  60.0 A-V:  0.0\r'
while IFS= read -r line; do
  printf '%s\n' "$line" >> "$dir/input"
  [ "$line" = pause ] && printf 'ID_PAUSED\n'
  [ "$line" = quit ] && exit 0
done
)";

struct Previews {
    QWidget window;
    NXViewRenderControl control { &window };
    QSignalSpy stopped { &control, &NXViewRenderControl::videoStopped };
    QSignalSpy paused { &control, &NXViewRenderControl::videoPaused };

    void play(const QString& media, double fromSecond, QSizeF scale = { 320, 180 })
    {
        const auto node = std::make_shared<DNFileNode>(media);
        control.setScaleVideoSize(scale);
        control.setScaleVideoSizeFactor(2);
        control.setLimitedLeftTime(fromSecond);
        control.auto_detect_video_format_with_node(node.get());
        control.startPlaybackWithParams({ media, "-identify", "-slave" });
    }
    QImage picture() const { return control.originalView()->currentVideoFrame(); }
    int second() const { return PreviewClips::secondShown(picture(), QRectF(0, 0, 320, 180)); }
    bool waitForSecond(int second)
    {
        return QTest::qWaitFor([&] { return !picture().isNull() && this->second() == second; });
    }
};

QImage withRedLastColumn(QSize size)
{
    QImage picture(size, QImage::Format_RGB32);
    picture.fill(Qt::black);
    for (int y = 0; y < size.height(); ++y)
        picture.setPixel(size.width() - 1, y, qRgb(255, 0, 0));
    return picture;
}

} // namespace

TEST(NXViewRenderControl, BringsArrivingPicturesToTheShownSize)
{
    struct Case {
        QSize media;
        double factor;
        QSize picture;
        QSize shown;
        QPointF scale;
    };
    const Case cases[] = {
        { { 640, 360 }, 2, { 320, 180 }, { 320, 180 }, { 1, 1 } },
        { { 640, 360 }, 2, { 320, 176 }, { 320, 180 }, { 1, 180.0 / 176 } },
        { { 640, 360 }, 640 / 201.0, { 202, 114 }, { 201, 113 }, { 201.0 / 202, 113.0 / 114 } },
        // An unknown source size, or an unknown media size: as they come.
        { { 640, 360 }, 0, { 320, 176 }, { 320, 176 }, { 1, 1 } },
        { { 0, 0 }, 2, { 320, 176 }, { 320, 176 }, { 1, 1 } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.picture.width() * 1000 + c.picture.height());
        NXEditFlags flags;
        flags.originalWidth = c.media.width();
        flags.originalHeight = c.media.height();
        flags.scaleSizeFactor = c.factor;
        NXViewRenderControl::fitPictures(flags, c.picture);
        EXPECT_EQ(QSize(flags.videoWidth, flags.videoHeight), c.shown);
        EXPECT_DOUBLE_EQ(flags.transform.m11(), c.scale.x());
        EXPECT_DOUBLE_EQ(flags.transform.m22(), c.scale.y());
        const QImage shown = NXViewRenderControl::shownPicture(withRedLastColumn(c.picture), flags);
        EXPECT_EQ(shown.size(), c.shown);
        // The player's repeated column is cut off, never squeezed in.
        if (c.picture == QSize(202, 114)) {
            EXPECT_EQ(shown.pixel(200, 50), qRgb(0, 0, 0));
        }
    }
}

TEST(NXViewRenderControl, CommandsLimitsAndCommandLine)
{
    QTemporaryDir tools;
    QFile tool(tools.filePath("DORavuzo"));
    ASSERT_TRUE(tool.open(QIODevice::WriteOnly));
    tool.write(kFakeTool);
    tool.close();
    tool.setPermissions(QFile::ExeOwner | QFile::ReadOwner);
    const QByteArray previousTools = qgetenv("QUILLON_TOOLS");
    qputenv("QUILLON_TOOLS", tools.path().toUtf8());
    QDir(AppPaths::picturesFolder()).removeRecursively();
    {
        Previews previews;
        auto& control = previews.control;
        previews.play("clip.mp4", 12.6);
        EXPECT_EQ(control.status(), 2);
        // One number per receiver of the process; tests before may have taken some.
        const QString name = control.videoEditRender()->connectionName();
        const int receiver = name.section("->", 1).toInt();
        EXPECT_GE(receiver, 1);
        EXPECT_EQ(name, QStringLiteral("EDIT_VIDEO_BUFFER_NAME_1->%1").arg(receiver));
        ASSERT_TRUE(QTest::qWaitFor([&] { return control.currentPlaybackTime() == 60; }));
        // The player's length stands only where the editor gave none.
        EXPECT_EQ(control.duration(), 500);
        control.setDuration(120);
        EXPECT_EQ(control.currentPlaybackPercent(), 50);
        EXPECT_EQ(control.convertTimeToPercent(60), 0.5);
        control.setPercentageLimitedLeftTime(0.25, 0.75);
        EXPECT_EQ(control.flags().leftLimitedTime, 30);
        EXPECT_EQ(control.flags().rightLimitedTime, 90);
        control.seekToDurationInPercent(50);
        control.skipDefaultSeconds();
        control.pauseOrContinue();
        ASSERT_TRUE(QTest::qWaitFor([&] { return control.isPaused(); }));
        control.skipSeconds(5);
        control.setPlayerVolume(75);
        const QByteArray written = "seek 60.0 2\nseek 5.0 0\npause\nseek 5.0 0\n pause\n"
                                   "set_property volume 75.00\n pause\n";
        EXPECT_TRUE(QTest::qWaitFor([&] { return readAll(tools.filePath("input")) == written; }));
        // Restarted in place: the same link, and the first player goes.
        previews.play("clip.mp4", 12.6);
        EXPECT_EQ(control.videoEditRender()->connectionName(), name);
        EXPECT_TRUE(QTest::qWaitFor([] { return PlayerProcesses::shared().count() == 1; }));
        EXPECT_EQ(QString::fromUtf8(readAll(tools.filePath("arguments"))),
            "clip.mp4\n-identify\n-slave\n-osdlevel\n0\n-ao\ncoreaudio\n-vf\nscale=320:180\n"
            "-evensides\n-ss\n12.6\n-vo\ncorevideo:buffer_name=\""
                + name + "\"\n-volume\n50.00\n-loop\n0\n");
        EXPECT_EQ(readAll(tools.filePath("cwd")).trimmed(),
            QFileInfo(AppPaths::picturesFolder()).canonicalFilePath().toUtf8());
        control.stopPlay();
        ASSERT_TRUE(previews.stopped.wait());
        EXPECT_EQ(control.status(), 0);
        // Scaled to an odd side: the tool is not told the sides are even, and pads.
        QFile::remove(tools.filePath("arguments"));
        previews.play("clip.mp4", 0, { 201, 113 });
        EXPECT_EQ(control.videoEditRender()->connectionName(),
            QStringLiteral("EDIT_VIDEO_BUFFER_NAME_1->%1").arg(receiver + 1));
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return readAll(tools.filePath("arguments")).contains("-loop\n0\n"); }));
        const QByteArray arguments = readAll(tools.filePath("arguments"));
        EXPECT_TRUE(arguments.contains("\nscale=201:113\n"));
        EXPECT_FALSE(arguments.contains("-evensides"));
        control.stopPlay();
        ASSERT_TRUE(previews.stopped.wait());
    }
    qputenv("QUILLON_TOOLS", previousTools);
}

TEST(NXViewRenderControl, LoopsTheClipFromTheLeftLimitIntoBothViews)
{
    qputenv("QUILLON_PLAYER_AO", "null");
    QTemporaryDir folder;
    const QString clip = folder.filePath("shades 3.mp4");
    ASSERT_TRUE(PreviewClips::makeShades(clip, 3));
    Previews previews;
    QSignalSpy started(&previews.control, &NXViewRenderControl::videoStarted);
    QSignalSpy announced(&previews.control, &NXViewRenderControl::videoWillStartAction);
    previews.play(clip, 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !previews.picture().isNull(); }, 10000));
    EXPECT_EQ(previews.second(), 1);
    EXPECT_EQ(previews.picture().size(), QSize(320, 180));
    ASSERT_TRUE(previews.waitForSecond(2));
    ASSERT_TRUE(previews.waitForSecond(1)) << "back to the left limit";
    EXPECT_EQ(started.count(), 1);
    EXPECT_EQ(announced.count(), 1);
    const QImage original = previews.picture();
    EXPECT_EQ(previews.control.effectView()->currentVideoFrame().cacheKey(), original.cacheKey());
    EXPECT_NEAR(qGray(original.pixel(200, 100)), 130, 3) << "the source's grey, scaled";
    NXEditMovieView& effect = *previews.control.effectView();
    effect.setEnableCropEffect(true);
    effect.setCropRect(QRectF(0, 90, 160, 90));
    EXPECT_EQ(effect.resultOfImageFilterFromImage(original).size(), QSize(160, 90));
    EXPECT_EQ(previews.control.originalView()->resultOfImageFilterFromImage(original), original);

    // Pictures that came while the interface was busy and are still unread
    // when the player is stopped are not shown in the views cleared after it.
    QThread::msleep(500);
    previews.control.stopPlay();
    for (NXEditMovieView* view : { previews.control.originalView(), &effect })
        view->setCurrentVideoFrame({});
    ASSERT_TRUE(previews.stopped.wait());
    EXPECT_TRUE(previews.picture().isNull());
    EXPECT_TRUE(effect.currentVideoFrame().isNull());
}

// With the trim on, the player loops the trimmed range: from its start, never
// past its end (the last picture is the one before the end's own second).
TEST(NXViewRenderControl, LoopsTheTrimmedRangeOnly)
{
    qputenv("QUILLON_PLAYER_AO", "null");
    QTemporaryDir folder;
    const QString clip = folder.filePath("shades 6.mp4");
    ASSERT_TRUE(PreviewClips::makeShades(clip, 6));
    Previews previews;
    previews.control.setTrimEnabled(true);
    previews.control.setLimitedLeftTime(1, 3);
    previews.play(clip, 1);
    int latest = -1;
    const auto reaches = [&](int second) {
        return QTest::qWaitFor(
            [&] {
                if (!previews.picture().isNull())
                    latest = std::max(latest, previews.second());
                return !previews.picture().isNull() && previews.second() == second;
            },
            10'000);
    };
    ASSERT_TRUE(reaches(2));
    ASSERT_TRUE(reaches(1)) << "back to the start";
    ASSERT_TRUE(reaches(2));
    EXPECT_LE(latest, 2);
    previews.control.stopPlay();
    ASSERT_TRUE(previews.stopped.wait());
}

// mplayer lands on the key frame after where it is asked to start: with the
// clip's only key frame at its start, the trim is still shown from its first
// second, and never a picture before it, loop after loop.
TEST(NXViewRenderControl, ShowsTheTrimFromItsStartWhereNoKeyFrameIs)
{
    qputenv("QUILLON_PLAYER_AO", "null");
    QTemporaryDir folder;
    const QString clip = folder.filePath("shades one key.mp4");
    ASSERT_TRUE(PreviewClips::makeShades(clip, 8, false, 8));
    Previews previews;
    previews.control.setTrimEnabled(true);
    previews.control.setLimitedLeftTime(3, 5);
    previews.play(clip, 3);
    QList<int> shown;
    const auto reaches = [&](int second) {
        return QTest::qWaitFor(
            [&] {
                if (!previews.picture().isNull()
                    && (shown.isEmpty() || shown.last() != previews.second()))
                    shown << previews.second();
                return !shown.isEmpty() && shown.last() == second;
            },
            20'000);
    };
    ASSERT_TRUE(reaches(4));
    ASSERT_TRUE(reaches(3)) << "back to the start";
    ASSERT_TRUE(reaches(4));
    EXPECT_EQ(shown, QList<int>({ 3, 4, 3, 4 }));
    previews.control.stopPlay();
    ASSERT_TRUE(previews.stopped.wait());
}

// The range reaches the player as it was set, to the millisecond: rounded to
// seconds it moved the trim's ends, and a short trim ended where it began.
TEST(NXViewRenderControl, TheLoopedRangeReachesThePlayerToTheMillisecond)
{
    QTemporaryDir tools;
    ASSERT_TRUE(writeTestScript(tools.filePath("DORavuzo"),
        "#!/bin/sh\necho \"$*\" >> \"$(dirname \"$0\")/starts\"\n"
        "while IFS= read -r line; do [ \"$line\" = quit ] && exit 0; done\n"));
    const QByteArray previousTools = qgetenv("QUILLON_TOOLS");
    const auto restore = qScopeGuard([&] { qputenv("QUILLON_TOOLS", previousTools); });
    qputenv("QUILLON_TOOLS", tools.path().toUtf8());
    const struct {
        bool trim;
        double left, right;
        const char* range;
    } cases[] = {
        { true, 10.6, 12.4, " -ss 10.6 -endpos 1.8 " },
        { true, 5, 5.3, " -ss 5 -endpos 0.3 " },
        { true, 15, 40, " -ss 15 -endpos 25 " },
        { false, 7.25, 40, " -ss 7.25 -vo " },
    };
    Previews previews;
    for (const auto& c : cases) {
        previews.control.setTrimEnabled(c.trim);
        previews.control.setLimitedLeftTime(c.left, c.right);
        previews.control.startPlaybackWithParams({ "clip.mp4", "-identify", "-slave" });
        ASSERT_TRUE(QTest::qWaitFor([&] {
            return QString::fromUtf8(readTestFile(tools.filePath("starts"))).contains(c.range);
        })) << c.range
            << readTestFile(tools.filePath("starts")).toStdString();
    }
    previews.control.stopPlay();
}

TEST(NXViewRenderControl, PausedCommandsKeepThePauseAndEndsAreReported)
{
    qputenv("QUILLON_PLAYER_AO", "null");
    QTemporaryDir folder;
    const QString clip = folder.filePath("shades 10.mp4");
    ASSERT_TRUE(PreviewClips::makeShades(clip, 10));
    Previews previews;
    auto& control = previews.control;
    previews.play(clip, 0);
    ASSERT_TRUE(previews.waitForSecond(0));
    control.pauseOrContinue();
    ASSERT_TRUE(previews.paused.wait());
    control.skipSeconds(5);
    // Pictures already on their way when the pause came may still arrive first.
    EXPECT_TRUE(QTest::qWaitFor([&] { return previews.second() >= 5; }));
    ASSERT_TRUE(QTest::qWaitFor([&] { return previews.paused.count() == 2; }));
    // A paused seek may bring a second picture of the same second; a paused
    // player never shows a later second.
    const int seeked = previews.second();
    QTest::qWait(1000);
    EXPECT_EQ(previews.second(), seeked) << "still paused";
    control.setPlayerVolume(75);
    ASSERT_TRUE(QTest::qWaitFor([&] { return previews.paused.count() == 3; }));
    EXPECT_TRUE(control.isPaused());
    control.pauseOrContinue();
    ASSERT_TRUE(QTest::qWaitFor([&] { return previews.second() > seeked; }));
    EXPECT_TRUE(PlayerProcesses::shared().killAll(std::chrono::seconds(2)));
    ASSERT_TRUE(previews.stopped.wait());
    EXPECT_EQ(control.videoEditRender(), nullptr);
    EXPECT_EQ(PlayerProcesses::shared().count(), 0);

    // A file that does not play ends without a picture.
    QFile junk(folder.filePath("junk.mp4"));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write(QByteArray(65536, '\x5a'));
    junk.close();
    previews.control.originalView()->setCurrentVideoFrame({});
    previews.play(junk.fileName(), 0);
    ASSERT_TRUE(previews.stopped.wait(5000));
    EXPECT_TRUE(previews.picture().isNull());
}
