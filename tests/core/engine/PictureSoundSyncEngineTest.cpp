// Outputs keep sound with picture: every flash of a flash-and-beep clip finds
// its beep within a frame, from the first second to the last, on the profiles
// whose muxers, rates or encoders would move the two apart.
#include "core/builders/BuilderTestSupport.h"
#include "engine/DNVideoConverter.h"
#include "fixtures/FlashAndBeep.h"
#include "model/DNFileGroupNode.h"
#include "model/DNFileNode.h"
#include "services/DNSetting.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

// A flash shows on the frame nearest to its time, half a frame off at most;
// every clip's flashes fall on whole seconds, where the outputs have frames.
constexpr double kHalfFrameMs = 20; // at 25 fps

using Container = FlashAndBeepClip::Container;

const FlashAndBeepClip kPal { "25", 3, Container::Matroska };
const FlashAndBeepClip kNtsc { "30000/1001", 3, Container::Mp4 };
const FlashAndBeepClip kVariable { FlashAndBeepClip::kVariableRate, 3, Container::Matroska };
// The sound starts half a second after the picture: its first beep is at 1 s.
const FlashAndBeepClip kLateSound { "25", 3, Container::Mp4, 500 };
const FlashAndBeepClip kLateSoundPart { "25", 2, Container::Matroska, 500 };
const FlashAndBeepClip kPart { "25", 2, Container::Mp4 };

struct Conversion {
    const char* label;
    const char* profile;
    // One clip is converted; more are merged into one output.
    std::vector<FlashAndBeepClip> clips;
    int flashes; // the output's
    int pairs; // the flashes whose beep is heard: all but those before a late sound
    float trimStart = 0; // the share of the clip cut from its head
};

std::shared_ptr<DNFileNode> fileNode(const FlashAndBeepClip& clip)
{
    const QString path = FlashAndBeep::clip(clip);
    return path.isEmpty() ? nullptr : DNFileNode::fileNodeWithFile(path);
}

// The node the driver converts: the clip's, or a merge group of them.
std::shared_ptr<DNFileNode> nodeFor(const Conversion& conversion)
{
    std::vector<std::shared_ptr<NXBasicMediaNode>> members;
    for (const FlashAndBeepClip& clip : conversion.clips) {
        const std::shared_ptr<DNFileNode> member = fileNode(clip);
        if (!member)
            return nullptr;
        members.push_back(member);
    }
    if (members.size() > 1)
        return DNFileGroupNode::fileGroupNodeWithNodes(members);
    const auto node = std::static_pointer_cast<DNFileNode>(members.front());
    if (conversion.trimStart > 0) {
        node->setting().setTrimEnable(true);
        node->setting().setTrimStartPercent(conversion.trimStart);
    }
    return node;
}

TEST(PictureSoundSync, EveryFlashKeepsItsBeep)
{
    const Conversion conversions[] = {
        // Rate changes: the picture fell behind, or a flash was dropped.
        { "3GP at 15 fps", "3GP Video (H.264)", { kPal }, 3, 3 },
        { "PAL DVD from 29.97", "PAL DVD Video", { kNtsc }, 3, 3 },
        { "NTSC DV from a variable rate", "NTSC DV Video", { kVariable }, 3, 3 },
        // Muxers that place the sound from its first sample on, priming and all.
        { "SWF, late sound", "SWF Video", { kLateSound }, 3, 2 },
        { "RealMedia, late sound", "RealMedia Video", { kLateSound }, 3, 2 },
        // The decoder drops the frame after the priming; the picture reader
        // splits frames padded up to a minimum rate.
        { "ASF", "ASF Video", { kPal }, 3, 3 },
        { "ASF, trimmed", "ASF Video", { kPal }, 2, 2, 0.1152f },
        // Joins: the above at every part, and SWF's sound copied part after part.
        { "ASF, three parts", "ASF Video", { kPart, kPart, kPart }, 6, 6 },
        { "SWF, three parts", "SWF Video", { kLateSoundPart, kLateSoundPart, kLateSoundPart }, 6,
            3 },
    };
    const QTemporaryDir output;
    DNSetting::shareSetting().appSetting().setVideoOutputDirectory(output.path());
    for (const Conversion& conversion : conversions) {
        SCOPED_TRACE(conversion.label);
        const std::shared_ptr<DNFileNode> node = nodeFor(conversion);
        ASSERT_NE(node, nullptr);
        node->setProfile(shippedProfile(conversion.profile));
        ASSERT_EQ(DNVideoConverterStart(node, 0, nullptr, nullptr), 0);
        const FlashAndBeepMeasure measure = FlashAndBeep::measure(node->outputName());
        const std::string facts = measure.summary().toStdString();
        ASSERT_TRUE(measure.error.isEmpty()) << facts;
        EXPECT_EQ(measure.flashes.size(), conversion.flashes) << facts;
        EXPECT_EQ(measure.pairs.size(), conversion.pairs) << facts;
        EXPECT_LE(std::abs(measure.largestOffsetMs()), kHalfFrameMs) << facts;
    }
}

} // namespace
