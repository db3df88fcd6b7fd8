#include "slideshow/DNImageNode.h"

#include <QFile>
#include <QFileInfo>
#include <QImageReader>

#include <exiv2/exiv2.hpp>

#include <cstdio>
#include <mutex>

namespace {

// The metadata of a photo, or none when the file carries none we can read.
std::optional<Exiv2::ExifData> exifOf(const QString& path)
{
    // The library's own complaints about odd files would only clutter stderr.
    static std::once_flag quiet;
    std::call_once(quiet, [] { Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute); });
    try {
        auto image = Exiv2::ImageFactory::open(QFile::encodeName(path).toStdString());
        image->readMetadata();
        return image->exifData();
    } catch (const Exiv2::AnyError&) {
        return std::nullopt;
    }
}

QString textOf(const Exiv2::ExifData& exif, const char* key)
{
    const auto found = exif.findKey(Exiv2::ExifKey(key));
    return found == exif.end() ? QString() : QString::fromStdString(found->toString());
}

// Degrees, minutes and seconds as three rationals: d + m/60 + s/3600.
float degreesOf(const Exiv2::ExifData& exif, const char* key)
{
    const auto found = exif.findKey(Exiv2::ExifKey(key));
    if (found == exif.end())
        return 0;
    double degrees = 0;
    double unit = 1;
    for (long part = 0; part < std::min(found->count(), 3L); ++part) {
        const Exiv2::Rational value = found->toRational(part);
        if (value.second != 0)
            degrees += static_cast<double>(value.first) / value.second / unit;
        unit *= 60;
    }
    return static_cast<float>(degrees);
}

bool hasPosition(const Exiv2::ExifData& exif)
{
    for (const Exiv2::Exifdatum& datum : exif) {
        if (datum.groupName() == "GPSInfo")
            return true;
    }
    return false;
}

std::optional<DNGPS> positionOf(const Exiv2::ExifData& exif)
{
    if (!hasPosition(exif))
        return std::nullopt;
    return DNGPS::gpsInfoWithlongtitude(textOf(exif, "Exif.GPSInfo.GPSLongitudeRef"),
        degreesOf(exif, "Exif.GPSInfo.GPSLongitude"), textOf(exif, "Exif.GPSInfo.GPSLatitudeRef"),
        degreesOf(exif, "Exif.GPSInfo.GPSLatitude"));
}

std::optional<QDateTime> captureTimeOf(const Exiv2::ExifData& exif)
{
    const QDateTime time = QDateTime::fromString(
        textOf(exif, "Exif.Photo.DateTimeOriginal"), QStringLiteral("yyyy:MM:dd HH:mm:ss"));
    return time.isValid() ? std::optional(time) : std::nullopt;
}

// Each part of the metadata is read on its own: a fault in one leaves the others.
template<class Read> void guarded(const char* what, const Read& read)
{
    try {
        read();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "get photo %s failed...: %s\n", what, error.what());
    }
}

} // namespace

DNImageNode DNImageNode::imageNodeWithContentOfPath(const QString& path)
{
    DNImageNode node;
    node.path = path;
    // The header alone: a huge picture is never decoded here.
    QImageReader reader(path);
    if (!reader.canRead())
        return node;
    const std::optional<Exiv2::ExifData> exif = exifOf(path);
    if (exif) {
        guarded("gps", [&] { node.gps = positionOf(*exif); });
    }
    guarded("resolution", [&] { node.resolution = QSizeF(reader.size().expandedTo(QSize(0, 0))); });
    if (exif) {
        guarded("creation date", [&] { node.createDate = captureTimeOf(*exif); });
    }
    const QFileInfo info(path);
    if (info.exists())
        node.size = info.size();
    return node;
}

QString DNImageNode::imageTitle() const
{
    return QFileInfo(path).fileName();
}

QString DNImageNode::description() const
{
    const QString date = createDate ? createDate->toString(Qt::ISODate) : QStringLiteral("(null)");
    return QStringLiteral("%1%2 %3 %4")
        .arg(type == Folder ? QStringLiteral("Folder->") : QStringLiteral("File->"), path, date)
        .arg(size);
}
