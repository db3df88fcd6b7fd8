// Pictures whose pixels are not square, through the player control and the
// real tool: a DVD title at its track's aspect, with its filter and ours in
// one chain; an MPEG-2 file at the aspect the player reads from it. And a
// clip whose picture size changes midway.
#include "core/player/PlayerTestSupport.h"
#include "fixtures/TestDisc.h"
#include "fixtures/TestMedia.h"
#include "model/DNDVDNode.h"
#include "model/DNFileNode.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"
#include "player/MPlayerVideoRenderer.h"
#include "player/NXMPlayerControl.h"

#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace {

// Waits for the picture size to be announced; the control's display size.
QSizeF displaySizeOf(NXMPlayerControl& control, const NXBasicMediaNode::Ptr& node)
{
    bool willStart = false;
    NotificationCenter::defaultCenter().addObserver(NXMPlayerControl::kPlaybackWillStart, &control,
        &control, [&](const Notification&) { willStart = true; });
    control.startPlaybackWithNode(node);
    if (!QTest::qWaitFor([&] { return willStart; }, 20000))
        return {};
    return { control.flag().videoWidth, control.flag().videoHeight };
}
} // namespace

TEST(NXMPlayerControl, PlaysPicturesAtTheirDisplayAspect)
{
    ASSERT_EQ(TestDisc::ensure(), QString());
    const auto dvd
        = DNDVDNode::dvdNodeWithSourceInfo(NXDVDSourceInfo::sourceInfoWithPath(TestDisc::folder()));
    ASSERT_TRUE(dvd);
    dvd->setTitleSelected(1); // the 16:9 title
    qputenv("QUILLON_PLAYER_AO", "null");
    QTemporaryDir folder;
    UserDefaults defaults(folder.filePath("defaults.conf"));
    struct Case {
        const char* name;
        NXBasicMediaNode::Ptr node;
        QSizeF display;
        QByteArray chain;
    };
    // The tool pads a picture to even sides last, unless the media is known
    // to have them: a file whose probe found them even.
    const QByteArray evenSides = ",expand=0:0:0:0:0:0:2";
    const Case cases[] = {
        // The disc is NTSC: 720x480 pictures shown 16:9.
        { "DVD title", dvd->titles().at(1), { 853, 480 }, "yadif=0,screenshot" + evenSides },
        // Not probed: its sides are not known.
        { "MPEG-2 file", std::make_shared<DNFileNode>(PlayerClips::path(PlayerClips::kWideMpeg2)),
            { 853, 480 }, "screenshot" + evenSides },
        { "MPEG-2 file probed",
            DNFileNode::fileNodeWithFile(PlayerClips::path(PlayerClips::kWideMpeg2)), { 853, 480 },
            "screenshot" },
        // A phone's portrait clip: stored 320x180, turned a quarter clockwise.
        { "file stored turned", DNFileNode::fileNodeWithFile(TestMedia::markedClip(90)),
            { 180, 320 }, "rotate=1,screenshot" },
        { "file stored upside down", DNFileNode::fileNodeWithFile(TestMedia::markedClip(180)),
            { 320, 180 }, "flip,mirror,screenshot" },
        // Odd sides reach the link padded, a black column and row, and play.
        { "odd sides probed",
            DNFileNode::fileNodeWithFile(PlayerClips::path(PlayerClips::kOddSidesMpeg4)),
            { 322, 242 }, "screenshot" + evenSides },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(c.node);
        NXMPlayerControl control(defaults);
        EXPECT_EQ(displaySizeOf(control, c.node), c.display);
        const QList<QByteArray> arguments = ourMPlayerArguments();
        EXPECT_EQ(arguments.count("-vf"), 1) << arguments.join(' ').toStdString();
        EXPECT_TRUE(arguments.contains(c.chain)) << arguments.join(' ').toStdString();
        EXPECT_TRUE(QTest::qWaitFor([&] { return !control.render()->picture().isNull(); }));
        control.stopPlay();
        ASSERT_TRUE(QTest::qWaitFor([&] {
            return !c.node->isPlaying() && !dvd->isPlaying() && ourMPlayerArguments().isEmpty();
        }));
    }
}

// Between the two sizes the link ends one stream and starts another: that is
// no end of playback, which comes only once the player has gone.
TEST(NXMPlayerControl, PlaysOnAcrossAChangeOfPictureSize)
{
    qputenv("QUILLON_PLAYER_AO", "null");
    QTemporaryDir folder;
    UserDefaults defaults(folder.filePath("defaults.conf"));
    NXMPlayerControl control(defaults);
    QList<bool> endsWhileRunning;
    NotificationCenter::defaultCenter().addObserver(NXMPlayerControl::kPlaybackDidEnd, &control,
        &control,
        [&](const Notification&) { endsWhileRunning << !control.snapshotSavePath().isEmpty(); });
    const auto node = std::make_shared<DNFileNode>(PlayerClips::path(PlayerClips::kSizeChange));
    control.setVideoDuration(2); // as the main window does: mplayer gives none here
    control.startPlaybackWithNode(node);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return control.render()->picture().size() == QSize(160, 120); }, 20000));
    EXPECT_EQ(control.videoDuration(), 2);
    const double atChange = control.currentPlaybackTime();
    EXPECT_TRUE(QTest::qWaitFor([&] { return control.currentPlaybackTime() > atChange + 0.3; }));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !endsWhileRunning.isEmpty(); }));
    EXPECT_FALSE(endsWhileRunning.contains(true));
    // The link's end of its last stream may come after the player's: the end
    // was told once already.
    emit control.render()->mplayerDidEnded(control.render());
    QTest::qWait(50);
    EXPECT_EQ(endsWhileRunning.size(), 1);
}
