// A DVD title through the player control and the real tool: the display size
// comes from the title's aspect, and the node's filter joins ours in one chain.
#include "fixtures/TestDisc.h"
#include "model/DNDVDNode.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"
#include "player/NXMPlayerControl.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

QByteArray procFile(const QString& pid, const char* name)
{
    QFile file("/proc/" + pid + "/" + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

qint64 parentOf(const QString& pid)
{
    const QByteArray stat = procFile(pid, "stat");
    return stat.mid(stat.lastIndexOf(')') + 2).split(' ').value(1).toLongLong();
}

// The command line of the mplayer that a tool of ours runs.
QList<QByteArray> ourMPlayerArguments()
{
    for (const QString& pid : QDir("/proc").entryList(QDir::Dirs)) {
        if (procFile(pid, "comm").trimmed() != "mplayer")
            continue;
        const QString tool = QString::number(parentOf(pid));
        if (parentOf(tool) == ::getpid())
            return procFile(pid, "cmdline").split('\0');
    }
    return {};
}

} // namespace

TEST(NXMPlayerControl, PlaysAWideDVDTitleAtItsDisplaySize)
{
    ASSERT_EQ(TestDisc::ensure(), QString());
    const auto dvd
        = DNDVDNode::dvdNodeWithSourceInfo(NXDVDSourceInfo::sourceInfoWithPath(TestDisc::folder()));
    ASSERT_TRUE(dvd);
    dvd->setTitleSelected(1); // the 16:9 title
    qputenv("QUILLON_PLAYER_AO", "null");
    QTemporaryDir folder;
    UserDefaults defaults(folder.filePath("defaults.conf"));
    NXMPlayerControl control(defaults);
    bool willStart = false;
    NotificationCenter::defaultCenter().addObserver(NXMPlayerControl::kPlaybackWillStart, &control,
        &control, [&](const Notification&) { willStart = true; });
    control.startPlaybackWithNode(dvd->titles().at(1));
    ASSERT_TRUE(QTest::qWaitFor([&] { return willStart; }, 20000));
    // The disc is NTSC: 720x480 pictures shown 16:9.
    EXPECT_EQ(control.flag().videoHeight, 480);
    EXPECT_EQ(control.flag().videoWidth, 853);
    const QList<QByteArray> arguments = ourMPlayerArguments();
    EXPECT_EQ(arguments.count("-vf"), 1) << arguments.join(' ').toStdString();
    EXPECT_TRUE(arguments.contains("yadif=0,screenshot")) << arguments.join(' ').toStdString();
    control.stopPlay();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dvd->isPlaying(); }));
}
