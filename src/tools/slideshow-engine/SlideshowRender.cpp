#include "SlideshowRender.h"

#include "EngineOutput.h"
#include "FrameEncoder.h"
#include "InputFile.h"
#include "MusicFile.h"
#include "PhotoSequence.h"
#include "YuvFrame.h"
#include "services/OutputPublishing.h"
#include "slideshow/NXEffectManager.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QRandomGenerator>
#include <QRectF>

#include <cmath>
#include <cstdio>
#include <memory>
#include <utility>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// A photo is held for "showDuration" and then changes into the next over this.
constexpr double kTransitionSeconds = 1.0;
constexpr qint64 kTransitionChoices = 18;
// The shading picture is a small texture.
constexpr qint64 kLargestShadingBytes = 64 * 1024 * 1024;

// A render that could not clean up (its engine killed outright, the machine
// stopped) leaves its partial movie behind: the next render into the folder
// removes every one of our naming and our user whose writer no longer runs.
void removeStalePartials(const QDir& folder)
{
    for (const QString& path : removeAbandonedPartials(folder.path()))
        EngineOutput::complain(
            QStringLiteral("removed \"%1\", left by an earlier render").arg(path));
}

// Moves the finished movie to its name, or to the next free one when
// something has taken the name meanwhile; `target` becomes the name it got.
bool publish(const QString& partial, QString& target, QString& reason)
{
    const QString named = publishOutput(partial, target, &reason);
    if (named.isEmpty())
        return false;
    target = named;
    return true;
}

bool exists(const QString& path)
{
    struct stat info { };
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0;
}

} // namespace

qint64 SlideshowRender::Timeline::totalFrames() const
{
    return static_cast<qint64>(photos) * (holdFrames + transitionFrames);
}

SlideshowRender::SlideshowRender(SlideshowJob job, std::function<bool()> stopRequested)
    : m_job(std::move(job))
    , m_stopRequested(std::move(stopRequested))
{ }

SlideshowRender::Code SlideshowRender::run(QString& reason)
{
    if (m_job.imageSquenes.isEmpty()) {
        reason = QStringLiteral("the job lists no photos");
        return NoPhotos;
    }
    if (const Code refused = checkTarget(reason); refused != Succeeded)
        return refused;
    PhotoSequence photos(m_job.videoSize, EngineOutput::complain);
    if (!photos.load(m_job.imageSquenes, m_stopRequested, &EngineOutput::photoRead)) {
        reason = QStringLiteral("stopped");
        return Stopped;
    }
    if (photos.count() == 0) {
        reason = QStringLiteral("none of the %1 photos can be read").arg(m_job.imageSquenes.size());
        return NoPhotos;
    }
    removeStalePartials(QFileInfo(m_job.targetPath).dir());
    // Written under a hidden name of ours, marked as ours, until it is
    // complete; claimed first, so that ffmpeg's overwrite only ever hits it.
    const QString partial = claimPartialOutput(m_job.targetPath, &reason);
    if (partial.isEmpty())
        return TargetRefused;
    Code code = encode(photos, partial, reason);
    if (code == Succeeded && !publish(partial, m_job.targetPath, reason))
        code = RenderFailed;
    if (code != Succeeded)
        QFile::remove(partial);
    return code;
}

SlideshowRender::Code SlideshowRender::checkTarget(QString& reason) const
{
    if (exists(m_job.targetPath)) {
        reason = QStringLiteral("\"%1\" exists already and is left as it is").arg(m_job.targetPath);
        return TargetRefused;
    }
    const QFileInfo folder(QFileInfo(m_job.targetPath).path());
    if (!folder.isDir() || !folder.isWritable()) {
        reason = QStringLiteral("the folder \"%1\" is not there or not writable")
                     .arg(folder.filePath());
        return TargetRefused;
    }
    return Succeeded;
}

// Music that ffmpeg can play: a regular file whose sound decodes. Anything
// else is named and left out, as a missing file is.
QStringList SlideshowRender::usableMusic() const
{
    QStringList music;
    for (const QString& path : m_job.audioList) {
        QString problem;
        if (InputFile::isRegular(path, problem))
            problem = musicProblem(path);
        if (problem.isEmpty())
            music << QFileInfo(path).absoluteFilePath();
        else
            EngineOutput::complain(
                QStringLiteral("cannot use the music \"%1\" (%2): left out").arg(path, problem));
    }
    return music;
}

SlideshowRender::Timeline SlideshowRender::timelineFor(int photos) const
{
    Timeline timeline;
    timeline.holdFrames = static_cast<int>(std::lround(m_job.showDuration * m_job.videoFPS));
    timeline.transitionFrames
        = std::max(1, static_cast<int>(std::lround(kTransitionSeconds * m_job.videoFPS)));
    timeline.photos = photos;
    return timeline;
}

FrameEncoder::Settings SlideshowRender::encoderSettings(
    const Timeline& timeline, const QString& partial) const
{
    FrameEncoder::Settings settings;
    settings.frameSize = m_job.videoSize;
    settings.framesPerSecond = m_job.videoFPS;
    settings.seconds = static_cast<double>(timeline.totalFrames()) / m_job.videoFPS;
    settings.holdFrames = timeline.holdFrames;
    settings.transitionFrames = timeline.transitionFrames;
    settings.music = usableMusic();
    settings.output = partial;
    // Without an extension ffmpeg cannot tell the container: the program's
    // movies are QuickTime.
    if (QFileInfo(m_job.targetPath).suffix().isEmpty())
        settings.muxer = QStringLiteral("mov");
    return settings;
}

SlideshowRender::Code SlideshowRender::encode(
    const PhotoSequence& photos, const QString& partial, QString& reason)
{
    const Timeline timeline = timelineFor(photos.count());
    FrameEncoder encoder(m_stopRequested, EngineOutput::complain, EngineOutput::written);
    if (!encoder.start(encoderSettings(timeline, partial), reason))
        return RenderFailed;
    const bool written = writeFrames(photos, timeline, encoder);
    // Frames that could not be written mean ffmpeg has ended; finish() then
    // only collects its reason.
    if (!m_stopRequested() && encoder.finish(reason) && written)
        return Succeeded;
    if (m_stopRequested()) {
        // A stop that finds us waiting on ffmpeg tells the program which of
        // the two stood still.
        if (const auto waited = encoder.waitingForFfmpeg())
            EngineOutput::waitedForFfmpeg(*waited);
        encoder.abort();
        reason = QStringLiteral("stopped");
        return Stopped;
    }
    if (reason.isEmpty())
        reason = QStringLiteral("ffmpeg stopped reading frames");
    // Told before the partial goes and frees its room.
    reason = reasonWithRoom(QStringLiteral("ffmpeg"), partial, encoder.diskFullLine(), reason);
    return RenderFailed;
}

bool SlideshowRender::writeFrames(
    const PhotoSequence& photos, const Timeline& timeline, FrameEncoder& encoder)
{
    EngineOutput::Progress progress(timeline.totalFrames());
    qint64 framesShown = 0;
    const auto writeFrame = [&](FrameEncoder::Frame frame, int framesItShows) {
        if (!encoder.write(std::move(frame)))
            return false;
        framesShown += framesItShows;
        progress.frameWritten(framesShown);
        return true;
    };
    const YuvFrame::Matrix matrix = YuvFrame::matrixFor(m_job.videoSize);
    const QImage blank = photos.frameOf(m_job.blankImage);
    const QImage shading = shadingImage();
    QImage current = photos.frame(0);
    for (int index = 0; index < photos.count(); ++index) {
        progress.photoShown(framesShown, photos.path(index));
        // A still is converted and written once: ffmpeg shows it for the hold.
        const auto still = std::make_shared<const QByteArray>(YuvFrame::fromImage(current, matrix));
        if (timeline.holdFrames > 0 && !writeFrame(still, timeline.holdFrames))
            return false;
        QImage next = index + 1 < photos.count() ? photos.frame(index + 1) : blank;
        const std::unique_ptr<NXTransitionFilter> filter = transitionFilter(shading);
        for (int frame = 0; frame < timeline.transitionFrames; ++frame) {
            // Times at the middle of each frame's span: neither end repeats a still.
            const double time = (frame + 0.5) / timeline.transitionFrames;
            const FrameEncoder::Frame drawn = filter
                ? std::make_shared<const QByteArray>(
                    YuvFrame::fromImage(filter->render(current, next, time), matrix))
                : still;
            if (!writeFrame(drawn, 1))
                return false;
        }
        current = std::move(next);
    }
    return true;
}

// The filter of a transition drawn from the job's list, prepared for the
// frame; null for a cut (18, a number we do not know, or an empty list), in
// which case the photo stays until the next one starts.
std::unique_ptr<NXTransitionFilter> SlideshowRender::transitionFilter(const QImage& shading) const
{
    if (m_job.effectList.isEmpty())
        return nullptr;
    qint64 type = m_job.effectList[QRandomGenerator::global()->bounded(
        static_cast<int>(m_job.effectList.size()))];
    if (type == NXTransitionRandom)
        type = QRandomGenerator::global()->bounded(kTransitionChoices);
    std::unique_ptr<NXTransitionFilter> filter = NXEffectManager::independentFilterWithType(type);
    if (filter)
        NXEffectManager::prepareFilterForShowing(
            *filter, type, QRectF(QPointF(0, 0), QSizeF(m_job.videoSize)), shading);
    return filter;
}

QImage SlideshowRender::shadingImage() const
{
    if (m_job.shadingImage.isEmpty())
        return {};
    QString error;
    QImage image;
    if (const std::unique_ptr<QFile> file
        = InputFile::open(m_job.shadingImage, kLargestShadingBytes, error)) {
        QImageReader reader(file.get());
        image = reader.read();
        error = reader.errorString();
    }
    if (image.isNull())
        EngineOutput::complain(QStringLiteral("cannot read the shading picture \"%1\" (%2)")
                                   .arg(m_job.shadingImage, error));
    return image;
}
