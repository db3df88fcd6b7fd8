// Merges that report success play: picture and sound as long as the parts
// together, every flash with its beep. And the output check that stands
// between ffmpeg's 0 and a merge that does not play.
#include "core/builders/BuilderTestSupport.h"
#include "engine/DNVideoConverter.h"
#include "engine/DVDOutputCheck.h"
#include "engine/EncoderCore.h"
#include "fixtures/FlashAndBeep.h"
#include "model/DNFileGroupNode.h"
#include "model/DNFileNode.h"
#include "platform/SystemInfo.h"
#include "services/DNSetting.h"
#include "support/EncodeWords.h"
#include "support/RunFfmpeg.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
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

// Five parts of 4 s join into 20 s, each part's picture and sound where its
// own clock puts them: no join holds a picture with silence beside it,
// whatever the container's sound encoder puts before and after the sound
// (MP3 in FLV and F4V, WMA in ASF, AAC in Matroska). A held picture shows
// as a flash more than a second after the one before it.
TEST(Merge, JoinsAddNoPause)
{
    constexpr int kParts = 5;
    constexpr int kSeconds = 4;
    const char* profiles[] = { "FLV Video", "F4V Video", "ASF Video", "MKV Video (H.264)",
        "WebM Video", "3GP Video (H.264)", "ProRes 422", "PAL DVD Video", "RealMedia Video",
        "SWF Video", "NTSC DV Video" };
    const QString clip = FlashAndBeep::clip({ "25", kSeconds, FlashAndBeepClip::Mp4 });
    ASSERT_FALSE(clip.isEmpty());
    const QTemporaryDir output;
    DNSetting::shareSetting().appSetting().setVideoOutputDirectory(output.path());
    for (const char* profile : profiles) {
        SCOPED_TRACE(profile);
        std::vector<NXBasicMediaNode::Ptr> parts;
        for (int part = 0; part < kParts; ++part)
            parts.push_back(DNFileNode::fileNodeWithFile(clip));
        const auto group = DNFileGroupNode::fileGroupNodeWithNodes(parts);
        group->setProfile(shippedProfile(profile));
        ASSERT_EQ(DNVideoConverterStart(group, 0, nullptr, nullptr), 0)
            << DNVideoConverterLastFailure().toStdString();
        const FlashAndBeepMeasure measure = FlashAndBeep::measure(group->outputName());
        const std::string facts = measure.summary().toStdString();
        ASSERT_TRUE(measure.error.isEmpty()) << facts;
        EXPECT_NEAR(measure.pictureSeconds, kParts * kSeconds, kOneFrameMs / 1000) << facts;
        // The sound may start before the picture (the encoder's priming).
        EXPECT_NEAR(measure.soundStart + measure.soundSeconds,
            measure.pictureStart + measure.pictureSeconds, kOneFrameMs / 1000)
            << facts;
        ASSERT_EQ(measure.flashes.size(), kParts * kSeconds) << facts;
        for (qsizetype second = 1; second < measure.flashes.size(); ++second)
            EXPECT_NEAR(
                measure.flashes[second] - measure.flashes[second - 1], 1, kOneFrameMs / 2000)
                << second << ": " << facts;
        EXPECT_EQ(measure.pairs.size(), kParts * kSeconds) << facts;
        // SWF cuts the MP3 encoder's priming from the head of each part's
        // sound, and the onset of the beep there with it.
        for (const FlashBeepPair& pair : measure.pairs) {
            const bool partStart = std::lround(pair.flash - measure.pictureStart) % kSeconds == 0;
            if (std::string(profile) != "SWF Video" || !partStart) {
                EXPECT_LE(std::abs(pair.offsetMs()), kOneFrameMs) << pair.flash << ": " << facts;
            }
        }
    }
}

// A member without sound, made from a clip that has it: its flashes stay,
// its beeps are gone.
QString silentCopy(const QString& clip, const QString& folder)
{
    const QString path = folder + QStringLiteral("/silent.") + QFileInfo(clip).suffix();
    if (!QFileInfo::exists(path) && !runFfmpeg({ "-i", clip, "-map", "0:v", "-c", "copy", path }))
        return {};
    return path;
}

// Two clips of 2 s with sound and one of 3 s without, at `silentAt`.
void checkSilentMember(
    const char* profile, int silentAt, const QString& sounding, const QString& silent)
{
    std::vector<NXBasicMediaNode::Ptr> members;
    for (int at = 0; at < 3; ++at)
        members.push_back(DNFileNode::fileNodeWithFile(at == silentAt ? silent : sounding));
    const auto group = DNFileGroupNode::fileGroupNodeWithNodes(members);
    group->setProfile(shippedProfile(profile));
    ASSERT_EQ(DNVideoConverterStart(group, 0, nullptr, nullptr), 0);
    const FlashAndBeepMeasure measure = FlashAndBeep::measure(group->outputName());
    const std::string facts = measure.summary().toStdString();
    ASSERT_TRUE(measure.error.isEmpty()) << facts;
    // No join leaves a pause, whichever part has no sound.
    EXPECT_NEAR(measure.pictureSeconds, 7, kOneFrameMs / 1000) << facts;
    EXPECT_NEAR(measure.soundStart + measure.soundSeconds,
        measure.pictureStart + measure.pictureSeconds, kOneFrameMs / 1000)
        << facts;
    // A flash each second, in the members' order; the silent member's three
    // alone go without a beep.
    ASSERT_EQ(measure.flashes.size(), 7) << facts;
    for (int second = 1; second < 7; ++second) {
        const double step = measure.flashes[second] - measure.flashes[second - 1];
        EXPECT_TRUE(step > 0.95 && step < 1.25) << facts;
    }
    EXPECT_EQ(measure.pairs.size(), 4) << facts;
    EXPECT_TRUE(measure.beepsWithoutFlash.isEmpty()) << facts;
    EXPECT_EQ(measure.flashesWithoutBeep, measure.flashes.mid(2 * silentAt, 3)) << facts;
    // SWF cuts the MP3 encoder's priming, and a beep's onset with it.
    if (std::string(profile) != "SWF Video") {
        EXPECT_LE(std::abs(measure.largestOffsetMs()), kOneFrameMs) << facts;
    }
}

// Wherever the silent member stands, each road of the join is taken: parts
// copied (Matroska, DVD, FLV, ASF), the picture encoded again (RealMedia,
// SWF), the sound encoded again (DV). Every member keeps its pictures, in
// their order, and the others' sound keeps to them.
TEST(Merge, MemberWithoutSoundKeepsItsPlace)
{
    const char* profiles[] = { "MKV Video (H.264)", "PAL DVD Video", "FLV Video", "ASF Video",
        "RealMedia Video", "SWF Video", "NTSC DV Video" };
    const QString sounding = FlashAndBeep::clip(kPalClip);
    const QTemporaryDir output;
    const QString silent
        = silentCopy(FlashAndBeep::clip({ "25", 3, FlashAndBeepClip::Mp4 }), output.path());
    ASSERT_FALSE(sounding.isEmpty() || silent.isEmpty());
    DNSetting::shareSetting().appSetting().setVideoOutputDirectory(output.path());
    for (const char* profile : profiles) {
        for (int silentAt = 0; silentAt < 3; ++silentAt) {
            SCOPED_TRACE(std::string(profile) + ", silent member " + std::to_string(silentAt));
            checkSilentMember(profile, silentAt, sounding, silent);
        }
    }
}

// The thread limit each part's encoder ran with, as x264 records it in the
// stream: " threads=N" of the settings it writes at every part's start.
QVector<int> x264Threads(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    static const QRegularExpression threads(QStringLiteral(" threads=(\\d+) "));
    QVector<int> counts;
    auto match = threads.globalMatch(QString::fromLatin1(file.readAll()));
    while (match.hasNext())
        counts << match.next().captured(1).toInt();
    return counts;
}

// A member without sound reads silence as a second input: the thread limit
// still reaches the encoder of every part, the silent one's too.
TEST(Merge, SilentMemberKeepsThreadLimit)
{
    const QTemporaryDir output;
    const QString silent = silentCopy(FlashAndBeep::clip(kPalClip), output.path());
    ASSERT_FALSE(silent.isEmpty());
    DNSetting::shareSetting().appSetting().setVideoOutputDirectory(output.path());
    // Written only when it differs from the processors the engine would take.
    const int limit = SystemInfo::processorCount() == 3 ? 2 : 3;
    DNMainWindowSetting& engine = DNSetting::shareSetting().mainWindowSetting();
    const qint32 saved = engine.cpuCore();
    engine.setCpuCore(limit);
    const auto group = DNFileGroupNode::fileGroupNodeWithNodes(
        { member(kPalClip), DNFileNode::fileNodeWithFile(silent) });
    group->setProfile(shippedProfile("F4V Video"));
    const int result = DNVideoConverterStart(group, 0, nullptr, nullptr);
    engine.setCpuCore(saved);
    ASSERT_EQ(result, 0) << DNVideoConverterLastFailure().toStdString();
    EXPECT_EQ(x264Threads(group->outputName()), QVector<int>({ limit, limit }));
}

// Sound alone has nothing to take from a member without it: refused before
// any member runs, naming the member, and nothing is written.
TEST(Merge, IntoSoundRefusesMemberWithoutSound)
{
    const QTemporaryDir output;
    const QString silent = silentCopy(FlashAndBeep::clip(kPalClip), output.path());
    ASSERT_FALSE(silent.isEmpty());
    const QString outputs = output.filePath("outputs");
    ASSERT_TRUE(QDir().mkpath(outputs));
    DNSetting::shareSetting().appSetting().setVideoOutputDirectory(outputs);
    const auto group = DNFileGroupNode::fileGroupNodeWithNodes(
        { member(kPalClip), DNFileNode::fileNodeWithFile(silent) });
    group->setProfile(shippedProfile("MP3 Audio"));
    EXPECT_EQ(DNVideoConverterStart(group, 0, nullptr, nullptr), kDNVideoConverterFailed);
    const QString failure = DNVideoConverterLastFailure();
    EXPECT_TRUE(failure.contains(silent) && failure.contains("has no sound track"))
        << failure.toStdString();
    EXPECT_TRUE(QDir(outputs).isEmpty());
}

// A merge of a disc's titles joins the files its titles were converted into
// (here as a merge into FLV lists them), copying their sound where it can. A
// title without sound, first or last, gets silence, and the other keeps its
// sound with its picture.
TEST(Merge, TitleJoinKeepsSoundAroundTitleWithoutIt)
{
    const QTemporaryDir folder;
    const QString sounding = folder.filePath("sounding.flv");
    ASSERT_TRUE(runFfmpeg(
        { "-i", FlashAndBeep::clip(kPalClip), "-c:v", "libx264", "-c:a", "libmp3lame", sounding }));
    const QString silent = silentCopy(sounding, folder.path());
    for (const QStringList& titles : { QStringList { silent, sounding }, { sounding, silent } }) {
        SCOPED_TRACE(titles.join(' ').toStdString());
        const QString joined = folder.filePath("joined.flv");
        const QStringList list = QStringList { "encoder" } + titles
            + QStringList { "-of", "lavf", "-lavfopts", "format=flv", "-oac", "copy", "-ovc",
                  "copy", "-o", joined };
        ASSERT_EQ(encodeWordsWith(&EncoderCoreEncode, list, 4), 0)
            << EncoderCoreLastFailure().toStdString();
        const FlashAndBeepMeasure measure = FlashAndBeep::measure(joined);
        const std::string facts = measure.summary().toStdString();
        ASSERT_TRUE(measure.error.isEmpty()) << facts;
        EXPECT_NEAR(measure.pictureSeconds, 4, 0.2) << facts;
        EXPECT_NEAR(measure.soundSeconds, measure.pictureSeconds, 0.15) << facts;
        EXPECT_EQ(measure.pairs.size(), 2) << facts;
        EXPECT_EQ(measure.flashesWithoutBeep.size(), 2) << facts;
        EXPECT_TRUE(measure.beepsWithoutFlash.isEmpty()) << facts;
        EXPECT_LE(std::abs(measure.largestOffsetMs()), kOneFrameMs) << facts;
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
