// The online preview's frames painted in its view, from the real player on
// a stream of the loopback test server.
#include "gui/GuiTestSupport.h"

#include "VideoSite.h"
#include "download/NXOVPictureView.h"
#include "player/NXOVPlayerControl.h"

#include <QFile>
#include <QImage>

#include <gtest/gtest.h>

namespace {

struct StartWatcher : NXOVPlayerControlDelegate {
    bool started = false;
    bool ended = false;
    void playbackDidStarted(NXOVPlayerControl*) override { started = true; }
    void playbackDidEnded(NXOVPlayerControl*) override { ended = true; }
};

bool isBlack(QRgb pixel)
{
    return qRed(pixel) < 16 && qGreen(pixel) < 16 && qBlue(pixel) < 16;
}

} // namespace

// A 640x480 stream in a 640x360 view fills its height, centred: black at the
// sides, the picture between.
TEST(NXOVPictureView, PaintsTheStreamFittedToTheViewAndBlackOnceItEnds)
{
    VideoSite site;
    const QString problem = site.start();
    ASSERT_TRUE(problem.isEmpty()) << problem.toStdString();
    QFile media(VideoSite::mediaPath("av480.mp4"));
    ASSERT_TRUE(media.open(QIODevice::ReadOnly));
    // mplayer fills its cache until the connection closes.
    TestReply stream = TestReply::text(media.readAll());
    stream.closeAfter = true;
    site.server().route("/stream.mp4", stream);

    StartWatcher watcher;
    NXOVPlayerControl control;
    control.setDelegate(&watcher);
    NXOVPictureView view(control);
    view.resize(640, 360);
    view.show();
    control.playOnlineVideoWidthAddress(site.url("/stream.mp4").toString());
    ASSERT_TRUE(waitUntil([&] { return watcher.started; }));
    ASSERT_TRUE(waitUntil([&] { return !isBlack(view.grab().toImage().pixel(320, 180)); }, 3000));
    const QImage picture = view.grab().toImage();
    EXPECT_TRUE(isBlack(picture.pixel(40, 180)));
    EXPECT_TRUE(isBlack(picture.pixel(600, 180)));
    control.stopPlay();
    ASSERT_TRUE(waitUntil([&] { return watcher.ended; }));
    EXPECT_TRUE(isBlack(view.grab().toImage().pixel(320, 180)));
}
