#include "slideshow/ThumbnailOfImage.h"

#include <QImageReader>

QImage ThumbnailOfImage(const QString& path, double width, double height)
{
    QImageReader reader(path);
    reader.setAutoTransform(true);
    const QSize stored = reader.size();
    if (!stored.isValid() || width < 1 || height < 1)
        return {};
    // The reader scales before it turns the picture upright.
    const bool onItsSide
        = reader.transformation().testFlag(QImageIOHandler::TransformationRotate90);
    const QSize shown = onItsSide ? stored.transposed() : stored;
    const QSize box(static_cast<int>(width), static_cast<int>(height));
    const QSize fitted = shown.scaled(box, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
    reader.setScaledSize(onItsSide ? fitted.transposed() : fitted);
    return reader.read();
}
