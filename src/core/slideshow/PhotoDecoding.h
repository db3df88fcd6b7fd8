#pragma once

#include <QImage>
#include <QSize>
#include <QString>

class QIODevice;
class QImageReader;

// No photo a camera or a scanner makes comes near this; a file beyond it is
// not decoded.
constexpr qint64 kLargestPhotoBytes = 1024LL * 1024 * 1024;

// The picture of `reader` as it is meant to be seen: upright by its EXIF
// orientation, fitted into `box` with its proportions kept, and in sRGB,
// converted through the colour profile it carries (Adobe RGB, Display P3,
// grey, CMYK for print, ...). Only as much of the file is decoded as the size
// needs. A null image, with the reason in `error`, when it is no readable
// picture. A profile that cannot be applied leaves the picture as the file
// stores it, with the reason in `profileProblem`.
QImage decodeFittedPhoto(QImageReader& reader, QSize box, QString& error, QString& profileProblem);

// Why the photo read from `device` will not be decoded, seen from its header
// alone, where the image reader's own look at the header passes it (a CMYK
// TIFF of inks that are not read); empty otherwise. The device is put back
// where it was.
QString photoHeaderProblem(QIODevice& device);

// The line that tells the person why a photo's colours are off.
QString profileNotAppliedLine(const QString& photo, const QString& problem);
