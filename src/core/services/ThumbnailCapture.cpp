#include "services/ThumbnailCapture.h"

#include "services/EngineStreamProbe.h"

#include <QFileInfo>
#include <QTransform>

#include <algorithm>
#include <chrono>
#include <cmath>
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
// for a stretch between key frames of forty seconds at 60 frames a second (a
// screen recording, a camera's long GOP); the sound tracks' packets between
// them may be several times as many. Past it the capture fails: the picture
// last decoded lies somewhere before the one asked.
constexpr int kMaxPacketsAfterSeek = 2400;
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

// The time of the video track's first picture on the file's clock, in the
// track's units: the times asked count from it. The file's start may lie
// before it (sound that starts first, an encoder's priming delay), and a
// person counts from the first picture there is to see.
int64_t firstPictureTime(const AVFormatContext& format, const AVStream& stream)
{
    if (stream.start_time != AV_NOPTS_VALUE)
        return stream.start_time;
    if (format.start_time != AV_NOPTS_VALUE)
        return av_rescale_q(format.start_time, AV_TIME_BASE_Q, stream.time_base);
    return 0;
}

// The wanted time on the track's clock; none when the length is unknown and
// no time was asked. A time beyond any file's length is held there, where it
// still asks for the last picture.
std::optional<int64_t> wantedTime(
    const AVFormatContext& format, const AVStream& stream, const CaptureAt& at)
{
    if (format.duration <= 0 && !at.seconds)
        return std::nullopt;
    constexpr double kLongestSeconds = 1e9;
    const int64_t offset = at.seconds
        ? std::llround(std::min(std::max(0.0, *at.seconds), kLongestSeconds) * AV_TIME_BASE)
        : format.duration / 10;
    return firstPictureTime(format, stream)
        + av_rescale_q(offset, AV_TIME_BASE_Q, stream.time_base);
}

// The file's end on the track's clock; `otherwise` when its length is unknown.
int64_t endTime(const AVFormatContext& format, const AVStream& stream, int64_t otherwise)
{
    if (format.duration <= 0)
        return otherwise;
    const int64_t start = format.start_time == AV_NOPTS_VALUE ? 0 : format.start_time;
    return av_rescale_q(start + format.duration, AV_TIME_BASE_Q, stream.time_base);
}

// What reading on from a position of the file gave.
enum class Landing {
    Found, // the picture shown at the wanted time
    After, // the first picture decoded lies after the wanted time
    Nothing, // the file ended before any picture
    Unplaced, // the file ended before any picture with a time
    TooFar, // the reading limit came before the wanted time
    GivenUp, // reading took longer than the caller allows
};

// Whether a read from further back may yet reach the wanted time.
bool readFurtherBack(Landing landing)
{
    return landing == Landing::After || landing == Landing::Nothing || landing == Landing::Unplaced;
}

struct Decoded {
    Landing landing = Landing::Nothing;
    FramePtr frame; // the picture found, or the first one decoded when After
};

// Times of the pictures decoded from a read position. A picture may come
// without one (an MPEG stream stamps only some, and a seek may leave the
// demuxer none to count from): after a timed picture it is counted on by the
// track's rate; before any, it cannot be placed.
class PictureClock {
public:
    explicit PictureClock(const AVStream& stream)
    {
        const AVRational rate
            = stream.avg_frame_rate.num > 0 ? stream.avg_frame_rate : stream.r_frame_rate;
        if (rate.num > 0 && rate.den > 0)
            m_step = av_rescale_q(1, av_inv_q(rate), stream.time_base);
    }

    // The picture's time; AV_NOPTS_VALUE when it cannot be placed.
    int64_t timeOf(const AVFrame& frame)
    {
        if (frame.best_effort_timestamp != AV_NOPTS_VALUE)
            m_last = frame.best_effort_timestamp;
        else if (m_last != AV_NOPTS_VALUE && m_step > 0)
            m_last += m_step;
        else
            return AV_NOPTS_VALUE;
        return m_last;
    }

private:
    int64_t m_step = 0;
    int64_t m_last = AV_NOPTS_VALUE;
};

// Decodes from where the file is read up to the picture shown at `target`:
// the last one at or before it, known once a later one comes or the stream
// ends. With no target the first picture is taken. A receive that finds the
// decoder drained empties the frame it was given, so frames are received into
// a scratch frame and only pictures are kept.
Decoded decodeFrameAt(
    AVFormatContext& format, AVCodecContext& decoder, int streamIndex, int64_t target)
{
    const PacketPtr packet(av_packet_alloc());
    FramePtr received(av_frame_alloc());
    FramePtr shown(av_frame_alloc());
    FramePtr first(av_frame_alloc());
    if (!packet || !received || !shown || !first)
        return {};
    PictureClock clock(*format.streams[streamIndex]);
    bool haveShown = false;
    bool haveFirst = false;
    int others = 0;
    for (int packets = 0; packets < kMaxPacketsAfterSeek;) {
        const int status = av_read_frame(&format, packet.get());
        if (status == AVERROR_EXIT)
            return { Landing::GivenUp, nullptr };
        const bool ended = status < 0;
        if (!ended && packet->stream_index != streamIndex) {
            av_packet_unref(packet.get());
            if (++others >= kMaxOtherPacketsAfterSeek)
                return { Landing::TooFar, nullptr };
            continue;
        }
        ++packets;
        avcodec_send_packet(&decoder, ended ? nullptr : packet.get());
        av_packet_unref(packet.get());
        while (avcodec_receive_frame(&decoder, received.get()) == 0) {
            if (target == AV_NOPTS_VALUE)
                return { Landing::Found, std::move(received) };
            const int64_t time = clock.timeOf(*received);
            if (!haveFirst) {
                av_frame_ref(first.get(), received.get());
                haveFirst = true;
            }
            if (time == AV_NOPTS_VALUE) {
                av_frame_unref(received.get());
                continue;
            }
            // Pictures not placed came before this one and may lie at or
            // before the target: only a read from further back can tell.
            if (time > target)
                return haveShown ? Decoded { Landing::Found, std::move(shown) }
                                 : Decoded { Landing::After, std::move(first) };
            av_frame_unref(shown.get());
            av_frame_move_ref(shown.get(), received.get());
            haveShown = true;
        }
        if (!ended)
            continue;
        if (haveShown)
            return { Landing::Found, std::move(shown) };
        return { haveFirst ? Landing::Unplaced : Landing::Nothing, nullptr };
    }
    // The picture last decoded need not be the one shown at the target:
    // later ones before it are still unread.
    return { Landing::TooFar, nullptr };
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

// Seeks to a key frame before the wanted time and decodes from there. A
// container without an index (MPEG-TS, MPEG-PS) finds a time by a search over
// its bytes and lands on the first key frame after the place found, which
// may lie after the wanted time: the seek is made again from further back,
// each time four times as far, up to the first picture. A landing that
// reads further back when no seek reached the wanted time.
Decoded decodeAfterSeeks(AVFormatContext& format, AVCodecContext& decoder, int index,
    int64_t wanted, const CaptureAt& at)
{
    const AVStream& stream = *format.streams[index];
    const int64_t first = firstPictureTime(format, stream);
    // Past the end nothing reaches the target: the last picture is decoded
    // from the last stretch of the file.
    const int64_t latest = std::max(first, std::min(wanted, endTime(format, stream, wanted)));
    const int64_t firstLead = av_rescale_q(2 * AV_TIME_BASE, AV_TIME_BASE_Q, stream.time_base);
    Decoded decoded;
    for (int64_t lead = 0; !at.isOverdue(); lead = lead == 0 ? firstLead : 4 * lead) {
        const int64_t from = std::max(first, latest - lead);
        if (av_seek_frame(&format, index, from, AVSEEK_FLAG_BACKWARD) >= 0) {
            avcodec_flush_buffers(&decoder);
            decoded = decodeFrameAt(format, decoder, index, wanted);
            if (!readFurtherBack(decoded.landing))
                return decoded;
        }
        if (from == first)
            break;
    }
    return decoded;
}

// The picture shown at the wanted time: the last one at or before it (the
// last of all past the end), the first one when the wanted time lies before
// it. A Found landing holds it; any other says why there is none.
Decoded decodeWantedFrame(FormatPtr& format, const QString& path, AVCodecContext& decoder,
    int index, const CaptureAt& at, QString& why)
{
    const std::optional<int64_t> wanted = wantedTime(*format, *format->streams[index], at);
    if (!wanted)
        return decodeFrameAt(*format, decoder, index, AV_NOPTS_VALUE);
    Decoded decoded = decodeAfterSeeks(*format, decoder, index, *wanted, at);
    if (!readFurtherBack(decoded.landing) || at.isOverdue())
        return decoded;
    // Read again from the first byte by a demuxer of its own: a seek to the
    // start may pass the first key frame, or fail where the index holds
    // nothing before the first picture (FLV), and the byte reader set back
    // under a demuxer past its header reads nonsense.
    format = openFormat(path, at, why);
    if (!format)
        return { Landing::Nothing, nullptr };
    avcodec_flush_buffers(&decoder);
    decoded = decodeFrameAt(*format, decoder, index, *wanted);
    // The file's first picture lies after the wanted time: it is the one shown there.
    if (decoded.landing == Landing::After)
        decoded.landing = Landing::Found;
    return decoded;
}

QString reasonWithout(const Decoded& decoded, const CaptureAt& at)
{
    if (decoded.landing == Landing::GivenUp || at.isOverdue())
        return QStringLiteral("reading took longer than allowed");
    if (decoded.landing == Landing::Unplaced)
        return QStringLiteral("the video track's pictures carry no times");
    if (decoded.landing == Landing::TooFar)
        return QStringLiteral("the picture asked lies more than %1 pictures after a key frame")
            .arg(kMaxPacketsAfterSeek);
    return QStringLiteral("no picture could be decoded");
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
    const int rotation = clockwiseDisplayRotation(*format->streams[index]);
    CodecPtr decoder = openDecoder(*format->streams[index], why);
    if (!decoder)
        return {};
    const Decoded decoded = decodeWantedFrame(format, path, *decoder, index, at, why);
    if (!format)
        return {};
    QImage image = decoded.landing == Landing::Found && decoded.frame
        ? uprightPicture(*decoded.frame, box, rotation)
        : QImage();
    if (image.isNull())
        why = reasonWithout(decoded, at);
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

QImage captureSourcePicture(const QString& path, double secondsFromFirstPicture, QString* error,
    std::chrono::milliseconds limit)
{
    QString why;
    const QImage image = capturePicture(
        path, {}, { secondsFromFirstPicture, std::chrono::steady_clock::now() + limit }, why);
    if (error)
        *error = why;
    return image;
}
