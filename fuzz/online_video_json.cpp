// The page analysis program's JSON (its -J output), read by
// onlineVideoInfoFromJson as the downloader reads it. An answer always has
// two covers, every stream it keeps is one http(s) address of a host (the
// scheme in any case), and a stream's size is a byte count, 0 when unknown.
#include "FuzzSupport.h"

#include "download/OnlineVideoInfo.h"

#include <QUrl>

#include <cmath>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    QStringList leftOut;
    const std::optional<OnlineVideoInfo> info
        = onlineVideoInfoFromJson(Fuzz::bytesOf(data, size), &leftOut);
    if (!info)
        return 0;
    Fuzz::require(info->covers.size() == 2, "an answer without its two covers");
    for (const OnlineVideoStream& stream : info->streams) {
        const QUrl url(stream.urls.value(0));
        const QString scheme = url.scheme().toLower();
        Fuzz::require(stream.urls.size() == 1 && (scheme == "http" || scheme == "https")
                && !url.host().isEmpty(),
            "a stream kept that is not one http address");
        Fuzz::require(
            std::isfinite(stream.size) && stream.size >= 0, "a stream's size is no byte count");
    }
    return 0;
}
