#include "engine/AVEncoder.h"

#include "engine/AVEncoderJoin.h"
#include "engine/ToolBridge.h"
#include "platform/AppPaths.h"
#include "platform/DNLogger.h"
#include "platform/ProcessRunner.h"

#include <QFileInfo>
#include <QTemporaryFile>

#include <algorithm>
#include <csignal>
#include <vector>

namespace {

using namespace std::chrono_literals;

constexpr const char* kProgram = "ffmpeg";
// ffmpeg writes its trailer after SIGINT; a run that has not ended by then is killed.
constexpr std::chrono::milliseconds kStopGrace = 2000ms;

// Options of our own, before the builder's. -nostdin: ffmpeg never waits for
// or interprets keys (we stop it with SIGINT, which it also honours while it
// still opens its inputs, where 'q' would go unread). -progress pipe:1 with
// -nostats: machine-readable progress on standard output, apart from the
// messages on standard error that go to the log.
const QStringList& ownOptions()
{
    static const QStringList options { "-nostdin", "-hide_banner", "-nostats", "-progress",
        "pipe:1" };
    return options;
}

// One change the installed ffmpeg needs: a run of words of the builder's list
// and what replaces it.
struct Adaptation {
    QStringList words;
    QStringList replacement;
};

// Debian 12's ffmpeg 5.1; the builders write for the engine they were
// designed against.
const std::vector<Adaptation>& adaptations()
{
    static const std::vector<Adaptation> table {
        // 5.1 has no -d: "Option d not found" ends the run before it starts.
        { { "-d" }, {} },
        // Not in Debian's build (non-free); the native encoder takes the same
        // bitrate, rate and channel options.
        { { "libfdk_aac" }, { "aac" } },
        { { "libfaac" }, { "aac" } },
        // libx264 rejects "epzs" ("Unable to parse option value"); it is the
        // native MPEG encoders' default anyway.
        { { "-me_method", "epzs" }, {} },
        // mv0 is no longer a generic codec flag ("Unable to parse option value
        // mv0"); the MPEG encoders took it into their private flags.
        { { "-flags", "+mv0" }, { "-mpv_flags", "+mv0" } },
        // libx264 ignores the generic option ("has not been used for any
        // stream"); it reads its own spelling.
        { { "-rc_lookahead" }, { "-rc-lookahead" } },
        // The concat demuxer refuses absolute paths in its list ("Unsafe file
        // name") unless told otherwise; our lists hold our own output paths.
        { { "-f", "concat" }, { "-f", "concat", "-safe", "0" } },
    };
    return table;
}

} // namespace

QString AVEncoderOutputFormat(const QStringList& arguments)
{
    const qsizetype format = arguments.lastIndexOf("-f");
    if (format > arguments.lastIndexOf("-i") && format + 1 < arguments.size())
        return arguments[format + 1];
    QString output = arguments.value(arguments.size() - 1);
    if (output.startsWith(QLatin1String("file:")))
        output.remove(0, 5);
    return QFileInfo(output).suffix().toLower();
}

namespace {

// Where this ffmpeg would leave an output's sound off its picture, and what
// puts it back in step. It is about how this ffmpeg's muxers and decoders
// treat sound, so it lives here and not in the builders, whose lists stay as
// they were designed.
//
// DV carries 48 kHz sound locked to the picture, and a DVD authoring tool
// refuses sound whose timestamps jump ("please remultiplex input"). ffmpeg's
// DV and DVD muxers take the sound as the decoder gives it: a Matroska or WebM
// source (44.1 kHz AAC, Opus with its pre-skip) starts late or drifts, and the
// DV muxer then stops with "Insufficient audio data or severe sync problem".
// Resampling to 48 kHz with timestamp correction (padding from time 0,
// stretching up to 1000 samples a second) mends both.
//
// The SWF and RealMedia muxers write the sound from its first sample on,
// whatever its timestamps say: a sound that starts after the picture loses
// its delay, and the encoder's priming (1105 samples of MP3, 256 of AC-3),
// which other containers tell their players to skip, is played, so the whole
// sound comes late by as much. Silence pads a late start to time 0, and the
// priming's length is cut from the head of the sound.
//
// ASF keeps the timestamps, but the WMA decoder gives nothing for its first
// two frames: the priming, and the sound's first frame with it. One frame of
// silence ahead of the sound (2048 samples, the longest WMA frame) is lost
// there instead.
struct SoundPlacement {
    const char* format;
    // Resampled to this rate first; null keeps the rate of "-ar", if any.
    const char* rate;
    // The sample the sound starts with, at the encoder's rate: a positive
    // number cuts the head, a negative one pads silence before time 0.
    int firstSample;
};

const SoundPlacement* placementOf(const QString& format)
{
    static const SoundPlacement table[] = {
        { "dv", "48000", 0 },
        { "dvd", "48000", 0 },
        { "swf", nullptr, 1105 },
        { "rm", nullptr, 256 },
        { "asf", nullptr, -2048 },
    };
    for (const SoundPlacement& row : table) {
        if (format == QLatin1String(row.format))
            return &row;
    }
    return nullptr;
}

// A copied sound cannot be filtered.
bool encodesSound(const QStringList& arguments)
{
    const qsizetype codec = arguments.lastIndexOf("-c:a");
    if (codec >= 0)
        return arguments.value(codec + 1) != QLatin1String("copy");
    const qsizetype all = arguments.lastIndexOf("-c");
    return all < 0 || arguments.value(all + 1) != QLatin1String("copy");
}

QString encoderRate(const SoundPlacement& placement, const QStringList& arguments)
{
    if (placement.rate)
        return QString::fromLatin1(placement.rate);
    const qsizetype at = arguments.lastIndexOf("-ar");
    return at < 0 ? QString() : arguments.value(at + 1);
}

QString placementFilter(const SoundPlacement& placement, const QStringList& arguments)
{
    const QString rate = encoderRate(placement, arguments);
    // With the resampler always on: this ffmpeg starts it at the first small
    // correction, and then starts the sound's timestamps over at first_pts.
    const QString correction
        = QStringLiteral("async=1000:first_pts=%1:flags=res").arg(placement.firstSample);
    if (rate.isEmpty())
        return "aresample=" + correction;
    if (placement.firstSample == 0)
        return "aresample=" + rate + ':' + correction;
    // first_pts counts samples at the rate the sound comes in: it is brought
    // to the encoder's rate first.
    return "aresample=" + rate + ",aresample=" + correction;
}

// "volume=1.5[audio]" becomes "volume=1.5,<placement>[audio]": the label stays last.
QString joined(const QString& filter, const QString& placement)
{
    const qsizetype label = filter.endsWith(']') ? filter.lastIndexOf('[') : -1;
    if (label < 0)
        return filter + ',' + placement;
    return filter.left(label) + ',' + placement + filter.mid(label);
}

// Joins the volume filter rather than replace it, since ffmpeg keeps only
// one audio filter; a join's sound comes out of its graph, which takes the
// placement last.
void addSoundPlacement(QStringList& arguments)
{
    const SoundPlacement* placement = placementOf(AVEncoderOutputFormat(arguments));
    if (!placement || !encodesSound(arguments))
        return;
    const QString filter = placementFilter(*placement, arguments);
    const qsizetype sound = arguments.indexOf(kAVEncoderJoinedSound);
    const qsizetype graph = arguments.indexOf(QStringLiteral("-filter_complex"));
    if (sound > 0 && arguments[sound - 1] == QLatin1String("-map") && graph >= 0
        && graph + 1 < arguments.size()) {
        arguments[graph + 1] = joined(arguments[graph + 1], filter);
        return;
    }
    for (const char* option : { "-filter:a", "-af" }) {
        const qsizetype at = arguments.lastIndexOf(option);
        if (at >= 0 && at + 1 < arguments.size()) {
            arguments[at + 1] = joined(arguments[at + 1], filter);
            return;
        }
    }
    // Output options stand before the output path, the last word.
    arguments.insert(arguments.size() - 1, filter);
    arguments.insert(arguments.size() - 2, QStringLiteral("-af"));
}

// Options that this ffmpeg mishandles in one output format; each goes with
// its value.
struct FormatOption {
    const char* format;
    const char* option;
};

const FormatOption kDroppedOptions[] = {
    // This ffmpeg's ASF reader parses MPEG-4 and ends a frame at the stuffing
    // start code with which the encoder pads a frame up to the minimum rate:
    // from the first padded frame on, every frame is shown a frame early.
    // Without the floor the encoder still keeps under "-maxrate" and pads
    // nothing.
    { "asf", "-minrate" },
};

void dropFormatOptions(QStringList& arguments)
{
    const QString format = AVEncoderOutputFormat(arguments);
    for (const FormatOption& row : kDroppedOptions) {
        const qsizetype at = arguments.indexOf(row.option);
        if (format == QLatin1String(row.format) && at >= 0 && at + 1 < arguments.size())
            arguments.remove(at, 2);
    }
}

// This ffmpeg mixes channels down by a matrix it scales to full scale only
// for integer samples: WAV and MP3 come out of a loud 5.1 source whole, while
// AC-3, AAC, Vorbis and WMA, encoded from floats, sum the channels unscaled
// and clip once decoded, 7.6 dB louder. Scaling every mix gives every
// profile the same level and no clipping.
bool setsChannels(const QStringList& arguments)
{
    // A target names the channel count of its standard.
    return arguments.contains(QLatin1String("-ac")) || arguments.contains(QLatin1String("-target"));
}

void addMixScaling(QStringList& arguments)
{
    if (!setsChannels(arguments))
        return;
    // Output options stand before the output path, the last word.
    arguments.insert(arguments.size() - 1, QStringLiteral("-rematrix_maxval"));
    arguments.insert(arguments.size() - 1, QStringLiteral("1"));
}

const Adaptation* adaptationAt(const QStringList& arguments, qsizetype at)
{
    for (const Adaptation& row : adaptations()) {
        if (arguments.mid(at, row.words.size()) == row.words)
            return &row;
    }
    return nullptr;
}

ToolBridge& bridge()
{
    static ToolBridge instance("encoder");
    return instance;
}
static_assert(kAVEncoderStateRunning == kToolBridgeStateRunning,
    "the shared start reports this bridge's running state");

int statusOf(const ProcessRunner::Result& result, const QString& lastMessage)
{
    if (result.stopped) {
        DNLog(QStringLiteral("The encoder was stopped before it finished."));
        return kAVEncoderStopped;
    }
    const QString failure = ToolBridge::failureOf(kProgram, result, lastMessage);
    bridge().keepFailure(failure);
    if (!result.started) {
        DNLog(QStringLiteral("The encoder could not start: %1").arg(result.error));
        return kAVEncoderFailed;
    }
    // ffmpeg may answer its gentle stop with status 0.
    if (result.stalled) {
        DNLog(failure);
        return kAVEncoderFailed;
    }
    if (result.signal != 0) {
        DNLog(QStringLiteral("The encoder was ended by %1.").arg(signalText(result.signal)));
        return kAVEncoderFailed;
    }
    if (result.exitCode != 0)
        DNLog(QStringLiteral("The encoder failed with exit status %1: %2")
                  .arg(QString::number(result.exitCode), lastMessage));
    return result.exitCode;
}

// Runs ffmpeg with the arguments within a call of the bridge; standard
// output lines go to `progressLine` (to the log without one), standard
// error lines to the log.
int runEngine(const QStringList& arguments, const ToolBridge::LineReader& progressLine)
{
    ToolBridge::Lines lines { progressLine, {}, {} };
    // The output path is the last word, perhaps behind "file:".
    QString output = arguments.value(arguments.size() - 1);
    if (output.startsWith(QLatin1String("file:")))
        output.remove(0, 5);
    const ProcessRunner::Result result
        = bridge().runChild({ kProgram, arguments, SIGINT, kStopGrace, output }, lines);
    return statusOf(result, lines.lastMessage);
}

// -progress pipe:1 makes all of standard output progress: none of it is
// for the log.
ToolBridge::LineReader progressReader(int duration)
{
    return [duration](const QString& line, ProgressInfo& progress) {
        AVEncoderReadProgressLine(line, duration, progress);
        return true;
    };
}

double progressNumber(const QString& value)
{
    bool ok = false;
    const double number = value.toDouble(&ok); // QString::toDouble ignores the locale
    return ok ? number : 0;
}

} // namespace

void AVEncoderSetStateCallback(AVEncoderStateCallback callback, void* context)
{
    bridge().setStateCallback(callback, context);
}

int AVEncoderEncode(int argc, const char* const* argv, int duration)
{
    const ToolBridge::Call call(bridge());
    const QStringList builderArguments = bridge().listOf(argc, argv);
    if (builderArguments.isEmpty())
        return kAVEncoderFailed;
    bridge().start();
    QTemporaryFile joinList(AppPaths::temporaryFolder() + QStringLiteral("/join-XXXXXX.txt"));
    const QStringList arguments = AVEncoderMeasuredJoin(
        builderArguments, joinList, [] { return bridge().stopRequested(); });
    const int status
        = runEngine(ownOptions() + AVEncoderAdaptArguments(arguments), progressReader(duration));
    // ffmpeg's last progress block may lag the true end by a fraction of a
    // second; a run that succeeded has written all of it. Without a duration
    // there is no percent to complete.
    if (duration > 0)
        bridge().finish(status);
    return status;
}

ProgressInfo AVEncoderProgress()
{
    return bridge().progress();
}

void AVEncoderStop()
{
    bridge().stop();
}

int AVEncoderExtractSubFile(const char* sourcePath, int subtitleIndex, const char* outputPath)
{
    const ToolBridge::Call call(bridge());
    if (sourcePath == nullptr || outputPath == nullptr || subtitleIndex < 0) {
        DNLog(QStringLiteral("The subtitle to extract was not given."));
        return kAVEncoderFailed;
    }
    // "file:" keeps a name with a colon from being taken for a protocol.
    const QStringList arguments { "-nostdin", "-hide_banner", "-nostats", "-y", "-i",
        "file:" + QString::fromUtf8(sourcePath), "-map",
        QStringLiteral("0:s:%1").arg(subtitleIndex), "-c:s", "srt", "-f", "srt",
        "file:" + QString::fromUtf8(outputPath) };
    return runEngine(arguments, {});
}

QStringList AVEncoderLastCommand()
{
    return bridge().lastCommand();
}

QString AVEncoderLastFailure()
{
    return bridge().lastFailure();
}

QStringList AVEncoderAdaptArguments(const QStringList& builderArguments)
{
    QStringList adapted;
    // Argument 0 names the engine ("encoder"); the program is ours to choose.
    for (qsizetype at = 1; at < builderArguments.size();) {
        const Adaptation* row = adaptationAt(builderArguments, at);
        if (row == nullptr) {
            adapted << builderArguments[at++];
            continue;
        }
        adapted << row->replacement;
        at += row->words.size();
    }
    dropFormatOptions(adapted);
    addSoundPlacement(adapted);
    addMixScaling(adapted);
    return adapted;
}

void AVEncoderReadProgressLine(const QString& line, int duration, ProgressInfo& progress)
{
    const qsizetype equals = line.indexOf('=');
    if (equals <= 0)
        return;
    const QString key = line.left(equals).trimmed();
    const QString value = line.mid(equals + 1).trimmed();
    if (key == QLatin1String("frame"))
        progress.frameNumber = value.toLongLong();
    else if (key == QLatin1String("fps"))
        progress.fps = progressNumber(value);
    else if (key == QLatin1String("out_time_us") && value != QLatin1String("N/A"))
        progress.convertedTime = std::max(0.0, progressNumber(value) / 1e6);
    else
        return;
    progress.percent
        = duration > 0 ? std::min(100.0, progress.convertedTime * 100.0 / duration) : 0;
}
