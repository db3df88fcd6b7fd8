#include "record/RecordedFile.h"

#include <QFile>

extern "C" {
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <memory>
#include <mutex>

namespace {

struct InputCloser {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
struct PacketFreer {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};

// The file opened with its picture stream found, or nothing.
struct OpenedRecording {
    std::unique_ptr<AVFormatContext, InputCloser> context;
    int video = -1;
};

std::optional<OpenedRecording> openRecording(const QString& path)
{
    // A cut-short file is expected here; its complaints would only be noise.
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_QUIET); });
    AVFormatContext* opened = nullptr;
    if (avformat_open_input(
            &opened, QFile::encodeName("file:" + path).constData(), nullptr, nullptr)
        < 0)
        return std::nullopt;
    OpenedRecording recording { std::unique_ptr<AVFormatContext, InputCloser>(opened), -1 };
    if (avformat_find_stream_info(recording.context.get(), nullptr) < 0)
        return std::nullopt;
    recording.video
        = av_find_best_stream(recording.context.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (recording.video < 0)
        return std::nullopt;
    return recording;
}

} // namespace

bool hasRecordedPictures(const QString& path)
{
    const std::optional<OpenedRecording> recording = openRecording(path);
    if (!recording)
        return false;
    // An index written up front describes streams that may never have got a
    // single sample: only a packet read back whole proves a picture, and the
    // file ends where one was cut short.
    const std::unique_ptr<AVPacket, PacketFreer> packet(av_packet_alloc());
    while (packet && av_read_frame(recording->context.get(), packet.get()) >= 0) {
        const bool cut = (packet->flags & AV_PKT_FLAG_CORRUPT) != 0;
        const bool isPicture = packet->stream_index == recording->video;
        av_packet_unref(packet.get());
        if (cut)
            return false;
        if (isPicture)
            return true;
    }
    return false;
}

std::optional<double> recordedPictureSeconds(const QString& path)
{
    const std::optional<OpenedRecording> recording = openRecording(path);
    if (!recording)
        return std::nullopt;
    const AVStream& stream = *recording->context->streams[recording->video];
    std::optional<int64_t> first;
    int64_t end = 0;
    const std::unique_ptr<AVPacket, PacketFreer> packet(av_packet_alloc());
    while (packet && av_read_frame(recording->context.get(), packet.get()) >= 0) {
        // A file cut short (a full disk) ends inside a packet that its index,
        // written before the pictures, still counts whole: what follows is not there.
        const bool cut = (packet->flags & AV_PKT_FLAG_CORRUPT) != 0;
        if (!cut && packet->stream_index == recording->video && packet->pts != AV_NOPTS_VALUE) {
            first = std::min(first.value_or(packet->pts), packet->pts);
            end = std::max(end, packet->pts + packet->duration);
        }
        av_packet_unref(packet.get());
        if (cut)
            break;
    }
    if (!first)
        return std::nullopt;
    return av_q2d(stream.time_base) * double(end - *first);
}
