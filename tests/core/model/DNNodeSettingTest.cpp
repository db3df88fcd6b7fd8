#include "model/DNNodeSetting.h"
#include "model/DNFileNode.h"

#include <gtest/gtest.h>

namespace {

// A setting in which every field differs from a new one.
DNNodeSetting editedSetting()
{
    DNNodeSetting s;
    s.setVideoIndex(1);
    s.setAudioIndex(-1);
    s.setSubtitleIndex(2);
    s.setRotationAngle(90);
    s.setMirror(true);
    s.setGeneralEnable(true);
    s.setVolume(150);
    s.setSubtitleEnable(true);
    s.setPosition(DNBaseEditSetting::kSubtitleTop);
    s.setForceSubOnly(true);
    s.setTrimEnable(true);
    s.setTrimStartPercent(0.25f);
    s.setTrimEndPercent(0.75f);
    s.setCropEnable(true);
    s.setCropLetterboxAuto(true);
    s.setCropAspectIndex(3);
    s.setCropRectPercent(QRectF(0.1, 0.2, 0.5, 0.6));
    s.setAutoExpandToProfile(true);
    s.setEffectEnable(true);
    s.setEffectIndex(4);
    s.setWatermarkEnable(true);
    s.setWatermarkType(DNBaseEditSetting::kWatermarkImage);
    s.setWatermarkImagePath(QStringLiteral("/tmp/logo.png"));
    s.setWatermarkText(QStringLiteral("mine"));
    s.setWatermarkRectPercent(QRectF(0.5, 0.5, 0.1, 0.1));
    s.setWatermarkTransparency(70);
    s.setWatermarkFont({ QStringLiteral("DejaVu Serif"), 24.0 });
    s.setWatermarkColor(QColor(Qt::blue));
    return s;
}

// The values the builders read as "no edit": whole length, whole picture,
// no subtitle, unchanged volume.
TEST(DNNodeSetting, NewSettingMeansNoEdit)
{
    const DNNodeSetting s;
    EXPECT_EQ(s.subtitleIndex(), -1);
    EXPECT_EQ(s.volume(), 100u);
    EXPECT_FLOAT_EQ(s.trimStartPercent(), 0.0f);
    EXPECT_FLOAT_EQ(s.trimEndPercent(), 1.0f);
    EXPECT_EQ(s.cropRectPercent(), QRectF(0, 0, 1, 1));
}

TEST(DNNodeSetting, CopyCarriesEveryEditButTheForcedSubtitleFlag)
{
    const DNNodeSetting source = editedSetting();
    const DNNodeSetting copied = source.copy();

    DNNodeSetting expected = source;
    expected.setForceSubOnly(false);
    EXPECT_EQ(copied, expected);
    // Spelled out: losing these would drop a text watermark's look on every
    // node that "apply to all" reaches, the source node included.
    EXPECT_EQ(copied.watermarkFont(), source.watermarkFont());
    EXPECT_EQ(copied.watermarkColor(), QColor(Qt::blue));
}

TEST(DNNodeSetting, NodeKeepsItsOwnCopyOfAGivenSetting)
{
    DNFileNode node(QStringLiteral("/media/a.mp4"));
    DNNodeSetting given = editedSetting();
    node.setEditSetting(given);
    given.setVolume(10);

    EXPECT_EQ(node.generalVolume(), 150u);
    EXPECT_EQ(node.textWatermarkFont(), (DNWatermarkFont { QStringLiteral("DejaVu Serif"), 24.0 }));
    EXPECT_EQ(node.textWatermarkColor(), QColor(Qt::blue));
    EXPECT_FALSE(node.setting().forceSubOnly());
}

} // namespace
