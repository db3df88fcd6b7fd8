// Merges that report success play: picture and sound as long as the parts
// together, every flash with its beep. And the output check that stands
// between ffmpeg's 0 and a merge that does not play.
#include "core/builders/BuilderTestSupport.h"
#include "engine/DNVideoConverter.h"
#include "engine/DVDOutputCheck.h"
#include "fixtures/FlashAndBeep.h"
#include "model/DNFileGroupNode.h"
#include "model/DNFileNode.h"
#include "services/DNSetting.h"
#include "support/RunFfmpeg.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <optional>

namespace {

constexpr double kOneFrameMs = 40; // at 25 fps

const FlashAndBeepClip kNtscClip { "30000/1001", 2, FlashAndBeepClip::Matroska };
const FlashAndBeepClip kPalClip { "25", 2, FlashAndBeepClip::Mp4 };

struct Merge {
    const char* profile;
    FlashAndBeepClip first;
    FlashAndBeepClip second;
    // SWF cuts the MP3 encoder's priming from the head of each part's sound,
    // and the onset of the beep there with it; here only the join is judged.
    bool offsetsJudged = true;
};

std::shared_ptr<DNFileNode> member(const FlashAndBeepClip& clip)
{
    const QString path = FlashAndBeep::clip(clip);
    return path.isEmpty() ? nullptr : DNFileNode::fileNodeWithFile(path);
}

TEST(Merge, MergedPartsPlayInStep)
{
    const Merge merges[] = {
        // Parts at different rates, joined by copying.
        { "ProRes 422", kNtscClip, kPalClip },
        { "F4V Video", kNtscClip, kPalClip },
        // Containers whose packets a copy breaks.
        { "RealMedia Video", kPalClip, kPalClip },
        { "RealMedia Video", kNtscClip, kNtscClip },
        { "SWF Video", kPalClip, kPalClip, false },
        { "NTSC DV Video", kNtscClip, kNtscClip },
    };
    const QTemporaryDir output;
    DNSetting::shareSetting().appSetting().setVideoOutputDirectory(output.path());
    for (const Merge& merge : merges) {
        SCOPED_TRACE(merge.profile);
        const auto first = member(merge.first);
        const auto second = member(merge.second);
        ASSERT_TRUE(first && second);
        const auto group = DNFileGroupNode::fileGroupNodeWithNodes({ first, second });
        group->setProfile(shippedProfile(merge.profile));
        ASSERT_EQ(DNVideoConverterStart(group, 0, nullptr, nullptr), 0);
        const FlashAndBeepMeasure measure = FlashAndBeep::measure(group->outputName());
        const std::string facts = measure.summary().toStdString();
        ASSERT_TRUE(measure.error.isEmpty()) << facts;
        EXPECT_EQ(measure.pairs.size(), 4) << facts;
        EXPECT_TRUE(measure.flashesWithoutBeep.isEmpty() && measure.beepsWithoutFlash.isEmpty())
            << facts;
        EXPECT_NEAR(measure.pictureSeconds, 4, 0.2) << facts;
        EXPECT_NEAR(measure.soundSeconds, measure.pictureSeconds, 0.1) << facts;
        if (merge.offsetsJudged) {
            EXPECT_LE(std::abs(measure.largestOffsetMs()), kOneFrameMs) << facts;
        }
    }
}

struct Output {
    const char* name;
    QStringList making; // ffmpeg's arguments, the clip as its input
    bool sourcesGiven; // the clip is the output's source
    const char* problem; // "" for none
};

// What ffmpeg answers 0 for, and what an output may keep of its source.
TEST(Merge, OutputCheckRefusesWhatDoesNotPlay)
{
    const QString clip = FlashAndBeep::clip(kPalClip);
    ASSERT_FALSE(clip.isEmpty());
    const QStringList h264 { "-c:v", "libx264", "-preset", "ultrafast", "-c:a", "copy" };
    const QStringList shortSound { "-af", "atrim=end=0.5", "-c:v", "libx264", "-preset",
        "ultrafast", "-c:a", "flac" };
    const QTemporaryDir folder;
    // RealVideo packets copied out of a RealMedia file into another.
    const QString realMedia = folder.filePath("made.rm");
    ASSERT_TRUE(runFfmpeg({ "-i", clip, "-c:v", "rv20", "-c:a", "ac3", realMedia }));
    const Output outputs[] = {
        { "slow.mkv", QStringList { "-vf", "setpts=3*PTS" } + h264, false,
            "the output's picture lasts 5.9 s and its sound 2.0 s" },
        { "copied.rm", { "-c", "copy" }, false, "no frame of the output's picture decodes" },
        { "short-sound.mkv", shortSound, false,
            "the output's picture lasts 2.0 s and its sound 0.5 s" },
        // The source's sound is as short.
        { "short-sound-kept.mkv", shortSound, true, "" },
        { "clean.mkv", h264, false, "" },
    };
    for (const Output& output : outputs) {
        SCOPED_TRACE(output.name);
        const QString path = folder.filePath(output.name);
        const QString input = QString::fromLatin1(output.name).endsWith(".rm") ? realMedia : clip;
        ASSERT_TRUE(runFfmpeg(QStringList { "-i", input } + output.making + QStringList { path }));
        DVDOutputExpectation expected { 0, false, true };
        if (output.sourcesGiven)
            expected.sources = { path };
        const QString problem = checkDVDOutput(path, expected);
        EXPECT_EQ(problem.isEmpty(), !*output.problem) << problem.toStdString();
        EXPECT_TRUE(problem.contains(output.problem)) << problem.toStdString();
    }
}

} // namespace
