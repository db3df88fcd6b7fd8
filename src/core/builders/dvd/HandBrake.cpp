#include "builders/dvd/HandBrake.h"

#include "builders/dvd/DVDBuild.h"
#include "model/DNDVDNode.h"
#include "platform/DNLogger.h"
#include "profiles/DNProfile.h"
#include "profiles/ProfileValues.h"

#include <QStringList>

#include <cmath>

namespace {

std::unique_ptr<DVDBuild> openHandBrakeBuild(const char* builderName,
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, const EncodeConfig& config)
{
    return DVDBuild::openSingleTitle(builderName, node, titleIndex, config,
        QStringLiteral("merged titles cannot be converted this way"));
}

// "1,2,...,count": the library skips a track number it does not know (a
// stream id such as 128) and still answers success.
QString trackPositions(std::size_t count)
{
    QStringList positions;
    for (std::size_t position = 1; position <= count; ++position)
        positions << QString::number(position);
    return positions.join(QLatin1Char(','));
}

// External subtitle files are ours, not tracks of the disc.
std::size_t discSubtitleCount(const DNDVDTitle& title)
{
    std::size_t count = 0;
    for (const DNDVDSubtitleTrack& track : title.subtitleTracks()) {
        if (!DNDVDExtSubtitleOf(track))
            ++count;
    }
    return count;
}

void writeTitleBlock(DVDBuild& build)
{
    build.writer.add("-t").addf("%d", build.title->titleNumber());
}

// A time to the millisecond, as the other engines' trims, on the library's
// 90 kHz clock: it reads its times as whole numbers.
QString ptsOf(double seconds)
{
    constexpr qint64 kTicksPerMillisecond = 90;
    return QStringLiteral("pts:%1").arg(std::llround(seconds * 1000) * kTicksPerMillisecond);
}

// Without a start the library converts from the title's beginning and the
// stop limit would keep the wrong part. Its stop counts from the start, in
// the start's unit.
void writeRangeBlock(DVDBuild& build)
{
    if (!build.trim)
        return;
    if (build.trim->start > 0)
        build.writer.add("--start-at").add(ptsOf(build.trim->start));
    build.writer.add("--stop-at").add(ptsOf(build.trim->length));
}

void writeMaximumWidthBlock(DVDBuild& build)
{
    const QString resolution = build.profile.videoResolution().currentValue();
    build.writer.add("-X");
    if (isKeepOriginResolution(resolution))
        build.writer.addf("%d", 720);
    else
        build.writer.addf("%.1f", resolutionFromString(resolution, 720, 480).width());
}

void writeBurnedSubtitleBlock(DVDBuild& build)
{
    const qint32 index = build.setting.subtitleIndex();
    if (!build.setting.subtitleEnable() || index < 0)
        return;
    const auto& tracks = build.title->subtitleTracks();
    if (static_cast<std::size_t>(index) >= tracks.size()
        || DNDVDExtSubtitleOf(tracks[static_cast<std::size_t>(index)])) {
        // The library would burn whatever disc track has that number.
        DNLog(QStringLiteral("%1: the subtitle at position %2 is not a track of the disc, none is "
                             "burnt")
                  .arg(QLatin1String(build.builderName))
                  .arg(index));
        return;
    }
    build.writer.add("-s").addf("%d", index + 1).add("--subtitle-burned");
}

} // namespace

ArgumentBlockPtr DVD_To_DVD_MainBackup_MKV(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config)
{
    const auto build = openHandBrakeBuild("DVD_To_DVD_MainBackup_MKV", node, titleIndex, config);
    if (!build)
        return nullptr;
    ArgumentWriter& w = build->writer;
    w.add("encoder").add("-i").add(build->node->sourceInfo().path).add("-m");
    w.add("-f").add("mkv").add("-e").add("ffmpeg4");
    w.add("-b").add(build->profile.videoQuality().currentValue()).add("-E").add("copy:ac3");
    writeTitleBlock(*build);
    if (const std::size_t audio = build->title->audioTracks().size())
        w.add("-a").add(trackPositions(audio));
    if (const std::size_t subtitles = discSubtitleCount(*build->title))
        w.add("-s").add(trackPositions(subtitles));
    writeRangeBlock(*build);
    writeOutputBlock(*build);
    return build->finish();
}

ArgumentBlockPtr DVD_To_MP4_H264_With_HandBrake(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config)
{
    const auto build
        = openHandBrakeBuild("DVD_To_MP4_H264_With_HandBrake", node, titleIndex, config);
    if (!build)
        return nullptr;
    ArgumentWriter& w = build->writer;
    w.add("encoder").add("-i").add(build->node->sourceInfo().path);
    writeTitleBlock(*build);
    w.add("-e").add("x264").add("-q").addf("%.1f", 20.0);
    // The library has no "keep origin" rate: left out, it keeps the source's.
    const QString rate = build->profile.videoFrameRate().currentValue();
    if (!isKeepOriginFrameRate(rate))
        w.add("-r").add(rate).add("--pfr");
    w.add("-a").addf("%d", build->setting.audioIndex() + 1);
    w.add("-E").add("faac").add("-B").add(build->profile.audioQuality().currentValue());
    w.add("-6").add("dpl2").add("-R").add("Auto").add("-D").addf("%.1f", 0.0);
    w.add("-f").add("mp4").add("-4");
    writeMaximumWidthBlock(*build);
    w.add("--loose-anamorphic").add("-m");
    writeBurnedSubtitleBlock(*build);
    writeRangeBlock(*build);
    writeOutputBlock(*build);
    return build->finish();
}
