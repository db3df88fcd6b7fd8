#include "player/KeyFrameSeek.h"

#include "services/EngineStreamProbe.h"

#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/log.h>
}

namespace {

// Packets read after the seek before the key frame counts as not found: a
// bound, as the media is the user's.
constexpr int kMostPacketsRead = 2000;
// How far before the time to seek, one after another while no key frame is
// found: a file with an index lands on the key frame at once, a transport
// stream's search by time lands on any packet, perhaps just past a key frame.
constexpr double kSeekLeads[] = { 0, 2, 10, 30 };
// How far before the key frame's decoding time a seek by time is asked for:
// less than any picture's length, more than the millisecond it is written in.
// A program stream is searched by the times of its packets, of which only some
// carry one: asked that close, the search may pass the key frame's start.
constexpr double kSeekMargin = 0.002;
constexpr double kProgramStreamSeekMargin = 0.5;

double seekMargin(const AVFormatContext& context)
{
    return std::strcmp(context.iformat->name, "mpeg") == 0 ? kProgramStreamSeekMargin : kSeekMargin;
}

struct ContextCloser {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
struct PacketFree {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};

struct KeyPacket {
    int64_t pts = 0;
    int64_t dts = 0;
};

// From here on, the last key frame of `stream` shown at or before `target`
// (in its time base): packets come in decoding order, so none is left once
// one is decoded after the target.
std::optional<KeyPacket> lastKeyFrameUpTo(AVFormatContext& context, int stream, int64_t target)
{
    const std::unique_ptr<AVPacket, PacketFree> packet(av_packet_alloc());
    std::optional<KeyPacket> found;
    for (int read = 0; packet && read < kMostPacketsRead; ++read) {
        if (av_read_frame(&context, packet.get()) < 0)
            break;
        const bool ours = packet->stream_index == stream;
        const int64_t pts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
        const int64_t dts = packet->dts != AV_NOPTS_VALUE ? packet->dts : pts;
        const bool key = packet->flags & AV_PKT_FLAG_KEY;
        av_packet_unref(packet.get());
        if (!ours || dts == AV_NOPTS_VALUE)
            continue;
        if (dts > target)
            break;
        if (key && pts <= target)
            found = KeyPacket { pts, dts };
    }
    return found;
}

// To `from`, or to the very start when that lies before the first picture: a
// transport stream's search by time may fail or pass the first key frame
// there, where reading from the first byte surely finds it.
bool seekTo(AVFormatContext& context, int stream, int64_t from, int64_t first)
{
    if (from <= first && (context.iformat->flags & AVFMT_TS_DISCONT))
        return av_seek_frame(&context, -1, 0, AVSEEK_FLAG_BYTE) >= 0;
    return av_seek_frame(&context, stream, std::max(from, first), AVSEEK_FLAG_BACKWARD) >= 0;
}

} // namespace

std::optional<KeyFrameStart> keyFrameAtOrBefore(const QString& path, double seconds)
{
    // Reading the stream list decodes a picture or two; the library's console
    // chatter about a transport stream's broken first ones is no news.
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_QUIET); });
    // The "file:" prefix keeps a name with a colon from being read as a protocol.
    const QByteArray url = "file:" + QFileInfo(path).absoluteFilePath().toUtf8();
    AVFormatContext* raw = nullptr;
    if (!QFileInfo(path).isFile()
        || avformat_open_input(&raw, url.constData(), nullptr, nullptr) < 0)
        return std::nullopt;
    const std::unique_ptr<AVFormatContext, ContextCloser> context(raw);
    // A transport stream tells where its clock starts only once it is read.
    if (findStreamInfo(*context) < 0)
        return std::nullopt;
    const int stream = av_find_best_stream(context.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (stream < 0)
        return std::nullopt;
    const AVStream& video = *context->streams[stream];
    const int64_t first = video.start_time != AV_NOPTS_VALUE ? video.start_time : 0;
    const double unit = av_q2d(video.time_base);
    const auto target = static_cast<int64_t>(seconds / unit) + first;
    for (const double lead : kSeekLeads) {
        const int64_t from = target - static_cast<int64_t>(lead / unit);
        if (!seekTo(*context, stream, from, first))
            return std::nullopt;
        if (const std::optional<KeyPacket> key = lastKeyFrameUpTo(*context, stream, target)) {
            const double start = context->start_time != AV_NOPTS_VALUE
                ? double(context->start_time) / AV_TIME_BASE
                : double(first) * unit;
            return KeyFrameStart { double(key->pts - first) * unit,
                std::max(0.0, double(key->dts) * unit - start - seekMargin(*context)) };
        }
        if (from <= first)
            break;
    }
    return std::nullopt;
}

double keyFrameSeekTime(const QString& path, double seconds)
{
    const std::optional<KeyFrameStart> key = keyFrameAtOrBefore(path, seconds);
    return key ? std::floor(key->seek * 10) / 10 : seconds;
}
