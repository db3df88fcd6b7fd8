#include "services/EngineStreamProbe.h"

#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <memory>
#include <mutex>

extern "C" {
#include <libavcodec/codec_desc.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/display.h>
#include <libavutil/error.h>
#include <libavutil/log.h>
#include <libavutil/pixdesc.h>
}

namespace {

QString averrorText(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return QString::fromUtf8(text);
}

EngineStream::Type typeOf(const AVStream& stream)
{
    switch (stream.codecpar->codec_type) {
    case AVMEDIA_TYPE_VIDEO:
        return EngineStream::Type::Video;
    case AVMEDIA_TYPE_AUDIO:
        return EngineStream::Type::Audio;
    case AVMEDIA_TYPE_SUBTITLE:
        return EngineStream::Type::Subtitle;
    default:
        return EngineStream::Type::Other;
    }
}

bool isBitmapSubtitle(const AVStream& stream)
{
    const AVCodecDescriptor* const descriptor = avcodec_descriptor_get(stream.codecpar->codec_id);
    return descriptor && (descriptor->props & AV_CODEC_PROP_BITMAP_SUB);
}

double averageFrameRate(const AVStream& stream)
{
    const AVRational rate
        = stream.avg_frame_rate.num > 0 ? stream.avg_frame_rate : stream.r_frame_rate;
    return rate.num > 0 && rate.den > 0 ? av_q2d(rate) : 0.0;
}

// As the engine decides before it mixes a stream's channels: with no layout
// of their own, the default layout for their count, when there is one.
bool hasChannelLayout(const AVStream& stream)
{
    const AVChannelLayout& layout = stream.codecpar->ch_layout;
    if (layout.order != AV_CHANNEL_ORDER_UNSPEC || layout.nb_channels <= 0)
        return true;
    AVChannelLayout guessed {};
    av_channel_layout_default(&guessed, layout.nb_channels);
    const bool known = guessed.order != AV_CHANNEL_ORDER_UNSPEC;
    av_channel_layout_uninit(&guessed);
    return known;
}

double sampleAspectOf(const AVStream& stream)
{
    const AVRational container = stream.sample_aspect_ratio;
    const AVRational codec = stream.codecpar->sample_aspect_ratio;
    const AVRational shown = container.num > 0 && container.den > 0 ? container : codec;
    return shown.num > 0 && shown.den > 0 ? av_q2d(shown) : 0.0;
}

// The engine's name of a colour property; empty when unspecified.
QString colorName(const char* name, bool specified)
{
    return specified && name ? QString::fromLatin1(name) : QString();
}

EngineStream engineStream(const AVStream& stream)
{
    const AVCodecParameters& codec = *stream.codecpar;
    EngineStream result;
    result.type = typeOf(stream);
    result.id = stream.id;
    result.bitmapSubtitle = isBitmapSubtitle(stream);
    result.frameRate = averageFrameRate(stream);
    result.rotation = clockwiseDisplayRotation(stream);
    if (stream.start_time != AV_NOPTS_VALUE)
        result.startTime = static_cast<double>(stream.start_time) * av_q2d(stream.time_base);
    if (result.type == EngineStream::Type::Audio) {
        result.channels = codec.ch_layout.nb_channels;
        result.channelLayoutKnown = hasChannelLayout(stream);
    }
    if (result.type != EngineStream::Type::Video)
        return result;
    result.sampleAspect = sampleAspectOf(stream);
    result.colorPrimaries = colorName(av_color_primaries_name(codec.color_primaries),
        codec.color_primaries != AVCOL_PRI_UNSPECIFIED);
    result.colorTransfer = colorName(
        av_color_transfer_name(codec.color_trc), codec.color_trc != AVCOL_TRC_UNSPECIFIED);
    result.colorMatrix = colorName(
        av_color_space_name(codec.color_space), codec.color_space != AVCOL_SPC_UNSPECIFIED);
    return result;
}

struct ContextCloser {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};

} // namespace

int findStreamInfo(AVFormatContext& context)
{
    std::vector<AVDictionary*> options(context.nb_streams, nullptr);
    for (AVDictionary*& streamOptions : options)
        av_dict_set_int(&streamOptions, "max_pixels", kLargestPicturePixels, 0);
    const int status = avformat_find_stream_info(&context, options.data());
    for (AVDictionary*& streamOptions : options)
        av_dict_free(&streamOptions);
    return status;
}

int clockwiseDisplayRotation(const AVStream& stream)
{
    const uint8_t* matrix = av_stream_get_side_data(&stream, AV_PKT_DATA_DISPLAYMATRIX, nullptr);
    if (!matrix)
        return 0;
    // The matrix turns counter-clockwise.
    return quarterTurnOf(-av_display_rotation_get(reinterpret_cast<const int32_t*>(matrix)));
}

int quarterTurnOf(double clockwiseDegrees)
{
    if (!std::isfinite(clockwiseDegrees))
        return 0;
    const long degrees = ((std::lround(clockwiseDegrees) % 360) + 360) % 360;
    return degrees % 90 == 0 ? static_cast<int>(degrees) : 0;
}

int EngineStreamList::count(EngineStream::Type type) const
{
    return static_cast<int>(std::count_if(streams.begin(), streams.end(),
        [type](const EngineStream& stream) { return stream.type == type; }));
}

bool EngineStreamList::isUniqueId(int id) const
{
    return std::count_if(streams.begin(), streams.end(), [id](const EngineStream& stream) {
        return stream.id == id;
    }) == 1;
}

std::vector<EngineStream> EngineStreamList::ofType(EngineStream::Type type) const
{
    std::vector<EngineStream> result;
    std::copy_if(streams.begin(), streams.end(), std::back_inserter(result),
        [type](const EngineStream& stream) { return stream.type == type; });
    return result;
}

EngineStreamList probeEngineStreams(const QString& path)
{
    // Failures reach our own log through the result; the library's console
    // chatter about damaged files would only duplicate it on stderr.
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_QUIET); });

    // The "file:" prefix keeps a name with a colon from being read as a protocol.
    const QByteArray url = "file:" + QFileInfo(path).absoluteFilePath().toUtf8();
    EngineStreamList list;
    AVFormatContext* raw = nullptr;
    if (const int error = avformat_open_input(&raw, url.constData(), nullptr, nullptr); error < 0) {
        list.error = averrorText(error);
        return list;
    }
    const std::unique_ptr<AVFormatContext, ContextCloser> context(raw);
    if (const int error = findStreamInfo(*context); error < 0) {
        list.error = averrorText(error);
        return list;
    }
    for (unsigned i = 0; i < context->nb_streams; ++i)
        list.streams.push_back(engineStream(*context->streams[i]));
    if (context->start_time != AV_NOPTS_VALUE)
        list.startTime = static_cast<double>(context->start_time) / AV_TIME_BASE;
    list.ok = true;
    return list;
}
