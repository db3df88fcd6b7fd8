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

TEST(DNFileGroupNode, TakesPathAndMetadataFromTheFirstMember)
{
    const struct {
        QString title, performer, displayName, artist;
    } cases[] = {
        { "Beach", "Ann", "Beach", "Ann" },
        { {}, {}, "Holiday 2019.part1", "Quillon" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.displayName.toStdString());
        auto first = fileNode(QStringLiteral("/m/Holiday 2019.part1.mkv"), c.title, c.performer);
        auto second = fileNode(QStringLiteral("/m/b.mp4"), "B", "Bo");
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
        EXPECT_EQ(info.artist, c.artist);
    }
}

} // namespace
