// A title whose length runs past its whole seconds: the disc's tables give
// it to the frame, the editor's end of the title is that end, and a trim to
// it keeps the pictures past the last whole second.
#include "fixtures/FlashAndBeep.h"
#include "fixtures/TestDisc.h"
#include "model/DNDVDNode.h"
#include "model/NXDVDSourceInfo.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

namespace {

constexpr int kRate = 25;
constexpr int kFrames = TestDisc::kPastWholeSecondsFrames;
constexpr int kWholeSeconds = kFrames / kRate;
// A conversion of a few seconds of a title, on a machine as busy as the suite makes it.
constexpr int kConversionLimitMs = 300'000;

std::shared_ptr<DNDVDNode> loadDisc()
{
    QString failure;
    auto node = DNDVDNode::dvdNodeWithSourceInfo(
        NXDVDSourceInfo::sourceInfoWithPath(TestDisc::pastWholeSecondsFolder()), &failure);
    EXPECT_TRUE(node) << failure.toStdString();
    return node;
}

// The editor sets whole seconds and reads them back; its last one is the
// title's end. A title known to whole seconds only keeps them as its length.
TEST(DVDTitleEnd, TheEditorsEndOfATitleIsItsTrueEnd)
{
    const QString disc = TestDisc::ensurePastWholeSeconds();
    ASSERT_TRUE(disc.isEmpty()) << qPrintable(disc);
    const auto node = loadDisc();
    ASSERT_TRUE(node);
    const auto title = node->titleAt(0);
    ASSERT_TRUE(title);
    EXPECT_EQ(title->length(), kWholeSeconds);
    EXPECT_DOUBLE_EQ(title->exactLength(), double(kFrames) / kRate);
    // The player tells the whole seconds again.
    node->setCurrentVideoTrackDuration(quint32(kWholeSeconds));
    EXPECT_DOUBLE_EQ(title->exactLength(), double(kFrames) / kRate);
    node->setEnableTrimming(true);
    for (quint32 second = 0; second < quint32(kWholeSeconds); ++second) {
        node->setTrimStartTime(second);
        node->setTrimEndTime(second + 1);
        EXPECT_EQ(node->trimStartTime(), second);
        EXPECT_EQ(node->trimEndTime(), second + 1);
    }
    EXPECT_EQ(title->setting().trimEndPercent(), 1.0f);
    // Only whole seconds known, as a title made before lengths were exact.
    DNDVDTitle whole;
    whole.setLength(12);
    EXPECT_DOUBLE_EQ(whole.exactLength(), 12.0);
    whole.setExactLength(12.48);
    whole.setLength(13);
    EXPECT_DOUBLE_EQ(whole.exactLength(), 13.0);
}

// Each road converts the trim from 2 s to the title's end as the editor sets
// it (its last whole second): every picture past 2 s, the last flash with
// its beep.
TEST(DVDTitleEnd, ATrimToTheEndKeepsThePicturesPastTheLastWholeSecond)
{
    const QString disc = TestDisc::ensurePastWholeSeconds();
    ASSERT_TRUE(disc.isEmpty()) << qPrintable(disc);
    constexpr int kTrimStart = 2;
    // mencoder into AVI, into MP4 through the finishing stage, and HandBrake.
    const char* const profiles[] = { "1103024", "1101097", "1105022" };
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    std::vector<std::unique_ptr<QProcess>> runs;
    for (const char* profile : profiles) {
        const QString output = folder.filePath(profile);
        ASSERT_TRUE(QDir().mkpath(output));
        auto run = std::make_unique<QProcess>();
        run->start(QStringLiteral(QUILLON_CONVERT_ONE),
            { "--dvd", TestDisc::pastWholeSecondsFolder(), "--title", "1", "--trim",
                QStringLiteral("%1-%2").arg(kTrimStart).arg(kWholeSeconds), "--profile", profile,
                "--output", output });
        runs.push_back(std::move(run));
    }
    for (std::size_t index = 0; index < runs.size(); ++index) {
        SCOPED_TRACE(profiles[index]);
        QProcess& run = *runs[index];
        ASSERT_TRUE(run.waitForFinished(kConversionLimitMs));
        ASSERT_EQ(run.exitCode(), 0) << run.readAllStandardOutput().toStdString()
                                     << run.readAllStandardError().right(3000).toStdString();
        const QDir output(folder.filePath(profiles[index]));
        const QStringList files = output.entryList(QDir::Files);
        ASSERT_EQ(files.size(), 1);
        const FlashAndBeepMeasure measure = FlashAndBeep::measure(output.filePath(files.front()));
        ASSERT_TRUE(measure.error.isEmpty()) << qPrintable(measure.error);
        const std::string facts = measure.summary().toStdString();
        EXPECT_EQ(measure.frames, kFrames - kTrimStart * kRate) << facts;
        // A flash at each whole second from the trim's start to the last.
        EXPECT_EQ(measure.pairs.size(), kWholeSeconds - kTrimStart + 1) << facts;
        EXPECT_TRUE(measure.flashesWithoutBeep.isEmpty()) << facts;
        EXPECT_LT(std::abs(measure.largestOffsetMs()), 1000.0 / kRate) << facts;
    }
}

} // namespace
