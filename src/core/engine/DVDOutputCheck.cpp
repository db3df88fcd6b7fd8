#include "engine/DVDOutputCheck.h"

#include "services/DVDTitleReader.h"

#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <memory>
#include <mutex>
#include <optional>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/error.h>
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

// The sound's own length where the container keeps one: mencoder has been
// seen to lose a title's sound after a tenth of a second and go on with the
// picture alone.
std::optional<double> lengthOf(const AVStream& stream)
{
    if (stream.duration == AV_NOPTS_VALUE || stream.duration <= 0)
        return std::nullopt;
    return av_q2d(stream.time_base) * double(stream.duration);
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
    const QByteArray url = "file:" + file.absoluteFilePath().toUtf8();
    AVFormatContext* raw = nullptr;
    if (const int error = avformat_open_input(&raw, url.constData(), nullptr, nullptr); error < 0)
        return QStringLiteral("the output cannot be read: %1").arg(averrorText(error));
    const Context context(raw);
    if (const int error = avformat_find_stream_info(context.get(), nullptr); error < 0)
        return QStringLiteral("the output cannot be read: %1").arg(averrorText(error));
    const AVStream* audio = audioStream(*context);
    if (const QString missing = missingStreams(*context, expected); !missing.isEmpty())
        return missing;
    if (expected.audio && !audio)
        return QStringLiteral("the output has no sound, though a sound track was chosen");
    const double length = lengthOf(*context);
    if (std::abs(length - expected.seconds) > kLengthSlack)
        return QStringLiteral("the output lasts %1 s instead of %2 s")
            .arg(secondsText(length), secondsText(expected.seconds));
    const std::optional<double> sound = audio ? lengthOf(*audio) : std::nullopt;
    if (expected.audio && sound && std::abs(*sound - expected.seconds) > kLengthSlack)
        return QStringLiteral("the output's sound lasts %1 s instead of %2 s")
            .arg(secondsText(*sound), secondsText(expected.seconds));
    return {};
}
