#pragma once

#include <QImage>
#include <QString>

// A picture of the photo, upright, in sRGB, fitted into width x height with
// its proportions kept; a null image when the file is no readable picture.
// Only as much of the file is decoded as the size needs.
QImage ThumbnailOfImage(const QString& path, double width, double height);
