// An external subtitle file beside a media file: its charset is detected when
// the file joins the list, and the file is copied, converted to UTF-8 where
// the charset asks for it, when the subtitles are burnt in. The input is the
// subtitle file.
#include "FuzzSupport.h"

#include "builders/video/BuilderServices.h"
#include "services/SubtitleCharset.h"

#include <QFile>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const QString path = Fuzz::privateFolder() + QStringLiteral("/Film.srt");
    QFile file(path);
    const QByteArray bytes = Fuzz::bytesOf(data, size);
    Fuzz::require(file.open(QIODevice::WriteOnly | QIODevice::Truncate)
            && file.write(bytes) == bytes.size() && file.flush(),
        "the subtitle file could not be written");
    file.close();

    QString charset = detectFileCharset(path);
    const bool named = !charset.isEmpty();
    const std::optional<QString> copy = ConvertSubtitleToUTF8(path, charset);
    if (!copy)
        return 0;
    QFile converted(*copy);
    Fuzz::require(converted.open(QIODevice::ReadOnly), "the converted copy cannot be read");
    const QByteArray text = converted.readAll();
    converted.close();
    QFile::remove(*copy);
    // A file in a set the detector names, UTF-8 included, is copied as valid
    // UTF-8 (a byte-order mark dropped); any other file is copied as it was.
    if (named)
        Fuzz::require(charset == QLatin1String("UTF-8") && QByteArrayView(text).isValidUtf8(),
            "the converted copy is not valid UTF-8");
    else
        Fuzz::require(text == bytes, "the copy differs from the subtitle file");
    return 0;
}
