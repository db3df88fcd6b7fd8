#pragma once

#include <QByteArray>

class QIODevice;

// The numbers a photo file stores for each pixel, as its header says.
enum class StoredSamples {
    Unknown, // a format or a layout not read here
    Grey,
    Rgb, // red, green and blue, or a luma and chroma or a palette made of them
    Cmyk, // four inks for print
};

// What a photo file says about its colours before its pixels: the ICC
// profile it carries, read from the file itself, and what its pixels are.
// The image reader keeps the bytes of a profile it cannot use itself (grey,
// CMYK, table-based) only as long as it does not turn the picture upright,
// and never for a grey PNG.
struct EmbeddedProfile {
    QByteArray icc; // empty when the file carries none
    StoredSamples samples = StoredSamples::Unknown;
    bool jpeg = false;
    bool tiff = false;

    bool isCmykJpeg() const { return jpeg && samples == StoredSamples::Cmyk; }
    bool isCmykTiff() const { return tiff && samples == StoredSamples::Cmyk; }
};

// Reads JPEG (APP2 "ICC_PROFILE" segments, the frame's components), PNG
// (iCCP, the header's colour type) and TIFF (the ICC tag and the photometric
// interpretation of the first picture), known by their first bytes, from the
// start of `device`, and puts the device back where it was. Other formats
// carry no profile here.
EmbeddedProfile readEmbeddedProfile(QIODevice& device);
