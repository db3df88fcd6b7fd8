// The DVD reader tool's answer, through DVDTitlesFromAnswer, cut into lines as
// the process runner cuts them, its notes set aside for the log. The tool runs
// libdvdread, which double-frees and asks for impossible allocations on damaged
// tables within a few hundred inputs: that crash is the tool's alone, and what
// reaches our process is this answer, whatever the tool printed before it
// died. A disc read has 1 to 99 titles, each with its number on the disc, a
// frame rate, a picture of positive size and sectors from 0 to
// kMostDVDTitleSectors, audio tracks at their positions with a disc stream
// from 0 to 7, and subpicture streams from 0 to 31 with a name; a refused one
// says why and names the disc.
#include "FuzzSupport.h"

#include "services/DVDTitleReader.h"

#include <QRegularExpression>

namespace {

const QString kDisc = QStringLiteral("/media/Garden Été");

void checkTitle(const DVDTitleFacts& title)
{
    Fuzz::require(title.titleNumber >= 1 && title.titleNumber <= 99, "a title number out of range");
    Fuzz::require(title.fps > 0 && title.length >= 0, "a title without a frame rate");
    Fuzz::require(!title.video.videoResolution.isEmpty() && !title.video.videoAspect.isEmpty(),
        "a picture without a size or an aspect");
    Fuzz::require(title.sectors >= 0 && title.sectors <= kMostDVDTitleSectors,
        "a title's sectors out of range");
    for (size_t at = 0; at < title.audioTracks.size(); ++at) {
        const DNDVDTAudio& audio = title.audioTracks[at];
        Fuzz::require(audio.position == qint32(at), "an audio track out of place");
        Fuzz::require(audio.audioID >= 0 && audio.audioID <= 7, "an audio stream out of range");
    }
    for (const DNDVDTSubtitle& subtitle : title.subtitleTracks) {
        Fuzz::require(subtitle.index >= 0 && subtitle.index <= 31, "a subpicture out of range");
        Fuzz::require(!subtitle.subtitleName.isEmpty(), "a subpicture without a name");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const QRegularExpression lineEnd(QStringLiteral("[\r\n]"));
    QStringList lines
        = QString::fromUtf8(Fuzz::bytesOf(data, size)).split(lineEnd, Qt::SkipEmptyParts);
    lines.removeIf([](const QString& line) { return line.startsWith(QLatin1String("note ")); });
    QString failure;
    const std::optional<DVDDiscFacts> disc = DVDTitlesFromAnswer(lines, kDisc, failure);
    if (!disc) {
        Fuzz::require(failure.contains(kDisc), "a disc refused without naming it");
        return 0;
    }
    Fuzz::require(
        !disc->titles.empty() && disc->titles.size() <= 99, "a count of titles out of range");
    for (const DVDTitleFacts& title : disc->titles)
        checkTitle(title);
    return 0;
}
