#pragma once

// A test fixture that loads a fixture file, gives it a profile the program
// ships and runs the profile's builder through the ffmpeg bridge.

#include "core/builders/BuilderTestSupport.h"
#include "engine/AVEncoder.h"
#include "fixtures/MediaFacts.h"
#include "fixtures/TestMedia.h"
#include "model/DNFileNode.h"

#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

constexpr double kSlack = 0.3; // seconds an encoder may add or lose at the ends

// Runs ffmpeg itself, quiet and overwriting, to make a source; true on success.
inline bool runFfmpeg(const QStringList& arguments)
{
    QProcess process;
    process.start("ffmpeg", QStringList { "-v", "error", "-y" } + arguments);
    return process.waitForFinished(120'000) && process.exitStatus() == QProcess::NormalExit
        && process.exitCode() == 0;
}

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

    // Runs the node's profile and probes the output.
    MediaFacts convertAndProbe(const std::shared_ptr<DNFileNode>& node)
    {
        return convert(node) ? MediaFacts::probe(node->outputName()) : MediaFacts {};
    }

    QTemporaryDir dir;
    EncodeConfig config;
};
