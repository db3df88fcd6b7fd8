// The encoder-core bridge's join of a merge's converted titles, which it runs
// on ffmpeg: each title's file measured, the concat lists and ffmpeg's
// arguments.
#include "engine/EncoderCore.h"

#include <algorithm>
#include <functional>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace {

// A quote inside a concat list's quoted name closes the quotes, is escaped
// and opens them again.
constexpr QLatin1StringView kEscapedQuote("'\\''");

QString concatQuoted(QString path)
{
    return "'" + path.replace(QLatin1Char('\''), kEscapedQuote) + "'";
}

QStringList concatInput(const QString& list)
{
    return { "-f", "concat", "-safe", "0", "-i", "file:" + list };
}

// Independent of the user's locale.
QString seconds(double value)
{
    return QString::number(value, 'f', 6);
}

constexpr int kSilenceRate = 48000;

// Each title's sound from its picture's start to its end: what came before
// or ran on past the picture is cut, a late start or a title without sound
// is silence.
QString joinedSoundGraph(const EncoderCoreTitleJoin& join, const EncoderCoreJoinFacts& facts)
{
    const std::vector<EncoderCoreJoinedTitle>& titles = facts.titles;
    const EncoderCoreSoundShape& firstSound = facts.firstSound;
    QString graph;
    QString parts;
    for (size_t index = 0; index < titles.size(); ++index) {
        const QString length = seconds(titles[index].pictureSeconds());
        const QString part = QStringLiteral("[s%1]").arg(index);
        if (titles[index].soundEnd > 0)
            graph += QStringLiteral("[%1:a:0]aresample=async=1:min_hard_comp=0.001:first_pts=0,"
                                    "atrim=end=%2,apad=whole_dur=%2%3;")
                         .arg(index + 1)
                         .arg(length, part);
        else
            graph += QStringLiteral("aevalsrc=0:s=%1:c=stereo:d=%2%3;")
                         .arg(firstSound.rate > 0 ? firstSound.rate : kSilenceRate)
                         .arg(length, part);
        parts += part;
    }
    graph += parts + QStringLiteral("concat=n=%1:v=0:a=1").arg(titles.size());
    // AVI keeps no time for the silence an encoder puts first: ffmpeg would
    // push the picture back by it, a whole frame in AVI, or the sound would
    // come that much late. The sound's first samples go in its place.
    if (join.format == QLatin1String("avi") && facts.encoderDelay > 0)
        graph += QStringLiteral(",atrim=start_sample=%1").arg(facts.encoderDelay);
    return graph + "[sound]";
}

// The encoder's options: the list's bit rate, or the first sound's shape
// for sound encoded like it.
QStringList joinedSoundCodec(
    const EncoderCoreTitleJoin& join, const QString& encoder, const EncoderCoreSoundShape& first)
{
    // Sound the list left to the titles' own (or asked copied, but a title
    // has none).
    const bool likeFirst = join.soundCodec.isEmpty() || join.soundCodec == QLatin1String("copy");
    QStringList options { "-c:a", encoder };
    if (!join.soundBitrate.isEmpty())
        options << "-b:a" << join.soundBitrate + 'k';
    else if (likeFirst && first.bitRate > 0)
        options << "-b:a" << QString::number(first.bitRate);
    if (likeFirst && first.rate > 0 && first.channels > 0)
        options << "-ar" << QString::number(first.rate) << "-ac" << QString::number(first.channels);
    return options;
}

EncoderCoreSoundShape soundShapeOf(const AVCodecParameters& sound)
{
    const AVCodec* encoder = avcodec_find_encoder(sound.codec_id);
    return { encoder ? QString::fromLatin1(encoder->name) : QString(), sound.sample_rate,
        sound.ch_layout.nb_channels, sound.bit_rate };
}

// The span of a stream's packets on its file's clock. A packet without a
// duration lasts a frame of its stream.
struct PacketSpan {
    int stream = -1;
    int64_t first = AV_NOPTS_VALUE;
    int64_t end = AV_NOPTS_VALUE;
    int64_t frame = 0;

    void take(const AVPacket& packet)
    {
        if (packet.stream_index != stream || packet.pts == AV_NOPTS_VALUE)
            return;
        first = first == AV_NOPTS_VALUE ? packet.pts : std::min(first, packet.pts);
        end = std::max(end, packet.pts + (packet.duration > 0 ? packet.duration : frame));
    }
    double seconds(const AVFormatContext& context, int64_t time) const
    {
        return time == AV_NOPTS_VALUE ? 0 : time * av_q2d(context.streams[stream]->time_base);
    }
};

PacketSpan spanOf(AVFormatContext& context, AVMediaType type)
{
    PacketSpan span { av_find_best_stream(&context, type, -1, -1, nullptr, 0) };
    if (span.stream < 0)
        return span;
    const AVStream& stream = *context.streams[span.stream];
    if (stream.avg_frame_rate.num > 0 && stream.avg_frame_rate.den > 0)
        span.frame = av_rescale_q(1, av_inv_q(stream.avg_frame_rate), stream.time_base);
    return span;
}

int stopReading(void* stopped)
{
    const auto& query = *static_cast<const std::function<bool()>*>(stopped);
    return query && query() ? 1 : 0;
}

// A title's file as the join needs it: where its picture and sound lie,
// read from their packets, and its sound's shape. A program stream leaves
// the times of most pictures out; the reader makes them up. Reading a long
// file ends when `stopped` says so.
std::pair<EncoderCoreJoinedTitle, EncoderCoreSoundShape> joinedTitle(
    const QString& path, const std::function<bool()>& stopped)
{
    EncoderCoreJoinedTitle title { path };
    EncoderCoreSoundShape shape;
    AVFormatContext* context = avformat_alloc_context();
    if (context == nullptr)
        return { title, shape };
    context->interrupt_callback = { &stopReading, const_cast<std::function<bool()>*>(&stopped) };
    const QByteArray url = "file:" + path.toUtf8();
    if (avformat_open_input(&context, url.constData(), nullptr, nullptr) < 0)
        return { title, shape };
    context->flags |= AVFMT_FLAG_GENPTS;
    if (avformat_find_stream_info(context, nullptr) >= 0) {
        PacketSpan picture = spanOf(*context, AVMEDIA_TYPE_VIDEO);
        PacketSpan sound = spanOf(*context, AVMEDIA_TYPE_AUDIO);
        if (sound.stream >= 0)
            shape = soundShapeOf(*context->streams[sound.stream]->codecpar);
        AVPacket* packet = av_packet_alloc();
        while (packet != nullptr && av_read_frame(context, packet) >= 0) {
            picture.take(*packet);
            sound.take(*packet);
            av_packet_unref(packet);
        }
        av_packet_free(&packet);
        title.start = context->start_time == AV_NOPTS_VALUE
            ? 0
            : context->start_time / double(AV_TIME_BASE);
        if (picture.stream >= 0) {
            title.pictureStart = picture.seconds(*context, picture.first);
            title.pictureEnd = picture.seconds(*context, picture.end);
        }
        if (sound.stream >= 0)
            title.soundEnd = sound.seconds(*context, sound.end);
    }
    avformat_close_input(&context);
    return { title, shape };
}

} // namespace

QString EncoderCoreJoinList(const std::vector<EncoderCoreJoinedTitle>& titles, bool soundEncoded)
{
    QString list;
    for (const EncoderCoreJoinedTitle& title : titles) {
        // A line break would end the list's line early.
        if (title.path.contains(QLatin1Char('\n')) || title.path.contains(QLatin1Char('\r')))
            return {};
        list += "file " + concatQuoted(title.path) + "\n";
        if (soundEncoded)
            list += "inpoint " + seconds(title.pictureStart) + "\nduration "
                + seconds(title.pictureSeconds()) + "\n";
        else
            list += "duration " + seconds(std::max(title.pictureEnd, title.soundEnd) - title.start)
                + "\n";
    }
    return list;
}

QStringList EncoderCoreConcatListFiles(const QString& list)
{
    static const QLatin1StringView head("file '");
    QStringList files;
    for (const QString& line : list.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        if (!line.startsWith(head) || !line.endsWith(QLatin1Char('\'')))
            return {};
        const QString quoted = line.mid(head.size(), line.size() - head.size() - 1);
        if (QString(quoted).remove(kEscapedQuote).contains(QLatin1Char('\'')))
            return {};
        files << QString(quoted).replace(kEscapedQuote, QLatin1String("'"));
    }
    return files;
}

QString EncoderCoreJoinSoundEncoder(
    const EncoderCoreTitleJoin& join, const EncoderCoreJoinFacts& facts)
{
    const auto hasSound = [](const EncoderCoreJoinedTitle& title) { return title.soundEnd > 0; };
    const bool sound = std::any_of(facts.titles.begin(), facts.titles.end(), hasSound);
    const bool everyTitle = std::all_of(facts.titles.begin(), facts.titles.end(), hasSound);
    // Copied, the sound would be the first title's stream alone: none when
    // that title has none, a hole where a later one has none. Such a join
    // encodes it like the first sound.
    const bool copy = join.soundCodec == QLatin1String("copy");
    const QString encoder = join.soundCodec.isEmpty() || (copy && !everyTitle)
        ? facts.firstSound.encoder
        : join.soundCodec;
    return sound && !encoder.isEmpty() ? encoder : QStringLiteral("copy");
}

QStringList EncoderCoreJoinArguments(
    const EncoderCoreTitleJoin& join, const QStringList& lists, const EncoderCoreJoinFacts& facts)
{
    const std::vector<EncoderCoreJoinedTitle>& titles = facts.titles;
    const EncoderCoreSoundShape& firstSound = facts.firstSound;
    QStringList arguments { "-nostdin", "-hide_banner", "-nostats", "-loglevel", "warning", "-y" };
    arguments << concatInput(lists.value(0));
    const QString encoder = EncoderCoreJoinSoundEncoder(join, facts);
    const bool encoded = encoder != QLatin1String("copy");
    if (encoded) {
        for (qsizetype title = 1; title <= qsizetype(titles.size()); ++title)
            arguments << concatInput(lists.value(title));
        arguments << "-filter_complex" << joinedSoundGraph(join, facts) << "-map"
                  << "0:v:0"
                  << "-map"
                  << "[sound]";
    } else {
        arguments << "-map"
                  << "0:v:0"
                  << "-map"
                  << "0:a:0?";
    }
    arguments << "-c:v"
              << "copy";
    if (!join.aspect.isEmpty())
        arguments << "-aspect" << join.aspect;
    if (encoded)
        arguments << joinedSoundCodec(join, encoder, firstSound);
    else
        arguments << "-c:a"
                  << "copy";
    return arguments << "-f" << join.format << "file:" + join.output;
}

std::optional<EncoderCoreJoinFacts> EncoderCoreMeasureTitles(
    const QStringList& paths, QString& failure, const std::function<bool()>& stopped)
{
    EncoderCoreJoinFacts facts;
    for (const QString& path : paths) {
        const auto [title, sound] = joinedTitle(path, stopped);
        if (title.pictureSeconds() <= 0) {
            failure = QStringLiteral("No picture of %1 could be read for the join.").arg(path);
            return std::nullopt;
        }
        if (facts.firstSound.encoder.isEmpty() && title.soundEnd > 0)
            facts.firstSound = sound;
        facts.titles.push_back(title);
    }
    return facts;
}

int EncoderCoreEncoderDelay(const QString& encoder, const EncoderCoreSoundShape& shape)
{
    const AVCodec* codec = avcodec_find_encoder_by_name(encoder.toLatin1().constData());
    AVCodecContext* context = codec ? avcodec_alloc_context3(codec) : nullptr;
    if (context == nullptr)
        return 0;
    context->sample_rate = shape.rate > 0 ? shape.rate : 48000;
    av_channel_layout_default(&context->ch_layout, shape.channels > 0 ? shape.channels : 2);
    context->sample_fmt = codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_FLTP;
    context->bit_rate = shape.bitRate > 0 ? shape.bitRate : 128'000;
    const int delay = avcodec_open2(context, codec, nullptr) == 0 ? context->initial_padding : 0;
    avcodec_free_context(&context);
    return std::max(delay, 0);
}
