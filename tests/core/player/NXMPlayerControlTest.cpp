// The main preview's player control against a fake player tool (a script that
// records what it is given and prints scripted output in pieces), and the
// output reader fed in pieces of every size.
#include "player/NXMPlayerControl.h"
#include "core/player/PlayerTestSupport.h"
#include "model/DNFileNode.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"
#include "player/NXMPlayerOutputReader.h"
#include "services/DNSetting.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <clocale>
#include <optional>

namespace {

// Prints the scripted output ("output", pieces apart from one another by a
// blank line, each written by itself), then records each command in "input"
// until "quit"; "pause" is answered like mplayer does.
const char* const kFakeTool = R"(#!/bin/sh
dir=$(dirname "$0")
printf '%s\n' "$1" >> "$dir/runs"
printf '%s\n' "$@" > "$dir/arguments"
pwd > "$dir/cwd"
if [ -f "$dir/output" ]; then
  awk 'BEGIN { RS = "\n\n"; ORS = "" } { printf "%s", $0; fflush(); system("sleep 0.05") }' "$dir/output"
fi
while IFS= read -r line; do
  printf '%s\n' "$line" >> "$dir/input"
  [ "$line" = pause ] && printf 'ID_PAUSED\n'
  [ "$line" = quit ] && exit 0
done
)";

// The control with the fake tool in place of ours, and what it posted.
struct FakePlayer {
    QTemporaryDir root;
    QString tools = root.filePath("tools");
    UserDefaults defaults { root.filePath("defaults.conf") };
    std::optional<NXMPlayerControl> control;
    QStringList posted;
    QByteArray previousTools = qgetenv("QUILLON_TOOLS");

    explicit FakePlayer(const QByteArray& output = {})
    {
        QDir().mkpath(tools);
        writeAll(tools + "/DORavuzo", kFakeTool);
        QFile::setPermissions(tools + "/DORavuzo", QFile::ExeOwner | QFile::ReadOwner);
        if (!output.isEmpty())
            writeAll(tools + "/output", output);
        qputenv("QUILLON_TOOLS", tools.toUtf8());
        DNSetting::shareSetting().appSetting().setSnapshotDirectory(root.filePath("shots"));
        control.emplace(defaults);
        NotificationCenter::defaultCenter().addObserver(
            {}, &*control, &*control, [this](const Notification& note) { posted << note.name; });
    }
    ~FakePlayer()
    {
        control.reset();
        qputenv("QUILLON_TOOLS", previousTools);
    }
    QByteArray file(const char* name) const { return readAll(tools + "/" + name); }
    bool waitUntilEnded()
    {
        return QTest::qWaitFor([&] { return posted.contains(NXMPlayerControl::kPlaybackDidEnd); });
    }
};

const QStringList kPlainArguments { "clip.mp4", "-identify", "-slave" };

} // namespace

TEST(NXMPlayerOutputReader, GivesTheSameLinesWhateverThePiecesAre)
{
    const QByteArray output = "ID_LENGTH=123.45\nID_FILENAME=caf\xe9.mp4\nStarting playback...\n"
                              "A:   1.0 V:   1.0 A-V:  0.0\rA:   1.1 V:   1.1\r\n"
                              "ID_PAUSED\x0c[DORavuzo]:Exiting... (Quit)\n";
    const QStringList expected { "ID_LENGTH=123.45",
        QString::fromUtf8("ID_FILENAME=caf\xef\xbf\xbd.mp4"), "Starting playback...",
        "A:   1.0 V:   1.0 A-V:  0.0", "A:   1.1 V:   1.1", "ID_PAUSED",
        "[DORavuzo]:Exiting... (Quit)" };
    for (const qsizetype pieceSize : { output.size(), qsizetype(1), qsizetype(7) }) {
        SCOPED_TRACE(pieceSize);
        NXMPlayerOutputReader reader;
        QStringList lines;
        for (qsizetype at = 0; at < output.size(); at += pieceSize)
            lines << reader.read(output.mid(at, pieceSize));
        lines << reader.finish();
        lines.removeAll(QString());
        EXPECT_EQ(lines, expected);
    }
}

// Every command's text as mplayer must read it, also where the user's
// numbers have a decimal comma.
TEST(NXMPlayerControl, WritesEachCommandInTheCLocale)
{
    for (const char* locale : { "C", "de_DE.UTF-8" }) {
        SCOPED_TRACE(locale);
        if (!std::setlocale(LC_ALL, locale))
            GTEST_SKIP() << locale << " is not installed";
        FakePlayer fake;
        auto& control = *fake.control;
        control.startPlaybackWithParams(kPlainArguments);
        ASSERT_TRUE(control.isPlayerBegin());
        control.setVideoVolume(98);
        control.louderSpeaker();
        control.setVideoVolume(150);
        control.setVideoVolume(-3);
        control.setMute(true);
        control.seekToDuration(12.34);
        control.skipSeconds(-10);
        control.pauseOrContinue();
        ASSERT_TRUE(QTest::qWaitFor([&] { return control.status() == 2; }));
        control.getSnapshotAtCurrentTime();
        control.stopPlay();
        EXPECT_FALSE(control.isPlayerBegin()) << "a stop is at once";
        ASSERT_TRUE(fake.waitUntilEnded());
        std::setlocale(LC_ALL, "C");
        EXPECT_EQ(fake.file("input"),
            "set_property mute 0\nset_property volume 98.00\n"
            "set_property mute 0\nset_property volume 100.00\n"
            "set_property mute 0\nset_property volume 150.00\n"
            "set_property mute 0\nset_property volume 0.00\n"
            "set_property mute 1\n"
            "seek 12.3 2\nseek -10.0 0\npause\nscreenshot 0\n pause\nquit\n");
        EXPECT_EQ(fake.posted.count(NXMPlayerControl::kDidVolumeChanged), 5);
        EXPECT_TRUE(
            fake.file("arguments")
                .endsWith("-vo\ncorevideo:shared_buffer:buffer_name=\"NXMPlayerBufferName\"\n"
                          "-volume\n100.00\n"));
        EXPECT_EQ(fake.defaults.value(NXMPlayerControl::kVolumesKey).toFloat(), 100.0F)
            << "the volume is never written back";
    }
}

TEST(NXMPlayerControl, ReadsTheLinesOfThePlayerWhereverItsPiecesEnd)
{
    // A blank line in the script separates the pieces of output.
    const QByteArray output = "ID_FILENAME=caf\xe9.mp4\nStarting playback...\nID_LEN\n\n"
                              "GTH=123.45\nA:   2.5 V:   2.4 A-V:  0.1 ct:  0.0   0/  0  1%  1%  "
                              "0.3% 0 0 \r[DORavuzo]:ID_PAU\n\nSED\n";
    struct Case {
        double durationBefore;
        double durationAfter;
    };
    for (const Case& c : { Case { 0, 123.45 }, Case { 50, 50 } }) {
        SCOPED_TRACE(c.durationBefore);
        FakePlayer fake(output);
        auto& control = *fake.control;
        control.setVideoDuration(c.durationBefore);
        control.startPlaybackWithParams(kPlainArguments);
        ASSERT_TRUE(QTest::qWaitFor([&] {
            return control.isPlayerPuased()
                && fake.posted.contains(NXMPlayerControl::kPlaybackDurationAvailable);
        }));
        EXPECT_EQ(fake.posted,
            QStringList(
                { NXMPlayerControl::kPlaybackDidStart, NXMPlayerControl::kPlaybackStatusChanged,
                    NXMPlayerControl::kPlaybackDurationAvailable }));
        EXPECT_TRUE(control.isPlayerStartedPlaying());
        EXPECT_DOUBLE_EQ(control.videoDuration(), c.durationAfter);
        EXPECT_DOUBLE_EQ(control.currentPlaybackTime(), 2.4);
        control.stopPlay();
        ASSERT_TRUE(fake.waitUntilEnded());
    }
}

TEST(NXMPlayerControl, NodesAskedForWhilePlayingStartInTurn)
{
    FakePlayer fake;
    auto& control = *fake.control;
    const auto first = std::make_shared<DNFileNode>("first.mp4");
    const auto second = std::make_shared<DNFileNode>("second.mp4");
    const auto third = std::make_shared<DNFileNode>("third.mp4");
    control.startPlaybackWithNode(first);
    EXPECT_TRUE(first->isPlaying());
    // The main window's order: queue the node, then stop the one playing.
    for (const auto& node : { second, third }) {
        control.appendPlaybackItem(node);
        control.stopPlay();
    }
    const auto runs
        = [&] { return QString::fromUtf8(fake.file("runs")).split('\n', Qt::SkipEmptyParts); };
    ASSERT_TRUE(QTest::qWaitFor([&] { return runs().size() == 2 && control.isPlayerBegin(); }));
    EXPECT_FALSE(first->isPlaying());
    EXPECT_TRUE(second->isPlaying());
    control.stopPlay();
    ASSERT_TRUE(QTest::qWaitFor([&] { return runs().size() == 3 && control.isPlayerBegin(); }));
    EXPECT_EQ(runs(), QStringList({ "first.mp4", "second.mp4", "third.mp4" }));
    EXPECT_EQ(control.currentNode(), third);
    // Not begun any more, but still ending: a start then is not lost.
    const auto fourth = std::make_shared<DNFileNode>("fourth.mp4");
    control.stopPlay();
    control.startPlaybackWithNode(fourth);
    ASSERT_TRUE(QTest::qWaitFor([&] { return runs().size() == 4 && fourth->isPlaying(); }));
    EXPECT_FALSE(third->isPlaying());
    control.stopPlay();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !fourth->isPlaying(); }));
}

// The player starts in the snapshot folder, made when missing; with a file in
// its place, in the home folder.
TEST(NXMPlayerControl, StartsInTheSnapshotFolderOrElseAtHome)
{
    for (const bool fileInPlace : { false, true }) {
        SCOPED_TRACE(fileInPlace);
        FakePlayer fake;
        const QString shots = fake.root.filePath("Pictures/shots");
        if (fileInPlace) {
            QDir().mkpath(fake.root.filePath("Pictures"));
            writeAll(shots, "mine");
        }
        DNSetting::shareSetting().appSetting().setSnapshotDirectory(shots);
        fake.control->startPlaybackWithParams(kPlainArguments);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !fake.file("cwd").isEmpty(); }));
        const QString expected = fileInPlace ? QDir::homePath() : shots;
        EXPECT_EQ(fake.file("cwd").trimmed(), QFileInfo(expected).canonicalFilePath().toUtf8());
        EXPECT_EQ(fake.control->snapshotSavePath(), expected);
        fake.control->stopPlay();
        ASSERT_TRUE(fake.waitUntilEnded());
        if (fileInPlace) {
            EXPECT_EQ(readAll(shots), "mine");
        }
    }
}
