#include "slideshow/ThumbnailOfImage.h"

#include "platform/DNLogger.h"
#include "slideshow/PhotoDecoding.h"

#include <QImageReader>

QImage ThumbnailOfImage(const QString& path, double width, double height)
{
    if (width < 1 || height < 1)
        return {};
    QImageReader reader(path);
    QString error;
    QString profileProblem;
    QImage picture = decodeFittedPhoto(
        reader, QSize(static_cast<int>(width), static_cast<int>(height)), error, profileProblem);
    if (!profileProblem.isEmpty())
        DNLog(profileNotAppliedLine(path, profileProblem));
    return picture;
}
