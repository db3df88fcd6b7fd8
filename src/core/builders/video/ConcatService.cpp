#include "builders/video/BuilderServices.h"

#include "engine/EncodeConfig.h"
#include "model/DNFileGroupNode.h"
#include "platform/DNLogger.h"
#include "platform/TemporaryFile.h"
#include "profiles/DNProfile.h"
#include "profiles/ProfileValues.h"

#include <QFile>

#include <cmath>

namespace {

struct ConcatList {
    QString text;
    int32_t duration = 0;
};

// The file node a member converts through: itself, or a photo album's movie.
std::shared_ptr<DNFileNode> memberFile(const NXBasicMediaNode::Ptr& member)
{
    if (isMemberOf<DNFileNode>(member))
        return std::static_pointer_cast<DNFileNode>(member);
    if (member && member->nodeClass() == NXNodeClass::GraphicsNode)
        return member->fileNodeForConversion();
    return nullptr;
}

bool addMember(ConcatList& list, const DNFileNode& file)
{
    if (file.videoTracks().empty())
        return true;
    const DNTVideo* track = file.selectedVideoTrack();
    const QString output = file.outputName();
    if (!track || output.isEmpty() || output.contains(QLatin1Char('\n'))
        || output.contains(QLatin1Char('\r'))) {
        // A line break would end the list line early; the demuxer has no escape for it.
        DNLog(QStringLiteral("The merge member \"%1\" has no usable output or video track.")
                  .arg(file.path()));
        return false;
    }
    list.text += ConcatListLine(output);
    list.duration
        = static_cast<int32_t>(std::trunc(static_cast<float>(list.duration) + track->duration));
    return true;
}

std::optional<ConcatList> concatList(const DNFileNode& group)
{
    ConcatList list;
    for (const NXBasicMediaNode::Ptr& member : group.children()) {
        const std::shared_ptr<DNFileNode> file = memberFile(member);
        if (!file) {
            DNLog(
                QStringLiteral("A merge group member is neither a video file nor a photo album."));
            return std::nullopt;
        }
        if (!addMember(list, *file))
            return std::nullopt;
    }
    return list;
}

void addMetadata(ArgumentWriter& writer, const DNNodeInfo& info)
{
    const auto pair = [&](const char* key, const std::optional<QString>& value) {
        if (value)
            writer.add("-metadata").add(QString::fromLatin1(key) + QLatin1Char('=') + *value);
    };
    pair("title", info.displayName);
    pair("artist", info.artist);
    pair("genre", info.genre);
}

// The rate the parts were written at: the profile's, else the first member's
// (which members at other rates were given).
QString partsRate(const DNFileNode& group, const DNProfile* profile)
{
    const QString rate = profile ? profile->videoFrameRate().currentValue() : QString();
    if (profile && profile->videoFrameRate().isPresent() && !isKeepOriginFrameRate(rate))
        return QString::fromLatin1(frameRateToRational(rate.toUtf8().constData()));
    for (const NXBasicMediaNode::Ptr& member : group.children()) {
        const std::shared_ptr<DNFileNode> file = memberFile(member);
        const DNTVideo* track = file ? file->selectedVideoTrack() : nullptr;
        if (track && track->fps > 0)
            return QString::fromLatin1(
                frameRateToRational(nearestTableFrameRate(track->fps).toUtf8().constData()));
    }
    return {};
}

void addCodecs(ArgumentWriter& writer, const JoinEncoding& encoding, const DNFileNode& group)
{
    if (!encoding.pictureCodec && !encoding.soundCodec) {
        writer.add("-c").add("copy");
        return;
    }
    const DNProfile* profile = group.profile().get();
    writer.add("-c:v").add(encoding.pictureCodec ? encoding.pictureCodec : "copy");
    if (encoding.pictureCodec && profile)
        writer.add("-b:v").add(profile->videoQuality().currentValue() + QLatin1Char('k'));
    // A RealMedia part tells its rate in whole frames (29 for 29.97): encoded
    // at the rate the join reads, the picture would slow a frame a second
    // behind its sound. The graph keeps each frame at its time.
    const QString rate = encoding.pictureCodec ? partsRate(group, profile) : QString();
    if (!rate.isEmpty())
        writer.add("-vf").add(QStringLiteral("fps=") + rate);
    writer.add("-c:a").add(encoding.soundCodec ? encoding.soundCodec : "copy");
}

} // namespace

QString ConcatListLine(const QString& path)
{
    // The demuxer reads the name as a quoted token: a quote inside it closes
    // the quotes, is escaped and opens them again.
    QString escaped = path;
    escaped.replace(QLatin1Char('\''), QLatin1String("'\\''"));
    return QStringLiteral("file '%1'\n").arg(escaped);
}

QString WriteConcatList(const QString& text)
{
    const QString path = makeTemporaryFile(QStringLiteral("qzfl"));
    QFile file(path);
    const QByteArray bytes = text.toUtf8();
    if (!path.isEmpty() && file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        && file.write(bytes) == bytes.size() && file.flush())
        return path;
    DNLog(QStringLiteral("can not write concat file list to temp directory!"));
    if (!path.isEmpty())
        file.remove();
    return {};
}

ArgumentBlockPtr Video_Concat_With_AVEncoder(DNFileNode& groupNode, int /*titleIndex*/,
    const EncodeConfig& config, const JoinEncoding& encoding)
{
    if (!isMemberOf<DNFileGroupNode>(&groupNode)) {
        DNLog(QStringLiteral("Video_Concat_With_AVEncoder: the node is not a merge group."));
        return nullptr;
    }
    const std::optional<ConcatList> list = concatList(groupNode);
    if (!list)
        return nullptr;
    const QString listPath = WriteConcatList(list->text);
    if (listPath.isEmpty())
        return nullptr;
    const QString suffix = groupNode.profile() ? groupNode.profile()->fileNameSuffix() : QString();
    const QString output
        = MakeOutputPath(configPath(config.outputDir), groupNode.nodeInfo().outputName, suffix);
    if (output.isEmpty())
        return nullptr;
    ArgumentWriter writer("Video_Concat_With_AVEncoder");
    writer.add("encoder").add("-d").add("-y").add("-f").add("concat").add("-i").add(listPath);
    addCodecs(writer, encoding, groupNode);
    addMetadata(writer, groupNode.nodeInfo());
    groupNode.setOutputName(output);
    writer.add(output);
    return writer.finish(list->duration);
}
