#include "model/DNDVDGroupTitle.h"

#include <gtest/gtest.h>

namespace {

std::shared_ptr<DNDVDTitle> makeTitle(qint32 number, qint32 length, bool selected)
{
    auto title = std::make_shared<DNDVDTitle>();
    title->setTitleNumber(number);
    title->setLength(length);
    title->setIsSelected(selected);
    title->setVideoTracks({ DNDVDTVideo { QSizeF(720, 480), QSizeF(16, 9) } });
    DNDVDTSubtitle english;
    english.index = 0;
    english.subtitleName = "English";
    title->setSubtitleTracks({ english });
    return title;
}

// Titles 1 to 3 of a disc, the first and the third selected for conversion,
// the second shown in the editor.
std::shared_ptr<DNDVDNode> makeNode(const QString& path)
{
    auto node = std::make_shared<DNDVDNode>(NXDVDSourceInfo::sourceInfoWithPath(path));
    node->appendTitle(makeTitle(1, 12, true));
    node->appendTitle(makeTitle(2, 40, false));
    node->appendTitle(makeTitle(3, 11, true));
    node->setTitleSelected(1);
    return node;
}

TEST(NXDVDSourceInfo, KindComesFromThePath)
{
    const struct {
        const char* path;
        qint32 type;
        const char* playback;
    } rows[] = {
        { "/discs/Film.ISO", NXDVDSourceInfo::kImage, "/discs/Film.ISO" },
        { "/discs/Film/VIDEO_TS", NXDVDSourceInfo::kFolder, "/discs/Film/VIDEO_TS" },
        { "/discs/iso", NXDVDSourceInfo::kFolder, "/discs/iso" },
        { "/dev/sr0", NXDVDSourceInfo::kDrive, "/dev/sr0" },
    };
    for (const auto& row : rows) {
        const NXDVDSourceInfo source = NXDVDSourceInfo::sourceInfoWithPath(row.path);
        EXPECT_EQ(source.sourceType, row.type) << row.path;
        EXPECT_EQ(source.playbackPath(), row.playback) << row.path;
    }
}

TEST(DNDVDGroupTitle, HoldsTheSelectedTitlesOnlyWhenMerging)
{
    const auto node = makeNode("/discs/Film");
    EXPECT_FALSE(DNDVDGroupTitle::dvdGroupTitleWithDVDNode(node));
    node->setMergeIntoOne(true);
    node->setNodeInfo(DNNodeInfo { "Film", {}, {}, {}, "Film" });
    const auto group = DNDVDGroupTitle::dvdGroupTitleWithDVDNode(node);
    ASSERT_TRUE(group);
    EXPECT_TRUE(isMemberOf<DNDVDGroupTitle>(group.get()));
    EXPECT_FALSE(isMemberOf<DNDVDNode>(group.get()));
    EXPECT_EQ(group->titles(), (std::vector { node->titleAt(0), node->titleAt(2) }));
    EXPECT_EQ(group->originalDVDNode(), node);
    EXPECT_EQ(group->nodeInfo(), node->nodeInfo());
    EXPECT_EQ(group->sourceInfo(), node->sourceInfo());
    // The titles stay where they are.
    EXPECT_EQ(node->titles().size(), 3u);
    EXPECT_EQ(node->titleAt(2)->parent(), node);
}

TEST(DNDVDNode, PlaysTheShownTitleByItsDiscNumber)
{
    auto node = makeNode("/dev/sr0");
    node->titleAt(1)->setTitleNumber(5); // titles before it were left out
    EXPECT_EQ(node->NXMPlayerPlaybackParameters(),
        (QStringList { "dvdnav://5", "-dvd-device", "/dev/sr0", "-identify", "-slave", "-nosub",
            "-vf", "yadif=0" }));
    EXPECT_EQ(node->aspectOfSelectedVideoTrack(), QSizeF(16, 9));
}

TEST(DNDVDNode, EditsGoToTheShownTitleAsFractions)
{
    const struct {
        quint32 start, end;
        float startFraction, endFraction;
    } rows[] = {
        { 10, 30, 0.25f, 0.75f },
        { 41, 41, 0.0f, 1.0f }, // past the end
        { 0, 40, 0.0f, 1.0f },
    };
    for (const auto& row : rows) {
        const auto node = makeNode("/discs/Film");
        node->setTrimStartTime(row.start);
        node->setTrimEndTime(row.end);
        const DNDVDTitleSetting& setting = node->titleAt(1)->setting();
        EXPECT_FLOAT_EQ(setting.trimStartPercent(), row.startFraction);
        EXPECT_FLOAT_EQ(setting.trimEndPercent(), row.endFraction);
        EXPECT_EQ(node->titleAt(0)->setting(), DNDVDTitleSetting()) << "another title changed";
    }
    const auto node = makeNode("/discs/Film");
    node->setCropRect(QRectF(72, 48, 360, 240));
    EXPECT_EQ(node->titleAt(1)->setting().cropRectPercent(), QRectF(0.1, 0.1, 0.5, 0.5));
    EXPECT_EQ(node->cropRect(), QRectF(72, 48, 360, 240));
    node->setTitleSelected(7);
    node->setMirror(true); // no title shown: nothing to change
    EXPECT_FALSE(node->isMirror());
}

TEST(DNDVDNode, AnAttachedSubtitleIsItsOwnKind)
{
    const auto node = makeNode("/discs/Film");
    node->setEnableSubtitleEdit(true);
    node->addExtraSubtitle("/subs/film.srt");
    node->selectSubtitleAtIndex(0, true);
    const auto& tracks = node->titleAt(1)->subtitleTracks();
    ASSERT_EQ(tracks.size(), 2u);
    EXPECT_TRUE(std::holds_alternative<DNDVDTSubtitle>(tracks[0]));
    EXPECT_TRUE(std::holds_alternative<DNDVDTExtSubtitle>(tracks[1]));
    EXPECT_EQ(node->titleAt(1)->setting().subtitleIndex(), 1);
    EXPECT_EQ(node->indexOfSubtitleType(), 1u);
    EXPECT_EQ(node->extraSubtitlePath(), "/subs/film.srt");
    EXPECT_EQ(node->innerSubtitlesName(), (QStringList { "Track1 [English]", "Forced Subtitle" }));
}

} // namespace
