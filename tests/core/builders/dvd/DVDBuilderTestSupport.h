#pragma once

// A DVD node made by hand (no disc) with a written profile, for the tests of
// the DVD builders.

#include "core/builders/video/FrameTestSupport.h"
#include "model/DNDVDGroupTitle.h"

inline DNDVDTAudio dvdAudio(qint32 index, const char* language)
{
    DNDVDTAudio track;
    track.index = index;
    track.position = index - 128;
    track.audioLang = language;
    return track;
}

inline DNDVDTSubtitle dvdSubtitle(qint32 index, const char* language)
{
    DNDVDTSubtitle track;
    track.index = index;
    track.subtitleName = language;
    return track;
}

// Title `number` of an hour at 29.97 fps, 720x480 at `aspect`, with English
// and French sound and English (stream 0) and German (stream 2) subtitles.
inline std::shared_ptr<DNDVDTitle> dvdTitle(qint32 number, const QSizeF& aspect = QSizeF(4, 3))
{
    auto title = std::make_shared<DNDVDTitle>();
    title->setTitleNumber(number);
    title->setLength(3600);
    title->setFps(30000.0 / 1001.0);
    title->setVideoTracks({ DNDVDTVideo { QSizeF(720, 480), aspect } });
    title->setAudioTracks({ dvdAudio(128, "English"), dvdAudio(129, "French") });
    title->setSubtitleTracks({ dvdSubtitle(0, "English"), dvdSubtitle(2, "German") });
    return title;
}

// A DVD folder "My Film" with two such titles and an H.264 profile.
inline std::shared_ptr<DNDVDNode> dvdNode(const QVariantMap& profileOverrides = {})
{
    auto node = std::make_shared<DNDVDNode>(
        NXDVDSourceInfo::sourceInfoWithPath(QStringLiteral("/discs/My Film")));
    node->appendTitle(dvdTitle(1));
    node->appendTitle(dvdTitle(2, QSizeF(16, 9)));
    DNNodeInfo info;
    info.displayName = QStringLiteral("My Film");
    info.outputName = QStringLiteral("My Film");
    info.genre = QStringLiteral("Video");
    info.artist = QStringLiteral("Quillon");
    node->setNodeInfo(info);
    QVariantMap overrides { { "ArgvAssembler", "DVD_To_iPad2_H264_With_MEncoder" },
        { "FileNameSuffix", "mp4" } };
    for (auto it = profileOverrides.begin(); it != profileOverrides.end(); ++it)
        overrides[it.key()] = it.value();
    node->setProfile(videoProfile(overrides));
    return node;
}

// The list with the first `word` replaced by the words `by`.
inline QStringList replaced(QStringList list, const QString& word, const QStringList& by)
{
    const qsizetype at = list.indexOf(word);
    list.remove(at);
    for (qsizetype i = 0; i < by.size(); ++i)
        list.insert(at + i, by[i]);
    return list;
}
