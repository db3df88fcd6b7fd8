#pragma once

// A test fixture that loads a fixture file, gives it a profile the program
// ships and runs the profile's builder through the ffmpeg bridge.

#include "core/builders/BuilderTestSupport.h"
#include "engine/AVEncoder.h"
#include "fixtures/TestMedia.h"
#include "model/DNFileNode.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

class ProfileRunTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(TestMedia::ensure().isEmpty()); }

    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        config = configWithOutputFolder(dir.path());
    }

    std::shared_ptr<DNFileNode> load(const QString& path, const QString& profileName)
    {
        auto node = DNFileNode::fileNodeWithFile(path);
        EXPECT_NE(node, nullptr) << qPrintable(path);
        if (!node)
            return nullptr;
        node->setProfile(shippedProfile(profileName));
        EXPECT_NE(node->profile(), nullptr) << qPrintable(profileName);
        return node->profile() ? node : nullptr;
    }

    // Builds the node's command line with the builder its profile names and
    // runs it; true when the engine succeeded.
    bool convert(const std::shared_ptr<DNFileNode>& node)
    {
        const ArgumentBlockPtr block = buildWithProfileBuilder(node, config);
        EXPECT_NE(block, nullptr);
        if (!block)
            return false;
        const int status = AVEncoderEncode(block->argc, block->argv.data(), block->duration);
        EXPECT_EQ(status, 0) << qPrintable(argumentLine(*block));
        return status == 0;
    }

    QTemporaryDir dir;
    EncodeConfig config;
};
