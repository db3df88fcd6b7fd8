#include "services/ThumbnailCapture.h"

#include "services/EngineStreamProbe.h"

#include <QFileInfo>
#include <QTransform>

#include <algorithm>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
#include <libavutil/log.h>
#include <libswscale/swscale.h>
}

namespace {

// A damaged file may never give the wanted frame; reading on would decode the
// whole file to say so. The limit counts the video track's packets, enough
// for a stretch between key frames of ten seconds at 60 frames a second; the
// sound tracks' packets between them may be several times as many.
constexpr int kMaxPacketsAfterSeek = 600;
constexpr int kMaxOtherPacketsAfterSeek = 10 * kMaxPacketsAfterSeek;

struct FormatCloser {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
struct CodecFreer {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct FrameFreer {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct PacketFreer {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
using FormatPtr = std::unique_ptr<AVFormatContext, FormatCloser>;
using CodecPtr = std::unique_ptr<AVCodecContext, CodecFreer>;
using FramePtr = std::unique_ptr<AVFrame, FrameFreer>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFreer>;

QString averrorText(int error)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    return QString::fromUtf8(text);
}

// Where the picture is taken: a tenth into the file, or a time of its own;
// and when to give up reading, for a caller that cannot wait on a slow disk.
struct CaptureAt {
    std::optional<double> seconds;
    std::optional<std::chrono::steady_clock::time_point> giveUpAt;

    bool isOverdue() const { return giveUpAt && std::chrono::steady_clock::now() >= *giveUpAt; }
};

FormatPtr openFormat(const QString& path, const CaptureAt& at, QString& error)
{
    // The "file:" prefix keeps a name with a colon from being read as a protocol.
    const QByteArray url = "file:" + QFileInfo(path).absoluteFilePath().toUtf8();
    AVFormatContext* raw = avformat_alloc_context();
    if (!raw) {
        error = averrorText(AVERROR(ENOMEM));
        return nullptr;
    }
    // Every read asks whether to go on: past the deadline it ends with AVERROR_EXIT.
    raw->interrupt_callback.callback = [](void* opaque) {
        return static_cast<int>(static_cast<const CaptureAt*>(opaque)->isOverdue());
    };
    raw->interrupt_callback.opaque = const_cast<CaptureAt*>(&at);
    if (const int status = avformat_open_input(&raw, url.constData(), nullptr, nullptr);
        status < 0) {
        error = averrorText(status);
        return nullptr;
    }
    FormatPtr format(raw);
    if (const int status = findStreamInfo(*format); status < 0) {
        error = averrorText(status);
        return nullptr;
    }
    return format;
}

CodecPtr openDecoder(const AVStream& stream, QString& error)
{
    const AVCodec* codec = avcodec_find_decoder(stream.codecpar->codec_id);
    if (!codec) {
        error = QStringLiteral("no decoder for the video track");
        return nullptr;
    }
    CodecPtr decoder(avcodec_alloc_context3(codec));
    if (!decoder || avcodec_parameters_to_context(decoder.get(), stream.codecpar) < 0) {
        error = QStringLiteral("the video track's parameters are unusable");
        return nullptr;
    }
    // Frame threads would hold back the first picture for several packets.
    decoder->thread_type = FF_THREAD_SLICE;
    // An oversized picture fails to decode rather than take gigabytes here.
    decoder->max_pixels = kLargestPicturePixels;
    if (const int status = avcodec_open2(decoder.get(), codec, nullptr); status < 0) {
        error = averrorText(status);
        return nullptr;
    }
    return decoder;
}

int64_t startTime(const AVFormatContext& format)
{
    return format.start_time == AV_NOPTS_VALUE ? 0 : format.start_time;
}

// The wanted time on the file's clock, in AV_TIME_BASE units; none when the
// length is unknown and no time was asked. A time asked counts from the first
// picture, as the previews count it: a transport stream's sound may begin
// before it.
std::optional<int64_t> wantedTime(
    const AVFormatContext& format, const AVStream& video, const CaptureAt& at)
{
    if (format.duration <= 0 && !at.seconds)
        return std::nullopt;
    if (!at.seconds)
        return startTime(format) + format.duration / 10;
    const int64_t firstPicture = video.start_time == AV_NOPTS_VALUE
        ? startTime(format)
        : av_rescale_q(video.start_time, video.time_base, AV_TIME_BASE_Q);
    return firstPicture + static_cast<int64_t>(std::max(0.0, *at.seconds) * AV_TIME_BASE);
}

// How far before the wanted time to seek, one after another while nothing
// is decoded: a container without an index (MPEG-TS) finds a time by a search
// over its bytes that may land after the last key frame before it.
constexpr int64_t kSeekLeads[] = { 0, 2 * AV_TIME_BASE, 8 * AV_TIME_BASE };

void rewind(AVFormatContext& format)
{
    // Such a search may as well pass the first key frame when asked for the
    // start, where reading from the first byte surely finds it.
    if ((format.iformat->flags & AVFMT_TS_DISCONT)
        && av_seek_frame(&format, -1, 0, AVSEEK_FLAG_BYTE) >= 0)
        return;
    if (av_seek_frame(&format, -1, startTime(format), AVSEEK_FLAG_BACKWARD) < 0)
        avio_seek(format.pb, 0, SEEK_SET);
}

bool reachedTarget(const AVFrame& frame, int64_t target)
{
    return target == AV_NOPTS_VALUE || frame.best_effort_timestamp == AV_NOPTS_VALUE
        || frame.best_effort_timestamp >= target;
}

// Decodes until a frame at or after `target`; the last frame decoded when the
// stream ends first. Null when none could be decoded, or reading was given up.
// A receive that finds the decoder drained empties the frame it was given, so
// frames are received into a scratch frame and only a picture is kept.
FramePtr decodeFrameAt(
    AVFormatContext& format, AVCodecContext& decoder, int streamIndex, int64_t target)
{
    const PacketPtr packet(av_packet_alloc());
    const FramePtr received(av_frame_alloc());
    FramePtr latest(av_frame_alloc());
    if (!packet || !received || !latest)
        return nullptr;
    bool haveFrame = false;
    int others = 0;
    for (int packets = 0; packets < kMaxPacketsAfterSeek;) {
        const int status = av_read_frame(&format, packet.get());
        if (status == AVERROR_EXIT)
            return nullptr;
        const bool ended = status < 0;
        if (!ended && packet->stream_index != streamIndex) {
            av_packet_unref(packet.get());
            if (++others >= kMaxOtherPacketsAfterSeek)
                break;
            continue;
        }
        ++packets;
        avcodec_send_packet(&decoder, ended ? nullptr : packet.get());
        av_packet_unref(packet.get());
        while (avcodec_receive_frame(&decoder, received.get()) == 0) {
            av_frame_unref(latest.get());
            av_frame_move_ref(latest.get(), received.get());
            haveFrame = true;
            if (reachedTarget(*latest, target))
                return latest;
        }
        if (ended)
            break;
    }
    if (!haveFrame)
        return nullptr;
    return latest;
}

// The stored picture's size with its pixel aspect, fitted into `box`; an
// empty box keeps the stored size.
QSize fittedSize(const AVFrame& frame, const QSize& box)
{
    if (box.isEmpty())
        return { frame.width, frame.height };
    double width = frame.width;
    if (frame.sample_aspect_ratio.num > 0 && frame.sample_aspect_ratio.den > 0)
        width *= av_q2d(frame.sample_aspect_ratio);
    QSize size = QSize(qRound(width), frame.height).scaled(box, Qt::KeepAspectRatio);
    return size.expandedTo(QSize(1, 1));
}

// The frame as it is shown: scaled so that, once turned by the stream's
// rotation, it fits `box` (the stored size for an empty box), then turned.
// QImage rows run downward, so a positive angle turns clockwise.
QImage uprightPicture(const AVFrame& frame, const QSize& box, int clockwiseDegrees)
{
    const bool quarter = clockwiseDegrees == 90 || clockwiseDegrees == 270;
    const QImage stored
        = scaledFramePicture(frame, fittedSize(frame, quarter ? box.transposed() : box));
    if (stored.isNull() || clockwiseDegrees == 0)
        return stored;
    return stored.transformed(QTransform().rotate(clockwiseDegrees));
}

// The first frame at or after the wanted time, or the last one when the
// stream ends before it; null when none can be decoded or reading is given up.
FramePtr decodeWantedFrame(
    AVFormatContext& format, AVCodecContext& decoder, int index, const CaptureAt& at)
{
    const std::optional<int64_t> wanted = wantedTime(format, *format.streams[index], at);
    if (!wanted)
        return decodeFrameAt(format, decoder, index, AV_NOPTS_VALUE);
    const int64_t target = av_rescale_q(*wanted, AV_TIME_BASE_Q, format.streams[index]->time_base);
    const int64_t start = startTime(format);
    // Past the end nothing reaches the target: the last frame is decoded from
    // the last stretch of the file.
    const int64_t end = format.duration > 0 ? start + format.duration : *wanted;
    int64_t previous = AV_NOPTS_VALUE;
    for (const int64_t lead : kSeekLeads) {
        const int64_t from = std::max(start, std::min(*wanted, end) - lead);
        if (from == previous || at.isOverdue())
            break;
        previous = from;
        if (av_seek_frame(&format, -1, from, AVSEEK_FLAG_BACKWARD) < 0)
            continue;
        avcodec_flush_buffers(&decoder);
        if (FramePtr frame = decodeFrameAt(format, decoder, index, target))
            return frame;
    }
    if (at.isOverdue())
        return nullptr;
    rewind(format);
    avcodec_flush_buffers(&decoder);
    return decodeFrameAt(format, decoder, index, target);
}

QImage capturePicture(const QString& path, const QSize& box, const CaptureAt& at, QString& why)
{
    // Failures reach the caller's log through `why`; the library's console
    // chatter about damaged files would only repeat it on stderr.
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_QUIET); });

    FormatPtr format = openFormat(path, at, why);
    if (!format)
        return {};
    const int index = av_find_best_stream(format.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (index < 0) {
        why = QStringLiteral("no video track");
        return {};
    }
    const AVStream& stream = *format->streams[index];
    CodecPtr decoder = openDecoder(stream, why);
    if (!decoder)
        return {};
    FramePtr frame = decodeWantedFrame(*format, *decoder, index, at);
    QImage image = frame ? uprightPicture(*frame, box, clockwiseDisplayRotation(stream)) : QImage();
    if (image.isNull())
        why = at.isOverdue() ? QStringLiteral("reading took longer than allowed")
                             : QStringLiteral("no picture could be decoded");
    return image;
}

} // namespace

QImage scaledFramePicture(const AVFrame& frame, const QSize& size)
{
    // The scaler aborts the process on a picture without size or format.
    const auto pixels = static_cast<AVPixelFormat>(frame.format);
    if (frame.width <= 0 || frame.height <= 0 || !frame.data[0] || size.isEmpty()
        || !sws_isSupportedInput(pixels))
        return {};
    SwsContext* scaler = sws_getContext(frame.width, frame.height, pixels, size.width(),
        size.height(), AV_PIX_FMT_RGB32, SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!scaler)
        return {};
    // AV_PIX_FMT_RGB32 is QImage's RGB32 layout on every byte order.
    QImage image(size, QImage::Format_RGB32);
    if (image.isNull()) {
        sws_freeContext(scaler);
        return {};
    }
    uint8_t* const planes[4] = { image.bits(), nullptr, nullptr, nullptr };
    const int strides[4] = { int(image.bytesPerLine()), 0, 0, 0 };
    const int rows
        = sws_scale(scaler, frame.data, frame.linesize, 0, frame.height, planes, strides);
    sws_freeContext(scaler);
    return rows > 0 ? image : QImage();
}

QImage captureThumbnail(const QString& path, const QSize& size, QString* error)
{
    QString why;
    const QImage image = capturePicture(path, size, {}, why);
    if (error)
        *error = why;
    return image;
}

QImage captureSourcePicture(
    const QString& path, double seconds, QString* error, std::chrono::milliseconds limit)
{
    QString why;
    const QImage image
        = capturePicture(path, {}, { seconds, std::chrono::steady_clock::now() + limit }, why);
    if (error)
        *error = why;
    return image;
}
