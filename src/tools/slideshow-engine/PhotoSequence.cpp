#include "PhotoSequence.h"

#include "InputFile.h"
#include "slideshow/PhotoDecoding.h"

#include <QImageReader>
#include <QPainter>

#include <memory>
#include <utility>

namespace {

// Decoded pictures kept between the check and their turn; beyond this an
// album is decoded twice rather than held in memory whole.
constexpr qint64 kKeptBytes = 512LL * 1024 * 1024;

} // namespace

PhotoSequence::PhotoSequence(QSize frameSize, Complaint complain)
    : m_frameSize(frameSize)
    , m_complain(std::move(complain))
{ }

QImage PhotoSequence::decodeFitted(const QString& path, QString& error) const
{
    const std::unique_ptr<QFile> file = InputFile::open(path, kLargestPhotoBytes, error);
    if (!file)
        return {};
    QImageReader reader(file.get());
    QString profileProblem;
    QImage fitted = decodeFittedPhoto(reader, m_frameSize, error, profileProblem);
    if (!profileProblem.isEmpty())
        m_complain(profileNotAppliedLine(path, profileProblem));
    return fitted;
}

bool PhotoSequence::load(const QStringList& paths, const std::function<bool()>& stopRequested,
    const std::function<void(const QString& path)>& read)
{
    qint64 keptBytes = 0;
    for (const QString& path : paths) {
        if (stopRequested())
            return false;
        QString error;
        QImage fitted = decodeFitted(path, error);
        read(path);
        if (fitted.isNull()) {
            m_complain(
                QStringLiteral("cannot read the photo \"%1\" (%2): left out").arg(path, error));
            continue;
        }
        keptBytes += fitted.sizeInBytes();
        if (keptBytes > kKeptBytes)
            fitted = QImage();
        m_photos.push_back({ path, std::move(fitted) });
    }
    return true;
}

QImage PhotoSequence::frame(int index) const
{
    const Photo& photo = m_photos[static_cast<std::size_t>(index)];
    if (!photo.fitted.isNull())
        return letterboxed(photo.fitted);
    return frameOf(photo.path);
}

QImage PhotoSequence::frameOf(const QString& path) const
{
    QString error;
    const QImage fitted = path.isEmpty() ? QImage() : decodeFitted(path, error);
    if (fitted.isNull() && !path.isEmpty())
        m_complain(QStringLiteral("cannot read \"%1\" (%2): black in its place").arg(path, error));
    return letterboxed(fitted);
}

QImage PhotoSequence::letterboxed(const QImage& fitted) const
{
    QImage frame(m_frameSize, QImage::Format_ARGB32_Premultiplied);
    frame.fill(Qt::black);
    if (fitted.isNull())
        return frame;
    QPainter painter(&frame);
    const QPoint corner(
        (m_frameSize.width() - fitted.width()) / 2, (m_frameSize.height() - fitted.height()) / 2);
    painter.drawImage(corner, fitted);
    return frame;
}
