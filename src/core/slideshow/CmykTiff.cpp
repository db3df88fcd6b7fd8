#include "slideshow/CmykTiff.h"

#include <QIODevice>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include <tiffio.h>

namespace {

// Beyond this the samples are not held in memory, nor does the library take
// more for one piece of the file.
constexpr qint64 kLargestSampleBytes = 512LL * 1024 * 1024;

// The library reads through these, from the start of the device.
struct Reading {
    QIODevice* device = nullptr;
    QString error; // the library's first complaint
};

QIODevice& deviceOf(thandle_t handle)
{
    return *static_cast<Reading*>(handle)->device;
}

tmsize_t readBytes(thandle_t handle, void* buffer, tmsize_t size)
{
    return deviceOf(handle).read(static_cast<char*>(buffer), size);
}

tmsize_t writeNothing(thandle_t, void*, tmsize_t)
{
    return 0;
}

toff_t seekTo(thandle_t handle, toff_t offset, int whence)
{
    QIODevice& device = deviceOf(handle);
    const auto distance = static_cast<qint64>(offset);
    const qint64 target = whence == SEEK_CUR ? device.pos() + distance
        : whence == SEEK_END                 ? device.size() + distance
                                             : distance;
    if (target < 0 || !device.seek(target))
        return static_cast<toff_t>(-1);
    return static_cast<toff_t>(target);
}

int closeNothing(thandle_t)
{
    return 0;
}

toff_t sizeOf(thandle_t handle)
{
    return static_cast<toff_t>(deviceOf(handle).size());
}

int mapNothing(thandle_t, void**, toff_t*)
{
    return 0;
}

void unmapNothing(thandle_t, void*, toff_t)
{ }

// The library would print its complaints; the first one is the reason.
int keepError(TIFF*, void* user, const char*, const char* format, va_list arguments)
{
    auto* reading = static_cast<Reading*>(user);
    if (reading->error.isEmpty()) {
        char text[512];
        std::vsnprintf(text, sizeof text, format, arguments);
        reading->error = QString::fromLocal8Bit(text);
    }
    return 1;
}

int ignoreWarning(TIFF*, void*, const char*, const char*, va_list)
{
    return 1;
}

struct TiffClose {
    void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};
using Tiff = std::unique_ptr<TIFF, TiffClose>;

// "m": the device is read, never mapped.
Tiff openTiff(Reading& reading)
{
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetMaxSingleMemAlloc(options, kLargestSampleBytes);
    TIFFOpenOptionsSetErrorHandlerExtR(options, keepError, &reading);
    TIFFOpenOptionsSetWarningHandlerExtR(options, ignoreWarning, nullptr);
    Tiff tiff(TIFFClientOpenExt("photo", "rm", &reading, readBytes, writeNothing, seekTo,
        closeNothing, sizeOf, mapNothing, unmapNothing, options));
    TIFFOpenOptionsFree(options);
    return tiff;
}

struct Layout {
    uint32_t width = 0;
    uint32_t height = 0;
    uint16_t samplesPerPixel = 1;
    uint16_t bits = 1;
    bool planes = false; // each ink in a plane of its own
    int bytes() const { return bits / 8; }
};

QString layoutProblem(TIFF* tiff, Layout& layout)
{
    uint16_t photometric = 0;
    uint16_t inkSet = INKSET_CMYK;
    uint16_t sampleFormat = SAMPLEFORMAT_UINT;
    uint16_t planar = PLANARCONFIG_CONTIG;
    TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_INKSET, &inkSet);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLEFORMAT, &sampleFormat);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &layout.samplesPerPixel);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &layout.bits);
    TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &layout.width);
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &layout.height);
    layout.planes = planar == PLANARCONFIG_SEPARATE;
    if (photometric != PHOTOMETRIC_SEPARATED)
        return QStringLiteral("not a picture of inks");
    if (inkSet != INKSET_CMYK || layout.samplesPerPixel < 4)
        return QStringLiteral("its inks are not cyan, magenta, yellow and black");
    if ((layout.bits != 8 && layout.bits != 16) || sampleFormat != SAMPLEFORMAT_UINT)
        return QStringLiteral("inks of %1 bits are not read").arg(layout.bits);
    if (layout.width == 0 || layout.height == 0)
        return QStringLiteral("a picture without pixels");
    if (qint64(layout.width) * layout.height * 4 * layout.bytes() > kLargestSampleBytes)
        return QStringLiteral("%1 x %2 pixels of inks are more than are held")
            .arg(layout.width)
            .arg(layout.height);
    return {};
}

// One piece the library decodes: a row of a strip, or a tile.
struct Piece {
    uint32_t x = 0;
    uint32_t y = 0;
    uint32_t width = 0; // of the piece as stored, past the picture's edge for a tile
    uint32_t height = 0;
    uint16_t sample = 0; // the ink of a plane; 0 for every ink of the pixel
};

// Takes the inks of a decoded piece into `samples`, leaving out what lies
// beyond the picture and any sample after the fourth.
void takeInks(
    const Layout& layout, const Piece& piece, const std::vector<char>& buffer, CmykSamples& samples)
{
    const int bytes = layout.bytes();
    const int inksInPiece = layout.planes ? 1 : layout.samplesPerPixel;
    const int inksTaken = layout.planes ? 1 : 4;
    for (uint32_t row = 0; row < piece.height && piece.y + row < layout.height; ++row)
        for (uint32_t column = 0; column < piece.width && piece.x + column < layout.width;
             ++column) {
            const qsizetype from = (qsizetype(row) * piece.width + column) * inksInPiece * bytes;
            const qsizetype to
                = ((qsizetype(piece.y + row) * layout.width + piece.x + column) * 4 + piece.sample)
                * bytes;
            std::memcpy(
                samples.inks.data() + to, buffer.data() + from, std::size_t(inksTaken * bytes));
        }
}

bool readStrips(TIFF* tiff, const Layout& layout, CmykSamples& samples)
{
    std::vector<char> row(std::size_t(TIFFScanlineSize(tiff)));
    for (uint16_t ink = 0; ink < (layout.planes ? 4 : 1); ++ink)
        for (uint32_t y = 0; y < layout.height; ++y) {
            if (TIFFReadScanline(tiff, row.data(), y, ink) < 0)
                return false;
            takeInks(layout, { 0, y, layout.width, 1, ink }, row, samples);
        }
    return true;
}

bool readTiles(TIFF* tiff, const Layout& layout, CmykSamples& samples)
{
    uint32_t tileWidth = 0;
    uint32_t tileHeight = 0;
    TIFFGetField(tiff, TIFFTAG_TILEWIDTH, &tileWidth);
    TIFFGetField(tiff, TIFFTAG_TILELENGTH, &tileHeight);
    if (tileWidth == 0 || tileHeight == 0)
        return false;
    std::vector<char> tile(std::size_t(TIFFTileSize(tiff)));
    for (uint16_t ink = 0; ink < (layout.planes ? 4 : 1); ++ink)
        for (uint32_t y = 0; y < layout.height; y += tileHeight)
            for (uint32_t x = 0; x < layout.width; x += tileWidth) {
                if (TIFFReadTile(tiff, tile.data(), x, y, 0, ink) < 0)
                    return false;
                takeInks(layout, { x, y, tileWidth, tileHeight, ink }, tile, samples);
            }
    return true;
}

// `use` given the TIFF of the device's bytes and the library's first
// complaint so far; the device is put back where it was after. Nothing, with
// the reason in `error`, when the file does not open.
template<class Use>
auto withTiff(QIODevice& device, QString& error, const Use& use)
    -> decltype(use(static_cast<TIFF*>(nullptr), error))
{
    const qint64 wasAt = device.pos();
    Reading reading { &device, {} };
    decltype(use(static_cast<TIFF*>(nullptr), error)) result {};
    if (!device.seek(0))
        error = QStringLiteral("the file cannot be read again");
    else if (const Tiff tiff = openTiff(reading))
        result = use(tiff.get(), reading.error);
    else
        error = reading.error.isEmpty() ? QStringLiteral("not a TIFF file") : reading.error;
    device.seek(wasAt);
    return result;
}

} // namespace

QString cmykTiffProblem(QIODevice& device)
{
    QString error;
    const QString problem = withTiff(device, error, [](TIFF* tiff, const QString&) {
        Layout layout;
        return layoutProblem(tiff, layout);
    });
    return problem.isEmpty() ? error : problem;
}

std::optional<CmykSamples> decodeCmykTiff(QIODevice& device, QString& error)
{
    return withTiff(device, error,
        [&error](TIFF* tiff, const QString& complaint) -> std::optional<CmykSamples> {
            Layout layout;
            error = layoutProblem(tiff, layout);
            if (!error.isEmpty())
                return std::nullopt;
            CmykSamples samples;
            samples.size = QSize(int(layout.width), int(layout.height));
            samples.sixteenBits = layout.bits == 16;
            samples.inks.resize(qsizetype(layout.width) * layout.height * 4 * layout.bytes());
            const bool read = TIFFIsTiled(tiff) ? readTiles(tiff, layout, samples)
                                                : readStrips(tiff, layout, samples);
            if (!read) {
                error = complaint.isEmpty() ? QStringLiteral("its inks cannot be decoded")
                                            : complaint;
                return std::nullopt;
            }
            return samples;
        });
}
