#include "slideshow/AlbumConversion.h"

#include "model/DNFileNode.h"
#include "platform/DNLogger.h"
#include "platform/OwnerMark.h"
#include "profiles/DNProfile.h"
#include "profiles/ProfileValues.h"
#include "services/OutputPublishing.h"
#include "slideshow/DNGraphicsNode.h"
#include "slideshow/NXImageEngine.h"

#include <QFile>
#include <QLocale>
#include <QScopeGuard>

#include <cmath>

AlbumConversion::AlbumConversion(Hooks hooks)
    : m_hooks(std::move(hooks))
{ }

AlbumConversion::~AlbumConversion() = default;

namespace {

// Width over height of a profile's display aspect ("4x3", "16:9", "2.35");
// 0 for "keep origin" and anything else.
double displayAspectOf(const QString& value)
{
    if (value.isNull() || isKeepOriginAspect(value))
        return 0.0;
    const QStringList sides = normalizeAspectString(value, QStringLiteral(":")).split(u':');
    const double width = sides.value(0).toDouble();
    const double height = sides.size() == 2 ? sides.value(1).toDouble() : 1.0;
    return sides.size() <= 2 && width > 0 && height > 0 ? width / height : 0.0;
}

} // namespace

// A frame shown at another aspect than its pixels give it (a DVD's 720x480
// at 4:3) is rendered at that aspect in square pixels, as many lines high:
// the conversion fills the frame with it, where a render at the frame's own
// size would be shrunk into the aspect a second time.
QSizeF AlbumConversion::frameSizeOf(const DNProfile* profile)
{
    if (!profile)
        return kDefaultFrameSize;
    const QSizeF frame = resolutionFromString(profile->videoResolution().currentValue(),
        kDefaultFrameSize.width(), kDefaultFrameSize.height());
    const double aspect = displayAspectOf(profile->videoAspect().currentValue());
    if (aspect <= 0)
        return frame;
    return QSizeF(std::round(frame.height() * aspect / 2) * 2, frame.height());
}

int AlbumConversion::frameRateOf(const DNProfile* profile)
{
    const QString value = profile ? profile->videoFrameRate().currentValue() : QString();
    if (isKeepOriginIgnoringCase(value))
        return kDefaultFrameRate;
    bool read = false;
    const int rate = static_cast<int>(QLocale::c().toDouble(value.trimmed(), &read));
    return read && rate > 0 ? rate : kDefaultFrameRate;
}

QStringList AlbumConversion::photoPaths(const DNGraphicsNode& album)
{
    QStringList paths;
    for (const DNImageNode& folder : album.imageNodes())
        for (const DNImageNode& photo : folder.imageNodes)
            paths << photo.path;
    return paths;
}

bool AlbumConversion::stopRequested() const
{
    return m_hooks.stopRequested && m_hooks.stopRequested();
}

std::optional<QVariantMap> AlbumConversion::renderProgress() const
{
    const std::lock_guard lock(m_mutex);
    if (!m_engine)
        return std::nullopt;
    return QVariantMap {
        { QStringLiteral("EncodeCategory"), 0 },
        { QStringLiteral("totalFrames"), qulonglong(m_engine->totalFrames()) },
        { QStringLiteral("currentFrame"), qulonglong(m_engine->currentFrame()) },
        { QStringLiteral("currentImage"), m_engine->currentImagePath() },
    };
}

void AlbumConversion::stopEncoding()
{
    {
        const std::lock_guard lock(m_mutex);
        if (m_engine)
            m_engine->stopEncoding();
    }
    m_wake.notify_all();
}

int AlbumConversion::encodeGraphics2QuickTimeMovie(
    const std::shared_ptr<DNGraphicsNode>& album, bool encode2VideoWithAVEncode)
{
    fail({});
    if (stopRequested())
        return kDNVideoConverterStopped;
    if (!album)
        return kDNVideoConverterFailed;
    const QString movie = render(*album, encode2VideoWithAVEncode);
    if (movie.isEmpty())
        return stopRequested() ? kDNVideoConverterStopped : kDNVideoConverterFailed;
    if (m_hooks.movieRendered)
        m_hooks.movieRendered(movie);
    if (!pauseUnlessStopped()) {
        QFile::remove(movie);
        return kDNVideoConverterStopped;
    }
    return convertMovie(*album, movie, encode2VideoWithAVEncode);
}

// The engine is reachable for the progress poll and a stop only while it runs.
QString AlbumConversion::render(const DNGraphicsNode& album, bool intermediate)
{
    const auto engine = std::make_shared<NXImageEngine>();
    // A movie that is to be converted and removed lives under a hidden name of
    // ours: should the program be killed before it is removed, a later run
    // into the folder removes it, as any partial output of a dead run.
    if (intermediate)
        engine->setTargetPath(
            partialOutputPath(engine->storage().value(QStringLiteral("targetPath")).toString()));
    const auto transitions = album.setting()->transitions();
    engine->setShowDuration(album.setting()->interval());
    engine->setEffectList(transitions ? *transitions : QList<qint64>());
    engine->setDataSource(photoPaths(album));
    engine->setAudioList(album.audioTracksPath());
    engine->setVideoFrameResolution(frameSizeOf(album.profile().get()));
    engine->setFrameRate(frameRateOf(album.profile().get()));
    {
        const std::lock_guard lock(m_mutex);
        m_engine = engine;
    }
    const auto forget = qScopeGuard([this] {
        const std::lock_guard lock(m_mutex);
        m_engine.reset();
    });
    // A stop that came before the engine was reachable is seen here; one
    // that comes later reaches the engine.
    if (stopRequested())
        return {};
    // Only now does the progress poll read the render's own figures.
    if (m_hooks.renderWillStart)
        m_hooks.renderWillStart();
    engine->beginEncoding();
    const QString movie = engine->finiallyVideoPath();
    // The engine took its mark off the movie as it named it: the movie to be
    // converted is ours now, and abandoned should we die before it is removed.
    if (intermediate && !movie.isEmpty())
        OwnerMark::mark(movie);
    if (movie.isEmpty() && !stopRequested())
        fail(
            QStringLiteral("The album \"%1\" was not rendered: %2")
                .arg(album.nodeInfo().displayName.value_or(album.path()), engine->failureReason()));
    return movie;
}

bool AlbumConversion::pauseUnlessStopped()
{
    std::unique_lock lock(m_mutex);
    return !m_wake.wait_for(lock, m_pause, [this] { return stopRequested(); });
}

// The album's file node stands for the movie; the movie goes once it has
// been converted, whatever the outcome. A movie that cannot be read back
// fails the entry rather than converting nothing.
int AlbumConversion::convertMovie(DNGraphicsNode& album, const QString& movie, bool convert)
{
    if (!album.convertGraphicsNodeToFileNode(movie)) {
        fail(QStringLiteral("The rendered movie %1 of the album \"%2\" cannot be read back")
                 .arg(movie, album.nodeInfo().displayName.value_or(album.path())));
        QFile::remove(movie);
        return kDNVideoConverterFailed;
    }
    if (!convert)
        return 0;
    const int status
        = DNVideoConverterStart(album.fileNode(), 0, m_hooks.stateCallback, m_hooks.context);
    QFile::remove(movie);
    return status;
}

// The reason is logged, and kept for the person waiting on the run.
void AlbumConversion::fail(const QString& reason)
{
    if (!reason.isEmpty())
        DNLog(reason);
    const std::lock_guard lock(m_mutex);
    m_failure = reason;
}

QString AlbumConversion::lastFailure() const
{
    const std::lock_guard lock(m_mutex);
    return m_failure;
}
