#include "model/DNMediaPredicates.h"

#include "model/DNFileGroupNode.h"
#include "model/DNFileNode.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

struct PredicateCase {
    bool group; // a merge group instead of exactly a file node
    const char* format;
    bool realMedia, avi, mapById;
};

std::shared_ptr<DNFileNode> nodeWithFormat(bool group, const QString& format)
{
    std::shared_ptr<DNFileNode> node
        = group ? std::make_shared<DNFileGroupNode>() : std::make_shared<DNFileNode>();
    node->setFileFormat(format);
    return node;
}

TEST(DNMediaPredicates, FormatsAndExactClass)
{
    const PredicateCase cases[] = {
        { false, "RealMedia", true, false, true },
        { false, "realmedia", true, false, true },
        { true, "RealMedia", false, false, true },
        { false, "AVI", false, true, true },
        { true, "avi", false, true, true }, // no class test for AVI
        { false, "Matroska", false, false, false },
        { false, "WebM", false, false, false },
        { false, "MPEG-PS", false, false, false },
        { true, "Matroska", false, false, true }, // a group maps by id
        { false, "MPEG-TS", false, false, true },
        { false, "", false, false, true },
    };
    for (const PredicateCase& c : cases) {
        const auto node = nodeWithFormat(c.group, c.format);
        const std::string what = std::string(c.group ? "group " : "file ") + c.format;
        EXPECT_EQ(DNIsRealMediaFile(node.get()), c.realMedia) << what;
        EXPECT_EQ(DNIsAVIFile(node.get()), c.avi) << what;
        EXPECT_EQ(DNCanMapStreamsByID(node.get()), c.mapById) << what;
    }
    EXPECT_FALSE(DNIsRealMediaFile(nullptr));
    EXPECT_FALSE(DNIsAVIFile(nullptr));
    EXPECT_TRUE(DNCanMapStreamsByID(nullptr));
}

TEST(DNMediaPredicates, Has2vuyVideoTrack)
{
    struct Case {
        bool group;
        QStringList codecs;
        bool expected;
    };
    const Case cases[] = {
        { false, { "2vuy" }, true }, { false, { "avc1", "2VUY" }, true }, // any track, any case
        { false, { "avc1", "yuvs" }, false }, { false, {}, false },
        { true, { "2vuy" }, false }, // only exactly a file node
    };
    for (const Case& c : cases) {
        const auto node = nodeWithFormat(c.group, "MPEG-4");
        for (const QString& codec : c.codecs) {
            DNTVideo track;
            track.codec = codec;
            node->videoTracks().push_back(track);
        }
        EXPECT_EQ(DNHas2vuyVideoTrack(node.get()), c.expected) << c.codecs.join(',').toStdString();
    }
    EXPECT_FALSE(DNHas2vuyVideoTrack(nullptr));
}

} // namespace
