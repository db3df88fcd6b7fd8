#pragma once

#include <QSize>
#include <QString>

#include <optional>

struct DNTVideo;

// What an output's encoder takes and what its players expect of the picture.
// The end of the picture graph brings every source to it.
struct PictureTarget {
    // The encoder halves the chroma across the picture (4:2:0 and 4:2:2) and
    // so takes only an even width.
    bool evenWidth = false;
    // The encoder halves the chroma down the picture (4:2:0): an even height.
    bool evenHeight = false;
    // The output is standard dynamic range in 8 bits: an HDR source is
    // tone-mapped to BT.709.
    bool standardRange = false;
};

// `picture` as the target takes it: an odd side loses its last column or row.
QSize sizeForTarget(QSize picture, const PictureTarget& target);

// The crop that takes the last column or row off a `picture` whose side the
// target wants even; none when its sides fit.
std::optional<QString> sideCropFilter(QSize picture, const PictureTarget& target);

// Whether the picture of `track` is tone-mapped for the target.
bool isToneMapped(const DNTVideo& track, const PictureTarget& target);

// The filters that map the HDR picture of `track` to BT.709 SDR, 8-bit 4:2:0.
QString toneMappingFilter(const DNTVideo& track);
