#include "services/SubtitleCharset.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <uchardet.h>

#include <memory>

namespace {

// Text subtitle kinds the editor offers too; picture subtitles (.idx/.sub
// pairs) are left out since their charset means nothing.
const QStringList kSubtitleSuffixes = { QStringLiteral("srt"), QStringLiteral("ass"),
    QStringLiteral("ssa"), QStringLiteral("aqt") };

struct DetectorDeleter {
    void operator()(uchardet* detector) const { uchardet_delete(detector); }
};

QString nameWithoutSuffix(const QFileInfo& info)
{
    const QString name = info.fileName();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot > 0 ? name.left(dot) : name;
}

} // namespace

QString detectCharset(const QByteArray& bytes)
{
    const std::unique_ptr<uchardet, DetectorDeleter> detector(uchardet_new());
    if (!detector)
        return {};
    if (uchardet_handle_data(detector.get(), bytes.constData(), static_cast<size_t>(bytes.size()))
        != 0)
        return {};
    uchardet_data_end(detector.get());
    const char* const name = uchardet_get_charset(detector.get());
    return name ? QString::fromLatin1(name) : QString();
}

QString detectFileCharset(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return detectCharset(file.readAll());
}

QStringList externalSubtitleFiles(const QString& mediaPath)
{
    const QFileInfo media(mediaPath);
    const QString base = nameWithoutSuffix(media);
    QStringList found;
    // Names only: a folder of many media files must not cost a stat per entry per probe.
    QDirIterator entries(media.absolutePath(), QDir::Files | QDir::Hidden);
    while (entries.hasNext()) {
        const QFileInfo entry(entries.next());
        if (entry.fileName() != media.fileName() && nameWithoutSuffix(entry) == base
            && kSubtitleSuffixes.contains(entry.suffix(), Qt::CaseInsensitive))
            found.append(entry.absoluteFilePath());
    }
    found.sort();
    return found;
}
