// The editor's subtitle choices on a DVD node. The editor lists the disc's
// subpicture streams followed by one "Forced Subtitle" entry, which stands
// for the setting's forced-only flag rather than a track; an attached text
// file follows the disc's streams in the title's list.
#include "model/DNDVDNode.h"

#include "services/SubtitleCharset.h"

#include <algorithm>

namespace {

const DNDVDTExtSubtitle* lastExtSubtitle(const DNDVDTitle& title)
{
    const auto& tracks = title.subtitleTracks();
    return tracks.empty() ? nullptr : DNDVDExtSubtitleOf(tracks.back());
}

} // namespace

qint32 DNDVDNode::discSubtitleCount() const
{
    const auto title = selectedTitle();
    if (!title)
        return 0;
    const auto& tracks = title->subtitleTracks();
    return static_cast<qint32>(std::count_if(tracks.begin(), tracks.end(),
        [](const DNDVDSubtitleTrack& track) { return !DNDVDExtSubtitleOf(track); }));
}

void DNDVDNode::setEnableSubtitleEdit(bool on)
{
    edit([on](DNDVDTitleSetting& setting) { setting.setSubtitleEnable(on); });
}

quint32 DNDVDNode::indexOfSubtitleType() const
{
    // 1 for the attached file, or when the disc offers nothing to choose;
    // 0 for a stream of the disc or none chosen.
    const auto title = selectedTitle();
    if (!title)
        return 1;
    const qint32 chosen = title->setting().subtitleIndex();
    const auto& tracks = title->subtitleTracks();
    if (chosen >= 0 && static_cast<std::size_t>(chosen) < tracks.size())
        return DNDVDExtSubtitleOf(tracks[static_cast<std::size_t>(chosen)]) ? 1 : 0;
    return discSubtitleCount() == 0 ? 1 : 0;
}

quint32 DNDVDNode::indexOfInnerSubtitle() const
{
    const qint32 inner = discSubtitleCount();
    const DNDVDTitleSetting setting = currentSetting();
    if (setting.forceSubOnly() && inner > 0)
        return static_cast<quint32>(inner); // the "Forced Subtitle" entry
    const qint32 chosen = setting.subtitleIndex();
    return chosen >= 0 && chosen < inner ? static_cast<quint32>(chosen) : 0;
}

QStringList DNDVDNode::innerSubtitlesName() const
{
    QStringList names;
    if (const auto title = selectedTitle()) {
        for (const DNDVDSubtitleTrack& track : title->subtitleTracks()) {
            if (!DNDVDExtSubtitleOf(track))
                names << QStringLiteral("Track%1 [%2]")
                             .arg(names.size() + 1)
                             .arg(DNDVDSubtitleFields(track).subtitleName);
        }
    }
    names << (names.isEmpty() ? QStringLiteral("No Subtitle") : QStringLiteral("Forced Subtitle"));
    return names;
}

QString DNDVDNode::extraSubtitlePath() const
{
    const auto title = selectedTitle();
    const DNDVDTExtSubtitle* external = title ? lastExtSubtitle(*title) : nullptr;
    return external ? external->path : QString();
}

QString DNDVDNode::extraSubtitleLanguage() const
{
    const auto title = selectedTitle();
    const DNDVDTExtSubtitle* external = title ? lastExtSubtitle(*title) : nullptr;
    if (!external || external->language.isEmpty())
        return DNDVDTExtSubtitle::kDefaultLanguage;
    return external->language;
}

void DNDVDNode::setExtraSubtitleLanguage(const QString& language)
{
    const auto title = selectedTitle();
    if (!title || title->subtitleTracks().empty())
        return;
    if (DNDVDTExtSubtitle* external = DNDVDExtSubtitleOf(title->subtitleTracks().back())) {
        external->language = language;
        // The language tells which older set the file's letters are in.
        external->codePage = subtitleFileCodePage(external->path, language);
    }
}

void DNDVDNode::addExtraSubtitle(const QString& path)
{
    const auto title = selectedTitle();
    if (!title)
        return;
    auto& tracks = title->subtitleTracks();
    // The engine is told the file's character set, read as a file node reads it.
    // One attached file at a time: a new choice replaces the old one.
    if (!tracks.empty()) {
        if (DNDVDTExtSubtitle* external = DNDVDExtSubtitleOf(tracks.back())) {
            external->path = path;
            external->codePage = subtitleFileCodePage(path, external->language);
            return;
        }
    }
    DNDVDTExtSubtitle track = DNDVDTExtSubtitle::extSubtitleTrack(path);
    track.codePage = subtitleFileCodePage(path, track.language);
    tracks.emplace_back(std::move(track));
}

void DNDVDNode::selectSubtitleAtIndex(qint32 index, bool extraSubtitle)
{
    const auto title = selectedTitle();
    if (!title || !title->setting().subtitleEnable())
        return;
    const auto count = static_cast<qint32>(title->subtitleTracks().size());
    if (extraSubtitle)
        index = count - 1;
    title->setting().setSubtitleIndex(index >= 0 && index < count ? index : -1);
}
