// The watermark picture the filter graph lays over the video.
#include "model/DNFileNode.h"

#include "platform/DNLogger.h"
#include "platform/TemporaryFile.h"
#include "services/EngineStreamProbe.h"

#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImageReader>
#include <QPainter>

#include <algorithm>

namespace {

// The watermark picture at `path`, read within the decoder's pixel limit; a
// null image, with why, when it cannot be. Only a file is read: a FIFO would
// block the reader.
QImage readWatermarkPicture(const QString& path, QString& problem)
{
    if (!QFileInfo(path).isFile()) {
        problem = QStringLiteral("it is not a file");
        return {};
    }
    QImageReader reader(path);
    const QSize size = reader.size();
    if (size.isValid() && qint64 { size.width() } * size.height() > kLargestPicturePixels) {
        problem = QStringLiteral("it is %1 x %2 pixels, more than the 8192 x 8192 a picture "
                                 "may have here")
                      .arg(size.width())
                      .arg(size.height());
        return {};
    }
    QImage picture = reader.read();
    if (picture.isNull())
        problem = QStringLiteral("it cannot be read as a picture (%1)").arg(reader.errorString());
    return picture;
}

bool drawImage(QImage& picture, const QString& path, double alpha)
{
    QString problem;
    const QImage source = readWatermarkPicture(path, problem);
    if (source.isNull()) {
        DNLog(QStringLiteral("Cannot read the watermark image %1: %2").arg(path, problem));
        return false;
    }
    const QImage scaled
        = source.scaled(picture.size(), Qt::KeepAspectRatio, Qt::SmoothTransformation);
    QPainter painter(&picture);
    painter.setOpacity(alpha);
    painter.drawImage(
        (picture.width() - scaled.width()) / 2, (picture.height() - scaled.height()) / 2, scaled);
    return true;
}

// The font at the largest pixel size with which the text fits the picture.
QFont fittedFont(const DNWatermarkFont& setting, const QString& text, const QSize& size)
{
    QFont font;
    if (!setting.family.isEmpty())
        font.setFamily(setting.family);
    font.setPixelSize(std::max(1, size.height()));
    const QFontMetricsF metrics(font);
    const QRectF needed = metrics.boundingRect(QRectF(QPointF(), QSizeF(size)), 0, text);
    if (needed.width() <= 0 || needed.height() <= 0)
        return font;
    const double scale
        = std::min({ 1.0, size.width() / needed.width(), size.height() / needed.height() });
    font.setPixelSize(std::max(1, static_cast<int>(font.pixelSize() * scale)));
    return font;
}

bool drawText(QImage& picture, const DNFileNode& node, double alpha)
{
    const QString text = node.textOfWatermark();
    if (text.trimmed().isEmpty()) {
        DNLog(QStringLiteral("The text watermark is empty, nothing to draw."));
        return false;
    }
    // Fonts are reached through the windowing layer (offscreen will do).
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        DNLog(QStringLiteral("Cannot draw a text watermark without the graphics layer."));
        return false;
    }
    QPainter painter(&picture);
    painter.setOpacity(alpha);
    painter.setPen(node.textWatermarkColor());
    painter.setFont(fittedFont(node.textWatermarkFont(), text, picture.size()));
    painter.drawText(picture.rect(), Qt::AlignCenter, text);
    return true;
}

} // namespace

QString DNFileNode::watermarkPictureProblem() const
{
    if (!isEnableWatermark() || typeOfWatermark() != DNBaseEditSetting::kWatermarkImage)
        return {};
    QString problem;
    readWatermarkPicture(imagePathOfWatermark(), problem);
    return problem;
}

QString DNFileNode::pathOfWatermarkFile(const QSize& size, double alpha) const
{
    if (size.isEmpty()) {
        DNLog(QStringLiteral("The watermark has no area (%1x%2), nothing to draw.")
                  .arg(size.width())
                  .arg(size.height()));
        return {};
    }
    QImage picture(size, QImage::Format_ARGB32_Premultiplied);
    picture.fill(Qt::transparent);
    const double opacity = std::clamp(alpha, 0.0, 1.0);
    const bool drawn = typeOfWatermark() == DNBaseEditSetting::kWatermarkImage
        ? drawImage(picture, imagePathOfWatermark(), opacity)
        : drawText(picture, *this, opacity);
    if (!drawn)
        return {};
    const QString path = makeTemporaryFile(QStringLiteral("qzwm"), QStringLiteral("png"));
    if (path.isEmpty())
        return {};
    if (!picture.save(path, "PNG")) {
        DNLog(QStringLiteral("Cannot write the watermark picture %1").arg(path));
        QFile::remove(path);
        return {};
    }
    return path;
}
