// A disc that flashes and beeps together once a second, converted by the
// mencoder profiles: the output holds every frame of its titles and pairs
// every flash with its beep, from the first second to the last.
#include "engine/DNVideoConverter.h"
#include "engine/EncoderCore.h"
#include "fixtures/FlashAndBeep.h"
#include "fixtures/TestDisc.h"
#include "model/DNDVDNode.h"
#include "model/NXDVDSourceInfo.h"
#include "profiles/DNProfile.h"
#include "profiles/DNProfileManager.h"
#include "services/DNSetting.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>

namespace {

constexpr double kInStepMs = 40; // one frame at 25 fps
constexpr int kFlashesPerTitle = TestDisc::kFlashAndBeepFrames / 25;

// Title 1, or titles 1 and 2 merged, with a catalogue profile; the output,
// or an empty path after a failure.
QString convertFlashAndBeep(const QString& folder, int globalID, bool merge)
{
    QString failure;
    const auto node = DNDVDNode::dvdNodeWithSourceInfo(
        NXDVDSourceInfo::sourceInfoWithPath(TestDisc::flashAndBeepFolder()), &failure);
    if (!node) {
        ADD_FAILURE() << qPrintable(failure);
        return {};
    }
    node->setProfile(DNProfileManager::profileManager().profileWithGlobalID(globalID)->copy());
    for (const auto& title : node->titles())
        title->setIsSelected(merge || title->titleNumber() == 1);
    node->setMergeIntoOne(merge);
    DNSetting::shareSetting().appSetting().setVideoOutputDirectory(folder);
    if (DNVideoConverterStart(node, 0, nullptr, nullptr) != 0) {
        ADD_FAILURE() << qPrintable(DNVideoConverterLastFailure());
        return {};
    }
    const QStringList outputs = QDir(folder).entryList(QDir::Files);
    return outputs.size() == 1 ? folder + "/" + outputs.front() : QString();
}

// One profile of each mencoder core builder (H.264, MPEG-4, AVI and WMV with
// MP3, MPEG-2 with MP2 and with the disc's own sound), a merge into AVI,
// which keeps no time of its own, and one that joins program streams with
// the disc's sound: every picture kept, every flash with its beep within a
// frame.
TEST(DVDSync, MencoderProfilesKeepEveryFrameAndTheSoundInStep)
{
    const QString disc = TestDisc::ensureFlashAndBeep();
    ASSERT_TRUE(disc.isEmpty()) << qPrintable(disc);
    const struct {
        int globalID;
        bool merge;
    } runs[] = {
        { 1101097, false },
        { 1102069, false },
        { 1103024, false },
        { 1104015, false },
        { 1105006, false },
        { 1105004, false },
        { 1103024, true },
        { 1105004, true },
    };
    for (const auto& run : runs) {
        SCOPED_TRACE(
            QStringLiteral("%1%2").arg(run.globalID).arg(run.merge ? " merged" : "").toStdString());
        QTemporaryDir folder;
        ASSERT_TRUE(folder.isValid());
        const QString output = convertFlashAndBeep(folder.path(), run.globalID, run.merge);
        ASSERT_FALSE(output.isEmpty());
        const FlashAndBeepMeasure measure = FlashAndBeep::measure(output);
        ASSERT_TRUE(measure.error.isEmpty()) << qPrintable(measure.error);
        const int titles = run.merge ? 2 : 1;
        EXPECT_EQ(measure.frames, titles * TestDisc::kFlashAndBeepFrames)
            << qPrintable(measure.summary());
        EXPECT_EQ(measure.pairs.size(), titles * kFlashesPerTitle) << qPrintable(measure.summary());
        EXPECT_LT(std::abs(measure.largestOffsetMs()), kInStepMs) << qPrintable(measure.summary());
    }
}

// The join's own lists name each title as the builders' lists do, a quote
// in a name included, and only such lists are read back.
TEST(DVDSync, JoinListsNameEveryTitleWhateverItsName)
{
    const std::vector<EncoderCoreJoinedTitle> titles { { "/t/Ann's 'Orchard'_T1.mpg" },
        { "/t/plain_T2.mpg" } };
    for (const bool encoded : { false, true }) {
        const QString list = EncoderCoreJoinList(titles, encoded);
        const QStringList files = EncoderCoreConcatListFiles(
            list.split('\n').filter(QStringLiteral("file ")).join('\n'));
        EXPECT_EQ(files, QStringList({ titles[0].path, titles[1].path })) << qPrintable(list);
    }
    EXPECT_TRUE(EncoderCoreConcatListFiles("file '/t/a.mpg'\nduration 3\n").isEmpty());
    EXPECT_TRUE(EncoderCoreConcatListFiles("file '/t/a'b.mpg'\n").isEmpty());
    EXPECT_TRUE(EncoderCoreJoinList({ { "/t/a\nfile '/etc/passwd'" } }, false).isEmpty());
}

} // namespace
