#pragma once

#include <QByteArray>
#include <QSize>
#include <QString>

#include <optional>

class QIODevice;

// The ink values of a CMYK photo as they are stored, four a pixel, row after
// row, of one byte each or (in a TIFF) of two in the machine's order. The
// image reader turns them into light by a rule of thumb, losing what a colour
// profile needs.
struct CmykSamples {
    QSize size;
    QByteArray inks;
    // Written by the programs that put an Adobe marker in a JPEG: 0 is full
    // ink, 255 none.
    bool inverted = false;
    bool sixteenBits = false;
};

// Decodes the JPEG read from the start of `device` at the smallest scale at
// which it still covers `atLeast`, and puts the device back where it was.
// Nothing, with the reason in `error`, when it is no readable CMYK JPEG.
std::optional<CmykSamples> decodeCmykJpeg(QIODevice& device, QSize atLeast, QString& error);
