#include "record/RecordedFile.h"

#include <QFile>

extern "C" {
#include <libavformat/avformat.h>
}

#include <memory>
#include <mutex>

namespace {

struct InputCloser {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
struct PacketFreer {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};

} // namespace

bool hasRecordedPictures(const QString& path)
{
    // A cut-short file is expected here; its complaints would only be noise.
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_QUIET); });
    AVFormatContext* opened = nullptr;
    if (avformat_open_input(
            &opened, QFile::encodeName("file:" + path).constData(), nullptr, nullptr)
        < 0)
        return false;
    const std::unique_ptr<AVFormatContext, InputCloser> context(opened);
    if (avformat_find_stream_info(context.get(), nullptr) < 0)
        return false;
    const int video = av_find_best_stream(context.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (video < 0)
        return false;
    // An index written up front describes streams that may never have got a
    // single sample: only a packet read back proves a picture.
    const std::unique_ptr<AVPacket, PacketFreer> packet(av_packet_alloc());
    while (packet && av_read_frame(context.get(), packet.get()) >= 0) {
        const bool isPicture = packet->stream_index == video;
        av_packet_unref(packet.get());
        if (isPicture)
            return true;
    }
    return false;
}
