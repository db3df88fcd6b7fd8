#pragma once

#include "http/PartialFileOrigin.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <optional>

// No stream is taken to be larger: a bigger size in a record or an answer
// counts as this one (1 TiB).
inline constexpr double kLargestStreamBytes = 1024.0 * 1024 * 1024 * 1024;

// What the page analysis answers: the page's title, duration, covers and the
// streams that can be downloaded as they are.
struct OnlineVideoStream {
    double size = 0.0; // bytes; 0 when unknown
    bool sizeIsExact = false; // the size is the file's, not an estimate
    QString codec; // "h264", "vp9", "av1", "aac", or the codec as named
    QString container; // file extension: "mp4", "webm", "m4a", ...
    QString kind; // "audio", else the height in decimal digits ("0" when unknown)
    QStringList urls;
    // Headers the site expects with every request for the stream (User-Agent,
    // Referer): the size check and the download send them.
    QMap<QString, QString> httpHeaders;
    // The version of the file the server named when it was asked the size
    // (its tag, date and length); empty when it was not asked.
    PartialFileOrigin sizeAnswerVersion = {};
};

struct OnlineVideoInfo {
    QStringList covers; // always two, either possibly ""
    quint32 duration = 0; // seconds
    QString title;
    QList<OnlineVideoStream> streams; // best first
    quint32 errorCode = 0; // 0: success
};

// Reads the JSON that the analysis program prints for a page. Streams it
// cannot hand over as one plain file (playlists, fragments, non-media files)
// are left out, each with a line in `leftOut`. Null JSON, JSON that does not
// parse and an empty playlist give nothing.
std::optional<OnlineVideoInfo> onlineVideoInfoFromJson(
    const QByteArray& json, QStringList* leftOut);
