// The main preview with the real player tool: from the main window's Play to
// the picture, a seek, a snapshot and the end; the picture's place in the
// view; files that do not play; DVD titles at their display aspect.
#include "gui/player/PreviewTestSupport.h"
#include "support/AdoptedOrphans.h"

#include "fixtures/TestDisc.h"
#include "list/NXMediaListModel.h"
#include "list/NXMediaTableView.h"
#include "model/DNDVDNode.h"
#include "model/DNFileNode.h"
#include "platform/DNLogger.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"
#include "player/MPlayerVideoRenderer.h"
#include "player/NXMPlayerControl.h"
#include "player/NXMPlayerPictureView.h"
#include "player/NXMPlayerView.h"
#include "profiles/DNProfileManager.h"
#include "services/DNSetting.h"
#include "shell/NXAppController.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

#include <cmath>
#include <optional>

#include <unistd.h>

namespace {

QImage grabPicture(const NXMPlayerView& view)
{
    return view.pictureView()->grab().toImage();
}

// Our tools and their mplayer: those running, or those that have ended and
// wait for the event loop to reap them (the test reaps nothing itself).
QStringList ourPlayers(bool ended = false)
{
    QStringList found;
    for (const QString& pid : QDir("/proc").entryList(QDir::Dirs)) {
        QFile stat("/proc/" + pid + "/stat");
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = stat.readAll();
        const QByteArray name
            = text.mid(text.indexOf('(') + 1, text.lastIndexOf(')') - text.indexOf('(') - 1);
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if ((name == "DORavuzo" || name == "mplayer") && (fields.value(0) == "Z") == ended
            && fields.value(1).toLongLong() == ::getpid())
            found << QString::fromUtf8(name);
    }
    return found;
}

QByteArray readLog()
{
    QFile log(DNLogger::shareRoughLog().path());
    return log.open(QIODevice::ReadOnly) ? log.readAll() : QByteArray();
}

// Waits, as long as a hang allows, without running the event loop.
bool waitUntilWithoutEvents(const std::function<bool()>& done)
{
    QDeadlineTimer deadline(kHangMs);
    while (!done() && !deadline.hasExpired())
        QThread::msleep(10);
    return done();
}

// A short H.264 clip of one of ffmpeg's own sources.
bool makeClip(const QString& source, const QString& output)
{
    return PreviewClips::ffmpeg({ "-f", "lavfi", "-i", source, "-c:v", "libx264", "-preset",
                                    "ultrafast", "-pix_fmt", "yuv420p" },
        output);
}

// The main preview on its own, with what its player posted.
struct LonePreview {
    explicit LonePreview(const QString& folder)
        : defaults(folder + "/defaults.conf")
        , player(defaults)
        , view(*player.render())
    {
        view.setDelegate(&player);
        player.setSurface(&view);
        view.show();
        NotificationCenter::defaultCenter().addObserver(
            {}, &player, &view, [this](const Notification& note) { posted << note.name; });
    }
    void playOverAndOver(const QString& clip)
    {
        player.startPlaybackWithParams({ clip, "-identify", "-slave", "-nosound", "-loop", "0" });
    }

    UserDefaults defaults;
    NXMPlayerControl player;
    NXMPlayerView view;
    QStringList posted;
};

} // namespace

TEST(MainPreview, PlaysSeeksSnapsAndEndsFromTheMainWindowLeavingNothingRunning)
{
    const AdoptedOrphans orphans;
    ASSERT_TRUE(orphans.adopting());
    QTemporaryDir folder;
    const QString clip = folder.filePath("shades été.mp4");
    ASSERT_TRUE(PreviewClips::makeShades(clip, 5));
    const QString shots = folder.filePath("shots");
    QDir().mkpath(shots);
    QFile mine(shots + "/shot0001.png");
    ASSERT_TRUE(mine.open(QIODevice::WriteOnly) && mine.write("not a picture") > 0);
    mine.close();
    DNSetting::shareSetting().appSetting().setSnapshotDirectory(shots);
    {
        PreviewWindow main;
        main.window->addOpenedFiles({ clip });
        ASSERT_EQ(main.window->mediaNodes().size(), 1U);
        const auto node = main.window->mediaNodes().front();
        main.window->tableView()->selectAll();
        main.window->playOrStop();
        ASSERT_TRUE(main.waitFor(NXMPlayerControl::kPlaybackDidStart));
        ASSERT_TRUE(main.waitFor(NXMPlayerControl::kPlaybackDurationAvailable));
        // The length is told a tenth of a second after mplayer names it, which on a busy
        // machine can be before the first picture comes: only the start's two keep an order.
        const QStringList startOrder { NXMPlayerControl::kPlaybackWillStart,
            NXMPlayerControl::kPlaybackDidStart };
        QStringList starts = main.posted;
        starts.removeIf([&](const QString& name) { return !startOrder.contains(name); });
        EXPECT_EQ(starts.join(", ").toStdString(), startOrder.join(", ").toStdString());
        EXPECT_TRUE(node->isPlaying());
        const QModelIndex row = main.window->listModel()->index(0, 0);
        EXPECT_TRUE(row.data(Qt::FontRole).value<QFont>().bold()) << "the playing mark";

        ASSERT_TRUE(waitUntil([&] { return main.player()->currentPlaybackTime() >= 2; }));
        main.player()->seekToDuration(3);
        const QRectF picture = main.player()->render()->curTextureFrame();
        EXPECT_TRUE(waitUntil(
            [&] { return PreviewClips::secondShown(grabPicture(main.view()), picture) == 3; },
            1000));
        EXPECT_TRUE(main.window->playbackTimeLabel()->text().endsWith("/ 00:00:05"));

        main.player()->getSnapshotAtCurrentTime();
        EXPECT_TRUE(waitUntil([&] { return QFile::exists(shots + "/shot0002.png"); }, 5000));
        QFile kept(shots + "/shot0001.png");
        EXPECT_TRUE(kept.open(QIODevice::ReadOnly) && kept.readAll() == "not a picture");

        ASSERT_TRUE(main.waitFor(NXMPlayerControl::kPlaybackDidEnd));
        EXPECT_FALSE(node->isPlaying());
        EXPECT_FALSE(main.player()->isPlayerBegin());

        // Quit while the next playback runs.
        main.window->playOrStop();
        ASSERT_TRUE(main.waitFor(NXMPlayerControl::kPlaybackDidStart, 2));
    }
    EXPECT_TRUE(waitUntil([] { return ourPlayers().isEmpty(); }, 3000))
        << ourPlayers().join(' ').toStdString();
}

// A transport stream's clock starts anywhere: the preview's time counts from
// its first picture, and a seek shows the pictures from the key frame before
// the time asked (1.6 s apart), none of the broken ones a seek to any picture
// would decode first.
TEST(MainPreview, ATransportStreamsTimeAndSeeksCountFromItsFirstPicture)
{
    QTemporaryDir folder;
    const struct {
        const char* name;
        double soundLead;
        QStringList options;
    } clips[] = {
        { "a clock from 1000 s, the sound first", 0.5, { "-output_ts_offset", "1000" } },
        { "the engine's own clock", 0, {} },
    };
    PreviewWindow main;
    for (const auto& clip : clips) {
        SCOPED_TRACE(clip.name);
        const QString path = folder.filePath(QStringLiteral("clip %1.ts").arg(&clip - clips));
        ASSERT_TRUE(PreviewClips::makeNumbered(path, clip.soundLead, clip.options));
        main.window->clearList();
        main.window->addOpenedFiles({ path });
        ASSERT_EQ(main.window->mediaNodes().size(), 1U);
        main.posted.clear();
        main.window->tableView()->selectAll();
        main.window->playOrStop();
        ASSERT_TRUE(main.waitFor(NXMPlayerControl::kPlaybackDidStart));
        ASSERT_TRUE(waitUntil([&] { return main.player()->currentPlaybackTime() >= 0.5; }));
        EXPECT_LT(main.player()->currentPlaybackTime(), 30);
        main.player()->seekToDuration(4.5);
        const auto shownNumber = [&] {
            return PreviewClips::numberShown(
                grabPicture(main.view()), main.player()->render()->curTextureFrame());
        };
        ASSERT_TRUE(waitUntil([&] { return shownNumber() >= 80; }));
        EXPECT_LE(shownNumber(), 100) << "from the key frame of 3.2 s";
        EXPECT_NEAR(main.player()->currentPlaybackTime(), shownNumber() / 25.0, 0.5);
        EXPECT_TRUE(main.window->playbackTimeLabel()->text().startsWith("00:00:0"));
        main.window->playOrStop();
        ASSERT_TRUE(main.waitFor(NXMPlayerControl::kPlaybackDidEnd));
    }
}

// A 1920x1080 picture in a 640x480 view is painted in (0, 60, 640, 360).
TEST(MainPreview, PaintsThePictureFittedAndCentred)
{
    QTemporaryDir folder;
    const QString clip = folder.filePath("white.mp4");
    ASSERT_TRUE(makeClip("color=white:size=1920x1080:rate=10:duration=1", clip));
    LonePreview preview(folder.path());
    auto& [defaults, player, view, posted] = preview;
    player.adjust(QRectF(0, 0, 640, 480));
    preview.playOverAndOver(clip);
    ASSERT_TRUE(waitUntil([&] { return posted.contains(NXMPlayerControl::kPlaybackDidStart); }));
    EXPECT_EQ(player.render()->curTextureFrame(), QRectF(0, 60, 640, 360));
    ASSERT_TRUE(waitUntil([&] { return qRed(grabPicture(view).pixel(320, 240)) > 200; }));
    const QImage painted = grabPicture(view);
    ASSERT_EQ(painted.size(), QSize(640, 480));
    for (const int y : { 0, 59, 420, 479 })
        EXPECT_LT(qRed(painted.pixel(320, y)), 30) << y;
    for (const int y : { 61, 240, 418 })
        EXPECT_GT(qRed(painted.pixel(320, y)), 200) << y;
    player.stopPlay();
    ASSERT_TRUE(waitUntil([&] { return posted.contains(NXMPlayerControl::kPlaybackDidEnd); }));
}

// Each picture is made at the size it is shown at and painted as it came,
// pixel for pixel; after the view changes size, playing or paused, the
// picture comes at the new size.
TEST(MainPreview, PaintsEachPictureAsItWasMadeForTheSizeShown)
{
    QTemporaryDir folder;
    const QString clip = folder.filePath("pattern.mp4");
    ASSERT_TRUE(makeClip("testsrc2=size=1280x720:rate=10:duration=2", clip));
    LonePreview preview(folder.path());
    auto& [defaults, player, view, posted] = preview;
    player.adjust(QRectF(0, 0, 640, 360));
    preview.playOverAndOver(clip);
    const auto paintedAsMade = [&](QSize size) {
        const QImage picture = player.render()->picture();
        const QRect place = player.render()->curTextureFrame().toRect();
        return picture.size() == size && place.size() == size
            && grabPicture(view).copy(place).convertToFormat(QImage::Format_RGB32)
            == picture.convertToFormat(QImage::Format_RGB32);
    };
    EXPECT_TRUE(waitUntil([&] { return paintedAsMade({ 640, 360 }); }));
    player.adjust(QRectF(0, 0, 320, 240));
    EXPECT_TRUE(waitUntil([&] { return paintedAsMade({ 320, 180 }); }));
    player.pauseOrContinue();
    ASSERT_TRUE(waitUntil([&] { return player.isPlayerPuased(); }));
    // Pictures already on their way when the pause was asked for still arrive.
    QTest::qWait(500);
    player.adjust(QRectF(0, 0, 480, 270));
    EXPECT_TRUE(waitUntil([&] { return paintedAsMade({ 480, 270 }); }, 3000));
    player.stopPlay();
    ASSERT_TRUE(waitUntil([&] { return posted.contains(NXMPlayerControl::kPlaybackDidEnd); }));
}

// Bad input: the preview says why, and Play works again.
TEST(MainPreview, AFileThatDoesNotPlayOrAMissingToolIsSaidAndPlayWorksAgain)
{
    QTemporaryDir folder;
    const QString clip = folder.filePath("good.mp4");
    ASSERT_TRUE(PreviewClips::makeShades(clip, 1));
    const QString garbage = folder.filePath("garbage.mp4");
    QFile bytes(garbage);
    ASSERT_TRUE(bytes.open(QIODevice::WriteOnly) && bytes.write(QByteArray(65536, '\x5a')) > 0);
    bytes.close();
    const QByteArray tools = qgetenv("QUILLON_TOOLS");
    struct Case {
        const char* name;
        QString media;
        bool toolMissing;
        QString message;
        QString logged; // why, in the log
    };
    const Case cases[] = {
        { "unplayable", garbage, false, "This file cannot be played.",
            QStringLiteral("The player could not play \"%1\" (status 2): ").arg(garbage)
                + "[mov,mp4,m4a,3gp,3g2,mj2 @ " },
        { "tool missing", clip, true, "The player cannot be started; it is missing or broken.",
            "could not be started" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PreviewWindow main;
        if (c.toolMissing)
            qputenv("QUILLON_TOOLS", folder.filePath("empty").toUtf8());
        main.window->playNode(std::make_shared<DNFileNode>(c.media));
        ASSERT_TRUE(main.waitFor(NXMPlayerControl::kPlaybackDidEnd));
        EXPECT_TRUE(main.window->previewMessage()->isVisible());
        EXPECT_EQ(main.window->previewMessage()->text(), c.message);
        EXPECT_TRUE(readLog().contains(c.logged.toUtf8())) << c.logged.toStdString();
        EXPECT_FALSE(main.player()->isPlayerBegin());
        qputenv("QUILLON_TOOLS", tools);
        if (tools.isEmpty())
            qunsetenv("QUILLON_TOOLS");
        main.window->playNode(std::make_shared<DNFileNode>(clip));
        EXPECT_FALSE(main.window->previewMessage()->isVisible());
        ASSERT_TRUE(main.waitFor(NXMPlayerControl::kPlaybackDidStart));
        main.player()->stopPlay();
        ASSERT_TRUE(main.waitFor(NXMPlayerControl::kPlaybackDidEnd, 2));
    }
}

// A picture of odd sides (an 853x480 MPEG-4 file) plays like any other. "This
// file cannot be played." belongs to the entry that failed: it goes when the
// list is cleared or another entry starts, and an entry stopped before its
// first picture, for the next one asked for, has not failed.
TEST(MainPreview, OddSidesPlayAndAFailureIsToldOnlyForItsOwnEntry)
{
    QTemporaryDir folder;
    const QString odd = folder.filePath("odd 853.mp4");
    ASSERT_TRUE(PreviewClips::ffmpeg(
        { "-f", "lavfi", "-i", "testsrc=size=853x480:rate=10:duration=1", "-c:v", "mpeg4" }, odd));
    const QString garbage = folder.filePath("garbage.mp4");
    QFile bytes(garbage);
    ASSERT_TRUE(bytes.open(QIODevice::WriteOnly) && bytes.write(QByteArray(65536, '\x5a')) > 0);
    bytes.close();
    PreviewWindow main;
    NXAppController& window = *main.window;
    const QLabel& message = *window.previewMessage();
    const auto playToTheEnd = [&](const QString& media) {
        const int ends = main.posted.count(NXMPlayerControl::kPlaybackDidEnd);
        window.playNode(std::make_shared<DNFileNode>(media));
        return main.waitFor(NXMPlayerControl::kPlaybackDidEnd, ends + 1);
    };

    ASSERT_TRUE(playToTheEnd(odd));
    EXPECT_TRUE(main.posted.contains(NXMPlayerControl::kPlaybackDidStart));
    EXPECT_EQ(main.player()->render()->imageSize(), QSize(854, 480));
    EXPECT_FALSE(message.isVisible());

    ASSERT_TRUE(playToTheEnd(garbage));
    EXPECT_TRUE(message.isVisible());
    window.addOpenedFiles({ odd });
    window.clearList();
    EXPECT_FALSE(message.isVisible()) << "after Clear";

    // The next entry is asked for when the failed one has ended but its end
    // is not yet read: it starts once the failure has been told.
    window.playNode(std::make_shared<DNFileNode>(garbage));
    ASSERT_TRUE(waitUntilWithoutEvents([] { return !ourPlayers(true).isEmpty(); }));
    const int starts = main.posted.count(NXMPlayerControl::kPlaybackDidStart);
    window.playNode(std::make_shared<DNFileNode>(odd));
    ASSERT_TRUE(main.waitFor(NXMPlayerControl::kPlaybackDidStart, starts + 1));
    EXPECT_FALSE(message.isVisible()) << "while another entry plays";
    main.player()->stopPlay();
    ASSERT_TRUE(
        waitUntil([&] { return !main.player()->isPlayerBegin() && ourPlayers(true).isEmpty(); }));
}
