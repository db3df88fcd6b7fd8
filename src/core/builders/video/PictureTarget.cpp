#include "builders/video/PictureTarget.h"

#include "services/DNFileTracks.h"

namespace {

bool isOdd(int side)
{
    return side % 2 != 0;
}

// The engine's name of the track's colour property, or the BT.2020 one that
// HDR video uses when the stream does not say.
QString orBt2020(const QString& name, const char* bt2020)
{
    return name.isEmpty() ? QString::fromLatin1(bt2020) : name;
}

} // namespace

QSize sizeForTarget(QSize picture, const PictureTarget& target)
{
    if (target.evenWidth && isOdd(picture.width()))
        picture.rwidth() -= 1;
    if (target.evenHeight && isOdd(picture.height()))
        picture.rheight() -= 1;
    return picture;
}

// A one-pixel crop keeps the aspect within that pixel, and the picture
// unscaled.
std::optional<QString> sideCropFilter(QSize picture, const PictureTarget& target)
{
    if (sizeForTarget(picture, target) == picture)
        return std::nullopt;
    return QStringLiteral("crop=%1:%2:0:0")
        .arg(target.evenWidth ? QStringLiteral("trunc(iw/2)*2") : QStringLiteral("iw"),
            target.evenHeight ? QStringLiteral("trunc(ih/2)*2") : QStringLiteral("ih"));
}

bool isToneMapped(const DNTVideo& track, const PictureTarget& target)
{
    return target.standardRange && track.isHighDynamicRange();
}

// The curve works on linear light in floating point, after the primaries are
// brought to BT.709, so that saturated colours come out inside the gamut.
// Hable's curve keeps the highlights' detail; the source's colours are named
// rather than read from the pictures, which not every decoder tags.
QString toneMappingFilter(const DNTVideo& track)
{
    const QString primaries = orBt2020(track.colorPrimaries, "bt2020");
    return QStringLiteral("zscale=tin=%1:pin=%2:min=%3:t=linear:p=%2:npl=100,format=gbrpf32le,"
                          "zscale=p=bt709,tonemap=tonemap=hable:desat=0,"
                          "zscale=t=bt709:m=bt709:r=tv,format=yuv420p")
        .arg(track.colorTransfer, primaries, orBt2020(track.colorMatrix, "bt2020nc"));
}
