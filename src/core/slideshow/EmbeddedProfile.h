#pragma once

#include <QByteArray>

class QIODevice;

// What a photo file says about its colours before its pixels: the ICC
// profile it carries, read from the file itself, and whether its pixels are
// four inks rather than light. The image reader keeps the bytes of a profile
// it cannot use itself (grey, CMYK, table-based) only as long as it does not
// turn the picture upright, and never for a grey PNG.
struct EmbeddedProfile {
    QByteArray icc; // empty when the file carries none
    bool cmykJpeg = false;
};

// Reads JPEG (APP2 "ICC_PROFILE" segments), PNG (iCCP) and TIFF (the ICC tag
// of the first picture), known by their first bytes, from the start of
// `device`, and puts the device back where it was. Other formats carry no
// profile here.
EmbeddedProfile readEmbeddedProfile(QIODevice& device);
