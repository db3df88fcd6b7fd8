#include "slideshow/PhotoDecoding.h"

#include <QColorSpace>
#include <QImageReader>

namespace {

// Frames and screens show sRGB. A wide-gamut photo's numbers shown as they
// stand come out dull and off in hue; a photo that names no profile is sRGB
// already, as every viewer takes it.
void convertToSrgb(QImage& image)
{
    const QColorSpace space = image.colorSpace();
    if (!space.isValid() || space == QColorSpace(QColorSpace::SRgb))
        return;
    image.convertToColorSpace(QColorSpace::SRgb);
}

} // namespace

QImage decodeFittedPhoto(QImageReader& reader, QSize box, QString& error)
{
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
    const QSize fitted = shown.scaled(box, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
    reader.setScaledSize(onItsSide ? fitted.transposed() : fitted);
    QImage image = reader.read();
    if (image.isNull()) {
        error = reader.errorString();
        return {};
    }
    // A format that cannot scale while it decodes hands over the whole picture.
    if (image.size() != fitted)
        image = image.scaled(fitted, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    // Converted once it is small: the conversion costs by the pixel.
    convertToSrgb(image);
    return image;
}
