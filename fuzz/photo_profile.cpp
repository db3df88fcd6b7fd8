// A photo of an album, read for the colour profile it carries (JPEG's APP2
// segments, PNG's iCCP chunk, TIFF's ICC tag) and, for a CMYK JPEG or TIFF,
// decoded again from its inks. Whatever the file says of its sizes, the
// profile read stays within what a JPEG can carry, the inks are four samples
// for each pixel of the size given, a TIFF whose header passes decodes or
// says why not, and the device is put back where it was.
#include "FuzzSupport.h"

#include "slideshow/CmykJpeg.h"
#include "slideshow/CmykTiff.h"
#include "slideshow/EmbeddedProfile.h"

#include <QBuffer>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    QByteArray photo = Fuzz::bytesOf(data, size);
    QBuffer device(&photo);
    device.open(QIODevice::ReadOnly);
    device.seek(photo.size() / 2);
    const qint64 wasAt = device.pos();

    const EmbeddedProfile embedded = readEmbeddedProfile(device);
    Fuzz::require(embedded.icc.size() <= 255 * 65'519, "a profile larger than a JPEG can carry");
    Fuzz::require(device.pos() == wasAt, "the profile reader moved the device");
    if (!embedded.isCmykJpeg() && !embedded.isCmykTiff())
        return 0;

    QString error;
    const std::optional<CmykSamples> samples = embedded.isCmykJpeg()
        ? decodeCmykJpeg(device, QSize(64, 64), error)
        : decodeCmykTiff(device, error);
    Fuzz::require(device.pos() == wasAt, "the ink decoder moved the device");
    if (samples)
        Fuzz::require(samples->inks.size()
                == qint64(samples->size.width()) * samples->size.height() * 4
                    * (samples->sixteenBits ? 2 : 1),
            "the inks do not fill the picture");
    else
        Fuzz::require(!error.isEmpty(), "an undecoded picture without a reason");
    if (embedded.isCmykTiff()) {
        const QString problem = cmykTiffProblem(device);
        Fuzz::require(device.pos() == wasAt, "the header check moved the device");
        Fuzz::require(!samples || problem.isEmpty(), "a decoded TIFF its header check refuses");
    }
    return 0;
}
