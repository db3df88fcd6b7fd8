#include "model/DNFileGroupNode.h"
#include "model/DNFileNode.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

namespace {

std::shared_ptr<DNFileNode> fileNode(
    const QString& path, const QString& title = {}, const QString& performer = {})
{
    auto node = std::make_shared<DNFileNode>(path);
    node->setTitle(title);
    node->setPerformer(performer);
    return node;
}

TEST(NXBasicMediaNode, ExactClassDiffersFromKind)
{
    const NXBasicMediaNode::Ptr file = fileNode(QStringLiteral("/m/a.mp4"));
    const NXBasicMediaNode::Ptr group = DNFileGroupNode::fileGroupNodeWithNodes({});
    const NXBasicMediaNode::Ptr none;

    struct Row {
        const char* name;
        NXBasicMediaNode::Ptr node;
        bool exactlyFile;
        bool kindOfFile;
        bool exactlyGroup;
    };
    const Row rows[] = {
        { "file", file, true, true, false },
        { "group", group, false, true, true },
        { "null", none, false, false, false },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(isMemberOf<DNFileNode>(row.node), row.exactlyFile);
        EXPECT_EQ(isKindOf<DNFileNode>(row.node), row.kindOfFile);
        EXPECT_EQ(isMemberOf<DNFileGroupNode>(row.node), row.exactlyGroup);
    }
}

TEST(NXBasicMediaNode, NodesHaveDistinctIdsAndObservablePlayState)
{
    auto a = fileNode(QStringLiteral("/m/a.mp4"));
    auto b = fileNode(QStringLiteral("/m/a.mp4"));
    EXPECT_NE(a->nodeID(), b->nodeID());
    EXPECT_NE(a->nodeID(), 0u);

    QSignalSpy spy(a->notifier(), &NXMediaNodeNotifier::playingChanged);
    a->setIsPlaying(true);
    a->setIsPlaying(true);
    a->setIsPlaying(false);
    ASSERT_EQ(spy.count(), 2);
    EXPECT_TRUE(spy.at(0).at(0).toBool());
    EXPECT_FALSE(a->isPlaying());
}

TEST(NXBasicMediaNode, ChildMovesBetweenParentsAndParentIsWeak)
{
    auto first = DNFileGroupNode::fileGroupNodeWithNodes({});
    auto second = DNFileGroupNode::fileGroupNodeWithNodes({});
    auto child = fileNode(QStringLiteral("/m/a.mp4"));
    first->appendChild(child);
    second->appendChild(child);
    EXPECT_TRUE(first->children().empty());
    ASSERT_EQ(second->children().size(), 1u);
    EXPECT_EQ(child->parent(), second);

    second.reset(); // the child does not keep its group alive
    EXPECT_EQ(child->parent(), nullptr);
}

struct GroupCase {
    const char* name;
    QString firstTitle;
    QString firstPerformer;
    QString displayName;
    QString artist;
};

class GroupFromMembers : public ::testing::TestWithParam<GroupCase> { };

TEST_P(GroupFromMembers, TakesPathAndMetadataFromTheFirstMember)
{
    const GroupCase& c = GetParam();
    auto first
        = fileNode(QStringLiteral("/m/Holiday 2019.part1.mkv"), c.firstTitle, c.firstPerformer);
    auto second = fileNode(QStringLiteral("/m/b.mp4"), QStringLiteral("B"), QStringLiteral("Bo"));
    auto group = DNFileGroupNode::fileGroupNodeWithNodes({ first, second });

    ASSERT_EQ(group->children().size(), 2u);
    EXPECT_EQ(group->children()[0], first);
    EXPECT_EQ(group->children()[1], second);
    EXPECT_EQ(first->parent(), group);
    EXPECT_EQ(first->mediaType(), NXMediaType::MergeMember);
    EXPECT_EQ(group->mediaType(), NXMediaType::MergeGroup);
    EXPECT_EQ(group->path(), first->path());

    const DNNodeInfo& info = group->nodeInfo();
    EXPECT_EQ(info.displayName, c.displayName);
    EXPECT_EQ(info.outputName, QStringLiteral("Holiday 2019.part1.mkv"));
    EXPECT_EQ(info.genre, QStringLiteral("Video"));
    EXPECT_EQ(info.artist, c.artist);
    EXPECT_EQ(info.comments, std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(DNFileGroupNode, GroupFromMembers,
    ::testing::Values(GroupCase { "tags", QStringLiteral("Beach"), QStringLiteral("Ann"),
                          QStringLiteral("Beach"), QStringLiteral("Ann") },
        GroupCase {
            "no_tags", {}, {}, QStringLiteral("Holiday 2019.part1"), QStringLiteral("Quillon") }),
    [](const auto& row) { return std::string(row.param.name); });

} // namespace
