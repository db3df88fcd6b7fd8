#include "PhotoSequence.h"

#include "InputFile.h"

#include <QImageReader>
#include <QPainter>

#include <memory>
#include <utility>

namespace {

// Decoded pictures kept between the check and their turn; beyond this an
// album is decoded twice rather than held in memory whole.
constexpr qint64 kKeptBytes = 512LL * 1024 * 1024;
// No photo a camera or a scanner makes comes near this.
constexpr qint64 kLargestPhotoBytes = 1024LL * 1024 * 1024;

} // namespace

PhotoSequence::PhotoSequence(QSize frameSize, Complaint complain)
    : m_frameSize(frameSize)
    , m_complain(std::move(complain))
{ }

QImage PhotoSequence::decodeFitted(const QString& path, QSize frameSize, QString& error)
{
    const std::unique_ptr<QFile> file = InputFile::open(path, kLargestPhotoBytes, error);
    if (!file)
        return {};
    QImageReader reader(file.get());
    reader.setAutoTransform(true);
    const QSize stored = reader.size();
    if (!stored.isValid()) {
        error = reader.errorString();
        return {};
    }
    // The reader scales before it turns the picture upright, so a picture
    // stored on its side is scaled with its sides swapped.
    const bool onItsSide
        = reader.transformation().testFlag(QImageIOHandler::TransformationRotate90);
    const QSize shown = onItsSide ? stored.transposed() : stored;
    const QSize fitted = shown.scaled(frameSize, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
    reader.setScaledSize(onItsSide ? fitted.transposed() : fitted);
    const QImage image = reader.read();
    if (image.isNull()) {
        error = reader.errorString();
        return {};
    }
    // A format that cannot scale while it decodes hands over the whole picture.
    if (image.size() != fitted)
        return image.scaled(fitted, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return image;
}

bool PhotoSequence::load(const QStringList& paths, const std::function<bool()>& stopRequested,
    const std::function<void(const QString& path)>& read)
{
    qint64 keptBytes = 0;
    for (const QString& path : paths) {
        if (stopRequested())
            return false;
        QString error;
        QImage fitted = decodeFitted(path, m_frameSize, error);
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
    const QImage fitted = path.isEmpty() ? QImage() : decodeFitted(path, m_frameSize, error);
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
