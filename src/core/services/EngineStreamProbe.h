#pragma once

#include <QString>

#include <vector>

// The file engine's own view of a media file's streams, read in process with
// libavformat. Its stream ids are the ones the engine's "0:#id" specifier
// matches, and its stream counts are compared with the media probe's.
struct EngineStream {
    enum class Type { Video, Audio, Subtitle, Other };
    Type type = Type::Other;
    int id = 0;
    bool bitmapSubtitle = false; // a subtitle drawn from pictures rather than text
    double frameRate = 0.0; // average frames per second of a video stream, 0 when unknown
};

struct EngineStreamList {
    bool ok = false;
    // Why the probe failed, for the log.
    QString error;
    std::vector<EngineStream> streams;

    int count(EngineStream::Type type) const;
    // Whether `id` names exactly one stream of the file. Some containers
    // (Matroska) keep no ids, and the engine gives all their streams 0.
    bool isUniqueId(int id) const;
    // The streams of one type, in file order.
    std::vector<EngineStream> ofType(EngineStream::Type type) const;
};

// Opens `path` and reads its stream list; never throws, never logs.
EngineStreamList probeEngineStreams(const QString& path);
