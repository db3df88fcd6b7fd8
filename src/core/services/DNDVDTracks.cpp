#include "services/DNDVDTracks.h"

#include <QLocale>

DNDVDTExtSubtitle DNDVDTExtSubtitle::extSubtitleTrack(const QString& path)
{
    DNDVDTExtSubtitle track;
    track.path = path;
    track.language = kDefaultLanguage;
    return track;
}

const DNDVDTSubtitle& DNDVDSubtitleFields(const DNDVDSubtitleTrack& track)
{
    return std::visit(
        [](const DNDVDTSubtitle& fields) -> const DNDVDTSubtitle& { return fields; }, track);
}

const DNDVDTExtSubtitle* DNDVDExtSubtitleOf(const DNDVDSubtitleTrack& track)
{
    return std::get_if<DNDVDTExtSubtitle>(&track);
}

DNDVDTExtSubtitle* DNDVDExtSubtitleOf(DNDVDSubtitleTrack& track)
{
    return std::get_if<DNDVDTExtSubtitle>(&track);
}

QString DNDVDLanguageName(const QString& code)
{
    if (code.isEmpty())
        return {};
    const QLocale::Language language = QLocale::codeToLanguage(code.toLower());
    if (language == QLocale::AnyLanguage || language == QLocale::C)
        return QStringLiteral("??");
    return QLocale::languageToString(language);
}
