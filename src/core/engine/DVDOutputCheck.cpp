#include "engine/DVDOutputCheck.h"

#include "services/DVDTitleReader.h"

#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <memory>
#include <mutex>
#include <optional>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
}

namespace {

constexpr double kLengthSlack = 1.0; // seconds

struct ContextCloser {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
using Context = std::unique_ptr<AVFormatContext, ContextCloser>;

QString averrorText(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return QString::fromUtf8(text);
}

// The end of the last packet, in seconds: what a raw stream really holds
// when its length was only guessed from the first frames' bitrate.
double lengthFromPackets(AVFormatContext& context)
{
    double end = 0;
    AVPacket* packet = av_packet_alloc();
    while (packet && av_read_frame(&context, packet) >= 0) {
        const AVStream& stream = *context.streams[packet->stream_index];
        const int64_t start = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
        if (start != AV_NOPTS_VALUE) {
            const int64_t first = stream.start_time != AV_NOPTS_VALUE ? stream.start_time : 0;
            end = std::max(
                end, av_q2d(stream.time_base) * double(start - first + packet->duration));
        }
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    return end;
}

QString secondsText(double seconds)
{
    return QString::number(seconds, 'f', 1); // QString::number ignores the locale
}

double lengthOf(AVFormatContext& context)
{
    if (context.duration_estimation_method == AVFMT_DURATION_FROM_BITRATE
        || context.duration == AV_NOPTS_VALUE)
        return lengthFromPackets(context);
    return double(context.duration) / AV_TIME_BASE;
}

int streamCount(const AVFormatContext& context, AVMediaType type)
{
    return int(std::count_if(context.streams, context.streams + context.nb_streams,
        [type](const AVStream* stream) { return stream->codecpar->codec_type == type; }));
}

// The streams a backup of every track must hold.
QString missingStreams(const AVFormatContext& context, const DVDOutputExpectation& expected)
{
    const int audio = streamCount(context, AVMEDIA_TYPE_AUDIO);
    if (expected.audioStreams >= 0 && audio != expected.audioStreams)
        return QStringLiteral("the output has %1 sound streams instead of %2")
            .arg(audio)
            .arg(expected.audioStreams);
    const int subtitles = streamCount(context, AVMEDIA_TYPE_SUBTITLE);
    if (expected.subtitleStreams >= 0 && subtitles != expected.subtitleStreams)
        return QStringLiteral("the output has %1 subtitle streams instead of %2")
            .arg(subtitles)
            .arg(expected.subtitleStreams);
    return {};
}

// An ISO backup opens as a DVD with the source's titles.
QString checkDiscImage(const QString& path, const std::vector<double>& titleSeconds)
{
    QString failure;
    const std::optional<DVDDiscFacts> disc = readDVDTitles(path, failure);
    if (!disc)
        return QStringLiteral("the image cannot be read as a DVD: %1").arg(failure);
    if (disc->titles.size() != titleSeconds.size())
        return QStringLiteral("the image holds %1 titles instead of %2")
            .arg(disc->titles.size())
            .arg(titleSeconds.size());
    for (size_t index = 0; index < titleSeconds.size(); ++index) {
        if (std::abs(disc->titles[index].length - titleSeconds[index]) > kLengthSlack)
            return QStringLiteral("title %1 of the image lasts %2 s instead of %3 s")
                .arg(index + 1)
                .arg(disc->titles[index].length)
                .arg(titleSeconds[index]);
    }
    return {};
}

const AVStream* audioStream(const AVFormatContext& context)
{
    const auto end = context.streams + context.nb_streams;
    const auto found = std::find_if(context.streams, end,
        [](const AVStream* stream) { return stream->codecpar->codec_type == AVMEDIA_TYPE_AUDIO; });
    return found == end ? nullptr : *found;
}

struct CodecCloser {
    void operator()(AVCodecContext* codec) const { avcodec_free_context(&codec); }
};
using Codec = std::unique_ptr<AVCodecContext, CodecCloser>;

struct PacketFrame {
    PacketFrame()
        : packet(av_packet_alloc())
        , frame(av_frame_alloc())
    { }
    ~PacketFrame()
    {
        av_packet_free(&packet);
        av_frame_free(&frame);
    }
    PacketFrame(const PacketFrame&) = delete;
    PacketFrame& operator=(const PacketFrame&) = delete;
    AVPacket* packet;
    AVFrame* frame;
};

Codec openDecoder(const AVStream& stream)
{
    const AVCodec* decoder = avcodec_find_decoder(stream.codecpar->codec_id);
    Codec codec(decoder ? avcodec_alloc_context3(decoder) : nullptr);
    if (!codec || avcodec_parameters_to_context(codec.get(), stream.codecpar) < 0
        || avcodec_open2(codec.get(), decoder, nullptr) < 0)
        return nullptr;
    return codec;
}

// Seconds of sound the decoder gives back from the frames it is sent.
double receiveSound(AVCodecContext& codec, AVFrame& frame)
{
    double seconds = 0;
    while (avcodec_receive_frame(&codec, &frame) >= 0) {
        if (frame.sample_rate > 0)
            seconds += double(frame.nb_samples) / frame.sample_rate;
        av_frame_unref(&frame);
    }
    return seconds;
}

std::optional<double> decodedSoundSeconds(AVFormatContext& context, const AVStream& stream)
{
    const Codec codec = openDecoder(stream);
    const PacketFrame buffers;
    if (!codec || !buffers.packet || !buffers.frame)
        return std::nullopt;
    double seconds = 0;
    while (av_read_frame(&context, buffers.packet) >= 0) {
        // A packet that does not decode is left out: what it held is not heard.
        if (buffers.packet->stream_index == stream.index
            && avcodec_send_packet(codec.get(), buffers.packet) >= 0)
            seconds += receiveSound(*codec, *buffers.frame);
        av_packet_unref(buffers.packet);
    }
    avcodec_send_packet(codec.get(), nullptr);
    return seconds + receiveSound(*codec, *buffers.frame);
}

Context openOutput(const QString& path, QString& failure)
{
    const QByteArray url = "file:" + QFileInfo(path).absoluteFilePath().toUtf8();
    AVFormatContext* raw = nullptr;
    if (const int error = avformat_open_input(&raw, url.constData(), nullptr, nullptr); error < 0) {
        failure = QStringLiteral("the output cannot be read: %1").arg(averrorText(error));
        return nullptr;
    }
    Context context(raw);
    if (const int error = avformat_find_stream_info(context.get(), nullptr); error < 0) {
        failure = QStringLiteral("the output cannot be read: %1").arg(averrorText(error));
        return nullptr;
    }
    return context;
}

// The sound decoded to its end, on a fresh reading of the file: mencoder has
// been seen to lose a title's sound after a tenth of a second and go on with
// the picture alone, and a join of titles whose sound differs names one
// codec for all, so nothing after the first title decodes.
QString checkSound(const QString& path, double expectedSeconds)
{
    QString failure;
    const Context context = openOutput(path, failure);
    if (!context)
        return failure;
    const AVStream* audio = audioStream(*context);
    if (!audio)
        return QStringLiteral("the output has no sound, though a sound track was chosen");
    const std::optional<double> sound = decodedSoundSeconds(*context, *audio);
    if (!sound)
        return QStringLiteral("the output's sound cannot be decoded");
    // A length nobody asked for is not checked, but some sound must be there.
    if (expectedSeconds > 0 ? std::abs(*sound - expectedSeconds) > kLengthSlack : *sound <= 0)
        return QStringLiteral("the output's sound decodes for %1 s instead of %2 s")
            .arg(secondsText(*sound), secondsText(expectedSeconds));
    return {};
}

// What the sources' packets hold together, each read to its end; nothing
// when one cannot be read.
std::optional<double> sourcesLengthFromPackets(const std::vector<QString>& paths)
{
    double seconds = 0;
    for (const QString& path : paths) {
        QString failure;
        const Context context = openOutput(path, failure);
        if (!context)
            return std::nullopt;
        seconds += lengthFromPackets(*context);
    }
    return seconds;
}

double farLongerThan(double seconds)
{
    return 2 * seconds + 60;
}

bool isFarLonger(double length, const DVDOutputExpectation& expected, double seconds)
{
    return expected.atLeast && length > farLongerThan(seconds);
}

// The length the output must have: the one expected, or, when the output's
// is off and the sources' headers may have been wrong, what their packets
// hold (never more than expected for a short output, nor less for a long one).
double expectedLength(double length, const DVDOutputExpectation& expected)
{
    const double seconds = expected.seconds;
    const bool isShort = seconds - length > kLengthSlack;
    if (expected.sources.empty() || (!isShort && !isFarLonger(length, expected, seconds)))
        return seconds;
    const double held = sourcesLengthFromPackets(expected.sources).value_or(seconds);
    return isShort ? std::min(seconds, held) : std::max(seconds, held);
}

QString checkLength(AVFormatContext& context, const DVDOutputExpectation& expected)
{
    const double length = lengthOf(context);
    const double seconds = expectedLength(length, expected);
    const double missing = seconds - length;
    if (isFarLonger(length, expected, seconds))
        return QStringLiteral("the output lasts %1 s, far longer than the %2 s asked for")
            .arg(secondsText(length), secondsText(seconds));
    if (missing > kLengthSlack || (!expected.atLeast && -missing > kLengthSlack))
        return QStringLiteral("the output lasts %1 s instead of %2 s")
            .arg(secondsText(length), secondsText(seconds));
    return {};
}

// How long the picture and the sound of a file last, each from its first
// packet to the end of its last; and whether any picture decodes at all.
struct PictureAndSound {
    std::optional<double> picture;
    std::optional<double> sound;
    bool pictureDecodes = false;
};

const AVStream* pictureStream(const AVFormatContext& context)
{
    const auto end = context.streams + context.nb_streams;
    const auto found = std::find_if(context.streams, end, [](const AVStream* stream) {
        return stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO
            && !(stream->disposition & AV_DISPOSITION_ATTACHED_PIC);
    });
    return found == end ? nullptr : *found;
}

struct StreamSpan {
    double start = 0;
    double end = 0;
    bool seen = false;

    void add(const AVPacket& packet, const AVStream& stream)
    {
        const int64_t at = packet.pts != AV_NOPTS_VALUE ? packet.pts : packet.dts;
        if (at == AV_NOPTS_VALUE)
            return;
        const double from = av_q2d(stream.time_base) * double(at);
        const double to = av_q2d(stream.time_base) * double(at + packet.duration);
        start = seen ? std::min(start, from) : from;
        end = seen ? std::max(end, to) : to;
        seen = true;
    }
    std::optional<double> length() const
    {
        return seen ? std::optional<double>(end - start) : std::nullopt;
    }
};

// Sends the picture's packets to its decoder until a frame comes back.
bool decodesFrame(AVCodecContext& codec, AVFrame& frame, const AVPacket* packet)
{
    if (avcodec_send_packet(&codec, packet) < 0 && packet)
        return false;
    const bool decoded = avcodec_receive_frame(&codec, &frame) >= 0;
    av_frame_unref(&frame);
    return decoded;
}

std::optional<PictureAndSound> readStreams(const QString& path)
{
    QString failure;
    const Context context = openOutput(path, failure);
    if (!context)
        return std::nullopt;
    const AVStream* picture = pictureStream(*context);
    const AVStream* sound = audioStream(*context);
    const Codec codec = picture ? openDecoder(*picture) : nullptr;
    const PacketFrame buffers;
    PictureAndSound facts;
    // A picture no decoder here reads is not judged.
    facts.pictureDecodes = !codec;
    StreamSpan pictureSpan;
    StreamSpan soundSpan;
    while (buffers.packet && av_read_frame(context.get(), buffers.packet) >= 0) {
        const AVStream& stream = *context->streams[buffers.packet->stream_index];
        if (&stream == picture) {
            pictureSpan.add(*buffers.packet, stream);
            if (!facts.pictureDecodes)
                facts.pictureDecodes = decodesFrame(*codec, *buffers.frame, buffers.packet);
        } else if (&stream == sound) {
            soundSpan.add(*buffers.packet, stream);
        }
        av_packet_unref(buffers.packet);
    }
    if (!facts.pictureDecodes && buffers.frame)
        facts.pictureDecodes = decodesFrame(*codec, *buffers.frame, nullptr);
    facts.picture = pictureSpan.length();
    facts.sound = soundSpan.length();
    return facts;
}

std::optional<double> pictureSoundGap(const PictureAndSound& facts)
{
    if (!facts.picture || !facts.sound)
        return std::nullopt;
    return std::abs(*facts.picture - *facts.sound);
}

// How far the sources' own pictures and sounds are apart: an output may
// keep that, and no more.
double sourcesGap(const std::vector<QString>& paths)
{
    double gap = 0;
    for (const QString& path : paths) {
        const std::optional<PictureAndSound> facts = readStreams(path);
        gap += facts ? pictureSoundGap(*facts).value_or(0) : 0;
    }
    return gap;
}

// A join of parts whose clocks differ has been seen to play its picture at
// half speed beside the sound, and a copy of packets a container cannot
// carry to leave no picture that decodes: ffmpeg answers 0 for both.
QString checkStreams(const QString& path, const DVDOutputExpectation& expected)
{
    const std::optional<PictureAndSound> facts = readStreams(path);
    if (!facts)
        return QStringLiteral("the output cannot be read");
    if (!facts->pictureDecodes)
        return QStringLiteral("no frame of the output's picture decodes");
    const std::optional<double> gap = pictureSoundGap(*facts);
    if (!gap || *gap <= kLengthSlack || *gap <= sourcesGap(expected.sources) + kLengthSlack)
        return {};
    return QStringLiteral("the output's picture lasts %1 s and its sound %2 s")
        .arg(secondsText(*facts->picture), secondsText(*facts->sound));
}

} // namespace

QString checkDVDOutput(const QString& path, const DVDOutputExpectation& expected)
{
    // Our own messages say what is wrong; the library's would only repeat it.
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_QUIET); });

    const QFileInfo file(path);
    if (path.isEmpty() || !file.isFile())
        return QStringLiteral("the encoder wrote no output file");
    if (file.size() == 0)
        return QStringLiteral("the encoder wrote an empty output file");
    if (expected.discImage)
        return checkDiscImage(path, expected.discTitleSeconds);
    QString failure;
    const Context context = openOutput(path, failure);
    if (!context)
        return failure;
    if (const QString missing = missingStreams(*context, expected); !missing.isEmpty())
        return missing;
    if (expected.seconds > 0) {
        if (const QString wrong = checkLength(*context, expected); !wrong.isEmpty())
            return wrong;
    }
    if (expected.audio) {
        if (const QString sound = checkSound(path, expected.seconds); !sound.isEmpty())
            return sound;
    }
    return checkStreams(path, expected);
}
