#pragma once

#include <QSize>
#include <QString>
#include <QStringList>

#include <optional>

class DNProfile;
struct DNTVideo;

// A scaled picture's sides are multiples of 4: every encoder takes even
// sizes, and some (RealVideo 2) refuse anything but multiples of 4.
inline constexpr int kScaledSideStep = 4;

// How an output keeps the shape of the picture.
enum class PixelShape {
    // The format stores the shape of a pixel: the picture is fitted into the
    // profile's frame by its pixels, and the sample aspect the scaler gives
    // it shows it at its own shape.
    Stored,
    // The format stores no pixel shape, and players show every pixel
    // square: the picture is made of square pixels before it is fitted.
    Square,
    // A television frame, whose pixels have the shape the frame's display
    // aspect gives them (720x480 at 4:3: 8:9); the format stores only that
    // aspect. The picture is fitted into the frame by its display aspect.
    Television,
    // The format names the picture's display aspect from a short list (MPEG-2:
    // 4:3, 16:9, 2.21:1) or calls its pixels square. A picture shown at one of
    // those keeps its pixels, as where the shape is stored; any other is made
    // of square pixels first.
    NamedAspect,
};

// The colour matrix an output's picture is written in.
enum class ColourMatrix {
    // The source's, with its tags: the output's players read them.
    Source,
    // What players take an untagged picture of the output's size to be.
    PlayersOfSize,
    // BT.601 at every size: the format's decoders know no other.
    Bt601,
};

// The colour tag values an encoder writes as they are, in the engine's names;
// it writes any other value as a different one.
struct ColourTagSet {
    QStringList primaries;
    QStringList transfers;
    QStringList matrices;
};

// What an output's encoder takes and what its players expect of the picture.
// The end of the picture graph brings every source to it.
struct PictureTarget {
    // The encoder halves the chroma across the picture (4:2:0 and 4:2:2) and
    // so takes only an even width.
    bool evenWidth = false;
    // The encoder halves the chroma down the picture (4:2:0): an even height.
    bool evenHeight = false;
    // The output is standard dynamic range in 8 bits: an HDR source is
    // tone-mapped, into the primaries the output is shown in.
    bool standardRange = false;
    PixelShape shape = PixelShape::Stored;
    ColourMatrix matrix = ColourMatrix::Source;
    // The colour tags the encoder carries, when it does not carry them all.
    const ColourTagSet* carriedTags = nullptr;
    // The frame the output is written at whatever the profile's resolution
    // says (a television standard's, which the engine's target for it
    // scales to at the very end); null for the profile's.
    QSize (*writtenFrame)(const DNProfile& profile) = nullptr;
};

// `picture` as the target takes it: an odd side loses its last column or row.
QSize sizeForTarget(QSize picture, const PictureTarget& target);

// The crop that takes the last column or row off a `picture` whose side the
// target wants even; none when its sides fit.
std::optional<QString> sideCropFilter(QSize picture, const PictureTarget& target);

// A picture brought to a frame of the profile by its display aspect.
struct FrameFit {
    QSize scaled; // the picture's new size
    QSize padded; // the frame it is centred in; empty for none
    QString pixelShape; // its pixels' width over their height, "8/9"
};

// `picture` of pixels `sampleAspect` wide (for one high) brought to `frame`
// (empty for "keep origin") of a target that does not store pixel shapes.
// `frameAspect` is the profile's display aspect of the frame, which a
// television frame takes ("4:3", "16:9", or "keep origin" for the nearer of
// the two); a television frame is always filled, other frames only with
// `pad`, the picture centred. None when the target stores pixel shapes and
// the engine's own fit keeps the shape.
std::optional<FrameFit> fitPictureToFrame(QSize picture, double sampleAspect, QSize frame,
    const QString& frameAspect, bool pad, const PictureTarget& target);

// Whether the picture of `track` is tone-mapped for the target.
bool isToneMapped(const DNTVideo& track, const PictureTarget& target);

// The filters that map the HDR picture of `track` to SDR, 8-bit 4:2:0, in
// the matrix the target writes for a `picture` of that size and the
// primaries it is shown in.
QString toneMappingFilter(const DNTVideo& track, QSize picture, const PictureTarget& target);

// The filters that bring the colours of `track`, edited to `picture`, to what
// the target writes: its matrix (and, from BT.2020, the primaries its players
// read), and tags it carries. None when the source's picture and tags are
// what the target writes.
std::optional<QString> colourFilter(
    const DNTVideo& track, QSize picture, const PictureTarget& target);
