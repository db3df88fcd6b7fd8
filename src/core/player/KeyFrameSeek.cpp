#include "player/KeyFrameSeek.h"

#include <QFileInfo>

#include <memory>

extern "C" {
#include <libavformat/avformat.h>
}

namespace {

// Packets read after the seek before the key frame counts as not found: a
// bound, as the media is the user's.
constexpr int kMostPacketsRead = 2000;

struct ContextCloser {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
struct PacketFree {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};

// The first key frame of `stream` read from here on, in its time base.
std::optional<int64_t> nextKeyFrame(AVFormatContext& context, int stream)
{
    const std::unique_ptr<AVPacket, PacketFree> packet(av_packet_alloc());
    for (int read = 0; packet && read < kMostPacketsRead; ++read) {
        if (av_read_frame(&context, packet.get()) < 0)
            return std::nullopt;
        const bool key = packet->stream_index == stream && (packet->flags & AV_PKT_FLAG_KEY);
        const int64_t time = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
        av_packet_unref(packet.get());
        if (key && time != AV_NOPTS_VALUE)
            return time;
    }
    return std::nullopt;
}

} // namespace

std::optional<double> keyFrameAtOrBefore(const QString& path, double seconds)
{
    // The "file:" prefix keeps a name with a colon from being read as a protocol.
    const QByteArray url = "file:" + QFileInfo(path).absoluteFilePath().toUtf8();
    AVFormatContext* raw = nullptr;
    if (!QFileInfo(path).isFile()
        || avformat_open_input(&raw, url.constData(), nullptr, nullptr) < 0)
        return std::nullopt;
    const std::unique_ptr<AVFormatContext, ContextCloser> context(raw);
    const int stream = av_find_best_stream(context.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (stream < 0)
        return std::nullopt;
    const AVStream& video = *context->streams[stream];
    const int64_t first = video.start_time != AV_NOPTS_VALUE ? video.start_time : 0;
    const double unit = av_q2d(video.time_base);
    const auto target = static_cast<int64_t>(seconds / unit) + first;
    if (av_seek_frame(context.get(), stream, target, AVSEEK_FLAG_BACKWARD) < 0)
        return std::nullopt;
    const std::optional<int64_t> key = nextKeyFrame(*context, stream);
    if (!key || *key > target)
        return std::nullopt;
    return double(*key - first) * unit;
}
