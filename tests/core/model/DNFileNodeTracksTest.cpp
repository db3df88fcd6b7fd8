#include "model/DNFileNode.h"

#include <gtest/gtest.h>

namespace {

DNTSubtitle innerSubtitle(const QString& language)
{
    DNTSubtitle track;
    track.language = language;
    return track;
}

// A node with `inner` subtitle streams and, optionally, an external file.
std::shared_ptr<DNFileNode> nodeWithSubtitles(int inner, bool external)
{
    auto node = std::make_shared<DNFileNode>(QStringLiteral("/m/a.mkv"));
    std::vector<DNSubtitleTrack> tracks;
    for (int i = 0; i < inner; ++i)
        tracks.emplace_back(innerSubtitle(i == 0 ? QStringLiteral("eng") : QString()));
    if (external)
        tracks.emplace_back(DNTExtSubtitle::extSubtitleTrack(QStringLiteral("/m/a.srt")));
    node->setSubtitleTracks(tracks);
    node->setEnableSubtitleEdit(true);
    return node;
}

TEST(DNFileNode, SubtitleChoiceAndItsType)
{
    struct Row {
        const char* name;
        int inner;
        bool external;
        qint32 index;
        bool extra;
        qint32 stored;
        quint32 type;
        quint32 innerIndex;
    };
    const Row rows[] = {
        { "source_track", 2, true, 1, false, 1, 0, 1 },
        { "external_file", 2, true, 0, true, 2, 1, 0 },
        { "index_past_the_end", 2, true, 5, false, -1, 0, 0 },
        { "negative_index", 2, false, -3, false, -1, 0, 0 },
        { "only_external", 0, true, 0, true, 0, 1, 0 },
        { "no_tracks_at_all", 0, false, 0, true, -1, 1, 0 },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        auto node = nodeWithSubtitles(row.inner, row.external);
        node->selectSubtitleAtIndex(row.index, row.extra);
        EXPECT_EQ(node->setting().subtitleIndex(), row.stored);
        EXPECT_EQ(node->indexOfSubtitleType(), row.type);
        EXPECT_EQ(node->indexOfInnerSubtitle(), row.innerIndex);
    }
}

TEST(DNFileNode, SubtitleChoiceNeedsSubtitleEditing)
{
    auto node = nodeWithSubtitles(2, false);
    node->setEnableSubtitleEdit(false);
    node->selectSubtitleAtIndex(1, false);
    EXPECT_EQ(node->setting().subtitleIndex(), -1);
}

TEST(DNFileNode, ExternalSubtitleIsReplacedNotStacked)
{
    auto node = nodeWithSubtitles(1, false);
    EXPECT_EQ(node->extraSubtitlePath(), QString());
    EXPECT_EQ(node->extraSubtitleLanguage(), QStringLiteral("en"));

    node->addExtraSubtitle(QStringLiteral("/m/first.srt"));
    node->setExtraSubtitleLanguage(QStringLiteral("fr"));
    node->addExtraSubtitle(QStringLiteral("/m/second.ass"));

    ASSERT_EQ(node->subtitleTracks().size(), 2u);
    EXPECT_EQ(node->extraSubtitlePath(), QStringLiteral("/m/second.ass"));
    EXPECT_EQ(node->extraSubtitleLanguage(), QStringLiteral("fr"));
    EXPECT_NE(DNExtSubtitleOf(node->subtitleTracks().back()), nullptr);
    EXPECT_EQ(DNExtSubtitleOf(node->subtitleTracks().front()), nullptr);
}

TEST(DNFileNode, InnerSubtitleNamesSkipTheExternalFile)
{
    EXPECT_EQ(nodeWithSubtitles(2, true)->innerSubtitlesName(),
        QStringList({ QStringLiteral("Track1 [eng]"), QStringLiteral("Track2 [undef]") }));
    EXPECT_EQ(nodeWithSubtitles(0, true)->innerSubtitlesName(),
        QStringList { QStringLiteral("No Subtitle") });
}

TEST(DNFileNode, AddedAudioFileIsAppendedAndSelected)
{
    DNFileNode node(QStringLiteral("/m/a.mp4"));
    DNTAudio own;
    own.aid = 1;
    own.duration = 30.0f;
    node.setAudioTracks({ own });
    node.addExtraAudio(QStringLiteral("/m/music.mp3"));
    ASSERT_EQ(node.audioTracks().size(), 2u);
    EXPECT_EQ(node.setting().audioIndex(), 1);
    const DNTExtAudio* added = DNExtAudioOf(node.audioTracks().back());
    ASSERT_NE(added, nullptr);
    EXPECT_EQ(added->path, QStringLiteral("/m/music.mp3"));
    EXPECT_FLOAT_EQ(added->duration, 0.0f);
}

TEST(DNFileNode, PlayerArgumentsPickTheAudioTrack)
{
    struct Row {
        const char* name;
        QString path;
        QString format;
        int audioCount;
        qint32 audioIndex;
        QStringList tail;
    };
    const QStringList aidOne { QStringLiteral("-aid"), QStringLiteral("1") };
    const QStringList lavf { QStringLiteral("-demuxer"), QStringLiteral("lavf") };
    const Row rows[] = {
        { "no_audio", QStringLiteral("/m/a.mp4"), QStringLiteral("MPEG-4"), 0, -1,
            { QStringLiteral("-nosound") } },
        { "one_track", QStringLiteral("/m/a.mp4"), QStringLiteral("MPEG-4"), 1, 0, {} },
        { "by_position", QStringLiteral("/m/a.mkv"), QStringLiteral("Matroska"), 3, 1, aidOne },
        // Read by the player's libavformat demuxer, which numbers them in order.
        { "transport_stream_in_order", QStringLiteral("/m/a.ts"), QStringLiteral("mpeg-ts"), 3, 1,
            lavf + aidOne },
        { "blu_ray_stream_in_order", QStringLiteral("/m/a.m2ts"), QStringLiteral("BDAV"), 3, 1,
            lavf + aidOne },
        { "program_stream_in_order", QStringLiteral("/m/a.mpg"), QStringLiteral("MPEG-PS"), 3, 1,
            lavf + aidOne },
        { "wmv_by_id", QStringLiteral("/m/a.WMV"), QStringLiteral("Windows Media"), 3, 1,
            { QStringLiteral("-aid"), QStringLiteral("257") } },
        { "no_audio_chosen", QStringLiteral("/m/a.mkv"), QStringLiteral("Matroska"), 3, -1, {} },
        { "index_past_the_end", QStringLiteral("/m/a.ts"), QStringLiteral("MPEG-TS"), 2, 5, lavf },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        DNFileNode node(row.path);
        node.setFileFormat(row.format);
        std::vector<DNAudioTrack> tracks;
        for (int i = 0; i < row.audioCount; ++i) {
            DNTAudio track;
            track.aid = 256 + i;
            tracks.emplace_back(track);
        }
        node.setAudioTracks(tracks);
        node.setting().setAudioIndex(row.audioIndex);
        EXPECT_EQ(node.NXMPlayerPlaybackParameters(),
            QStringList({ row.path, QStringLiteral("-identify"), QStringLiteral("-slave") })
                + row.tail);
    }
}

} // namespace
