#include "record/ScreenCapture.h"

#include "platform/ProcessRunner.h"

#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>

namespace {

QString sizeText(const QSize& size)
{
    return QString::number(size.width()) + 'x' + QString::number(size.height());
}

int evenFloor(int value)
{
    return std::max(2, value - value % 2);
}

std::optional<QSize> presetBox(CaptureSessionPreset preset)
{
    switch (preset) {
    case CaptureSessionPreset::Low:
        return QSize(640, 360);
    case CaptureSessionPreset::Medium:
        return QSize(854, 480);
    case CaptureSessionPreset::Preset960x540:
        return QSize(960, 540);
    case CaptureSessionPreset::High:
        break;
    }
    return std::nullopt;
}

// The sound input goes first: ffmpeg starts every input's clock at 0 when it
// has opened it, and the sound server takes up to 1.5 s to open a source, so
// a screen opened first runs that much behind its sound.
QStringList audioInput(const QString& source)
{
    if (source.isEmpty())
        return {};
    return { "-thread_queue_size", "512", "-f", "pulse", "-i", source };
}

QStringList screenInput(const CapturePlan& plan)
{
    const QString origin
        = '+' + QString::number(plan.area.x()) + ',' + QString::number(plan.area.y());
    // The pointer is always in the picture: a screen recording shows what the
    // person points at.
    return { "-thread_queue_size", "512", "-f", "x11grab", "-framerate",
        QString::number(plan.frameRate), "-video_size", sizeText(plan.area.size()), "-draw_mouse",
        "1", "-i", plan.display + origin };
}

QStringList encoding(const CapturePlan& plan)
{
    const bool withSound = !plan.audioSource.isEmpty();
    QStringList words { "-map", withSound ? "1:v" : "0:v" };
    if (withSound)
        words << "-map"
              << "0:a";
    const QSize size = outputSize(plan.area.size(), plan.preset);
    if (size != plan.area.size())
        words << "-vf"
              << "scale=" + QString::number(size.width()) + ':' + QString::number(size.height());
    // A key frame every second: the file is written in fragments that start at
    // key frames, so a recording cut short loses at most its last second.
    words << liveVideoEncoding() << constantFrameRate(plan.frameRate) << "-g"
          << QString::number(plan.frameRate);
    if (withSound)
        words << "-c:a"
              << "aac";
    // Fragments with an empty index up front: a recording whose ffmpeg was
    // killed still plays (a plain QuickTime file would lack its index). Each
    // finished fragment goes to the disk at once, not when ffmpeg's write
    // buffer happens to fill.
    words << "-movflags"
          << "+frag_keyframe+empty_moov"
          << "-flush_packets"
          << "1";
    return words;
}

} // namespace

CaptureSessionPreset sessionPresetAtIndex(quint64 index)
{
    switch (index) {
    case 0:
        return CaptureSessionPreset::Low;
    case 1:
        return CaptureSessionPreset::Preset960x540;
    default:
        return CaptureSessionPreset::High;
    }
}

int wholeFrameRate(float framesPerSecond)
{
    // NaN fails both comparisons.
    const bool allowed
        = framesPerSecond >= 1.0f && framesPerSecond < float(kMaxCaptureFrameRate + 1);
    return allowed ? static_cast<int>(framesPerSecond) : 0;
}

QString captureProblem(const QRect& area, float framesPerSecond, const QSize& screen)
{
    if (wholeFrameRate(framesPerSecond) == 0)
        return QStringLiteral("The frame rate must lie between 1 and %1 frames a second.")
            .arg(kMaxCaptureFrameRate);
    if (area.width() < 2 || area.height() < 2)
        return QStringLiteral("The region to record, %1, is smaller than 2x2 pixels.")
            .arg(sizeText(area.size()));
    if (!QRect(QPoint(0, 0), screen).contains(area))
        return QStringLiteral("The region %1 at %2,%3 does not lie on the %4 screen.")
            .arg(sizeText(area.size()))
            .arg(area.x())
            .arg(area.y())
            .arg(sizeText(screen));
    return {};
}

QRect captureArea(const QRect& requested)
{
    return QRect(
        requested.topLeft(), QSize(evenFloor(requested.width()), evenFloor(requested.height())));
}

QSize outputSize(const QSize& area, CaptureSessionPreset preset)
{
    const std::optional<QSize> box = presetBox(preset);
    if (!box || (area.width() <= box->width() && area.height() <= box->height()))
        return area;
    const double scale
        = std::min(double(box->width()) / area.width(), double(box->height()) / area.height());
    return QSize(evenFloor(int(std::floor(area.width() * scale))),
        evenFloor(int(std::floor(area.height() * scale))));
}

QStringList liveVideoEncoding()
{
    return { "-c:v", "libx264", "-preset", "veryfast", "-tune", "zerolatency", "-pix_fmt",
        "yuv420p" };
}

QStringList constantFrameRate(int framesPerSecond)
{
    return { "-r", QString::number(framesPerSecond), "-fps_mode", "cfr" };
}

QString recordedLengthProblem(double inFile, double recorded, int framesPerSecond)
{
    const double slack = kRecordedLengthSlack + 1.0 / std::max(1, framesPerSecond);
    if (std::abs(inFile - recorded) <= slack)
        return {};
    return QStringLiteral("the recording holds %1 s of picture for the %2 s recorded")
        .arg(QString::number(inFile, 'f', 1), QString::number(recorded, 'f', 1));
}

QString recordedSoundProblem(std::optional<double> sound, double picture)
{
    if (picture - sound.value_or(0.0) <= kSoundShortfallSlack)
        return {};
    const QString pictureSeconds = QString::number(picture, 'f', 1);
    if (!sound)
        return QStringLiteral("the recording holds no sound for its %1 s of picture")
            .arg(pictureSeconds);
    return QStringLiteral("the sound stopped at about %1 s of the %2 s of picture")
        .arg(QString::number(*sound, 'f', 1), pictureSeconds);
}

QStringList captureArguments(const CapturePlan& plan)
{
    // -y: the output is the empty file the recorder claimed for it; -nostdin: we stop ffmpeg with
    // SIGINT, after which it finishes the file; -progress: frames, drops and the length recorded on
    // standard output, ten times a second, while standard error carries only errors, the last one
    // being the reason of a failure. "file:" keeps a path with a colon or a leading dash from being
    // read as a protocol or an option.
    QStringList words { "-hide_banner", "-nostdin", "-nostats", "-loglevel", "error", "-progress",
        "pipe:1", "-stats_period", "0.1", "-y" };
    words << audioInput(plan.audioSource) << screenInput(plan) << encoding(plan);
    words << "file:" + QFileInfo(plan.outputPath).absoluteFilePath();
    return words;
}

std::optional<QSize> probeDisplaySize(const QString& display, QString* error)
{
    QString answer;
    QString complaint;
    ProcessRunner runner;
    runner.setStdoutHandler([&answer](const QString& line) { answer = line.trimmed(); });
    runner.setStderrHandler([&complaint](const QString& line) { complaint = line; });
    const ProcessRunner::Result result = runner.run(QStringLiteral("ffprobe"),
        { "-v", "error", "-f", "x11grab", "-show_entries", "stream=width,height", "-of", "csv=p=0",
            "-i", display });
    const QStringList sizes = answer.split(',');
    const QSize size(sizes.value(0).toInt(), sizes.value(1).toInt());
    if (result.succeeded() && size.width() > 0 && size.height() > 0)
        return size;
    if (error && !result.started)
        *error = result.error;
    else if (error)
        *error = QStringLiteral("cannot open the X display \"%1\": %2")
                     .arg(display, engineReason(complaint));
    return std::nullopt;
}

QString engineReason(const QString& line)
{
    static const QRegularExpression sourceTag(QStringLiteral("^\\[[^\\]]* @ 0x[0-9a-f]+\\] "));
    return QString(line).remove(sourceTag).trimmed();
}
