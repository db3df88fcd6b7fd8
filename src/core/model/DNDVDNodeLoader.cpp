// Loading a DVD source into a DVD node: the titles the reader found, the
// output metadata a new source starts with, and the main title chosen.
#include "model/DNDVDNode.h"

#include "services/DNHelpers.h"
#include "services/DVDTitleReader.h"

#include <QDir>
#include <QFileInfo>

namespace {

// What the outputs are named after: the disc's volume name for a drive, the
// folder above a VIDEO_TS folder, else the folder or image without extension.
QString sourceName(const NXDVDSourceInfo& source, const QString& volumeName)
{
    if (source.sourceType == NXDVDSourceInfo::kDrive)
        return volumeName.isEmpty() ? QFileInfo(source.devicePath).fileName() : volumeName;
    const QFileInfo file(QDir::cleanPath(source.path));
    if (file.fileName().compare(QLatin1String("VIDEO_TS"), Qt::CaseInsensitive) == 0)
        return QFileInfo(file.absolutePath()).fileName();
    return file.completeBaseName();
}

DNNodeInfo nodeInfoForDVD(const QString& name)
{
    DNNodeInfo info;
    info.displayName = name;
    info.outputName = name;
    info.genre = QStringLiteral("Video");
    info.artist = DNApplicationName();
    return info;
}

std::shared_ptr<DNDVDTitle> makeTitle(const DVDTitleFacts& facts)
{
    auto title = std::make_shared<DNDVDTitle>();
    title->setTitleNumber(facts.titleNumber);
    title->setLength(facts.length);
    title->setExactLength(facts.exactLength);
    title->setFps(facts.fps);
    title->setVideoTracks({ facts.video });
    title->setAudioTracks(facts.audioTracks);
    title->setSubtitleTracks({ facts.subtitleTracks.begin(), facts.subtitleTracks.end() });
    title->setting().setAudioIndex(facts.audioTracks.empty() ? -1 : 0);
    return title;
}

// The longest title, the first of equals: on most discs the feature.
std::size_t mainTitlePosition(const std::vector<DVDTitleFacts>& titles)
{
    std::size_t longest = 0;
    for (std::size_t position = 1; position < titles.size(); ++position) {
        if (titles[position].length > titles[longest].length)
            longest = position;
    }
    return longest;
}

} // namespace

std::shared_ptr<DNDVDNode> DNDVDNode::dvdNodeWithSourceInfo(
    const NXDVDSourceInfo& source, QString* failure)
{
    QString reason;
    const std::optional<DVDDiscFacts> disc = readDVDTitles(source.playbackPath(), reason);
    if (!disc) {
        if (failure)
            *failure = reason;
        return nullptr;
    }
    auto node = std::make_shared<DNDVDNode>(source);
    for (const DVDTitleFacts& facts : disc->titles)
        node->appendTitle(makeTitle(facts));
    const std::size_t main = mainTitlePosition(disc->titles);
    node->titleAt(static_cast<qint32>(main))->setIsSelected(true);
    node->setTitleSelected(static_cast<qint32>(main));
    node->setNodeInfo(nodeInfoForDVD(sourceName(source, disc->volumeName)));
    return node;
}
