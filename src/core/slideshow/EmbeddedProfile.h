#pragma once

#include <QByteArray>

class QIODevice;

// What a photo file says about its colours before its pixels: the ICC
// profile it carries, read from the file itself, since the image reader drops
// every profile it cannot use (grey, CMYK, table-based), and whether its
// pixels are four inks rather than light.
struct EmbeddedProfile {
    QByteArray icc; // empty when the file carries none
    bool cmykJpeg = false;
};

// Reads JPEG (APP2 "ICC_PROFILE" segments), PNG (iCCP) and TIFF (the ICC tag
// of the first picture), known by their first bytes, from the start of
// `device`, and puts the device back where it was. Other formats carry no
// profile here.
EmbeddedProfile readEmbeddedProfile(QIODevice& device);
