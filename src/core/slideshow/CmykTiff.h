#pragma once

#include "slideshow/CmykJpeg.h"

#include <QString>

#include <optional>

class QIODevice;

// Why the CMYK TIFF read from the start of `device` cannot be decoded (its
// inks are not four of 8 or 16 bits, or its header cannot be read), from its
// header alone; empty when it can. The device is put back where it was.
QString cmykTiffProblem(QIODevice& device);

// The inks of the first picture of the CMYK TIFF read from the start of
// `device`, whole, as the file stores them (0 is no ink), and puts the device
// back where it was. A fifth sample and more (alpha, spot colours) are left
// out. Nothing, with the reason in `error`, when it cannot be decoded.
std::optional<CmykSamples> decodeCmykTiff(QIODevice& device, QString& error);
