#pragma once

#include <QString>

#include <cstdint>
#include <vector>

struct AVFormatContext;
struct AVStream;

// The largest picture decoded in the application's process: an 8192 x 8192
// frame. A bigger one (a 16000 x 16000 frame takes gigabytes) is refused.
inline constexpr std::int64_t kLargestPicturePixels = std::int64_t { 8192 } * 8192;

// The quarter turn, 0, 90, 180 or 270, that the file engine makes of a
// clockwise display angle, which it first rounds to a whole degree. By any
// other angle it turns the picture inside the stored frame, whose sides stay
// as they are: that counts as no turn here.
int quarterTurnOf(double clockwiseDegrees);

// The stream's display matrix as a quarter turn (quarterTurnOf); 0 without one.
int clockwiseDisplayRotation(const AVStream& stream);

// avformat_find_stream_info with the pixel limit on every stream's decoder:
// reading the stream list decodes a first picture of each video stream, and
// an oversized one fails rather than taking gigabytes in our process.
int findStreamInfo(AVFormatContext& context);

// The file engine's own view of a media file's streams, read in process with
// libavformat. Its stream ids are the ones the engine's "0:#id" specifier
// matches, and its stream counts are compared with the media probe's.
struct EngineStream {
    enum class Type { Video, Audio, Subtitle, Other };
    Type type = Type::Other;
    int id = 0;
    bool bitmapSubtitle = false; // a subtitle drawn from pictures rather than text
    double frameRate = 0.0; // average frames per second of a video stream, 0 when unknown
    int rotation = 0; // clockwise degrees a video stream is turned for display
    // The width over the height of one stored pixel of a video stream, as the
    // engine shows it (the container's word before the codec's); 0 when
    // neither says.
    double sampleAspect = 0.0;
    // A video stream's colours in the engine's own names ("bt2020",
    // "arib-std-b67", "bt2020nc"); empty when the stream does not say.
    QString colorPrimaries;
    QString colorTransfer;
    QString colorMatrix;
    // Where the stream begins on the file's own clock, in seconds: the time
    // players name its first picture or sound by (a transport stream's clock
    // starts anywhere). 0 when the file does not say.
    double startTime = 0.0;
    int channels = 0; // of an audio stream; 0 when unknown
    // An audio stream's channels can be mixed: they carry a layout, or the
    // engine guesses one for their count (it knows none for 32 channels).
    bool channelLayoutKnown = true;
};

struct EngineStreamList {
    bool ok = false;
    // Why the probe failed, for the log.
    QString error;
    std::vector<EngineStream> streams;
    // Where the file's clock starts, in seconds: at its earliest stream, which
    // the file engine's "-ss" counts from. 0 when the file does not say.
    double startTime = 0.0;

    int count(EngineStream::Type type) const;
    // Whether `id` names exactly one stream of the file. Some containers
    // (Matroska) keep no ids, and the engine gives all their streams 0.
    bool isUniqueId(int id) const;
    // The streams of one type, in file order.
    std::vector<EngineStream> ofType(EngineStream::Type type) const;
};

// Opens `path` and reads its stream list; never throws, never logs.
EngineStreamList probeEngineStreams(const QString& path);
