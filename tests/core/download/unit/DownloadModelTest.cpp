#include "download/DNYoutubeFileNames.h"
#include "download/DNYoutubeNode.h"
#include "download/DNYoutubeParser.h"
#include "platform/AppPaths.h"
#include "services/NXVideoDownloadSetting.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

struct NameCase {
    const char* what;
    QString title;
    int partIndex;
    QStringList existing; // names already in the output folder
    QString outputName;
};

TEST(DNYoutubeFileNames, NamesFollowTheSafeTitle)
{
    const QString cjk80 = QString(80, QChar(0x4E2D)); // 240 bytes in UTF-8
    const QString long300
        = QString(150, QLatin1Char('a')) + QString(75, QChar(0x00E9)); // 300 bytes
    const NameCase cases[] = {
        { "slash", "a/b", 0, {}, "a_b.mp4" },
        { "second part", "Clip", 1, {}, "Clip2.mp4" },
        { "empty title", "", 0, {}, "Untitled.mp4" },
        { "control and bidi marks", QString::fromUtf8("a\nb\x1b[0m\u202Ec\u200F"), 0, {},
            "a_b_[0m_c_.mp4" },
        { "leading dots", "..bashrc", 0, {}, "_bashrc.mp4" },
        { "taken name", "Clip", 0, { "Clip.mp4" }, "Clip (1).mp4" },
        { "80 CJK letters", cjk80, 0, {}, QString(66, QChar(0x4E2D)) + ".mp4" },
        { "300 bytes, cut between letters", long300, 0, {},
            QString(150, QLatin1Char('a')) + QString(24, QChar(0x00E9)) + ".mp4" },
    };
    ASSERT_TRUE(QDir().mkpath(AppPaths::downloadsFolder()));
    const QString key = DNYoutubeFileNames::streamKey("stream");
    for (const NameCase& test : cases) {
        SCOPED_TRACE(test.what);
        QTemporaryDir folder;
        for (const QString& name : test.existing)
            QFile(folder.filePath(name)).open(QIODevice::WriteOnly);
        const QString output
            = DNYoutubeFileNames::outputFile(folder.path(), test.title, test.partIndex, "MP4");
        EXPECT_EQ(QFileInfo(output).fileName(), test.outputName);
        // Every name, with a counter, must be one the file system takes.
        const QStringList longest
            = { DNYoutubeFileNames::partialVideoFile(test.title, 9999, "webm", key),
                  DNYoutubeFileNames::partialAudioFile(test.title, key),
                  DNYoutubeFileNames::tempVideoFile(folder.path(), test.title, 9999, "webm", key),
                  DNYoutubeFileNames::tempAudioFile(folder.path(), test.title, key),
                  DNYoutubeFileNames::mergedFile(test.title, 9999, "webm") };
        for (const QString& path : longest) {
            QFile file(path + " (99999)");
            EXPECT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
            file.remove();
        }
    }
}

TEST(DNYoutubeNode, PreviewCacheSizeFollowsTheLastVariant)
{
    struct CacheCase {
        qint64 duration;
        double lastSize;
        double expected;
    };
    const CacheCase cases[] = {
        { 100, 50e6, -1.0 }, // too short
        { 600, 2097151, -1.0 }, // too small
        { 600, 50e6, 50e6 / 600 * 20 / 1048576 }, // about 1.59 MiB
        { 3600, 3e6, 0.0625 }, // twenty seconds below 64 KiB
    };
    for (const CacheCase& test : cases) {
        const auto node = DNYoutubeNode::youtubeNode();
        node->youtubeLink().duration = test.duration;
        node->youtubeLink().videosSegments = { { "mp4", "h264", {}, 1e9, 720, true, {} },
            { "mp4", "h264", {}, test.lastSize, 240, false, {} } };
        EXPECT_DOUBLE_EQ(node->bestCacheSizeForVideo(), test.expected) << test.duration;
    }
    const auto unselected = DNYoutubeNode::youtubeNode();
    unselected->youtubeLink().videosSegments = { { "mp4", "h264", {}, 1e9, 720, false, {} } };
    EXPECT_EQ(unselected->selectedSgmt(), nullptr);
    EXPECT_EQ(unselected->videoSize(), 0.0);
}

struct ChoiceCase {
    const char* what;
    const char* format;
    const char* resolution;
    QList<QPair<QString, qint64>> segments; // container, resolution
    qsizetype expected;
};

TEST(DNYoutubeParser, DefaultChoiceFollowsTheFavourites)
{
    const ChoiceCase cases[] = {
        { "equal distance: first listed", "mp4", "720P",
            { { "webm", 720 }, { "mp4", 360 }, { "mp4", 1080 } }, 1 },
        { "within one wins at once", "mp4", "480P",
            { { "mp4", 720 }, { "mp4", 480 }, { "mp4", 481 } }, 1 },
        { "container in any case", "mp4", "480P", { { "webm", 480 }, { "MP4", 480 } }, 1 },
        { "unknown height is 0 and can win", "mp4", "240P", { { "mp4", 720 }, { "mp4", 0 } }, 1 },
        { "no candidate: whole list within one", "webm", "480P", { { "mp4", 720 }, { "mp4", 480 } },
            1 },
        { "no candidate, none near", "webm", "480P", { { "mp4", 720 }, { "mp4", 360 } }, 0 },
        { "highest: first candidate", "mp4", "Highest Definition",
            { { "webm", 1080 }, { "mp4", 720 }, { "mp4", 1080 } }, 1 },
        { "highest, no candidate", "flv", "Highest Definition",
            { { "mp4", 720 }, { "webm", 1080 } }, 0 },
    };
    for (const ChoiceCase& test : cases) {
        NXVideoDownloadSetting setting;
        setting.setFavFormat(test.format);
        setting.setFavResolution(test.resolution);
        QList<DNYoutubeVideoSegment> segments;
        for (const auto& [container, resolution] : test.segments)
            segments.append(
                { container, "h264", { "http://127.0.0.1:1/v" }, 1e6, resolution, false, {} });
        EXPECT_EQ(DNYoutubeParser::foundBestOneForApplePlatform(segments, setting), test.expected)
            << test.what;
    }
}

} // namespace
