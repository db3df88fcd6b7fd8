#include "MusicFile.h"

#include <QFileInfo>

#include <memory>
#include <mutex>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
}

namespace {

// Sound that has not come by then is not there: an MP3's first frame lies
// within its first packets, after any tags.
constexpr int kPacketsToFirstSound = 200;

struct InputCloser {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
struct CodecFreer {
    void operator()(AVCodecContext* codec) const { avcodec_free_context(&codec); }
};
struct PacketFreer {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct FrameFreer {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};

QString averrorText(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return QString::fromUtf8(text);
}

std::unique_ptr<AVCodecContext, CodecFreer> openDecoder(const AVStream& stream)
{
    const AVCodec* decoder = avcodec_find_decoder(stream.codecpar->codec_id);
    std::unique_ptr<AVCodecContext, CodecFreer> codec(
        decoder ? avcodec_alloc_context3(decoder) : nullptr);
    if (!codec || avcodec_parameters_to_context(codec.get(), stream.codecpar) < 0
        || avcodec_open2(codec.get(), decoder, nullptr) < 0)
        return nullptr;
    return codec;
}

bool firstSoundDecodes(AVFormatContext& context, int streamIndex, AVCodecContext& codec)
{
    const std::unique_ptr<AVPacket, PacketFreer> packet(av_packet_alloc());
    const std::unique_ptr<AVFrame, FrameFreer> frame(av_frame_alloc());
    if (!packet || !frame)
        return false;
    for (int read = 0; read < kPacketsToFirstSound && av_read_frame(&context, packet.get()) >= 0;
         ++read) {
        const bool ours = packet->stream_index == streamIndex;
        const bool sent = ours && avcodec_send_packet(&codec, packet.get()) >= 0;
        av_packet_unref(packet.get());
        if (sent && avcodec_receive_frame(&codec, frame.get()) >= 0)
            return frame->nb_samples > 0 && frame->sample_rate > 0;
    }
    return false;
}

} // namespace

QString musicProblem(const QString& path)
{
    // The reason goes to our own line; the library's chatter would repeat it.
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_QUIET); });
    const QByteArray url = "file:" + QFileInfo(path).absoluteFilePath().toUtf8();
    AVFormatContext* raw = nullptr;
    if (const int error = avformat_open_input(&raw, url.constData(), nullptr, nullptr); error < 0)
        return averrorText(error);
    const std::unique_ptr<AVFormatContext, InputCloser> context(raw);
    if (const int error = avformat_find_stream_info(context.get(), nullptr); error < 0)
        return averrorText(error);
    const int sound = av_find_best_stream(context.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (sound < 0)
        return QStringLiteral("no sound in it");
    const AVStream& stream = *context->streams[sound];
    if (stream.codecpar->sample_rate <= 0 || stream.codecpar->ch_layout.nb_channels <= 0)
        return QStringLiteral("its sound has no sample rate or channels");
    const std::unique_ptr<AVCodecContext, CodecFreer> codec = openDecoder(stream);
    if (!codec || !firstSoundDecodes(*context, sound, *codec))
        return QStringLiteral("its sound does not decode");
    return {};
}
