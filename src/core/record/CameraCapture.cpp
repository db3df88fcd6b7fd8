#include "record/CameraCapture.h"

#include "platform/FileMove.h"
#include "record/ScreenCapture.h"
#include "services/DNHelpers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

QString readTrimmed(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).trimmed();
}

int deviceNumber(const QString& nodeName)
{
    return nodeName.mid(QStringLiteral("video").size()).toInt();
}

QString sizeText(const QSize& size)
{
    return QString::number(size.width()) + ':' + QString::number(size.height());
}

bool usesMicrophone(const CameraSessionPlan& plan)
{
    return !plan.camera.hasSound && !plan.microphoneSource.isEmpty();
}

// The microphone is the first input: the sound server can take up to two
// seconds to hand out a source's first sound, and a camera opened first would
// meanwhile pile up pictures that then come all at once.
QString cameraStream(const CameraSessionPlan& plan)
{
    return usesMicrophone(plan) ? QStringLiteral("1:v") : QStringLiteral("0:v");
}

// ffmpeg starts each input's clock at its first packet, so the microphone,
// opened first, would run ahead of the camera by the time the camera took to
// open (two seconds with a slow source). Both stamp their packets with the
// wall clock, so a recording puts the microphone on the camera's clock
// instead (-isync). ffmpeg then takes the picture only as far as the sound has
// come, so while recording the preview trails the microphone by the pieces it
// hands out (ffmpeg asks for 50 ms; the sound server's sine source hands out
// two seconds); the preview alone keeps ffmpeg's way, where the sound is ahead.
bool alignsMicrophoneToCamera(const CameraSessionPlan& plan)
{
    return usesMicrophone(plan) && !plan.outputPath.isEmpty();
}

// The sound to meter and record: the camera's own, else the microphone's,
// else none.
QString soundStream(const CameraSessionPlan& plan)
{
    if (plan.camera.hasSound || usesMicrophone(plan))
        return QStringLiteral("0:a");
    return {};
}

// Even sizes: x264 refuses odd ones. A maximum size only ever shrinks: the
// box is the smaller of the maximum and the camera's own size.
QString recordingScale(const CameraSessionPlan& plan)
{
    if (!plan.maximumSize)
        return QStringLiteral("scale=trunc(iw/2)*2:trunc(ih/2)*2");
    return QStringLiteral("scale=w='min(%1,iw)':h='min(%2,ih)'"
                          ":force_original_aspect_ratio=decrease:force_divisible_by=2")
        .arg(plan.maximumSize->width())
        .arg(plan.maximumSize->height());
}

// The meter reads the peak of every 4800 samples (ten a second at 48 kHz)
// from the log, where ametadata prints it.
QString meterChain()
{
    return QStringLiteral("asetnsamples=n=4800,astats=metadata=1:reset=1,"
                          "ametadata=mode=print:key=lavfi.astats.Overall.Peak_level,anullsink");
}

QString pictureGraph(const CameraSessionPlan& plan)
{
    const QString preview = "hflip,scale=" + sizeText(plan.previewSize)
        + ",fps=" + QString::number(plan.previewFrameRate) + ",format=rgb24[preview]";
    const QString camera = '[' + cameraStream(plan) + ']';
    if (plan.outputPath.isEmpty())
        return camera + preview;
    return camera + "split=2[previewIn][recordIn];[previewIn]" + preview + ";[recordIn]"
        + recordingScale(plan) + "[record]";
}

QString soundGraph(const CameraSessionPlan& plan, const QString& sound)
{
    const bool recording = !plan.outputPath.isEmpty();
    QStringList soundUses { "[meterIn]" };
    if (recording)
        soundUses << "[soundIn]";
    if (!plan.soundPreviewStream.isEmpty())
        soundUses << "[soundPreview]";
    QStringList chains;
    if (soundUses.size() == 1)
        chains << "[" + sound + "]" + meterChain();
    else
        chains << "[" + sound + "]asplit=" + QString::number(soundUses.size()) + soundUses.join("")
               << "[meterIn]" + meterChain();
    // On the camera's clock, the microphone's sound from before the first
    // picture falls before zero and is left out.
    if (recording)
        chains << (alignsMicrophoneToCamera(plan) ? "[soundIn]atrim=start=0[sound]"
                                                  : "[soundIn]anull[sound]");
    return chains.join(';');
}

// Picture and sound are separate graphs: in one graph, ffmpeg fed the
// picture only as far as the sound had come, and a source that hands out its
// sound two seconds at a time held the preview back in two-second jumps.
QStringList filterGraphs(const CameraSessionPlan& plan, const QString& sound)
{
    QStringList words { "-filter_complex", pictureGraph(plan) };
    if (!sound.isEmpty())
        words << "-filter_complex" << soundGraph(plan, sound);
    return words;
}

QStringList recordingOutput(const CameraSessionPlan& plan, bool withSound)
{
    QStringList words { "-map", "[record]" };
    if (withSound)
        words << "-map"
              << "[sound]";
    // A key frame every second, for the fragments below.
    words << liveVideoEncoding() << constantFrameRate(kCameraRecordingFrameRate) << "-g"
          << QString::number(kCameraRecordingFrameRate);
    if (withSound)
        words << "-c:a"
              << "aac";
    // In fragments, as the screen recorder writes, each on the disk once it
    // is whole: an ffmpeg that froze and was killed leaves a file that plays
    // up to its last fragment, where a plain QuickTime file has no index and
    // holds nothing that can be read.
    words << "-movflags"
          << "+frag_keyframe+empty_moov"
          << "-flush_packets"
          << "1"
          << "-f"
          << "mov"
          << "file:" + QFileInfo(plan.outputPath).absoluteFilePath();
    return words;
}

} // namespace

std::vector<CameraDevice> cameraDevicesIn(const QString& video4linuxFolder)
{
    QStringList nodes = QDir(video4linuxFolder)
                            .entryList({ QStringLiteral("video*") },
                                QDir::Dirs | QDir::System | QDir::NoDotAndDotDot);
    std::sort(nodes.begin(), nodes.end(), [](const QString& left, const QString& right) {
        return deviceNumber(left) < deviceNumber(right);
    });
    std::vector<CameraDevice> devices;
    for (const QString& node : nodes) {
        const QString folder = video4linuxFolder + '/' + node;
        if (readTrimmed(folder + QStringLiteral("/index")) != QLatin1String("0"))
            continue;
        const QString path = "/dev/" + node;
        QString name = readTrimmed(folder + QStringLiteral("/name"));
        if (name.isEmpty())
            name = node;
        // Wall-clock stamps (the driver's own are converted), as the sound
        // server stamps the microphone's sound: the recording lines them up.
        devices.push_back({ path, name, { "-f", "v4l2", "-ts", "abs", "-i", path }, false });
    }
    return devices;
}

std::vector<CameraDevice> cameraDevices()
{
    return cameraDevicesIn(QStringLiteral("/sys/class/video4linux"));
}

QStringList cameraSessionArguments(const CameraSessionPlan& plan)
{
    const QString sound = soundStream(plan);
    // -y: the recording goes into our own, just made temporary file. Standard
    // error carries the level lines (info) and the progress; -nostdin: we stop
    // ffmpeg with SIGINT, after which it finishes the file.
    QStringList words { "-hide_banner", "-nostdin", "-nostats", "-loglevel", "info", "-progress",
        "pipe:2", "-stats_period", "0.1", "-y" };
    if (usesMicrophone(plan))
        words << "-thread_queue_size"
              << "512";
    if (alignsMicrophoneToCamera(plan))
        words << "-isync"
              << "1";
    if (usesMicrophone(plan))
        words << "-f"
              << "pulse"
              << "-i" << plan.microphoneSource;
    words << "-thread_queue_size"
          << "512" << plan.camera.inputWords;
    words << filterGraphs(plan, sound);
    words << "-map"
          << "[preview]"
          << "-f"
          << "rawvideo"
          << "-pix_fmt"
          << "rgb24"
          << "pipe:1";
    // It plays on the server's default sink, under the name by which its
    // volume is set later (the output's own name stands unused).
    if (!sound.isEmpty() && !plan.soundPreviewStream.isEmpty())
        words << "-map"
              << "[soundPreview]"
              << "-f"
              << "pulse"
              << "-stream_name" << plan.soundPreviewStream << "default";
    if (!plan.outputPath.isEmpty())
        words << recordingOutput(plan, !sound.isEmpty());
    return words;
}

QStringList recordingCutArguments(const QString& recording, const QString& cutPath, double seconds)
{
    return { "-hide_banner", "-nostdin", "-loglevel", "error", "-y", "-i",
        "file:" + QFileInfo(recording).absoluteFilePath(), "-map", "0", "-c", "copy", "-t",
        QString::number(seconds, 'f', 3), "-f", "mov",
        "file:" + QFileInfo(cutPath).absoluteFilePath() };
}

std::optional<double> peakLevel(const QString& line)
{
    static const QRegularExpression level(
        QStringLiteral("lavfi\\.astats\\.Overall\\.Peak_level=(-?inf|-?[0-9.]+)"));
    const QRegularExpressionMatch match = level.match(line);
    if (!match.hasMatch())
        return std::nullopt;
    if (match.captured(1).endsWith(QLatin1String("inf")))
        return -1000.0;
    return match.captured(1).toDouble();
}

std::optional<qint64> progressFrames(const QString& line)
{
    static const QString key = QStringLiteral("frame=");
    if (!line.startsWith(key))
        return std::nullopt;
    bool ok = false;
    const qint64 frames = line.mid(key.size()).toLongLong(&ok);
    if (!ok)
        return std::nullopt;
    return frames;
}

std::optional<QString> moveRecording(
    const QString& recording, const QString& folder, const QString& fileName, QString* error)
{
    for (;;) {
        const QString target = DNUniqueFilePath(folder, fileName, 0);
        const int failure = moveFileWithoutReplacing(recording, target);
        if (failure == 0)
            return target;
        // The name was taken since it was chosen: choose the next one.
        if (failure == EEXIST)
            continue;
        if (error)
            *error = QStringLiteral("cannot move the recording to \"%1\": %2")
                         .arg(target, QString::fromLocal8Bit(std::strerror(failure)));
        return std::nullopt;
    }
}
