// The file encoder bridge's join of a merge's members.
//
// The concat demuxer puts each member's output where the one before it ends
// by its headers, which count the sound encoder's priming and padding: an
// FLV or F4V part (MP3) held its last picture 0.09 s with silence beside it
// at each join, an ASF part (WMA) 0.19 s. The join measures each part first.
// Its list gives each part the length after which the next part's first
// picture follows its last one at once; no part is cut in the list (an in
// point makes the demuxer seek, and a program stream's seek loses a part's
// first picture). Each part's sound, decoded from its own file, is cut to its
// picture (or filled with silence up to its end), and the parts' sound is
// encoded again, as the list or the first part's sound asks.
#include "engine/AVEncoderJoin.h"

#include "engine/EncoderCore.h"
#include "platform/DNLogger.h"

#include <QFile>
#include <QTemporaryFile>

#include <algorithm>
#include <cmath>
#include <optional>
#include <utility>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
}

namespace {

const QString kKeptAsListed(QStringLiteral(" The members are joined as their headers place them."));

// The position of the concat list in a builder's list; -1 for a list that
// joins nothing.
qsizetype joinListAt(const QStringList& words)
{
    const qsizetype concat = words.indexOf(QStringLiteral("concat"));
    if (concat < 1 || words[concat - 1] != QLatin1String("-f")
        || words.value(concat + 1) != QLatin1String("-i") || concat + 2 >= words.size())
        return -1;
    return concat + 2;
}

// The joined sound's encoder: the one the list names, or the first part's
// sound's codec's where the list copies the sound; empty when neither is known.
QString joinSoundEncoder(const QStringList& words, const EncoderCoreJoinFacts& facts)
{
    const qsizetype sound = words.indexOf(QStringLiteral("-c:a"));
    const QString listed = sound >= 0 ? words.value(sound + 1) : QString();
    return listed.isEmpty() || listed == QLatin1String("copy") ? facts.firstSound.encoder : listed;
}

bool anyPartSounds(const EncoderCoreJoinFacts& facts)
{
    return std::any_of(facts.titles.begin(), facts.titles.end(),
        [](const EncoderCoreJoinedTitle& part) { return part.soundEnd > 0; });
}

// Independent of the user's locale.
QString seconds(double value)
{
    return QString::number(value, 'f', 6);
}

// Where a part's first picture lies on its clock, which ffmpeg starts at its
// file's start.
double pictureLead(const EncoderCoreJoinedTitle& part)
{
    return std::max(0.0, part.pictureStart - part.start);
}

// --- Measuring ---------------------------------------------------------------

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

EncoderCoreSoundShape soundShapeOf(const AVCodecParameters& sound)
{
    const AVCodec* encoder = avcodec_find_encoder(sound.codec_id);
    return { encoder ? QString::fromLatin1(encoder->name) : QString(), sound.sample_rate,
        sound.ch_layout.nb_channels, sound.bit_rate };
}

int stopReading(void* stopped)
{
    return (*static_cast<const AVEncoderStopQuery*>(stopped))() ? 1 : 0;
}

// A member's file as the join needs it: where its picture and sound lie,
// read from their packets, and its sound's shape. A program stream leaves
// the times of most pictures out; the reader makes them up. Reading a long
// member ends when `stopped` says so.
std::pair<EncoderCoreJoinedTitle, EncoderCoreSoundShape> measurePart(
    const QString& path, const AVEncoderStopQuery& stopped)
{
    EncoderCoreJoinedTitle part { path };
    EncoderCoreSoundShape shape;
    AVFormatContext* context = avformat_alloc_context();
    if (context == nullptr)
        return { part, shape };
    context->interrupt_callback = { &stopReading, const_cast<AVEncoderStopQuery*>(&stopped) };
    const QByteArray url = "file:" + path.toUtf8();
    if (avformat_open_input(&context, url.constData(), nullptr, nullptr) < 0)
        return { part, shape };
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
        part.start = context->start_time == AV_NOPTS_VALUE
            ? 0
            : context->start_time / double(AV_TIME_BASE);
        if (picture.stream >= 0) {
            part.pictureStart = picture.seconds(*context, picture.first);
            part.pictureEnd = picture.seconds(*context, picture.end);
        }
        if (sound.stream >= 0)
            part.soundEnd = sound.seconds(*context, sound.end);
    }
    avformat_close_input(&context);
    return { part, shape };
}

// The members a builder's join list names, each measured; nothing, with the
// reason in the log, when the list or a member's picture cannot be read.
std::optional<EncoderCoreJoinFacts> measureJoin(
    const QString& list, const AVEncoderStopQuery& stopped)
{
    constexpr qint64 kLongestList = 1 << 20;
    QFile file(list);
    const QStringList members = file.open(QIODevice::ReadOnly)
        ? EncoderCoreConcatListFiles(QString::fromUtf8(file.read(kLongestList)))
        : QStringList();
    if (members.isEmpty()) {
        DNLog(QStringLiteral("The join list %1 cannot be read.").arg(list) + kKeptAsListed);
        return std::nullopt;
    }
    EncoderCoreJoinFacts facts;
    for (const QString& member : members) {
        const auto [part, sound] = measurePart(member, stopped);
        if (part.pictureSeconds() <= 0) {
            DNLog(QStringLiteral("No picture of %1 could be read for the join.").arg(member)
                + kKeptAsListed);
            return std::nullopt;
        }
        if (facts.firstSound.encoder.isEmpty() && part.soundEnd > 0)
            facts.firstSound = sound;
        facts.titles.push_back(part);
    }
    return facts;
}

// --- The joined list ---------------------------------------------------------

// A quote inside a concat list's quoted name closes the quotes, is escaped
// and opens them again.
QString listedFile(QString path)
{
    return QStringLiteral("file '%1'\n")
        .arg(path.replace(QLatin1Char('\''), QLatin1String("'\\''")));
}

// Each part lasts until the next one's first picture follows its last; the
// last part as long as its picture. Empty for a path a list cannot hold.
QString joinedList(const EncoderCoreJoinFacts& facts)
{
    QString list;
    const std::vector<EncoderCoreJoinedTitle>& parts = facts.titles;
    for (size_t index = 0; index < parts.size(); ++index) {
        // A line break would end the list's line early.
        if (parts[index].path.contains(QLatin1Char('\n'))
            || parts[index].path.contains(QLatin1Char('\r')))
            return {};
        const double next = index + 1 < parts.size() ? pictureLead(parts[index + 1]) : 0.0;
        const double length = parts[index].pictureEnd - parts[index].start - next;
        list += listedFile(parts[index].path) + "duration " + seconds(length) + '\n';
    }
    return list;
}

// Where ffmpeg's reading of the joined list starts, on its first part's
// clock: at the earliest packet of any of its streams, which may lie before
// the part's own start (an MP4 part's priming). ffmpeg takes it for the
// input's zero; the joined sound starts there too. 0 when it cannot be told.
double listStart(const QString& list)
{
    const AVInputFormat* concat = av_find_input_format("concat");
    AVDictionary* options = nullptr;
    av_dict_set(&options, "safe", "0", 0);
    AVFormatContext* context = nullptr;
    double start = 0;
    if (concat && avformat_open_input(&context, list.toUtf8().constData(), concat, &options) >= 0) {
        if (avformat_find_stream_info(context, nullptr) >= 0
            && context->start_time != AV_NOPTS_VALUE)
            start = context->start_time / double(AV_TIME_BASE);
        avformat_close_input(&context);
    }
    av_dict_free(&options);
    return start;
}

// --- The joined sound --------------------------------------------------------

// Each part's sound (input 1 + n) from its picture's start to its end on its
// clock: what came before (the encoder's priming) or ran on past the picture
// is cut, and a part without sound is silence. The first part's sound starts
// where the joined list does, `start`, as its picture does.
QString joinedSoundGraph(const EncoderCoreJoinFacts& facts, double start, const QString& format)
{
    constexpr int kSilenceRate = 48000;
    const int rate = facts.firstSound.rate > 0 ? facts.firstSound.rate : kSilenceRate;
    QString graph;
    QString labels;
    for (size_t index = 0; index < facts.titles.size(); ++index) {
        const EncoderCoreJoinedTitle& part = facts.titles[index];
        const double lead = pictureLead(part);
        const double from = index == 0 ? std::min(start, lead) : lead;
        const double to = lead + part.pictureSeconds();
        const QString label = QStringLiteral("[s%1]").arg(index);
        // The sound padded with silence from `from` on, where it starts later.
        const auto firstSample = qint64(std::floor(std::min(from, 0.0) * rate));
        if (part.soundEnd > 0)
            graph += QStringLiteral("[%1:a:0]aresample=async=1:min_hard_comp=0.001:first_pts=%2,"
                                    "atrim=start=%3:end=%4,asetpts=PTS-STARTPTS,"
                                    "apad=whole_dur=%5%6;")
                         .arg(index + 1)
                         .arg(firstSample)
                         .arg(seconds(from), seconds(to), seconds(to - from), label);
        else
            graph += QStringLiteral("aevalsrc=0:s=%1:c=stereo:d=%2%3;")
                         .arg(rate)
                         .arg(seconds(to - from), label);
        labels += label;
    }
    graph += labels + QStringLiteral("concat=n=%1:v=0:a=1").arg(facts.titles.size());
    // AVI keeps no time for the silence the encoder puts first: the sound
    // would come that much late. Its first samples go in its place.
    if (format == QLatin1String("avi") && facts.encoderDelay > 0)
        graph += QStringLiteral(",atrim=start_sample=%1").arg(facts.encoderDelay);
    return graph + kAVEncoderJoinedSound;
}

// "-c:a" and the first part's sound's shape. Its bit rate as measured is
// what the sound took, not what it was given (quiet sound takes little of
// it): the encoder takes its own for that shape.
QStringList joinedSoundOptions(const QString& encoder, const EncoderCoreSoundShape& shape)
{
    QStringList options { "-c:a", encoder };
    if (shape.rate > 0 && shape.channels > 0)
        options << "-ar" << QString::number(shape.rate) << "-ac" << QString::number(shape.channels);
    return options;
}

void replaceWords(QStringList& words, qsizetype at, qsizetype count, const QStringList& by)
{
    words.remove(at, count);
    for (qsizetype word = 0; word < by.size(); ++word)
        words.insert(at + word, by[word]);
}

// The list's codec words with the sound encoded: where "-c copy" copies
// every stream, or "-c:a copy" the sound, the sound takes `encoder` and the
// first part's shape; an encoder the list names stays with its own options.
void encodeJoinedSound(
    QStringList& words, const QString& encoder, const EncoderCoreJoinFacts& facts)
{
    const qsizetype all = words.indexOf(QStringLiteral("-c"));
    if (all >= 0 && words.value(all + 1) == QLatin1String("copy")) {
        replaceWords(words, all + 2, 0, joinedSoundOptions(encoder, facts.firstSound));
        return;
    }
    const qsizetype sound = words.indexOf(QStringLiteral("-c:a"));
    if (sound >= 0 && words.value(sound + 1) == QLatin1String("copy"))
        replaceWords(words, sound, 2, joinedSoundOptions(encoder, facts.firstSound));
}

// The builder's list reading `list` for its pictures, which starts at
// `start`, and each part's own file for its sound.
QStringList joinArguments(
    QStringList words, const QString& list, double start, const EncoderCoreJoinFacts& facts)
{
    const qsizetype listAt = joinListAt(words);
    words[listAt] = list;
    if (!anyPartSounds(facts))
        return words;
    QStringList inputs;
    for (const EncoderCoreJoinedTitle& part : facts.titles)
        inputs << "-i"
               << "file:" + part.path;
    // The streams ffmpeg would choose of the list, its sound from the graph.
    inputs << "-filter_complex" << joinedSoundGraph(facts, start, AVEncoderOutputFormat(words))
           << "-map"
           << "0:v:0"
           << "-map" << kAVEncoderJoinedSound << "-map"
           << "0:s:0?";
    replaceWords(words, listAt + 1, 0, inputs);
    encodeJoinedSound(words, joinSoundEncoder(words, facts), facts);
    return words;
}

} // namespace

QStringList AVEncoderMeasuredJoin(
    const QStringList& builderArguments, QTemporaryFile& list, const AVEncoderStopQuery& stopped)
{
    const qsizetype listAt = joinListAt(builderArguments);
    if (listAt < 0)
        return builderArguments;
    std::optional<EncoderCoreJoinFacts> facts = measureJoin(builderArguments[listAt], stopped);
    if (!facts)
        return builderArguments;
    const QString encoder = joinSoundEncoder(builderArguments, *facts);
    // Sound that cannot be encoded again cannot be cut.
    if (anyPartSounds(*facts) && encoder.isEmpty()) {
        DNLog(QStringLiteral("No encoder writes the sound of %1 again.")
                  .arg(facts->titles.front().path)
            + kKeptAsListed);
        return builderArguments;
    }
    if (!encoder.isEmpty())
        facts->encoderDelay = EncoderCoreEncoderDelay(encoder, facts->firstSound);
    const QByteArray text = joinedList(*facts).toUtf8();
    if (text.isEmpty() || !list.open() || list.write(text) != text.size() || !list.flush()) {
        DNLog(QStringLiteral("The list of the measured join cannot be written.") + kKeptAsListed);
        return builderArguments;
    }
    return joinArguments(builderArguments, list.fileName(), listStart(list.fileName()), *facts);
}
