#include "services/MediaProbe.h"

#include "platform/DNLogger.h"
#include "services/EngineStreamProbe.h"
#include "services/MediaInfoLibrary.h"

#include <QFile>
#include <QRegularExpression>
#include <QStringList>
#include <QtEndian>

#include <algorithm>
#include <cmath>

namespace {

using Kind = MediaInfoLibrary::StreamKind;
using File = MediaInfoLibrary::File;

// The library's numbers are written in the C locale ("2040.000").
double number(const QString& text)
{
    bool ok = false;
    const double value = text.toDouble(&ok);
    return ok && std::isfinite(value) ? value : 0.0;
}

// Ids come as "256", "224 (0xE0)" or "189 (0xBD)-128 (0x80)": the first number counts.
int leadingId(const QString& text)
{
    static const QRegularExpression digits(QStringLiteral("^\\s*(\\d+)"));
    const QRegularExpressionMatch match = digits.match(text);
    return match.hasMatch() ? match.captured(1).toInt() : -1;
}

// How one stream of the probe is known to the engine.
struct StreamMatch {
    int id = -1;
    std::optional<EngineStream> engine;
};

// Pairs the probe's streams `indices` of one kind with the engine's streams of
// the same type: by equal id first, else by position when both list as many.
// The id is the one the engine's "0:#id" specifier selects the stream by, -1
// when the engine does not list the stream or its id selects several streams.
std::vector<StreamMatch> matchStreams(const File& file, Kind kind,
    const std::vector<std::size_t>& indices, const EngineStreamList& engineList,
    EngineStream::Type type)
{
    const std::vector<EngineStream> engine = engineList.ofType(type);
    std::vector<StreamMatch> matches;
    for (std::size_t position = 0; position < indices.size(); ++position) {
        const int probeId = leadingId(file.get(kind, indices[position], "ID"));
        const auto sameId = std::find_if(engine.begin(), engine.end(),
            [probeId](const EngineStream& stream) { return stream.id == probeId; });
        StreamMatch match;
        if (probeId >= 0 && sameId != engine.end())
            match.engine = *sameId;
        else if (engine.size() == indices.size())
            match.engine = engine[position];
        if (match.engine && engineList.isUniqueId(match.engine->id))
            match.id = match.engine->id;
        matches.push_back(match);
    }
    return matches;
}

std::vector<std::size_t> allStreams(const File& file, Kind kind)
{
    std::vector<std::size_t> indices(file.count(kind));
    for (std::size_t i = 0; i < indices.size(); ++i)
        indices[i] = i;
    return indices;
}

QString videoCodec(const File& file, std::size_t i)
{
    // Builders key MPEG-2 handling on the "mp2v" tag, which only some containers carry.
    if (file.get(Kind::Video, i, "Format") == QLatin1String("MPEG Video")
        && file.get(Kind::Video, i, "Format_Version").endsWith(QLatin1Char('2')))
        return QStringLiteral("mp2v");
    // Transport streams give a bare stream-type number, which names no codec.
    const QString codecId = file.get(Kind::Video, i, "CodecID");
    bool numeric = false;
    codecId.toInt(&numeric);
    return codecId.isEmpty() || numeric ? file.get(Kind::Video, i, "Format") : codecId;
}

float frameRate(const File& file, std::size_t i)
{
    for (const char* parameter : { "FrameRate", "FrameRate_Original", "FrameRate_Nominal" }) {
        const double fps = number(file.get(Kind::Video, i, parameter));
        if (fps > 0)
            return static_cast<float>(fps);
    }
    return 0.0f;
}

DNTVideo videoTrack(const File& file, std::size_t i, qint64 fileDurationMs)
{
    DNTVideo track;
    track.duration
        = videoTrackDuration(number(file.get(Kind::Video, i, "Duration")), fileDurationMs);
    track.fps = frameRate(file, i);
    track.codec = videoCodec(file, i);
    track.aspectRatio = file.get(Kind::Video, i, "DisplayAspectRatio/String");
    if (track.aspectRatio.isEmpty())
        track.aspectRatio = file.get(Kind::Video, i, "DisplayAspectRatio");
    track.width = static_cast<qint32>(number(file.get(Kind::Video, i, "Width")));
    track.height = static_cast<qint32>(number(file.get(Kind::Video, i, "Height")));
    if (const double pixel = number(file.get(Kind::Video, i, "PixelAspectRatio")); pixel > 0)
        track.sampleAspect = pixel;
    track.language = file.get(Kind::Video, i, "Language/String");
    return track;
}

DNTAudio audioTrack(const File& file, std::size_t i)
{
    DNTAudio track;
    track.duration = audioTrackDuration(number(file.get(Kind::Audio, i, "Duration")));
    track.language = file.get(Kind::Audio, i, "Language/String");
    track.codec = file.get(Kind::Audio, i, "Format");
    track.channels = static_cast<qint32>(number(file.get(Kind::Audio, i, "Channel(s)")));
    track.sampleRate = static_cast<qint32>(number(file.get(Kind::Audio, i, "SamplingRate")));
    return track;
}

bool isPictureSubtitleFormat(const QString& format)
{
    static const QStringList pictures = { QStringLiteral("PGS"), QStringLiteral("VobSub"),
        QStringLiteral("DVB Subtitle"), QStringLiteral("RLE"), QStringLiteral("Bitmap") };
    return pictures.contains(format, Qt::CaseInsensitive);
}

DNTSubtitle subtitleTrack(
    const File& file, std::size_t i, const std::optional<EngineStream>& engine)
{
    DNTSubtitle track;
    track.language = file.get(Kind::Text, i, "Language/String");
    track.isTextformat = engine ? !engine->bitmapSubtitle
                                : !isPictureSubtitleFormat(file.get(Kind::Text, i, "Format"));
    return track;
}

// Captions carried inside the video stream are listed as text by the probe,
// but the engine cannot select them as a stream of their own.
bool isEmbeddedCaption(const File& file, std::size_t i)
{
    return file.get(Kind::Text, i, "Format").startsWith(QLatin1String("EIA-"));
}

// The probe's "Rotation" ("90.000"), clockwise, as the quarter turn the
// engine makes of it.
int probeRotation(const File& file, std::size_t i)
{
    return quarterTurnOf(number(file.get(Kind::Video, i, "Rotation")));
}

// The engine's display matrix is what the conversion applies, so it decides;
// the probe's own reading is a cross-check, and serves when the engine does
// not know the stream.
int trackRotation(const File& file, std::size_t i, const StreamMatch& match, const QString& path)
{
    const int probe = probeRotation(file, i);
    if (!match.engine)
        return probe;
    if (probe != match.engine->rotation)
        DNLog(QStringLiteral("Warning: the rotation of %1 reads %2 degrees in the display matrix "
                             "but %3 in the media probe; %2 is taken")
                  .arg(path)
                  .arg(match.engine->rotation)
                  .arg(probe));
    return match.engine->rotation;
}

// "16:9" as "9:16", "1.778" as "0.562": the aspect of the picture turned by a quarter.
QString quarterTurnedAspect(const QString& aspect)
{
    const QStringList sides = aspect.split(QLatin1Char(':'));
    if (sides.size() == 2)
        return sides[1] + QLatin1Char(':') + sides[0];
    const double ratio = number(aspect);
    return ratio > 0 ? QString::number(1.0 / ratio, 'f', 3) : aspect;
}

void turnUpright(DNTVideo& track, int rotation)
{
    track.rotation = rotation;
    if (!track.isQuarterTurned())
        return;
    std::swap(track.width, track.height);
    track.aspectRatio = quarterTurnedAspect(track.aspectRatio);
    track.sampleAspect = 1.0 / track.sampleAspect;
}

void readVideoTracks(
    const File& file, const EngineStreamList& engine, MediaProbeResult& result, const QString& path)
{
    const std::vector<std::size_t> indices = allStreams(file, Kind::Video);
    const auto matches
        = matchStreams(file, Kind::Video, indices, engine, EngineStream::Type::Video);
    for (std::size_t i : indices) {
        DNTVideo track = videoTrack(file, i, result.durationMs);
        track.vid = matches[i].id;
        if (matches[i].engine && matches[i].engine->sampleAspect > 0)
            track.sampleAspect = matches[i].engine->sampleAspect;
        turnUpright(track, trackRotation(file, i, matches[i], path));
        if (const std::optional<EngineStream>& stream = matches[i].engine) {
            // Transport streams often carry no rate the probe reads; the engine measures one.
            if (track.fps <= 0)
                track.fps = static_cast<float>(stream->frameRate);
            track.firstPictureTime = stream->startTime;
            track.fileStartTime = engine.startTime;
            // The engine's names are the ones its filters take.
            track.colorPrimaries = stream->colorPrimaries;
            track.colorTransfer = stream->colorTransfer;
            track.colorMatrix = stream->colorMatrix;
        }
        result.videoTracks.push_back(track);
    }
}

void readAudioTracks(const File& file, const EngineStreamList& engine, MediaProbeResult& result)
{
    const std::vector<std::size_t> indices = allStreams(file, Kind::Audio);
    const auto matches
        = matchStreams(file, Kind::Audio, indices, engine, EngineStream::Type::Audio);
    for (std::size_t i : indices) {
        DNTAudio track = audioTrack(file, i);
        track.aid = matches[i].id;
        if (const std::optional<EngineStream>& stream = matches[i].engine) {
            track.channelLayoutKnown = stream->channelLayoutKnown;
            if (track.channels <= 0)
                track.channels = stream->channels;
        }
        result.audioTracks.push_back(track);
    }
}

void readSubtitleTracks(const File& file, const EngineStreamList& engine, MediaProbeResult& result)
{
    std::vector<std::size_t> indices = allStreams(file, Kind::Text);
    std::erase_if(indices, [&file](std::size_t i) { return isEmbeddedCaption(file, i); });
    const auto matches
        = matchStreams(file, Kind::Text, indices, engine, EngineStream::Type::Subtitle);
    for (std::size_t position = 0; position < indices.size(); ++position) {
        const StreamMatch& match = matches[position];
        DNTSubtitle track = subtitleTrack(file, indices[position], match.engine);
        track.sid = match.id;
        result.subtitleTracks.push_back(track);
    }
}

bool countsAgree(
    const EngineStreamList& engine, const MediaProbeResult& result, const QString& path)
{
    if (!engine.ok) {
        DNLog(QStringLiteral("The engine could not read the streams of %1: %2")
                  .arg(path, engine.error));
        return false;
    }
    const int videos = engine.count(EngineStream::Type::Video);
    const int audios = engine.count(EngineStream::Type::Audio);
    if (videos == int(result.videoTracks.size()) && audios == int(result.audioTracks.size()))
        return true;
    DNLog(QStringLiteral("Warning: stream counts of %1 differ (probe %2 video, %3 audio; engine "
                         "%4 video, %5 audio); streams will be mapped explicitly")
              .arg(path)
              .arg(result.videoTracks.size())
              .arg(result.audioTracks.size())
              .arg(videos)
              .arg(audios));
    return false;
}

bool hasNoStream(const File& file)
{
    return file.count(Kind::Video) == 0 && file.count(Kind::Audio) == 0
        && file.count(Kind::Text) == 0;
}

bool isMp4Format(const QString& format)
{
    return format == QLatin1String("MPEG-4") || format == QLatin1String("QuickTime");
}

// A box header: its size, with the 64-bit one when the short one is 1, and
// its type. A size of 0 runs to the end of the file.
struct BoxHeader {
    quint64 size = 0;
    QByteArray type;
};

std::optional<BoxHeader> readBoxHeader(QFile& file)
{
    const QByteArray head = file.read(8);
    if (head.size() != 8)
        return std::nullopt;
    BoxHeader box { qFromBigEndian<quint32>(head.constData()), head.mid(4) };
    if (box.size == 1) {
        const QByteArray large = file.read(8);
        if (large.size() != 8)
            return std::nullopt;
        box.size = qFromBigEndian<quint64>(large.constData());
    }
    return box;
}

} // namespace

bool lacksMp4Index(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const qint64 end = file.size();
    qint64 at = 0;
    // A real file has a handful of top-level boxes; a damaged one of many
    // tiny boxes is not walked to its end.
    for (int boxes = 0; boxes < 4096; ++boxes) {
        const std::optional<BoxHeader> box = readBoxHeader(file);
        if (!box)
            return boxes > 0;
        if (box->type == "moov")
            return false;
        const auto headerSize = quint64(file.pos() - at);
        if (box->size != 0 && box->size < headerSize)
            return false; // not boxes at all
        // The last box: the index is not behind it.
        if (box->size == 0 || box->size >= quint64(end - at))
            return true;
        at += qint64(box->size);
        if (!file.seek(at))
            return false;
    }
    return false;
}

float videoTrackDuration(double streamMs, qint64 fileMs)
{
    if (streamMs > 0)
        return static_cast<float>(streamMs / 1000.0);
    return static_cast<float>(fileMs / 1000);
}

float audioTrackDuration(double streamMs)
{
    return streamMs > 0 ? static_cast<float>(static_cast<qint64>(streamMs) / 1000) : 0.0f;
}

std::optional<MediaProbeResult> probeMediaFile(const QString& path)
{
    const MediaInfoLibrary& library = MediaInfoLibrary::shared();
    if (!library.isAvailable()) {
        DNLog(QStringLiteral("Media probe unavailable: %1").arg(library.loadError()));
        return std::nullopt;
    }
    const std::unique_ptr<File> file = library.open(path);
    if (!file || file->count(Kind::General) == 0) {
        DNLog(QStringLiteral("Can not read media file: %1").arg(path));
        return std::nullopt;
    }
    MediaProbeResult result;
    result.fileFormat = file->get(Kind::General, 0, "Format");
    if (result.fileFormat.isEmpty() && file->count(Kind::Video) == 0
        && file->count(Kind::Audio) == 0) {
        DNLog(QStringLiteral("Not a media file: %1").arg(path));
        return std::nullopt;
    }
    if (hasNoStream(*file) && isMp4Format(result.fileFormat) && lacksMp4Index(path)) {
        DNLog(QStringLiteral("%1 is cut short (its index is missing)").arg(path));
        result.indexMissing = true;
        return result;
    }
    if (file->count(Kind::Image) > 0 && file->count(Kind::Video) == 0
        && file->count(Kind::Audio) == 0) {
        DNLog(QStringLiteral("%1 is a picture (%2), not a video").arg(path, result.fileFormat));
        result.picture = true;
        return result;
    }
    result.durationMs = static_cast<qint64>(number(file->get(Kind::General, 0, "Duration")));
    result.title = file->get(Kind::General, 0, "Title");
    result.performer = file->get(Kind::General, 0, "Performer");
    result.comment = file->get(Kind::General, 0, "Comment");
    const EngineStreamList engine = probeEngineStreams(path);
    readVideoTracks(*file, engine, result, path);
    readAudioTracks(*file, engine, result);
    readSubtitleTracks(*file, engine, result);
    result.sameStreams = countsAgree(engine, result, path);
    return result;
}
